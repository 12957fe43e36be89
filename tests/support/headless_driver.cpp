#include "tests/support/headless_driver.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "engine/mix_engine.h"
#include "platform/audio/wave_out_device.h"
#include "platform/imaging/image.h"
#include "platform/os/thread.h"
#include "platform/ui/dialogs.h"
#include "screens/browsers/media_browser.h"
#include "screens/editors/audio_editor.h"
#include "screens/editors/preview_engine.h"
#include "shell/packages.h"
#include "tests/support/md5.h"
#include "tests/support/test_paths.h"

namespace ovtest {
namespace {
// wparam of a stylus move with the button held.
constexpr uint32_t kButtonHeld = 1;
}  // namespace

HeadlessDriver::HeadlessDriver(const std::string& data_folder, bool splash, const std::string& app_folder) {
  setenv("OVMIX_HEADLESS", "1", 1);
  // The documents folder is the home folder unless a test names one, and
  // the media screens read it all: a test that names none gets an empty
  // folder and no memory cards, so that none waits on what the machine's
  // home holds. They are unset again when the driver goes.
  if (!std::getenv("OVMIX_DOCUMENTS")) {
    const std::string documents = data_folder + "/documents";
    std::filesystem::create_directories(documents);
    setenv("OVMIX_DOCUMENTS", documents.c_str(), 1);
    unset_.push_back("OVMIX_DOCUMENTS");
  }
  if (!std::getenv("OVMIX_CARDS")) {
    setenv("OVMIX_CARDS", "", 1);
    unset_.push_back("OVMIX_CARDS");
  }
  // Quitting ends the test's process otherwise.
  shell::SetEndProcessHook([](int code) { throw std::runtime_error("process end " + std::to_string(code)); });
  answer_ = wnd::kAnswerNo;
  wnd::SetMessageBoxHook([this](const ov::String& caption, const ov::String& text, uint32_t buttons) {
    boxes_.push_back({std::u16string(caption.View()), std::u16string(text.View()), buttons});
    return buttons == wnd::kBoxYesNo ? answer_ : wnd::kAnswerOk;
  });
  shell::StartOptions options;
  options.application_folder = ov::String::FromUtf8Lossy(app_folder.empty() ? OVMIX_BIN_DIR : app_folder);
  options.data_folder = ov::String::FromUtf8Lossy(data_folder);
  options.check_framesource = false;
  options.show_splash = splash;
  app_ = std::make_unique<shell::App>(options);
  ok_ = app_->InitInstance();
  if (ok_) Settle();
}

HeadlessDriver::~HeadlessDriver() {
  app_.reset();
  screens::AudioEditor::SetDeviceFactory(nullptr);
  screens::SetPreviewEngineMaker(nullptr);
  wnd::SetMessageBoxHook(nullptr);
  shell::SetEndProcessHook(nullptr);
  for (const char* name : unset_) unsetenv(name);
}

bool HeadlessDriver::UseVirtualWaveOut() {
  // The audio editors' previews play on virtual devices too.
  screens::AudioEditor::SetDeviceFactory([] { return std::make_unique<ov::VirtualWaveOutDevice>(); });
  // So do the editors' preview engines, each keeping its time by its own
  // device's clock.
  screens::SetPreviewEngineMaker([this](int32_t width, int32_t height, uint32_t fps) {
    auto timing = std::make_unique<engine::VirtualTiming>();
    engine::VirtualTiming* preview_clock = timing.get();
    auto mix = std::make_shared<engine::MixEngine>(std::make_unique<engine::AudioMixer>(16, 22050, 2),
                                                   std::make_unique<engine::VideoMixer>(width, height, fps, 0),
                                                   std::move(timing));
    mix->SetDeviceFactory([] { return std::make_unique<ov::VirtualWaveOutDevice>(); });
    engine::MixEngine* e = mix.get();
    preview_clock->SetClock([e] { return e->GetPlayPosition(); });
    previews_.push_back({mix, preview_clock});
    return mix;
  });
  auto timing = std::make_unique<engine::VirtualTiming>();
  engine::VirtualTiming* clock = timing.get();
  if (!ReplaceEngine([] { return std::make_unique<ov::VirtualWaveOutDevice>(); }, std::move(timing))) return false;
  engine::MixEngine* e = sm().GetMixEngine();
  clock->SetClock([e] { return e->GetPlayPosition(); });
  clock_ = clock;
  return true;
}

bool HeadlessDriver::UseWaveOut(std::function<std::unique_ptr<ov::WaveOutDevice>()> factory) {
  clock_ = nullptr;
  return ReplaceEngine(std::move(factory), std::make_unique<engine::SystemTiming>());
}

bool HeadlessDriver::ReplaceEngine(std::function<std::unique_ptr<ov::WaveOutDevice>()> factory,
                                   std::unique_ptr<engine::EngineTiming> timing) {
  engine::MixEngine* old = sm().GetMixEngine();
  if (!old || !old->videoMixer()) return false;
  const engine::VideoMixer& v = *old->videoMixer();
  auto mix = std::make_shared<engine::MixEngine>(std::make_unique<engine::AudioMixer>(16, 22050, 2),
                                                 std::make_unique<engine::VideoMixer>(v.width(), v.height(), v.fps(), 0),
                                                 std::move(timing));
  mix->SetDeviceFactory(std::move(factory));
  shell::ScreenManager* manager = &sm();
  mix->SetActionQueue([manager](uint32_t action, const ov::String& argument) {
    manager->QueueAction(nullptr, static_cast<int32_t>(action), argument, 1);
  });
  sm().SetMixEngine(std::move(mix));
  return true;
}

bool HeadlessDriver::AdvanceDevice(uint64_t frames, std::vector<uint8_t>* played) {
  auto advance = [frames, played](ov::WaveOutDevice& device) {
    auto* virtual_device = dynamic_cast<ov::VirtualWaveOutDevice*>(&device);
    if (!virtual_device) return;
    virtual_device->Advance(frames);
    // Taken under the same lock: the device may close once it has played.
    if (played) *played = virtual_device->Played();
  };
  engine::MixEngine* engine = sm().GetMixEngine();
  bool any = engine && engine->WithDevice(advance);
  // The current screen's audio editor plays on a device of its own.
  auto* editor = dynamic_cast<screens::AudioEditor*>(sm().FindElementByType(nullptr, ui::kTypeAudioEditor, 1));
  if (editor && editor->WithDevice(advance)) any = true;
  auto* browser = dynamic_cast<screens::MediaBrowser*>(sm().FindElementByType(nullptr, ui::kTypeMediaBrowser, 1));
  if (browser && browser->WithDevice(advance)) any = true;
  // So do the editors' preview engines that are still alive.
  for (const Preview& p : previews_) {
    std::shared_ptr<engine::MixEngine> preview = p.engine.lock();
    if (!preview) continue;
    if (preview->WithDevice(advance)) any = true;
    p.clock->Poke();
  }
  if (clock_) clock_->Poke();
  return any;
}

void HeadlessDriver::Settle() {
  // A few passes: a pass may queue actions or invalidate areas for the next.
  for (int i = 0; i < 8; ++i) window().Pump(0);
}

bool HeadlessDriver::SettleUntil(const std::function<bool()>& done, int ms) {
  for (int t = 0; t < ms; t += 10) {
    Settle();
    if (done()) return true;
    ov::Sleep(10);
  }
  return false;
}

void HeadlessDriver::Tap(int32_t x, int32_t y) {
  window().Inject(wnd::Event(wnd::Message::kStylusDown, 0, x, y));
  window().Inject(wnd::Event(wnd::Message::kStylusUp, 0, x, y));
  Settle();
}

void HeadlessDriver::Drag(std::pair<int32_t, int32_t> from, const std::vector<std::pair<int32_t, int32_t>>& path) {
  window().Inject(wnd::Event(wnd::Message::kStylusDown, 0, from.first, from.second));
  std::pair<int32_t, int32_t> last = from;
  for (const auto& p : path) {
    window().Inject(wnd::Event(wnd::Message::kStylusMove, kButtonHeld, p.first, p.second));
    last = p;
  }
  window().Inject(wnd::Event(wnd::Message::kStylusUp, 0, last.first, last.second));
  Settle();
}

bool HeadlessDriver::TapElement(const char16_t* name) {
  ui::Element* e = sm().FindElementByName(nullptr, name, false);
  if (!e) return false;
  Tap(e->x() + e->GetXSize() / 2, e->y() + e->GetYSize() / 2);
  return true;
}

void HeadlessDriver::Key(wnd::Key key) {
  window().Inject(wnd::Event(wnd::Message::kKey, static_cast<uint32_t>(key)));
  Settle();
}

void HeadlessDriver::Command(uint32_t id) {
  window().Inject(wnd::Event(wnd::Message::kCommand, id));
  Settle();
}

void HeadlessDriver::Back() {
  window().Inject(wnd::Event(wnd::Message::kBackKey));
  Settle();
}

std::u16string HeadlessDriver::Menu() const {
  const ui::Menu* m = app_->screen_manager()->current_menu();
  return m ? std::u16string(m->title().View()) : std::u16string();
}

namespace {
std::string HashBitmap(const gfx::Bitmap& b) {
  return Md5Hex(reinterpret_cast<const uint8_t*>(b.bits()), static_cast<size_t>(b.row_bytes()) * b.height());
}
}  // namespace

std::string HeadlessDriver::SurfaceHash() const { return HashBitmap(*app_->window()->surface()); }

std::string HeadlessDriver::BackBufferHash() const {
  return HashBitmap(*app_->screen_manager()->back_buffer()->surface());
}

bool HeadlessDriver::SavePng(const std::string& path) const { return imaging::WritePng(path, *app_->window()->surface()); }

int HeadlessDriver::DifferFromGolden(const std::string& file, const std::string& scratch_dir) const {
  const std::string golden = TestDataPath("golden/" + file);
  if (std::getenv("OVMIX_WRITE_GOLDEN")) return SavePng(golden) ? 0 : -1;
  SavePng(scratch_dir + "/" + file);
  std::unique_ptr<imaging::Image> image = imaging::Image::FromFile(ov::String::FromUtf8Lossy(golden));
  imaging::Picture picture;
  if (!image || image->Decode(&picture) != imaging::Status::kOk) return -1;
  const gfx::Bitmap& shown = *app_->window()->surface();
  if (picture.width != shown.width() || picture.height != shown.height()) return -1;
  int differing = 0;
  for (int32_t y = 0; y < shown.height(); ++y) {
    for (int32_t x = 0; x < shown.width(); ++x) {
      const uint8_t* p = &picture.rgba[(static_cast<size_t>(y) * picture.width + x) * 4];
      differing += gfx::ColorRefTo565(gfx::Rgb(p[0], p[1], p[2])) != shown.row(y)[x];
    }
  }
  return differing;
}

}  // namespace ovtest
