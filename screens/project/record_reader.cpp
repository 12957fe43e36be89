#include "screens/project/record_reader.h"

#include "engine/engine_command.h"

namespace screens {

bool RecordReader::ReadU32(uint32_t* value) { return engine::GetU32(&rest_, value); }

bool RecordReader::ReadI32(int32_t* value) {
  uint32_t v = 0;
  if (!ReadU32(&v)) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

bool RecordReader::ReadString(ov::String* text) {
  std::span<const uint8_t> probe = rest_;
  if (!engine::GetString(&probe, text)) return false;
  rest_ = probe;
  return true;
}

bool RecordReader::Skip(size_t bytes) {
  if (bytes > rest_.size()) return false;
  rest_ = rest_.subspan(bytes);
  return true;
}

void PutI32(std::vector<uint8_t>* out, int32_t value) { engine::PutU32(out, static_cast<uint32_t>(value)); }

}  // namespace screens
