#include "platform/os/archive.h"

#include <cstring>
#include <utility>

namespace ov {

Archive::Archive() : storing_(true) {}

Archive::Archive(std::vector<uint8_t> bytes) : storing_(false), bytes_(std::move(bytes)) {}

Archive::Archive(const uint8_t* bytes, size_t size) : storing_(false) {
  if (bytes && size) bytes_.assign(bytes, bytes + size);
}

void Archive::Fail(std::string message) {
  if (error_.empty()) error_ = std::move(message);
}

void Archive::WriteU8(uint8_t value) {
  if (!storing_) return Fail("write on a loading archive");
  bytes_.push_back(value);
}

void Archive::WriteU16(uint16_t value) {
  WriteU8(static_cast<uint8_t>(value));
  WriteU8(static_cast<uint8_t>(value >> 8));
}

void Archive::WriteU32(uint32_t value) {
  WriteU16(static_cast<uint16_t>(value));
  WriteU16(static_cast<uint16_t>(value >> 16));
}

void Archive::WriteBytes(const void* data, size_t size) {
  if (!storing_) return Fail("write on a loading archive");
  if (size == 0) return;
  const auto* p = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + size);
}

void Archive::WriteString(std::u16string_view text) {
  WriteU8(0xFF);
  WriteU16(0xFFFE);
  size_t n = text.size();
  if (n < 0xFF) {
    WriteU8(static_cast<uint8_t>(n));
  } else if (n < 0xFFFE) {
    WriteU8(0xFF);
    WriteU16(static_cast<uint16_t>(n));
  } else {
    WriteU8(0xFF);
    WriteU16(0xFFFF);
    WriteU32(static_cast<uint32_t>(n));
  }
  for (char16_t unit : text) WriteU16(unit);
}

bool Archive::Take(size_t size, const uint8_t** at, const char* what) {
  if (storing_) {
    Fail("read on a storing archive");
    return false;
  }
  if (!ok()) return false;
  if (size > Remaining()) {
    Fail("read of " + std::to_string(size) + " bytes (" + what + ") at offset " + std::to_string(position_) +
         " runs past the end (" + std::to_string(bytes_.size()) + " bytes)");
    return false;
  }
  *at = bytes_.data() + position_;
  position_ += size;
  return true;
}

bool Archive::ReadU8(uint8_t* value) {
  const uint8_t* p;
  *value = 0;
  if (!Take(1, &p, "byte")) return false;
  *value = p[0];
  return true;
}

bool Archive::ReadU16(uint16_t* value) {
  const uint8_t* p;
  *value = 0;
  if (!Take(2, &p, "16-bit value")) return false;
  *value = static_cast<uint16_t>(p[0] | (p[1] << 8));
  return true;
}

bool Archive::ReadU32(uint32_t* value) {
  const uint8_t* p;
  *value = 0;
  if (!Take(4, &p, "word")) return false;
  *value = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
  return true;
}

bool Archive::ReadI32(int32_t* value) {
  uint32_t u;
  bool ok_read = ReadU32(&u);
  *value = static_cast<int32_t>(u);
  return ok_read;
}

bool Archive::ReadBytes(void* data, size_t size) {
  const uint8_t* p;
  if (size == 0) return ok() && !storing_;
  if (!Take(size, &p, "bytes")) {
    std::memset(data, 0, size);
    return false;
  }
  std::memcpy(data, p, size);
  return true;
}

bool Archive::ReadString(String* text) {
  *text = String();
  size_t start = position_;
  uint8_t lead;
  uint16_t marker;
  if (!ReadU8(&lead) || !ReadU16(&marker)) return false;
  if (lead != 0xFF || marker != 0xFFFE) {
    Fail("string at offset " + std::to_string(start) + " lacks the 0xFF 0xFFFE marker");
    return false;
  }
  uint32_t length;
  uint8_t short_length;
  if (!ReadU8(&short_length)) return false;
  length = short_length;
  if (short_length == 0xFF) {
    uint16_t mid_length;
    if (!ReadU16(&mid_length)) return false;
    length = mid_length;
    if (mid_length == 0xFFFF) {
      if (!ReadU32(&length)) return false;
    } else if (mid_length == 0xFFFE) {
      Fail("string at offset " + std::to_string(start) + " has the reserved length 0xFFFE");
      return false;
    }
  }
  // A length is checked against what is left before anything is allocated.
  if (length > Remaining() / 2 || length > static_cast<uint32_t>(String::kMaxLength)) {
    Fail("string at offset " + std::to_string(start) + " claims " + std::to_string(length) + " units but only " +
         std::to_string(Remaining()) + " bytes are left");
    return false;
  }
  const uint8_t* p;
  if (!Take(size_t{length} * 2, &p, "string units")) return false;
  String result;
  char16_t* units = result.GetBuffer(static_cast<int>(length));
  for (uint32_t i = 0; i < length; ++i) units[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  result.ReleaseBuffer(static_cast<int>(length));
  *text = std::move(result);
  return true;
}

}  // namespace ov
