#include "shell/render_mode.h"

#include <array>
#include <memory>

#include "engine/mix_engine.h"
#include "platform/dshow/filter_graph.h"
#include "platform/dshow/outside_filters.h"
#include "platform/os/folders.h"
#include "platform/os/thread.h"
#include "screens/render_project.h"
#include "shell/screen_manager.h"

namespace shell {
namespace {

constexpr int kLowestPriority = 7;
constexpr uint32_t kMaxPictureSide = 1024;
constexpr uint32_t kMaxFps = 60;
// The rendering screen manager's size: it draws nothing.
constexpr int32_t kWidth = 240, kHeight = 320;

// The text after `option` + '"' up to the next '"'; false when the option
// is absent or its value unclosed.
bool QuotedValue(const ov::String& line, std::u16string_view option, ov::String* value) {
  std::u16string opener(option);
  opener += u'"';
  const int at = line.Find(opener);
  if (at < 0) return false;
  const int from = at + static_cast<int>(opener.size());
  const int end = line.Find(u'"', from);
  if (end < 0) return false;
  *value = line.Mid(from, end - from);
  return true;
}

// Exactly eleven comma-separated decimal numbers (blanks around them
// allowed), nothing else.
bool ParseWords(const ov::String& text, std::array<uint32_t, 11>* words) {
  const std::u16string_view s = text.View();
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  };
  for (size_t n = 0; n < words->size(); ++n) {
    skip_blanks();
    if (n > 0) {
      if (i >= s.size() || s[i] != u',') return false;
      ++i;
      skip_blanks();
    }
    if (i < s.size() && s[i] == u'+') ++i;
    uint64_t v = 0;
    const size_t digits = i;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
      v = v * 10 + uint64_t(s[i] - u'0');
      if (v > 0xFFFFFFFFu) return false;
      ++i;
    }
    if (i == digits) return false;
    (*words)[n] = static_cast<uint32_t>(v);
  }
  skip_blanks();
  return i == s.size();
}

bool MakeableSettings(const engine::ExportSettings& s) {
  if (s.sampleRate < 8000 || s.sampleRate > 48000) return false;
  if (s.bitsPerSample != 8 && s.bitsPerSample != 16) return false;
  if (s.channels != 1 && s.channels != 2) return false;
  return s.width <= kMaxPictureSide && s.height <= kMaxPictureSide && s.fps <= kMaxFps;
}

}  // namespace

bool ParseRenderCommandLine(const ov::String& line, RenderCommand* out) {
  RenderCommand r;
  ov::String words_text;
  if (!QuotedValue(line, u"-p", &r.project) || !QuotedValue(line, u"-o", &r.output) ||
      !QuotedValue(line, u"-e", &words_text)) {
    return false;
  }
  std::array<uint32_t, 11> w{};
  if (!ParseWords(words_text, &w)) return false;
  engine::ExportSettings& s = r.settings;
  s = {w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10]};
  if (!MakeableSettings(s) || r.project.IsEmpty() || r.output.IsEmpty()) return false;
  *out = r;
  return true;
}

bool RunCommandLineRender(const ov::String& line) {
  ov::SetCurrentThreadPriority(kLowestPriority);
  RenderCommand command;
  if (!ParseRenderCommandLine(line, &command)) return false;
  // The encoding graphs' own classes: graph, builder, wrapper filter and the
  // outside filters (multiplexer, WMV encoder object, ASF writer).
  dshow::RegisterGraphClasses();
  dshow::RegisterOutsideFilters();
  auto manager = std::make_unique<ScreenManager>(kWidth, kHeight, ov::JoinPath(ov::DataFolder(), u"user.opt"), nullptr);
  auto engine = std::make_shared<engine::MixEngine>(nullptr, nullptr);
  manager->SetMixEngine(engine);
  const bool opened = screens::OpenMixForRender(engine.get(), command.project);
  if (opened) engine->Export(command.output, command.settings);
  engine.reset();
  manager.reset();
  return opened;
}

}  // namespace shell
