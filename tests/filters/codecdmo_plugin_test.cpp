// The codecdmo plug-in as the render process reaches it: its exports, its
// registration in the class table and the media-object categories, creation
// by class id, and an unregistration that leaves nothing behind.
#include <gtest/gtest.h>

#include <string>

#include "filters/codecdmo/codecdmo.h"
#include "platform/com/class_table.h"
#include "platform/dshow/dmo_registration.h"
#include "platform/dshow/media_object.h"
#include "platform/os/environment.h"
#include "platform/os/library.h"
#include "platform/os/registry.h"
#include "platform/os/thread.h"
#include "tests/support/test_paths.h"

namespace {

using com::ComPtr;
using com::S_OK;

struct ClassCase {
  com::GUID clsid;
  com::GUID category;
  const char16_t* name;
};

const ClassCase kClasses[] = {
    {codecdmo::CLSID_CH263EncDmo, dshow::DMOCATEGORY_VIDEO_ENCODER, u"Pelmor H263 Video Encoder-DMO"},
    {codecdmo::CLSID_CMpeg4EncDmo, dshow::DMOCATEGORY_VIDEO_ENCODER, u"Pelmor MPEG-4 SP Encoder-DMO"},
    {codecdmo::CLSID_CAacEncDmo, dshow::DMOCATEGORY_AUDIO_ENCODER, u"Pelmor AAC_LC Encoder-DMO"},
    {codecdmo::CLSID_CAmrNbEncDmo, dshow::DMOCATEGORY_AUDIO_ENCODER, u"Pelmor GSM AMR-NB Encoder-DMO"},
};

bool Listed(const com::GUID& category, const com::GUID& clsid, ov::String* name = nullptr) {
  for (const dshow::DmoEntry& e : dshow::DMOEnumCategory(category)) {
    if (e.clsid == clsid) {
      if (name) *name = e.name;
      return true;
    }
  }
  return false;
}

TEST(CodecdmoPlugin, RegistersCreatesAndUnregisters) {
  ov::SetEnvironmentValue("XDG_DATA_HOME", ovtest::ScratchDir());
  ov::Library lib;
  ASSERT_TRUE(lib.Load(ov::String::FromUtf8Lossy(OV_CODECDMO_PLUGIN))) << lib.Error();
  auto register_server = lib.Function<com::DllRegisterServerFunction>("DllRegisterServer");
  auto unregister_server = lib.Function<com::DllRegisterServerFunction>("DllUnregisterServer");
  auto can_unload = lib.Function<com::DllCanUnloadNowFunction>("DllCanUnloadNow");
  ASSERT_NE(register_server, nullptr);
  ASSERT_NE(unregister_server, nullptr);
  ASSERT_NE(can_unload, nullptr);
  EXPECT_NE(lib.Symbol("DllGetClassObject"), nullptr);
  // Nothing else of what the plug-in links is visible.
  EXPECT_EQ(lib.Symbol("_ZN8codecdmo14RegisterServerEPKv"), nullptr);
  EXPECT_EQ(lib.Symbol("Mpeg4AacEnc_Create"), nullptr);

  ASSERT_EQ(register_server(), S_OK);
  for (const ClassCase& c : kClasses) {
    ov::String path, model, name;
    ASSERT_TRUE(com::FindInprocServer(c.clsid, &path, &model)) << com::GuidToString(c.clsid).ToUtf8Lossy();
    EXPECT_TRUE(path.EndsWithNoCase(u"codecdmo.so"));
    EXPECT_EQ(model, ov::String(u"Both"));
    EXPECT_TRUE(Listed(c.category, c.clsid, &name));
    EXPECT_EQ(name, ov::String(c.name));
    ComPtr<dshow::IMediaObject> object;
    ASSERT_EQ(com::CoCreateInstance(c.clsid, nullptr, com::CLSCTX_INPROC_SERVER, dshow::IID_IMediaObject,
                                    object.ReceiveVoid()),
              S_OK);
    uint32_t inputs = 0, outputs = 0;
    EXPECT_EQ(object->GetStreamCount(&inputs, &outputs), S_OK);
    EXPECT_EQ(inputs + outputs, 2u);
    EXPECT_EQ(can_unload(), com::S_FALSE);
  }
  EXPECT_EQ(can_unload(), S_OK);
  // Registering again replaces the entries; unregistering removes them all.
  ASSERT_EQ(register_server(), S_OK);
  ASSERT_EQ(unregister_server(), S_OK);
  for (const ClassCase& c : kClasses) {
    EXPECT_FALSE(com::FindInprocServer(c.clsid, nullptr));
    EXPECT_FALSE(Listed(c.category, c.clsid));
    EXPECT_FALSE(ov::RegistryKeyExists(ov::RegistryRoot::kClassesRoot,
                                       u"MediaObjects\\" + com::GuidToString(c.clsid)));
  }
}

}  // namespace
