#include "shell/render_mode.h"

#include <array>
#include <memory>

#include "engine/mix_engine.h"
#include "platform/dshow/filter_graph.h"
#include "platform/dshow/outside_filters.h"
#include "platform/os/environment.h"
#include "platform/os/folders.h"
#include "platform/os/thread.h"
#include "screens/project/render_project.h"
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

// Why no job can make these settings; empty when one can.
ov::String SettingsProblem(const engine::ExportSettings& s) {
  if (s.sampleRate < 8000 || s.sampleRate > 48000) {
    return ov::String::Format(u"a sample rate of %u Hz cannot be rendered (8000 to 48000)", s.sampleRate);
  }
  if (s.bitsPerSample != 8 && s.bitsPerSample != 16) {
    return ov::String::Format(u"%u bits per sample cannot be rendered (8 or 16)", s.bitsPerSample);
  }
  if (s.channels != 1 && s.channels != 2) {
    return ov::String::Format(u"%u sound channels cannot be rendered (1 or 2)", s.channels);
  }
  if (s.width > kMaxPictureSide || s.height > kMaxPictureSide) {
    return ov::String::Format(u"a picture of %ux%u cannot be rendered (at most %u a side)", s.width, s.height,
                              kMaxPictureSide);
  }
  if (s.fps > kMaxFps) {
    return ov::String::Format(u"%u frames per second cannot be rendered (at most %u)", s.fps, kMaxFps);
  }
  return ov::String();
}

bool Refuse(ov::String* why, const ov::String& reason) {
  if (why) *why = u"ovmix: " + reason;
  return false;
}

}  // namespace

const char16_t kRenderUsage[] =
    u"usage: ovmix -p\"PROJECT.mix\" -o\"OUTPUT.wav\" "
    u"-e\"AUDIOBITRATE,RATE,BITS,CHANNELS,SAMPLESPERFRAME,VIDEOCODEC,AUDIOCODEC,VIDEOBITRATE,FPS,HEIGHT,WIDTH\" "
    u"(the double quotes belong to the options: quote them for the shell, as in '-p\"x.mix\"')";

bool ParseRenderCommandLine(const ov::String& line, RenderCommand* out, ov::String* why) {
  RenderCommand r;
  ov::String words_text;
  if (!QuotedValue(line, u"-p", &r.project) || !QuotedValue(line, u"-o", &r.output) ||
      !QuotedValue(line, u"-e", &words_text)) {
    if (why) *why = kRenderUsage;
    return false;
  }
  std::array<uint32_t, 11> w{};
  if (!ParseWords(words_text, &w)) {
    return Refuse(why, u"-e needs eleven comma-separated numbers from 0 to 4294967295, not \"" + words_text + u"\"");
  }
  if (r.project.IsEmpty() || r.output.IsEmpty()) return Refuse(why, u"-p and -o need a path");
  engine::ExportSettings& s = r.settings;
  s = {w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10]};
  if (const ov::String problem = SettingsProblem(s); !problem.IsEmpty()) return Refuse(why, problem);
  *out = r;
  return true;
}

bool RunCommandLineRender(const ov::String& line, ov::String* why) {
  ov::SetCurrentThreadPriority(kLowestPriority);
  RenderCommand command;
  if (!ParseRenderCommandLine(line, &command, why)) return false;
  // The plug-ins' diagnostics stay off standard error, which carries the
  // render's own messages (OVMIX_DEBUG_OUTPUT=1 brings them back).
  if (!ov::GetEnvironmentValue("OVMIX_DEBUG_OUTPUT")) ov::SetEnvironmentValue("OVMIX_DEBUG_OUTPUT", "0");
  // The encoding graphs' own classes: graph, builder, wrapper filter and the
  // outside filters (multiplexer, WMV encoder object, ASF writer).
  dshow::RegisterGraphClasses();
  dshow::RegisterOutsideFilters();
  auto manager = std::make_unique<ScreenManager>(kWidth, kHeight, ov::JoinPath(ov::DataFolder(), u"user.opt"), nullptr);
  auto engine = std::make_shared<engine::MixEngine>(nullptr, nullptr);
  manager->SetMixEngine(engine);
  ov::String reason;
  const bool opened = screens::OpenMixForRender(engine.get(), command.project, &reason);
  if (!opened) {
    Refuse(why, reason);
  } else if (!engine->Export(command.output, command.settings, &reason)) {
    Refuse(why, reason);
  }
  engine.reset();
  manager.reset();
  return opened;
}

}  // namespace shell
