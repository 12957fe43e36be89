#pragma once
// A UiHost for the mix screens' tests: the fake shell of the element tests
// with a menu that stands as root and current menu, the options the mixer
// reads and writes, a data folder and the shared playback set.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/mix_engine.h"
#include "screens/browsers/media_file_record.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/support/scoped_env.h"
#include "tests/ui/fake_host.h"

namespace ovtest {

class ScreensHost : public FakeHost {
 public:
  explicit ScreensHost(std::string data_folder);

  ui::Menu* RootMenu() override { return menu; }
  ui::Menu* CurrentMenu() override { return menu; }
  ui::Element* FocusedElement() override { return focused; }
  void SetFocus(ui::Element* e) override { focused = e; }
  int StoreOption(const ov::String& key, const ov::String& text) override;
  bool ReadOption(const ov::String& key, ov::String* text, bool* is_numeric) override;
  uint32_t* NumericOption(int n) override { return n >= 0 && n < 46 ? &numeric[n] : nullptr; }
  ov::String* StringOption(int n) override { return n >= 0 && n < 23 ? &strings[n] : nullptr; }
  ov::String DataFolder() override { return ov::String::FromUtf8Lossy(data_folder_ + "/"); }
  void SetMixEngine(std::shared_ptr<engine::MixEngine> e) override { engine = std::move(e); }
  engine::MixEngine* GetMixEngine() override { return engine.get(); }
  bool RotationInProgress() override { return rotation; }
  // Queued actions wait, as in the shell, until Drain hands them to
  // `target` on the test's thread (workers queue from their own).
  int QueueAction(ui::Element* target, int32_t code, const ov::String& parameter, int32_t depth) override;
  std::vector<int32_t> Drain(ui::Element* target);
  void OpenPopup(ui::Element* e) override { opened.push_back(e); }
  std::vector<ui::Element*> opened;

  std::map<std::u16string, std::u16string> option_values;
  uint32_t numeric[46] = {};
  ov::String strings[23];
  std::shared_ptr<engine::MixEngine> engine;
  bool rotation = false;

 private:
  std::mutex queue_mutex_;
  std::vector<std::pair<int32_t, std::u16string>> queued_;
  std::string data_folder_;
};

// The mixer screen of the default skin in miniature: six channels named
// "channel_sel0".."channel_sel5", the two credits channels and the MIXER that
// names them, built under `menu` and initialised (INITIALISE, then screen
// entered).
struct MixerScreen {
  explicit MixerScreen(ScreensHost* host, int channels = 6);
  ~MixerScreen();
  ui::Menu menu;
  screens::Mixer* mixer = nullptr;
  screens::ChannelSelection* channel[8] = {};
  ScreensHost* host;
};

// A media browser standing in for the real one: an element of its type that
// answers the selection queries from one record and, as the browser does,
// holds the stylus from the stylus-down on (the drag source).
class FakeBrowser : public ui::Control, public screens::RecordSelection {
 public:
  FakeBrowser() { type_ = ui::kTypeMediaBrowser; }
  bool OnStylusDown(int32_t x, int32_t y) override;
};

// A photo, a video and a sound file present on disk for clips (their
// contents are never decoded here; a ".wav" is a valid WAVE file of one
// second, since a channel takes only sound it can decode).
std::string TouchFile(const std::string& folder, const std::string& name);

// Puts a stand-in photo, video and sound (names given in that order) on
// channels[0..2], each with a cache file present, so that entering the mixer
// decodes nothing; false when a channel is missing.
bool AddCachedClips(const std::string& folder, screens::ChannelSelection* const (&channels)[3],
                    const char* const (&names)[3]);

// A command of a recorded mix.
engine::EngineCommand MixCommand(uint32_t time, uint32_t type, uint32_t channel, const std::string& path = "");

// A WAV at 22050 Hz, 16-bit stereo, of `frames` sample frames, frame i
// being (left, right) = frame(i).
void WriteStereoWav(const std::string& path, uint32_t frames,
                    const std::function<std::pair<int16_t, int16_t>(uint32_t)>& frame);

// A WAV of `seconds` of a quiet ramp at 22050 Hz, 16-bit stereo: a clip
// whose decoding to cache takes long enough to be caught in progress.
void WriteLongWav(const std::string& path, int seconds);

// Gives a headless program started by this test folders and a render queue
// of its own under `dir`: the temporary folder (which the program empties at
// start, as other tests run side by side do too), "docs" as the documents
// folder, "xdg" as the data home, no memory cards, and the queue's scope
// `scope` with this process's id. The variables return as they were with
// `env`.
void IsolateProgram(ScopedEnv* env, const std::string& dir, const std::string& scope);

// Writes the project of the eight channel entries `channels` (the nine
// settings, one block each, `commands` as its recorded mix) to `path`.
bool WriteProjectFile(const std::string& path, screens::ChannelSelection (&channels)[8],
                      const screens::OutputSettings& settings = screens::DefaultOutputSettings(),
                      const std::vector<engine::EngineCommand>& commands = {});

}  // namespace ovtest
