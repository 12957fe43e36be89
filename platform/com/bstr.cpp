#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace com {
namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

uint32_t& LengthWord(BSTR text) { return *reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(text) - kPrefix); }

}  // namespace

BSTR SysAllocStringLen(const char16_t* text, uint32_t length) {
  if (length > (std::numeric_limits<uint32_t>::max() - kPrefix) / 2 - 1) return nullptr;
  const size_t bytes = static_cast<size_t>(length) * 2;
  char* block = static_cast<char*>(std::malloc(kPrefix + bytes + 2));
  if (!block) return nullptr;
  BSTR out = reinterpret_cast<BSTR>(block + kPrefix);
  LengthWord(out) = static_cast<uint32_t>(bytes);
  if (text) {
    std::memcpy(out, text, bytes);
  } else {
    std::memset(out, 0, bytes);
  }
  out[length] = 0;
  return out;
}

BSTR SysAllocString(const char16_t* text) {
  if (!text) return nullptr;
  uint32_t length = 0;
  while (text[length] != 0) ++length;
  return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<char*>(text) - kPrefix);
}

uint32_t SysStringByteLen(BSTR text) { return text ? LengthWord(text) : 0; }

uint32_t SysStringLen(BSTR text) { return SysStringByteLen(text) / 2; }

}  // namespace com
