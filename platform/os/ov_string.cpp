#include "platform/os/ov_string.h"

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>

namespace ov {

struct String::Header {
  std::atomic<int> refs;  // -1: the shared empty text, never freed
  int length;
  int allocated;
};

}  // namespace ov

namespace {

alignas(8) unsigned char g_empty_storage[32] = {};

}  // namespace

namespace ov {

static String::Header* EmptyHeader() {
  // Built once; its reference count stays -1 so it is never freed.
  static String::Header* header = [] {
    auto* h = new (g_empty_storage) String::Header{};
    h->refs.store(-1, std::memory_order_relaxed);
    h->length = 0;
    h->allocated = 0;
    return h;
  }();
  return header;
}

static char16_t* DataOf(String::Header* h) { return reinterpret_cast<char16_t*>(h + 1); }

static String::Header* NewHeader(int allocated) {
  if (allocated < 0 || allocated > String::kMaxLength) throw std::length_error("String too long");
  size_t bytes = sizeof(String::Header) + (static_cast<size_t>(allocated) + 1) * sizeof(char16_t);
  void* memory = ::operator new(bytes);
  auto* h = new (memory) String::Header{};
  h->refs.store(1, std::memory_order_relaxed);
  h->length = 0;
  h->allocated = allocated;
  DataOf(h)[0] = 0;
  return h;
}

static int CheckedLength(size_t length) {
  if (length > static_cast<size_t>(String::kMaxLength)) throw std::length_error("String too long");
  return static_cast<int>(length);
}

// Allocation for a text that needs `needed` units when `old` are allocated.
static int GrownAllocation(int old, int needed) {
  long long grown = old <= 1024 ? 2LL * old : static_cast<long long>(old) + 1024;
  if (grown < needed) grown = needed;
  if (grown > String::kMaxLength) grown = String::kMaxLength;
  return static_cast<int>(grown);
}

String::Header* String::header() const { return reinterpret_cast<Header*>(data_) - 1; }

String::String() : data_(DataOf(EmptyHeader())) {}

String::String(const char16_t* text) : String() {
  if (text) Assign(text, CheckedLength(std::char_traits<char16_t>::length(text)));
}

String::String(const char16_t* text, int length) : String() {
  if (text && length > 0) Assign(text, length);
}

String::String(std::u16string_view text) : String() {
  Assign(text.data(), CheckedLength(text.size()));
}

String::String(char16_t c, int repeat) : String() {
  if (repeat <= 0) return;
  Reserve(repeat, 0);
  for (int i = 0; i < repeat; ++i) data_[i] = c;
  data_[repeat] = 0;
  header()->length = repeat;
}

String::String(const String& other) : data_(other.data_) {
  Header* h = header();
  if (h->refs.load(std::memory_order_relaxed) >= 0) h->refs.fetch_add(1, std::memory_order_relaxed);
}

String::String(String&& other) noexcept : data_(other.data_) { other.data_ = DataOf(EmptyHeader()); }

String::~String() { Release(); }

String& String::operator=(const String& other) {
  if (data_ != other.data_) {
    String copy(other);
    std::swap(data_, copy.data_);
  }
  return *this;
}

String& String::operator=(String&& other) noexcept {
  if (this != &other) std::swap(data_, other.data_);
  return *this;
}

String& String::operator=(const char16_t* text) {
  String copy(text);
  std::swap(data_, copy.data_);
  return *this;
}

void String::Release() {
  Header* h = header();
  if (h->refs.load(std::memory_order_acquire) < 0) return;
  if (h->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    h->~Header();
    ::operator delete(static_cast<void*>(h));
  }
  data_ = DataOf(EmptyHeader());
}

void String::Reserve(int length, int keep) {
  if (length < 0 || length > kMaxLength) throw std::length_error("String too long");
  Header* h = header();
  bool shared = h->refs.load(std::memory_order_acquire) != 1;
  if (!shared && length <= h->allocated) return;
  int allocation = length <= h->allocated ? h->allocated : GrownAllocation(h->allocated, length);
  if (allocation == 0) return;  // the empty text needs no buffer
  Header* fresh = NewHeader(allocation);
  if (keep > h->length) keep = h->length;
  if (keep > 0) std::memcpy(DataOf(fresh), data_, static_cast<size_t>(keep) * sizeof(char16_t));
  DataOf(fresh)[keep] = 0;
  fresh->length = keep;
  Release();
  data_ = DataOf(fresh);
}

void String::Assign(const char16_t* text, int length) {
  if (length <= 0) {
    Empty();
    return;
  }
  // text may point into this String's own buffer.
  String copy;
  copy.Reserve(length, 0);
  std::memcpy(copy.data_, text, static_cast<size_t>(length) * sizeof(char16_t));
  copy.data_[length] = 0;
  copy.header()->length = length;
  std::swap(data_, copy.data_);
}

String String::FromAscii(std::string_view ascii) {
  String s;
  int n = CheckedLength(ascii.size());
  if (n == 0) return s;
  s.Reserve(n, 0);
  for (int i = 0; i < n; ++i) s.data_[i] = static_cast<unsigned char>(ascii[static_cast<size_t>(i)]);
  s.data_[n] = 0;
  s.header()->length = n;
  return s;
}

namespace {

std::mutex g_resource_mutex;
std::map<uint32_t, String>& Resources() {
  static auto* resources = new std::map<uint32_t, String>();
  return *resources;
}

}  // namespace

void String::SetResource(uint32_t id, const String& text) {
  std::lock_guard<std::mutex> lock(g_resource_mutex);
  // A private copy: the table never shares a buffer with a caller's String
  // that another thread may be changing.
  Resources()[id] = String(text.View());
}

String String::FromResource(uint32_t id) {
  std::lock_guard<std::mutex> lock(g_resource_mutex);
  auto it = Resources().find(id);
  return it == Resources().end() ? String() : String(it->second.View());
}

int String::Length() const { return header()->length; }
int String::Capacity() const { return header()->allocated; }

int String::ShareCount() const {
  int refs = header()->refs.load(std::memory_order_relaxed);
  return refs < 0 ? 1 : refs;
}

char16_t String::At(int index) const {
  if (index < 0 || index >= Length()) return 0;
  return data_[index];
}

void String::SetAt(int index, char16_t c) {
  if (index < 0 || index >= Length()) return;
  Reserve(Length(), Length());
  data_[index] = c;
}

void String::Empty() { Release(); }

char16_t* String::GetBuffer(int min_length) {
  int keep = Length();
  Reserve(min_length > keep ? min_length : keep, keep);
  if (header()->allocated == 0) Reserve(1, 0);  // never hand out the shared empty buffer
  return data_;
}

void String::ReleaseBuffer(int new_length) {
  Header* h = header();
  if (h->refs.load(std::memory_order_relaxed) < 0) return;
  int limit = h->allocated;
  if (new_length < 0) {
    new_length = 0;
    while (new_length < limit && data_[new_length] != 0) ++new_length;
  }
  if (new_length > limit) new_length = limit;
  data_[new_length] = 0;
  h->length = new_length;
}

String& String::Append(std::u16string_view text) {
  if (text.empty()) return *this;
  int old = Length();
  long long total = static_cast<long long>(old) + static_cast<long long>(text.size());
  if (total > kMaxLength) throw std::length_error("String too long");
  // text may be a view into this String: copy it first when the buffer moves.
  const char16_t* begin = data_;
  const char16_t* end = data_ + old;
  if (text.data() >= begin && text.data() < end) {
    String copy(text);
    return Append(copy.View());
  }
  Reserve(static_cast<int>(total), old);
  std::memcpy(data_ + old, text.data(), text.size() * sizeof(char16_t));
  data_[total] = 0;
  header()->length = static_cast<int>(total);
  return *this;
}

String& String::operator+=(const String& other) { return Append(other.View()); }
String& String::operator+=(const char16_t* text) { return Append(text ? std::u16string_view(text) : std::u16string_view()); }
String& String::operator+=(char16_t c) { return Append(std::u16string_view(&c, 1)); }

String operator+(const String& a, const String& b) {
  String r(a);
  r += b;
  return r;
}
String operator+(const String& a, const char16_t* b) {
  String r(a);
  r += b;
  return r;
}
String operator+(const char16_t* a, const String& b) {
  String r(a);
  r += b;
  return r;
}
String operator+(const String& a, char16_t b) {
  String r(a);
  r += b;
  return r;
}

char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  if (c >= 0x100 && c <= 0x137) return static_cast<char16_t>(c | 1);
  if (c >= 0x139 && c <= 0x148) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
  if (c >= 0x14A && c <= 0x177) return static_cast<char16_t>(c | 1);
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  return c;
}

char16_t ToUpperCase(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x137) return static_cast<char16_t>(c & ~1);
  if (c >= 0x139 && c <= 0x148) return (c & 1) ? c : static_cast<char16_t>(c - 1);
  if (c >= 0x14A && c <= 0x177) return static_cast<char16_t>(c & ~1);
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c : static_cast<char16_t>(c - 1);
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  return c;
}

int String::Compare(std::u16string_view other) const {
  int r = View().compare(other);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int String::CompareNoCase(std::u16string_view other) const {
  std::u16string_view self = View();
  size_t n = self.size() < other.size() ? self.size() : other.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t a = FoldCase(self[i]);
    char16_t b = FoldCase(other[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  if (self.size() == other.size()) return 0;
  return self.size() < other.size() ? -1 : 1;
}

int String::Find(char16_t c, int start) const {
  if (start < 0) start = 0;
  for (int i = start; i < Length(); ++i) {
    if (data_[i] == c) return i;
  }
  return -1;
}

int String::Find(std::u16string_view text, int start) const {
  if (start < 0) start = 0;
  if (start > Length()) return -1;
  size_t pos = View().find(text, static_cast<size_t>(start));
  return pos == std::u16string_view::npos ? -1 : static_cast<int>(pos);
}

int String::FindNoCase(std::u16string_view text, int start) const {
  if (start < 0) start = 0;
  int n = static_cast<int>(text.size());
  for (int i = start; i + n <= Length(); ++i) {
    int k = 0;
    while (k < n && FoldCase(data_[i + k]) == FoldCase(text[static_cast<size_t>(k)])) ++k;
    if (k == n) return i;
  }
  return -1;
}

int String::ReverseFind(char16_t c) const {
  for (int i = Length() - 1; i >= 0; --i) {
    if (data_[i] == c) return i;
  }
  return -1;
}

int String::FindOneOf(std::u16string_view chars) const {
  for (int i = 0; i < Length(); ++i) {
    if (chars.find(data_[i]) != std::u16string_view::npos) return i;
  }
  return -1;
}

bool String::StartsWith(std::u16string_view prefix) const { return View().substr(0, prefix.size()) == prefix; }

bool String::EndsWithNoCase(std::u16string_view suffix) const {
  if (suffix.size() > static_cast<size_t>(Length())) return false;
  return Right(static_cast<int>(suffix.size())).CompareNoCase(suffix) == 0;
}

String String::Mid(int first, int count) const {
  int length = Length();
  if (first < 0) first = 0;
  if (first >= length) return String();
  int available = length - first;
  if (count < 0 || count > available) count = available;
  if (first == 0 && count == length) return *this;
  return String(data_ + first, count);
}

String String::Left(int count) const { return Mid(0, count < 0 ? 0 : count); }

String String::Right(int count) const {
  int length = Length();
  if (count <= 0) return String();
  if (count >= length) return *this;
  return Mid(length - count, count);
}

void String::MakeUpper() {
  Reserve(Length(), Length());
  for (int i = 0; i < Length(); ++i) data_[i] = ToUpperCase(data_[i]);
}

void String::MakeLower() {
  Reserve(Length(), Length());
  for (int i = 0; i < Length(); ++i) data_[i] = FoldCase(data_[i]);
}

static bool IsSpace(char16_t c) { return c == u' ' || (c >= 9 && c <= 13); }

void String::TrimLeft() {
  int i = 0;
  while (i < Length() && IsSpace(data_[i])) ++i;
  if (i > 0) *this = Mid(i);
}

void String::TrimRight() {
  int n = Length();
  while (n > 0 && IsSpace(data_[n - 1])) --n;
  if (n < Length()) *this = Left(n);
}

void String::Trim() {
  TrimRight();
  TrimLeft();
}

int String::Replace(std::u16string_view from, std::u16string_view to) {
  if (from.empty()) return 0;
  std::u16string_view self = View();
  std::u16string out;
  int count = 0;
  size_t pos = 0;
  for (;;) {
    size_t hit = self.find(from, pos);
    if (hit == std::u16string_view::npos) break;
    out.append(self.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
    ++count;
  }
  if (count == 0) return 0;
  out.append(self.substr(pos));
  *this = String(std::u16string_view(out));
  return count;
}

int String::Replace(char16_t from, char16_t to) {
  int count = 0;
  for (int i = 0; i < Length(); ++i) {
    if (data_[i] == from) {
      if (count == 0) Reserve(Length(), Length());
      data_[i] = to;
      ++count;
    }
  }
  return count;
}

void String::Insert(int index, std::u16string_view text) {
  if (index < 0) index = 0;
  if (index > Length()) index = Length();
  String result = Left(index);
  result.Append(text);
  result.Append(View().substr(static_cast<size_t>(index)));
  *this = std::move(result);
}

void String::Delete(int index, int count) {
  if (index < 0 || index >= Length() || count <= 0) return;
  if (count > Length() - index) count = Length() - index;
  String result = Left(index);
  result.Append(View().substr(static_cast<size_t>(index + count)));
  *this = std::move(result);
}

int32_t String::ToInt() const {
  int i = 0;
  int n = Length();
  while (i < n && IsSpace(data_[i])) ++i;
  bool negative = false;
  if (i < n && (data_[i] == u'-' || data_[i] == u'+')) {
    negative = data_[i] == u'-';
    ++i;
  }
  long long value = 0;
  while (i < n && data_[i] >= u'0' && data_[i] <= u'9') {
    value = value * 10 + (data_[i] - u'0');
    if (value > 0x80000000LL) value = 0x80000000LL;
    ++i;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

// ---- Formatting ----

FormatArg::FormatArg(const String& v) : kind_(Kind::kText16), t16_(v.View()) {}

long long FormatArg::AsSigned() const {
  switch (kind_) {
    case Kind::kSigned: return s_;
    case Kind::kUnsigned: return static_cast<long long>(u_);
    default: return 0;
  }
}

unsigned long long FormatArg::AsUnsigned() const {
  switch (kind_) {
    case Kind::kSigned: return static_cast<unsigned long long>(s_);
    case Kind::kUnsigned: return u_;
    default: return 0;
  }
}

static void AppendUtf8AsUtf16(std::u16string& out, std::string_view text, int precision) {
  String converted = String::FromUtf8Lossy(text);
  std::u16string_view v = converted.View();
  if (precision >= 0 && static_cast<size_t>(precision) < v.size()) v = v.substr(0, static_cast<size_t>(precision));
  out.append(v);
}

String String::FormatList(std::u16string_view format, const FormatArg* args, size_t count) {
  std::u16string out;
  size_t next = 0;
  auto take = [&]() -> const FormatArg* { return next < count ? &args[next++] : nullptr; };
  size_t i = 0;
  while (i < format.size()) {
    char16_t c = format[i++];
    if (c != u'%') {
      out.push_back(c);
      continue;
    }
    if (i >= format.size()) break;
    if (format[i] == u'%') {
      out.push_back(u'%');
      ++i;
      continue;
    }
    bool left = false, zero = false, plus = false, space = false;
    for (; i < format.size(); ++i) {
      char16_t f = format[i];
      if (f == u'-') left = true;
      else if (f == u'0') zero = true;
      else if (f == u'+') plus = true;
      else if (f == u' ') space = true;
      else if (f == u'#') {}
      else break;
    }
    int width = 0;
    if (i < format.size() && format[i] == u'*') {
      const FormatArg* a = take();
      long long w = a ? a->AsSigned() : 0;
      if (w < 0) {
        left = true;
        w = -w;
      }
      width = static_cast<int>(w > 4096 ? 4096 : w);
      ++i;
    } else {
      while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
        width = width * 10 + (format[i] - u'0');
        if (width > 4096) width = 4096;  // a width beyond this is a mistake, not a layout
        ++i;
      }
    }
    int precision = -1;
    if (i < format.size() && format[i] == u'.') {
      ++i;
      precision = 0;
      if (i < format.size() && format[i] == u'*') {
        const FormatArg* a = take();
        long long p = a ? a->AsSigned() : 0;
        precision = static_cast<int>(p < 0 ? -1 : (p > 4096 ? 4096 : p));
        ++i;
      } else {
        while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
          precision = precision * 10 + (format[i] - u'0');
          if (precision > 4096) precision = 4096;
          ++i;
        }
      }
    }
    // Length modifiers carry no meaning here: every argument knows its width.
    while (i < format.size()) {
      char16_t m = format[i];
      if (m == u'l' || m == u'h' || m == u'L' || m == u'z' || m == u'j' || m == u't') {
        ++i;
      } else if (m == u'I' && format.substr(i, 3) == u"I64") {
        i += 3;
      } else if (m == u'I' && format.substr(i, 3) == u"I32") {
        i += 3;
      } else {
        break;
      }
    }
    if (i >= format.size()) break;
    char16_t conv = format[i++];
    std::u16string body;
    char16_t sign = 0;  // '-', '+', ' ' or none
    bool numeric = false;
    const FormatArg* a = nullptr;
    switch (conv) {
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X': {
        a = take();
        if (!a) break;
        if (a->kind() == FormatArg::Kind::kText16 || a->kind() == FormatArg::Kind::kText8) break;
        numeric = true;
        unsigned long long magnitude;
        if (conv == u'd' || conv == u'i') {
          long long v = a->AsSigned();
          if (a->kind() == FormatArg::Kind::kUnsigned) v = static_cast<long long>(a->AsUnsigned());
          if (v < 0) {
            sign = u'-';
            magnitude = 0ULL - static_cast<unsigned long long>(v);
          } else {
            magnitude = static_cast<unsigned long long>(v);
            if (plus) sign = u'+';
            else if (space) sign = u' ';
          }
        } else {
          magnitude = a->AsUnsigned();
          // A negative int given to %u or %x prints as its 32-bit pattern, as
          // the platform's formatter would.
          if (a->kind() == FormatArg::Kind::kSigned && a->AsSigned() < 0 && a->AsSigned() >= INT32_MIN) {
            magnitude &= 0xFFFFFFFFULL;
          }
        }
        unsigned base = (conv == u'x' || conv == u'X') ? 16 : 10;
        const char* digits = conv == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";
        do {
          body.insert(body.begin(), static_cast<char16_t>(digits[magnitude % base]));
          magnitude /= base;
        } while (magnitude != 0);
        if (precision >= 0) {
          while (body.size() < static_cast<size_t>(precision)) body.insert(body.begin(), u'0');
          zero = false;
        }
        break;
      }
      case u'c': {
        a = take();
        if (a && a->kind() != FormatArg::Kind::kText16 && a->kind() != FormatArg::Kind::kText8) {
          unsigned long long v = a->AsUnsigned();
          if (v != 0) body.push_back(static_cast<char16_t>(v & 0xFFFF));
        }
        break;
      }
      case u's':
      case u'S': {
        a = take();
        if (!a) break;
        if (a->kind() == FormatArg::Kind::kText16) {
          std::u16string_view v = a->Text16();
          if (precision >= 0 && static_cast<size_t>(precision) < v.size()) v = v.substr(0, static_cast<size_t>(precision));
          body.append(v);
        } else if (a->kind() == FormatArg::Kind::kText8) {
          AppendUtf8AsUtf16(body, a->Text8(), precision);
        }
        break;
      }
      default:
        // Unknown conversion: keep it as written so the mistake shows.
        body.push_back(u'%');
        body.push_back(conv);
        break;
    }
    size_t total = (sign ? 1 : 0) + body.size();
    size_t pad = static_cast<size_t>(width) > total ? static_cast<size_t>(width) - total : 0;
    if (left) {
      if (sign) out.push_back(sign);
      out += body;
      out.append(pad, u' ');
    } else if (zero && numeric) {
      if (sign) out.push_back(sign);
      out.append(pad, u'0');
      out += body;
    } else {
      out.append(pad, u' ');
      if (sign) out.push_back(sign);
      out += body;
    }
    if (out.size() > static_cast<size_t>(kMaxLength)) throw std::length_error("String too long");
  }
  return String(std::u16string_view(out));
}

// ---- UTF-8 ----

// Decodes one UTF-8 sequence at text[i]; returns its length and the code point
// in *cp, or 0 when the sequence is malformed.
static size_t DecodeUtf8(std::string_view text, size_t i, char32_t* cp) {
  unsigned char b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  size_t n;
  char32_t value;
  char32_t minimum;
  if ((b0 & 0xE0) == 0xC0) {
    n = 2, value = b0 & 0x1F, minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3, value = b0 & 0x0F, minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4, value = b0 & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < n) return 0;
  for (size_t k = 1; k < n; ++k) {
    unsigned char b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return n;
}

static void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

bool String::FromUtf8(std::string_view utf8, String* out, size_t* bad_offset) {
  std::u16string units;
  units.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp;
    size_t n = DecodeUtf8(utf8, i, &cp);
    if (n == 0) {
      if (bad_offset) *bad_offset = i;
      return false;
    }
    AppendCodePoint(units, cp);
    i += n;
  }
  if (out) *out = String(std::u16string_view(units));
  return true;
}

String String::FromUtf8Lossy(std::string_view utf8) {
  std::u16string units;
  units.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp;
    size_t n = DecodeUtf8(utf8, i, &cp);
    if (n == 0) {
      units.push_back(0xFFFD);
      ++i;
      continue;
    }
    AppendCodePoint(units, cp);
    i += n;
  }
  return String(std::u16string_view(units));
}

static void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Converts units to UTF-8; an unpaired surrogate stops the strict form
// (returns its index) or becomes U+FFFD. Returns -1 when all went well.
static int EncodeUtf8(std::u16string_view units, std::string& out, bool strict) {
  out.clear();
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      char32_t cp = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      AppendUtf8(out, cp);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      if (strict) return static_cast<int>(i);
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return -1;
}

bool String::ToUtf8(std::string* out, int* bad_index) const {
  std::string converted;
  int bad = EncodeUtf8(View(), converted, true);
  if (bad >= 0) {
    if (bad_index) *bad_index = bad;
    return false;
  }
  if (out) *out = std::move(converted);
  return true;
}

std::string String::ToUtf8Lossy() const {
  std::string converted;
  EncodeUtf8(View(), converted, false);
  return converted;
}

bool WildcardMatch(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*.*") return true;
  // Iterative match with one back-tracking point: linear in practice and never
  // recursive, so a long pattern of stars cannot exhaust the stack.
  size_t p = 0, n = 0;
  size_t star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || (pattern[p] != u'*' && FoldCase(pattern[p]) == FoldCase(name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace ov
