#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/bstr.h"
#include "platform/com/class_table.h"
#include "platform/com/property_bag.h"
#include "platform/os/environment.h"
#include "tests/support/test_paths.h"

namespace com {
namespace {

constexpr GUID kTestClass{0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
constexpr GUID kOtherIid{0x0BADF00D, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(Guid, TextFormRoundTrips) {
  EXPECT_EQ(GuidToString(kTestClass), ov::String(u"{12345678-9ABC-DEF0-0123-456789ABCDEF}"));
  GUID parsed{};
  ASSERT_TRUE(GuidFromString(u"{12345678-9abc-def0-0123-456789abcdef}", &parsed));
  EXPECT_TRUE(parsed == kTestClass);
  for (const char16_t* bad : {u"", u"12345678-9ABC-DEF0-0123-456789ABCDEF", u"{12345678-9ABC-DEF0-0123-456789ABCDEG}",
                              u"{12345678-9ABC-DEF00123-456789ABCDEF0}"}) {
    EXPECT_FALSE(GuidFromString(bad, &parsed)) << ov::String(bad).ToUtf8Lossy();
  }
  // A FOURCC subtype carries its characters low byte first.
  EXPECT_EQ(GuidToString(FourccGuid(0x3253344D)), ov::String(u"{3253344D-0000-0010-8000-00AA00389B71}"));
}

// An object counting its own destruction.
class Counted final : public IUnknown {
 public:
  explicit Counted(int* destroyed) : destroyed_(destroyed) {}
  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override {
    const uint32_t left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

 private:
  ~Counted() { ++*destroyed_; }
  RefCount refs_;
  int* destroyed_;
};

int g_destroyed = 0;

HRESULT CreateCounted(const GUID& iid, void** object) {
  auto* made = new Counted(&g_destroyed);
  const HRESULT hr = made->QueryInterface(iid, object);
  made->Release();
  return hr;
}

TEST(RefCount, ObjectsLiveUntilTheLastRelease) {
  int destroyed = 0;
  {
    ComPtr<IUnknown> first = ComPtr<IUnknown>::Adopt(new Counted(&destroyed));
    ComPtr<IUnknown> second = first;
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(first->QueryInterface(kOtherIid, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    ComPtr<IUnknown> third;
    ASSERT_EQ(first.As(IID_IUnknown, &third), S_OK);
    first.Reset();
    second.Reset();
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST(ClassFactory, CreatesRefusesAggregationAndCountsTheModule) {
  g_destroyed = 0;
  const uint32_t before = ModuleLockCount();
  auto* factory = new ClassFactory(CreateCounted);
  EXPECT_EQ(ModuleLockCount(), before + 1);
  void* object = nullptr;
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &object), S_OK);
  static_cast<IUnknown*>(object)->Release();
  EXPECT_EQ(g_destroyed, 1);
  factory->LockServer(true);
  EXPECT_EQ(ModuleLockCount(), before + 2);
  factory->LockServer(false);
  factory->Release();
  EXPECT_EQ(ModuleLockCount(), before);
}

TEST(Bstr, KeepsItsByteLengthBeforeTheText) {
  BSTR text = SysAllocString(u"BitRate");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 7u);
  EXPECT_EQ(SysStringByteLen(text), 14u);
  uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<char*>(text) - 4, 4);
  EXPECT_EQ(prefix, 14u);
  EXPECT_EQ(text[7], 0);
  SysFreeString(text);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

class ClassTable : public ::testing::Test {
 protected:
  void SetUp() override { ov::SetEnvironmentValue("XDG_DATA_HOME", ovtest::ScratchDir()); }
};

TEST_F(ClassTable, RegistrationIsReadBackAndRemoved) {
  ov::String path, model;
  EXPECT_FALSE(FindInprocServer(kTestClass, &path));
  ASSERT_EQ(RegisterInprocServer(kTestClass, u"Test", u"/opt/plugins/test.so", u"Both"), S_OK);
  ASSERT_TRUE(FindInprocServer(kTestClass, &path, &model));
  EXPECT_EQ(path, ov::String(u"/opt/plugins/test.so"));
  EXPECT_EQ(model, ov::String(u"Both"));
  // The library is missing: creation reports it.
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), CO_E_DLLNOTFOUND);
  EXPECT_EQ(UnregisterInprocServer(kTestClass), S_OK);
  EXPECT_FALSE(FindInprocServer(kTestClass, &path));
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(UnregisterInprocServer(kTestClass), S_OK);
}

TEST_F(ClassTable, ProcessClassesComeFirst) {
  g_destroyed = 0;
  RegisterClassObject(kTestClass, CreateCounted);
  void* object = nullptr;
  ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), S_OK);
  static_cast<IUnknown*>(object)->Release();
  EXPECT_EQ(g_destroyed, 1);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kOtherIid, &object), E_NOINTERFACE);
  RevokeClassObject(kTestClass);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
}

// The encoder objects' property rules, over a table like theirs.
constexpr PropertyDef kProperties[] = {
    {u"BitRate", VT_UI4, 24000, 2048000},
    {u"SetDiscardBuffering", VT_BOOL, 0, 1},
    {u"EncodingComplexity", VT_INT, 0, 2},
    {u"Level", VT_I4, -1, 4},
    {u"VOPRate", VT_UINT, 1, 30},
};

VARIANT Value(VARTYPE vt, int64_t v) {
  VARIANT out;
  VariantInit(&out);
  out.vt = vt;
  switch (vt) {
    case VT_BOOL:
      out.boolVal = static_cast<VARIANT_BOOL>(v);
      break;
    case VT_I4:
    case VT_INT:
      out.lVal = static_cast<int32_t>(v);
      break;
    default:
      out.ulVal = static_cast<uint32_t>(v);
      break;
  }
  return out;
}

struct WriteCase {
  const char16_t* name;
  VARTYPE vt;
  int64_t value;
  HRESULT result;
  int64_t stored;
};

TEST(PropertyRules, WritesAreCheckedByNameTypeAndRange) {
  const PropertyTable table(kProperties);
  const WriteCase cases[] = {
      {u"BitRate", VT_UI4, 128000, S_OK, 128000},
      {u"bitrate", VT_UI4, 24000, S_OK, 24000},  // names match without case
      {u"BitRate", VT_UI4, 23999, E_INVALIDARG, 0},
      {u"BitRate", VT_UI4, 2048001, E_INVALIDARG, 0},
      {u"BitRate", VT_BOOL, -1, E_INVALIDARG, 0},  // another type
      {u"BitRate", VT_I4, 128000, E_INVALIDARG, 0},
      {u"SetDiscardBuffering", VT_BOOL, -1, S_OK, 1},
      {u"SetDiscardBuffering", VT_BOOL, 1, S_OK, 0},  // only -1 is true
      {u"SetDiscardBuffering", VT_BOOL, 0, S_OK, 0},
      {u"EncodingComplexity", VT_INT, 2, S_OK, 2},
      {u"EncodingComplexity", VT_INT, 3, E_INVALIDARG, 0},
      {u"Level", VT_I4, -1, S_OK, -1},
      {u"Level", VT_I4, -2, E_INVALIDARG, 0},
      {u"VOPRate", VT_UINT, 0xFFFFFFFF, E_INVALIDARG, 0},  // unsigned, not -1
      {u"NoSuchProperty", VT_I4, 0, E_INVALIDARG, 0},
  };
  for (const WriteCase& c : cases) {
    VARIANT v = Value(c.vt, c.value);
    const PropertyDef* def = nullptr;
    int64_t stored = 0;
    EXPECT_EQ(table.CheckWrite(c.name, &v, &def, &stored), c.result) << ov::String(c.name).ToUtf8Lossy() << " " << c.value;
    if (c.result == S_OK) {
      EXPECT_EQ(stored, c.stored) << ov::String(c.name).ToUtf8Lossy();
    }
  }
  VARIANT v = Value(VT_UI4, 1);
  const PropertyDef* def = nullptr;
  int64_t stored = 0;
  EXPECT_EQ(table.CheckWrite(nullptr, &v, &def, &stored), E_INVALIDARG);
  EXPECT_EQ(table.CheckWrite(u"BitRate", nullptr, &def, &stored), E_INVALIDARG);
}

TEST(PropertyRules, ReadsGiveThePropertysTypeAndMinusOneForTrue) {
  const PropertyTable table(kProperties);
  VARIANT v = Value(VT_I4, 0);
  const PropertyDef* def = nullptr;
  ASSERT_EQ(table.CheckRead(u"setdiscardbuffering", &v, &def), S_OK);
  PropertyTable::FillRead(*def, 1, &v);
  EXPECT_EQ(v.vt, VT_BOOL);
  EXPECT_EQ(v.boolVal, VARIANT_TRUE);
  PropertyTable::FillRead(*def, 0, &v);
  EXPECT_EQ(v.boolVal, VARIANT_FALSE);
  ASSERT_EQ(table.CheckRead(u"BitRate", &v, &def), S_OK);
  PropertyTable::FillRead(*def, 96000, &v);
  EXPECT_EQ(v.vt, VT_UI4);
  EXPECT_EQ(v.ulVal, 96000u);
  EXPECT_EQ(table.CheckRead(u"Unknown", &v, &def), E_INVALIDARG);
  EXPECT_EQ(table.CheckRead(nullptr, &v, &def), E_INVALIDARG);
  EXPECT_EQ(table.CheckRead(u"BitRate", nullptr, &def), E_INVALIDARG);
}

TEST(Variant, ClearFreesAString) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"text");
  EXPECT_EQ(VariantClear(&v), S_OK);  // AddressSanitizer reports a leak otherwise
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace com
