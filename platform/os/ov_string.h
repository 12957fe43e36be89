#pragma once
// String: the program's text type. UTF-16 (char16_t), as every stored format
// keeps its text; converted to UTF-8 only where the operating system is called.
//
// Reference-counted and copy-on-write: copies share one buffer until one of
// them is changed. The buffer is preceded by a header (length, allocated
// length, reference count); when a longer text is needed than is allocated the
// new allocation is twice the old one while the old one is at most 1024
// units, else the old one plus 1024, and the needed length where that is
// still short.
//
// Thread: one String object is used by one thread at a time; copies of it may
// live on other threads (the reference count is atomic).
// Errors: a length beyond kMaxLength throws std::length_error, allocation
// failure throws std::bad_alloc. Index arguments out of range are clamped
// (Mid, Left, Right, Find) and never read outside the text.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace ov {

class String;

// One argument of String::Format: an integer, a UTF-16 text or a UTF-8 text.
class FormatArg {
 public:
  enum class Kind { kSigned, kUnsigned, kText16, kText8 };
  FormatArg(int v) : kind_(Kind::kSigned), s_(v) {}
  FormatArg(long v) : kind_(Kind::kSigned), s_(v) {}
  FormatArg(long long v) : kind_(Kind::kSigned), s_(v) {}
  FormatArg(unsigned v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(unsigned long v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(unsigned long long v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(short v) : kind_(Kind::kSigned), s_(v) {}
  FormatArg(unsigned short v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(signed char v) : kind_(Kind::kSigned), s_(v) {}
  FormatArg(unsigned char v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(char16_t v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(bool v) : kind_(Kind::kSigned), s_(v ? 1 : 0) {}
  FormatArg(const char16_t* v) : kind_(Kind::kText16), t16_(v ? v : u"") {}
  FormatArg(std::u16string_view v) : kind_(Kind::kText16), t16_(v) {}
  FormatArg(const char* v) : kind_(Kind::kText8), t8_(v ? v : "") {}
  FormatArg(const std::string& v) : kind_(Kind::kText8), t8_(v) {}
  FormatArg(const String& v);
  FormatArg(const void*) = delete;  // pointers are not printed

  Kind kind() const { return kind_; }
  long long AsSigned() const;
  unsigned long long AsUnsigned() const;
  // Text of a text argument; empty for numbers.
  std::u16string_view Text16() const { return kind_ == Kind::kText16 ? t16_ : std::u16string_view(); }
  std::string_view Text8() const { return kind_ == Kind::kText8 ? t8_ : std::string_view(); }

 private:
  Kind kind_;
  long long s_ = 0;
  unsigned long long u_ = 0;
  std::u16string_view t16_;
  std::string_view t8_;
};

class String {
 public:
  // Longest text a String holds, in UTF-16 units.
  static constexpr int kMaxLength = 0x3FFFFFF0;

  String();
  String(const char16_t* text);  // null gives the empty text
  String(const char16_t* text, int length);
  String(std::u16string_view text);
  String(char16_t c, int repeat);
  String(const String& other);
  String(String&& other) noexcept;
  ~String();
  String& operator=(const String& other);
  String& operator=(String&& other) noexcept;
  String& operator=(const char16_t* text);

  // ASCII text (each byte one unit). For UTF-8 use FromUtf8.
  static String FromAscii(std::string_view ascii);

  // String resources: the program's texts by number ("LMENU" is 104). The
  // shell registers them once at start-up; FromResource gives the empty text
  // for a number never registered. Any thread.
  static void SetResource(uint32_t id, const String& text);
  static String FromResource(uint32_t id);

  // Length in UTF-16 units.
  int Length() const;
  bool IsEmpty() const { return Length() == 0; }
  // Zero-terminated units; valid until the String is next changed.
  const char16_t* c_str() const { return data_; }
  std::u16string_view View() const { return std::u16string_view(data_, static_cast<size_t>(Length())); }
  operator std::u16string_view() const { return View(); }
  // Unit at index; 0 when index is out of range.
  char16_t At(int index) const;
  char16_t operator[](int index) const { return At(index); }
  // Replaces the unit at index; ignored out of range.
  void SetAt(int index, char16_t c);
  void Empty();

  // Allocated length in units (for tests of the growth rule).
  int Capacity() const;
  // Number of Strings sharing this buffer (1 for an unshared or empty text).
  int ShareCount() const;

  // Writable buffer of at least min_length units plus terminator; the text is
  // kept. Call ReleaseBuffer with the new length (-1: up to the first 0) before
  // any other call.
  char16_t* GetBuffer(int min_length);
  void ReleaseBuffer(int new_length = -1);

  String& operator+=(const String& other);
  String& operator+=(const char16_t* text);
  String& operator+=(char16_t c);
  String& Append(std::u16string_view text);

  // Comparison by unit values: <0, 0, >0.
  int Compare(std::u16string_view other) const;
  // Case-insensitive comparison (simple case folding of Latin, Greek and
  // Cyrillic letters); <0, 0, >0 of the folded texts.
  int CompareNoCase(std::u16string_view other) const;
  bool EqualsNoCase(std::u16string_view other) const { return CompareNoCase(other) == 0; }

  // Index of the first occurrence at or after start, -1 when absent.
  int Find(char16_t c, int start = 0) const;
  int Find(std::u16string_view text, int start = 0) const;
  // Case-insensitive Find.
  int FindNoCase(std::u16string_view text, int start = 0) const;
  // Index of the last occurrence of c, -1 when absent.
  int ReverseFind(char16_t c) const;
  // Index of the first unit that is one of chars, -1 when none.
  int FindOneOf(std::u16string_view chars) const;
  bool StartsWith(std::u16string_view prefix) const;
  bool EndsWithNoCase(std::u16string_view suffix) const;

  // count units from first (to the end when count < 0); clamped to the text.
  String Mid(int first, int count = -1) const;
  String Left(int count) const;
  String Right(int count) const;

  void MakeUpper();
  void MakeLower();
  // Removes leading/trailing white space (space, tab, CR, LF, VT, FF).
  void Trim();
  void TrimLeft();
  void TrimRight();
  // Replaces every occurrence of from (non-empty) by to; returns the count.
  int Replace(std::u16string_view from, std::u16string_view to);
  int Replace(char16_t from, char16_t to);
  // Inserts text before index (clamped); removes count units from index.
  void Insert(int index, std::u16string_view text);
  void Delete(int index, int count = 1);

  // Leading decimal integer like _wtol: optional white space and sign, digits;
  // 0 when there are none; saturates at the 32-bit limits.
  int32_t ToInt() const;

  // printf-style formatting: %d %i %u %x %X %c %s %S %%, with flags '-', '0',
  // '+', ' ', a width and a precision ('*' takes an int argument). %s and %S
  // take a String, a char16_t* or a UTF-8 char*; %l, %h, %I64, %ll are
  // accepted and ignored. A missing argument or a mismatched kind formats as
  // nothing (a number given to %s, or text to %d, is printed as the other kind
  // would be least harmful: its decimal value, or nothing).
  template <typename... Args>
  static String Format(std::u16string_view format, const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    return FormatList(format, list, sizeof...(Args));
  }
  static String FormatList(std::u16string_view format, const FormatArg* args, size_t count);

  // Strict UTF-8 (no overlong forms, no encoded surrogates, at most U+10FFFF).
  // Invalid input: false, *bad_offset (when given) = byte offset of the first
  // bad sequence, out untouched.
  static bool FromUtf8(std::string_view utf8, String* out, size_t* bad_offset = nullptr);
  // Lenient form for diagnostics and display: each bad sequence becomes U+FFFD.
  static String FromUtf8Lossy(std::string_view utf8);
  // Strict: an unpaired surrogate gives false and *bad_index (when given).
  bool ToUtf8(std::string* out, int* bad_index = nullptr) const;
  // Lenient: unpaired surrogates become U+FFFD.
  std::string ToUtf8Lossy() const;

  friend bool operator==(const String& a, const String& b) { return a.View() == b.View(); }
  friend bool operator==(const String& a, const char16_t* b) { return a.View() == std::u16string_view(b ? b : u""); }
  friend bool operator<(const String& a, const String& b) { return a.View() < b.View(); }
  friend String operator+(const String& a, const String& b);
  friend String operator+(const String& a, const char16_t* b);
  friend String operator+(const char16_t* a, const String& b);
  friend String operator+(const String& a, char16_t b);

 // The buffer header (implementation detail, defined in ov_string.cpp).
  struct Header;

 private:
  Header* header() const;
  // Makes this String the only owner of a buffer of at least length units,
  // keeping the text up to keep units.
  void Reserve(int length, int keep);
  void Assign(const char16_t* text, int length);
  void Release();

  char16_t* data_;
};

// Simple case folding of one UTF-16 unit (Latin-1, Latin Extended-A, Greek,
// Cyrillic); other units are returned unchanged.
char16_t FoldCase(char16_t c);
char16_t ToUpperCase(char16_t c);

// Case-insensitive match of name against a pattern with '*' (any run) and '?'
// (one unit), as the platform's file enumeration matches. "*.*" matches every
// name, including one without a dot.
bool WildcardMatch(std::u16string_view pattern, std::u16string_view name);

}  // namespace ov

// Strings as keys of unordered containers (by unit values).
template <>
struct std::hash<ov::String> {
  size_t operator()(const ov::String& s) const noexcept { return std::hash<std::u16string_view>()(s.View()); }
};
