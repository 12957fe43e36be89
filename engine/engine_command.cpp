#include "engine/engine_command.h"

namespace engine {

void PutU32(std::vector<uint8_t>* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool GetU32(std::span<const uint8_t>* in, uint32_t* value) {
  if (in->size() < 4) return false;
  const uint8_t* p = in->data();
  *value = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
  *in = in->subspan(4);
  return true;
}

// The units up to the first NUL, then the terminator.
void PutString(std::vector<uint8_t>* out, const ov::String& text) {
  std::u16string_view units = text.View();
  size_t nul = units.find(u'\0');
  if (nul != std::u16string_view::npos) units = units.substr(0, nul);
  PutU32(out, static_cast<uint32_t>(units.size() + 1));
  for (char16_t c : units) {
    out->push_back(static_cast<uint8_t>(c & 0xFF));
    out->push_back(static_cast<uint8_t>(c >> 8));
  }
  out->push_back(0);
  out->push_back(0);
}

bool GetString(std::span<const uint8_t>* in, ov::String* text) {
  uint32_t units = 0;
  if (!GetU32(in, &units)) return false;
  // A stored string always holds at least its terminator; a count beyond the
  // data left is a damaged record, not a request to allocate.
  if (units == 0 || units > in->size() / 2) return false;
  std::u16string value;
  for (uint32_t i = 0; i < units; ++i) {
    char16_t c = static_cast<char16_t>((*in)[2 * i] | (*in)[2 * i + 1] << 8);
    if (c == 0) break;
    value.push_back(c);
  }
  *in = in->subspan(static_cast<size_t>(units) * 2);
  *text = ov::String(std::u16string_view(value));
  return true;
}

void EngineCommand::Write(std::vector<uint8_t>* out) const {
  PutString(out, path);
  PutString(out, altPath);
  PutU32(out, type);
  PutU32(out, channel);
  PutU32(out, timeMs);
  for (int32_t p : {param1, param2, param3, param4, param5}) PutU32(out, static_cast<uint32_t>(p));
}

bool EngineCommand::Read(std::span<const uint8_t>* in) {
  std::span<const uint8_t> rest = *in;
  EngineCommand c;
  c.flag = flag;
  uint32_t words[8];
  if (!GetString(&rest, &c.path) || !GetString(&rest, &c.altPath)) return false;
  for (uint32_t& w : words) {
    if (!GetU32(&rest, &w)) return false;
  }
  c.type = words[0];
  c.channel = words[1];
  c.timeMs = words[2];
  c.param1 = static_cast<int32_t>(words[3]);
  c.param2 = static_cast<int32_t>(words[4]);
  c.param3 = static_cast<int32_t>(words[5]);
  c.param4 = static_cast<int32_t>(words[6]);
  c.param5 = static_cast<int32_t>(words[7]);
  *this = c;
  *in = rest;
  return true;
}

bool EngineCommand::Write(ov::File& file) const {
  std::vector<uint8_t> bytes;
  Write(&bytes);
  uint32_t written = 0;
  return file.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written) && written == bytes.size();
}

bool EngineCommand::Read(ov::File& file) {
  uint64_t size = 0;
  const uint64_t start = file.Position();
  if (!file.GetSize(&size) || size < start) return false;
  uint64_t left = size - start;
  std::vector<uint8_t> bytes;
  // Gathers the stored form piece by piece, each length checked against the
  // bytes the file still holds before anything is allocated for it.
  auto take = [&](uint64_t n) {
    if (n > left) return false;
    size_t at = bytes.size();
    bytes.resize(at + static_cast<size_t>(n));
    uint32_t got = 0;
    if (!file.Read(bytes.data() + at, static_cast<uint32_t>(n), &got) || got != n) return false;
    left -= n;
    return true;
  };
  bool ok = true;
  for (int s = 0; s < 2 && ok; ++s) {
    ok = take(4);
    if (!ok) break;
    const uint8_t* p = bytes.data() + bytes.size() - 4;
    uint64_t units = static_cast<uint64_t>(p[0]) | p[1] << 8 | p[2] << 16 | static_cast<uint64_t>(p[3]) << 24;
    ok = units != 0 && take(units * 2);
  }
  ok = ok && take(8 * 4);
  std::span<const uint8_t> view(bytes);
  if (!ok || !Read(&view)) {
    file.Seek(static_cast<int64_t>(start), ov::SeekFrom::kBegin);
    return false;
  }
  return true;
}

}  // namespace engine
