#pragma once
// TextClip: a caption or credits text with its style, and its descriptor,
// the one string in which a text clip travels: in the project file, in both
// strings of an engine command and to the text renderer.
//
// Descriptor: "**TEXT**", then each number as "0x%.8x" followed by ',':
// the text length L and the text, size, colour, background, the font-name
// length F and the name, justification, vertical alignment, bold, italic,
// underline, key colour; then "**/EXT**". 137 + L + F units; the text and
// the name are taken by their lengths, so they may hold commas or markers.

#include <cstdint>
#include <vector>

#include "engine/picture565.h"
#include "platform/os/ov_string.h"
#include "screens/project/record_reader.h"

namespace screens {

struct TextClip {
  ov::String textString;
  int32_t textSize = 1;
  uint32_t textColour = 0xFFFFFF;  // 0x00BBGGRR
  int32_t backgroundColour = -1;   // -1: none
  uint32_t keyColour = engine::kKeyColour;  // transparent colour of the rendered picture
  ov::String fontName;
  int32_t justification = 1;
  int32_t bold = 0;
  int32_t italic = 0;
  int32_t underline = 0;
  int32_t verticalAlign = 1;

  bool operator==(const TextClip& o) const;
};

inline constexpr int kTextClipFixedUnits = 137;

ov::String FormatTextClip(const TextClip& clip);
// 1 when `descriptor` is a whole descriptor, or is no descriptor at all (it
// does not start with the marker, any case: nothing changes). 0 when a
// length or another number is negative (it could not be stored back as
// itself) or a number, the text or the end marker lies past the end; the
// fields read before the fault stay filled.
int ParseTextClip(TextClip* clip, const ov::String& descriptor);
// Longer than 8 units and starting with "**TEXT**" exactly.
bool IsTextClip(const ov::String& text);
// The descriptor as a stored string.
void WriteTextClip(const TextClip& clip, std::vector<uint8_t>* out);
// Reads a stored string and parses it; 0 on a short or refused string (clip
// unchanged) or a damaged descriptor.
int ReadTextClip(TextClip* clip, RecordReader* in);

}  // namespace screens
