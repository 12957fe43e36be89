#include "screens/project/text_clip.h"

#include "engine/engine_command.h"
#include "engine/video_source_factory.h"

namespace screens {
namespace {

constexpr std::u16string_view kStart = u"**TEXT**";
constexpr std::u16string_view kEnd = u"**/EXT**";
// Each number is "0x" and eight digits, then a comma.
constexpr int kField = 11;

void AppendNumber(ov::String* out, uint32_t value) { *out += ov::String::Format(u"0x%.8x,", value); }

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// The hexadecimal number at `pos` read as the C library reads one (blanks,
// a sign, an optional "0x"), never past the end of `text`. False when `pos`
// is outside the text. The value is returned as 64 bits for the caller to
// narrow the way its field needs.
bool NumberAt(std::u16string_view text, int64_t pos, int64_t* value) {
  if (pos < 0 || pos >= static_cast<int64_t>(text.size())) return false;
  size_t i = static_cast<size_t>(pos);
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X') && i + 2 < text.size() &&
      HexDigit(text[i + 2]) >= 0) {
    i += 2;
  }
  uint64_t v = 0;
  for (; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
    v = v * 16 + static_cast<uint64_t>(HexDigit(text[i]));
    if (v > 0xFFFFFFFFull) v = 0x100000000ull;  // saturates: out of range either way
  }
  *value = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return true;
}

// Signed conversion: out-of-range values saturate as strtol's do for 32 bits.
int32_t AsSigned(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Unsigned conversion: wraps as strtoul's does.
uint32_t AsUnsigned(int64_t v) { return static_cast<uint32_t>(v); }

// A field read with the signed conversion. Every number is stored as eight
// hexadecimal digits, which read back as a value of 0 to 0x7fffffff: a
// negative one (written with a sign, as no stored descriptor is) could not
// be stored as itself, and is refused.
bool SignedAt(std::u16string_view text, int64_t pos, int32_t* value) {
  int64_t v = 0;
  if (!NumberAt(text, pos, &v) || v < 0) return false;
  *value = AsSigned(v);
  return true;
}

}  // namespace

bool TextClip::operator==(const TextClip& o) const {
  return textString.View() == o.textString.View() && textSize == o.textSize && textColour == o.textColour &&
         backgroundColour == o.backgroundColour && keyColour == o.keyColour && fontName.View() == o.fontName.View() &&
         justification == o.justification && bold == o.bold && italic == o.italic && underline == o.underline &&
         verticalAlign == o.verticalAlign;
}

ov::String FormatTextClip(const TextClip& c) {
  ov::String out(kStart);
  AppendNumber(&out, static_cast<uint32_t>(c.textString.Length()));
  out += c.textString;
  AppendNumber(&out, static_cast<uint32_t>(c.textSize));
  AppendNumber(&out, c.textColour);
  AppendNumber(&out, static_cast<uint32_t>(c.backgroundColour));
  AppendNumber(&out, static_cast<uint32_t>(c.fontName.Length()));
  out += c.fontName;
  for (int32_t v : {c.justification, c.verticalAlign, c.bold, c.italic, c.underline}) {
    AppendNumber(&out, static_cast<uint32_t>(v));
  }
  AppendNumber(&out, c.keyColour);
  out.Append(kEnd);
  return out;
}

int ParseTextClip(TextClip* c, const ov::String& descriptor) {
  const std::u16string_view d = descriptor.View();
  if (d.size() < kStart.size() || !ov::String(d.substr(0, kStart.size())).EqualsNoCase(kStart)) return 1;
  const int64_t size = static_cast<int64_t>(d.size());
  int64_t v = 0;

  if (!NumberAt(d, 8, &v)) return 0;
  const int64_t length = v;
  if (length < 0 || 19 + length > size) return 0;
  c->textString = ov::String(d.substr(19, static_cast<size_t>(length)));
  int64_t p = 19 + length;
  if (!SignedAt(d, p, &c->textSize)) return 0;
  int32_t colour = 0;
  if (!SignedAt(d, p + kField, &colour)) return 0;
  c->textColour = static_cast<uint32_t>(colour);
  if (!NumberAt(d, p + 2 * kField, &v)) return 0;
  c->backgroundColour = static_cast<int32_t>(AsUnsigned(v));

  if (!NumberAt(d, p + 3 * kField, &v)) return 0;
  const int64_t font_length = v;
  const int64_t font_at = p + 4 * kField;
  if (font_length < 0 || font_at + font_length > size) return 0;
  c->fontName = ov::String(d.substr(static_cast<size_t>(font_at), static_cast<size_t>(font_length)));

  p = font_at + font_length;
  int32_t* const words[] = {&c->justification, &c->verticalAlign, &c->bold, &c->italic, &c->underline};
  for (int i = 0; i < 5; ++i) {
    if (!SignedAt(d, p + i * kField, words[i])) return 0;
  }
  if (!SignedAt(d, p + 5 * kField, &colour)) return 0;
  c->keyColour = static_cast<uint32_t>(colour);
  const int64_t end = p + 6 * kField;
  if (end + static_cast<int64_t>(kEnd.size()) > size) return 0;
  return d.substr(static_cast<size_t>(end), kEnd.size()) == kEnd ? 1 : 0;
}

bool IsTextClip(const ov::String& text) { return engine::IsTextClipDescriptor(text); }

void WriteTextClip(const TextClip& clip, std::vector<uint8_t>* out) { engine::PutString(out, FormatTextClip(clip)); }

int ReadTextClip(TextClip* clip, RecordReader* in) {
  ov::String text;
  if (!in->ReadString(&text)) return 0;
  return ParseTextClip(clip, text);
}

}  // namespace screens
