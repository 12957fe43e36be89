// ovtool text DESCRIPTOR WxH OUT.png: renders a text clip off-screen, as the
// video mixer and the text cache draw it, onto a WxH picture filled with the
// clip's key colour (or its background), and writes it as a PNG.
// DESCRIPTOR is the "**TEXT**" string itself, or "@FILE" to read it (UTF-8)
// from a file. Exit status 0 on success, 1 when the clip cannot be drawn.
#include <cstdio>
#include <string>
#include <vector>

#include "engine/rendered_clip_source.h"
#include "platform/gfx/dc.h"
#include "platform/imaging/image.h"
#include "screens/project/text_clip.h"
#include "screens/screens.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

constexpr int kMaxSide = 4096;

int RunText(int argc, char** argv) {
  int w = 0, h = 0;
  if (argc != 4 || std::sscanf(argv[2], "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0 || w > kMaxSide ||
      h > kMaxSide) {
    std::fprintf(stderr, "usage: ovtool text DESCRIPTOR|@FILE WxH OUT.png (sides 1 to %d)\n", kMaxSide);
    return 2;
  }
  std::string utf8 = argv[1];
  if (!utf8.empty() && utf8[0] == '@') {
    std::vector<uint8_t> bytes;
    if (!ovtool::ReadInputFile("text", utf8.substr(1), &bytes, 1u << 20)) return 1;
    utf8.assign(bytes.begin(), bytes.end());
    while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r')) utf8.pop_back();
  }
  const ov::String descriptor = ov::String::FromUtf8Lossy(utf8);
  screens::TextClip clip;
  if (!screens::IsTextClip(descriptor) || screens::ParseTextClip(&clip, descriptor) != 1) {
    std::fprintf(stderr, "text: the descriptor is damaged or is no text clip\n");
    return 1;
  }
  screens::RegisterElements();
  engine::RenderedClipSource source(w, h);
  source.path = descriptor;
  if (!source.Open(descriptor, 1)) {
    std::fprintf(stderr, "text: the clip cannot be prepared at %dx%d\n", w, h);
    return 1;
  }
  std::unique_ptr<gfx::DeviceContext> dc = gfx::CreateCompatibleDC(nullptr);
  gfx::HBitmap bitmap = gfx::CreateBitmap565(w, h);
  if (!dc || !bitmap) {
    std::fprintf(stderr, "text: no %dx%d picture could be made\n", w, h);
    return 1;
  }
  dc->SelectBitmap(bitmap);
  gfx::FillRect(dc.get(), gfx::Rect{0, 0, w, h}, gfx::CreateSolidBrush(clip.keyColour));
  if (!source.RenderFrame(0, dc.get())) {
    std::fprintf(stderr, "text: the clip could not be drawn\n");
    return 1;
  }
  if (!imaging::WritePng(argv[3], *bitmap)) {
    std::fprintf(stderr, "text: %s cannot be written\n", argv[3]);
    return 1;
  }
  return 0;
}

}  // namespace

OVTOOL_COMMAND(text, "text DESCRIPTOR|@FILE WxH OUT.png  render a text clip off-screen", RunText)
