#include "tests/screens/screens_host.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/action_processor.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"

namespace ovtest {

ScreensHost::ScreensHost(std::string data_folder) : data_folder_(std::move(data_folder)) {
  // A message box no test answers through the hook is answered at once
  // (OK, No) rather than shown on a display the run may have.
  setenv("OVMIX_HEADLESS", "1", 1);
}

int ScreensHost::StoreOption(const ov::String& key, const ov::String& text) {
  FakeHost::StoreOption(key, text);
  option_values[std::u16string(key.View())] = std::u16string(text.View());
  return 1;
}

bool ScreensHost::ReadOption(const ov::String& key, ov::String* text, bool* is_numeric) {
  auto it = option_values.find(std::u16string(key.View()));
  if (it == option_values.end()) return false;
  *text = ov::String(std::u16string_view(it->second));
  *is_numeric = true;
  return true;
}

int ScreensHost::QueueAction(ui::Element* target, int32_t code, const ov::String& parameter, int32_t depth) {
  (void)target;
  (void)depth;
  std::lock_guard<std::mutex> lock(queue_mutex_);
  queued_.emplace_back(code, std::u16string(parameter.View()));
  return 1;
}

std::vector<int32_t> ScreensHost::Drain(ui::Element* target) {
  std::vector<std::pair<int32_t, std::u16string>> batch;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    batch.swap(queued_);
  }
  std::vector<int32_t> codes;
  for (const auto& [code, parameter] : batch) {
    codes.push_back(code);
    if (target) target->OnAction(code, ov::String(std::u16string_view(parameter)), 1);
  }
  return codes;
}

MixerScreen::MixerScreen(ScreensHost* h, int channels) : host(h) {
  host->menu = &menu;
  menu.LoadAttribute(u"title", u"mixing_menu");
  std::u16string names;
  for (int i = 0; i < channels; ++i) {
    auto c = std::make_unique<screens::ChannelSelection>();
    const std::u16string name = u"channel_sel" + std::u16string(1, char16_t(u'0' + i));
    c->LoadAttribute(u"title", ov::String(std::u16string_view(name)));
    channel[i] = static_cast<screens::ChannelSelection*>(menu.AddChild(std::move(c)));
    names += (i ? u" " : u"") + name;
  }
  const char16_t* credits[2] = {u"channel_sel_start_credit", u"channel_sel_end_credit"};
  for (int i = 0; i < 2; ++i) {
    auto c = std::make_unique<screens::ChannelSelection>();
    c->LoadAttribute(u"title", credits[i]);
    channel[6 + i] = static_cast<screens::ChannelSelection*>(menu.AddChild(std::move(c)));
  }
  auto m = std::make_unique<screens::Mixer>();
  m->LoadAttribute(u"title", u"MIXER");
  m->LoadAttribute(u"xP", u"10");
  m->LoadAttribute(u"yP", u"10");
  m->LoadAttribute(u"xS", u"96");
  m->LoadAttribute(u"yS", u"72");
  m->LoadAttribute(u"channels", ov::String(std::u16string_view(names)));
  m->LoadAttribute(u"startCredits", credits[0]);
  m->LoadAttribute(u"endCredits", credits[1]);
  m->LoadAttribute(u"filename0", u"name0");
  mixer = static_cast<screens::Mixer*>(menu.AddChild(std::move(m)));
  mixer->OnAction(ui::kActionInitialise, ov::String(), 0);
  mixer->OnAction(ui::kActionMenuShown, ov::String(), 0);
}

MixerScreen::~MixerScreen() {
  if (host->menu == &menu) host->menu = nullptr;
}

bool FakeBrowser::OnStylusDown(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  if (ui::Host()) ui::Host()->SetPressedElement(this);
  return true;
}

bool AddCachedClips(const std::string& folder, screens::ChannelSelection* const (&channels)[3],
                    const char* const (&names)[3]) {
  const int32_t kinds[3][2] = {{screens::kKindImage, screens::kFileTypeJpeg},
                               {screens::kKindVideo, screens::kFileTypeMp4},
                               {screens::kKindAudio, screens::kFileTypeWav}};
  for (int i = 0; i < 3; ++i) {
    screens::ChannelSelection* ch = channels[i];
    if (!ch) return false;
    ch->AddClip(kinds[i][0], kinds[i][1], ov::String::FromUtf8Lossy(TouchFile(folder, names[i])), ov::String(),
                ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, 0, 0, nullptr);
    ch->SetClipCache(0, ov::String::FromUtf8Lossy(TouchFile(folder, std::string(names[i]) + ".raw")), kinds[i][0]);
  }
  return true;
}

std::string TouchFile(const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name;
  // A channel refuses a sound it cannot decode: a ".wav" is a real one.
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0) WriteLongWav(path, 1);
  else std::ofstream(path) << "clip";
  return path;
}

engine::EngineCommand MixCommand(uint32_t time, uint32_t type, uint32_t channel, const std::string& path) {
  engine::EngineCommand c;
  c.timeMs = time;
  c.type = type;
  c.channel = channel;
  c.path = ov::String::FromUtf8Lossy(path);
  return c;
}

void WriteStereoWav(const std::string& path, uint32_t frames,
                    const std::function<std::pair<int16_t, int16_t>(uint32_t)>& frame) {
  const uint32_t data = frames * 4;
  std::ofstream f(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
  f.write("RIFF", 4);
  u32(36 + data);
  f.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(2);
  u32(22050);
  u32(22050 * 4);
  u16(4);
  u16(16);
  f.write("data", 4);
  u32(data);
  std::vector<int16_t> block;
  block.reserve(2 * 22050);
  for (uint32_t i = 0; i < frames; ++i) {
    const auto [left, right] = frame(i);
    block.push_back(left);
    block.push_back(right);
    if (block.size() == block.capacity() || i + 1 == frames) {
      f.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 2));
      block.clear();
    }
  }
}

void WriteLongWav(const std::string& path, int seconds) {
  // Sample n of the interleaved data is (n % 200) × 10, the same every second.
  WriteStereoWav(path, 22050u * uint32_t(seconds), [](uint32_t i) {
    const uint32_t n = (i * 2) % (22050 * 2);
    return std::pair{int16_t((n % 200) * 10), int16_t(((n + 1) % 200) * 10)};
  });
}

void IsolateProgram(ScopedEnv* env, const std::string& dir, const std::string& scope) {
  for (const char* sub : {"docs", "xdg"}) std::filesystem::create_directories(dir + "/" + sub);
  env->Set("TMPDIR", dir);
  env->Set("OVMIX_IPC_SCOPE", scope + std::to_string(ov::GetCurrentProcessId()));
  env->Set("OVMIX_DOCUMENTS", dir + "/docs");
  env->Set("XDG_DATA_HOME", dir + "/xdg");
  env->Set("OVMIX_CARDS", "");
}

bool WriteProjectFile(const std::string& path, screens::ChannelSelection (&channels)[8],
                      const screens::OutputSettings& settings, const std::vector<engine::EngineCommand>& commands) {
  std::vector<screens::ChannelSelection*> table;
  for (screens::ChannelSelection& c : channels) table.push_back(&c);
  engine::ActionProcessor list;
  for (const engine::EngineCommand& c : commands) list.Append(std::make_unique<engine::EngineCommand>(c));
  std::vector<uint8_t> record, project;
  list.Serialize(&record);
  screens::WriteProject(settings, table, record, &project);
  return ov::WriteWholeFile(ov::String::FromUtf8Lossy(path), project.data(), project.size());
}

}  // namespace ovtest
