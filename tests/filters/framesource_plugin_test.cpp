// The framesource plug-in as the program loads it: its exports, its
// registration in the class table and creation by class id.
#include <gtest/gtest.h>

#include <string>

#include "filters/framesource/framesource.h"
#include "platform/com/class_table.h"
#include "platform/dshow/interfaces.h"
#include "platform/os/environment.h"
#include "platform/os/library.h"
#include "platform/os/registry.h"
#include "platform/os/thread.h"
#include "tests/support/test_paths.h"

namespace {

using com::ComPtr;
using com::S_OK;

int Frames(unsigned char**, unsigned char**, int*, int*) { return 0; }

// The plug-in stays loaded until the process ends, as in the program: once
// unloaded, its thread-local block leaves a stale entry that the leak
// checker's walk over the threads' storage at exit trips on.
ov::Library& Plugin() {
  static ov::Library* library = new ov::Library;
  return *library;
}

class FramesourcePlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    ov::SetEnvironmentValue("OVMIX_IPC_SCOPE", "fp" + std::to_string(ov::GetCurrentProcessId()));
    ov::SetEnvironmentValue("XDG_DATA_HOME", ovtest::ScratchDir());
    if (!lib_.IsLoaded()) {
      ASSERT_TRUE(lib_.Load(ov::String::FromUtf8Lossy(OV_FRAMESOURCE_PLUGIN))) << lib_.Error();
    }
  }
  ov::Library& lib_ = Plugin();
};

TEST_F(FramesourcePlugin, ExportsItsEntriesAndClassId) {
  auto* clsid = static_cast<const com::GUID*>(lib_.Symbol("CLSID_FrameFilter"));
  ASSERT_NE(clsid, nullptr);
  EXPECT_EQ(com::GuidToString(*clsid), ov::String(u"{09B59437-38E2-4486-92EE-930456BC2C28}"));
  auto initialize = lib_.Function<FramesourceInitializeFunction>("Initialize");
  ASSERT_NE(initialize, nullptr);
  const FrameFilterConfig good{96000, 22050, 16, 2, 1024, 4, 2, 128000, 15, 144, 176};
  FrameFilterConfig no_rate = good;
  no_rate.FramesPerSecond = 0;
  FrameFilterConfig no_sound_rate = good;
  no_sound_rate.SampleRate = 0;
  FrameFilterConfig huge = good;
  huge.Width = 65536;
  huge.Height = 65536;
  EXPECT_EQ(initialize(nullptr, good), 0);
  EXPECT_EQ(initialize(Frames, no_rate), 0);
  EXPECT_EQ(initialize(Frames, no_sound_rate), 0);
  EXPECT_EQ(initialize(Frames, huge), 0);
  EXPECT_EQ(initialize(Frames, good), 1);
  EXPECT_EQ(initialize(Frames, good), 1);  // the mutex is opened by name again
  for (const char* name :
       {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow", "GetDeliveredTime"}) {
    EXPECT_NE(lib_.Symbol(name), nullptr) << name;
  }
  // Nothing else of what the plug-in links is visible.
  EXPECT_EQ(lib_.Symbol("_ZN2ov12DebugOutputEPKcz"), nullptr);
}

TEST_F(FramesourcePlugin, RegistersItselfAndIsCreatedByClassId) {
  auto register_server = lib_.Function<com::DllRegisterServerFunction>("DllRegisterServer");
  auto unregister_server = lib_.Function<com::DllRegisterServerFunction>("DllUnregisterServer");
  auto can_unload = lib_.Function<com::DllCanUnloadNowFunction>("DllCanUnloadNow");
  ASSERT_EQ(register_server(), S_OK);
  ov::String path, model;
  ASSERT_TRUE(com::FindInprocServer(framesource::CLSID_FrameFilter, &path, &model));
  EXPECT_TRUE(path.EndsWithNoCase(u"framesource.so"));
  EXPECT_EQ(model, ov::String(u"Both"));
  const ov::String filter_key = u"Filter\\{09B59437-38E2-4486-92EE-930456BC2C28}";
  ov::String name, type;
  uint32_t merit = 0, output = 0;
  EXPECT_TRUE(ov::RegistryQueryString(ov::RegistryRoot::kClassesRoot, filter_key, u"", &name));
  EXPECT_EQ(name, ov::String(u"Frame Filter Pin"));
  EXPECT_TRUE(ov::RegistryQueryDword(ov::RegistryRoot::kClassesRoot, filter_key, u"Merit", &merit));
  EXPECT_EQ(merit, 0x00200000u);
  EXPECT_TRUE(ov::RegistryQueryDword(ov::RegistryRoot::kClassesRoot, filter_key + u"\\Pins\\Audio output", u"Output",
                                     &output));
  EXPECT_EQ(output, 1u);
  EXPECT_TRUE(ov::RegistryQueryString(ov::RegistryRoot::kClassesRoot, filter_key + u"\\Pins\\Output", u"Type0", &type));
  EXPECT_EQ(type, ov::String(u"{73646976-0000-0010-8000-00AA00389B71} {E436EB7B-524F-11CE-9F53-0020AF0BA770}"));

  auto initialize = lib_.Function<FramesourceInitializeFunction>("Initialize");
  ASSERT_EQ(initialize(Frames, FrameFilterConfig{96000, 22050, 16, 2, 1024, 4, 2, 128000, 15, 144, 176}), 1);
  {
    ComPtr<dshow::IBaseFilter> filter;
    ASSERT_EQ(com::CoCreateInstance(framesource::CLSID_FrameFilter, nullptr, com::CLSCTX_INPROC_SERVER,
                                    dshow::IID_IBaseFilter, filter.ReceiveVoid()),
              S_OK);
    EXPECT_EQ(can_unload(), com::S_FALSE);
    // The live pins, video first.
    ComPtr<dshow::IEnumPins> pins;
    ASSERT_EQ(filter->EnumPins(pins.Receive()), S_OK);
    const char16_t* names[] = {u"FrameFilter Video Output", u"FrameFilter Audio Output"};
    for (const char16_t* expected : names) {
      dshow::IPin* pin = nullptr;
      uint32_t got = 0;
      ASSERT_EQ(pins->Next(1, &pin, &got), S_OK);
      dshow::PIN_INFO info{};
      ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
      EXPECT_EQ(std::u16string_view(info.achName), std::u16string_view(expected));
      EXPECT_EQ(info.dir, dshow::PinDirection::kOutput);
      info.pFilter->Release();
      pin->Release();
    }
    com::GUID clsid{};
    ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(clsid == framesource::CLSID_FrameFilter);
  }
  EXPECT_EQ(can_unload(), S_OK);
  ASSERT_EQ(unregister_server(), S_OK);
  EXPECT_FALSE(com::FindInprocServer(framesource::CLSID_FrameFilter, &path));
  EXPECT_FALSE(ov::RegistryKeyExists(ov::RegistryRoot::kClassesRoot, filter_key));
}

}  // namespace
