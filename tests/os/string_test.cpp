#include "platform/os/ov_string.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

using ov::String;

TEST(String, CopiesShareUntilOneChanges) {
  String a(u"hello");
  String b = a;
  EXPECT_EQ(a.c_str(), b.c_str());
  EXPECT_EQ(a.ShareCount(), 2);
  b += u'!';
  EXPECT_NE(a.c_str(), b.c_str());
  EXPECT_EQ(a, u"hello");
  EXPECT_EQ(b, u"hello!");
  EXPECT_EQ(a.ShareCount(), 1);
  String c = a;
  c.SetAt(0, u'j');
  EXPECT_EQ(a, u"hello");
  EXPECT_EQ(c, u"jello");
  String d = a;
  d.MakeUpper();
  EXPECT_EQ(a, u"hello");
  EXPECT_EQ(d, u"HELLO");
}

TEST(String, GrowthDoublesUpTo1024ThenAdds1024) {
  String s;
  s += u'x';
  EXPECT_EQ(s.Capacity(), 1);  // needed length when doubling 0 is short
  s += u'x';
  EXPECT_EQ(s.Capacity(), 2);
  s += u'x';
  EXPECT_EQ(s.Capacity(), 4);
  while (s.Length() < 1024) s += u'x';
  EXPECT_EQ(s.Capacity(), 1024);
  s += u'x';
  EXPECT_EQ(s.Capacity(), 2048);
  while (s.Length() < 2048) s += u'x';
  s += u'x';
  EXPECT_EQ(s.Capacity(), 3072);
  s.Append(String(u'y', 5000).View());
  EXPECT_EQ(s.Capacity(), 2049 + 5000);  // the needed length beats old + 1024
}

TEST(String, SelfAppendAndAliasingInsert) {
  String s(u"ab");
  s.Append(s.View());
  EXPECT_EQ(s, u"abab");
  s.Insert(1, s.View().substr(0, 2));
  EXPECT_EQ(s, u"aabbab");
}

TEST(String, CompareFindAndCut) {
  String s(u"Storage Card\\Media.PAK");
  EXPECT_EQ(s.CompareNoCase(u"storage card\\media.pak"), 0);
  EXPECT_LT(String(u"abc").CompareNoCase(u"ABD"), 0);
  EXPECT_GT(String(u"abcd").CompareNoCase(u"ABC"), 0);
  EXPECT_LT(String(u"ABC").Compare(u"abc"), 0);
  EXPECT_EQ(String(u"\u00C9T\u00C9").CompareNoCase(u"\u00E9t\u00E9"), 0);
  EXPECT_EQ(String(u"\u0416").CompareNoCase(u"\u0436"), 0);
  EXPECT_EQ(s.Find(u'\\'), 12);
  EXPECT_EQ(s.Find(u"Card"), 8);
  EXPECT_EQ(s.Find(u"Card", 9), -1);
  EXPECT_EQ(s.Find(u'x', 100), -1);
  EXPECT_EQ(s.FindNoCase(u"media"), 13);
  EXPECT_EQ(s.ReverseFind(u'.'), 18);
  EXPECT_EQ(s.Mid(13), u"Media.PAK");
  EXPECT_EQ(s.Mid(13, 5), u"Media");
  EXPECT_EQ(s.Mid(-4, 3), u"Sto");
  EXPECT_EQ(s.Mid(100), u"");
  EXPECT_EQ(s.Mid(20, 100), u"AK");
  EXPECT_EQ(s.Left(7), u"Storage");
  EXPECT_EQ(s.Left(-1), u"");
  EXPECT_EQ(s.Right(3), u"PAK");
  EXPECT_EQ(s.Right(500), s);
  EXPECT_TRUE(s.EndsWithNoCase(u".pak"));
  EXPECT_EQ(s.At(-1), 0);
  EXPECT_EQ(s[1000], 0);
}

TEST(String, EditingOperations) {
  String s(u"  a,b,,c \r\n");
  s.Trim();
  EXPECT_EQ(s, u"a,b,,c");
  EXPECT_EQ(s.Replace(u",", u";;"), 3);
  EXPECT_EQ(s, u"a;;b;;;;c");
  EXPECT_EQ(s.Replace(u'\\', u'/'), 0);
  s.Delete(1, 100);
  EXPECT_EQ(s, u"a");
  s.Insert(100, u"bc");
  EXPECT_EQ(s, u"abc");
  EXPECT_EQ(String(u"  -42xyz").ToInt(), -42);
  EXPECT_EQ(String(u"99999999999").ToInt(), INT32_MAX);
  EXPECT_EQ(String(u"-99999999999").ToInt(), INT32_MIN);
  EXPECT_EQ(String(u"abc").ToInt(), 0);
}

TEST(String, BufferAccess) {
  String s(u"ab");
  String shared = s;
  char16_t* p = s.GetBuffer(10);
  p[2] = u'c';
  p[3] = 0;
  s.ReleaseBuffer();
  EXPECT_EQ(s, u"abc");
  EXPECT_EQ(shared, u"ab");
  String empty;
  empty.GetBuffer(0)[0] = 0;
  empty.ReleaseBuffer();
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(String, Format) {
  struct Case {
    String got;
    const char16_t* want;
  };
  String name(u"clip");
  const Case cases[] = {
      {String::Format(u"%d / %d", 3, 12), u"3 / 12"},
      {String::Format(u"help%d", 7), u"help7"},
      {String::Format(u"Vex_%d_%d.pak", 240, 320), u"Vex_240_320.pak"},
      {String::Format(u"%s%s", u"/tmp/", name), u"/tmp/clip"},
      {String::Format(u"\\%s\\Quelvarin\\", "Storage Card"), u"\\Storage Card\\Quelvarin\\"},
      {String::Format(u"%x %X %08x", 255u, 0xABCu, 0x1F), u"ff ABC 0000001f"},
      {String::Format(u"%x", -1), u"ffffffff"},
      {String::Format(u"%5d|%-5d|%05d|%+d", 42, 42, -42, 7), u"   42|42   |-0042|+7"},
      {String::Format(u"%.2s|%3s", u"abcdef", u"x"), u"ab|  x"},
      {String::Format(u"%c%c", u'o', 'k'), u"ok"},
      {String::Format(u"100%%"), u"100%"},
      {String::Format(u"%d %s"), u" "},               // missing arguments print nothing
      {String::Format(u"%d", u"text"), u""},          // text to a number conversion
      {String::Format(u"%ld %I64d", 5L, 6LL), u"5 6"},
      {String::Format(u"%q"), u"%q"},
      {String::Format(u"%d", INT32_MIN), u"-2147483648"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(String, Utf8RoundTripAndErrors) {
  const std::string text = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC";  // café € clapper board
  String s;
  ASSERT_TRUE(String::FromUtf8(text, &s));
  EXPECT_EQ(s, u"caf\u00E9 \u20AC \U0001F3AC");
  std::string back;
  ASSERT_TRUE(s.ToUtf8(&back));
  EXPECT_EQ(back, text);

  struct Bad {
    std::string bytes;
    size_t offset;
  };
  const Bad bad[] = {
      {"ab\x80", 2},                 // lone continuation byte
      {"\xC0\xAF", 0},               // overlong '/'
      {"x\xE0\x80\x80", 1},          // overlong 3-byte
      {"\xED\xA0\x80", 0},           // encoded surrogate
      {"\xF4\x90\x80\x80", 0},       // beyond U+10FFFF
      {"ok\xE2\x82", 2},             // truncated at the end
      {"\xFF", 0},
  };
  for (const Bad& b : bad) {
    String out(u"unchanged");
    size_t offset = 99;
    EXPECT_FALSE(String::FromUtf8(b.bytes, &out, &offset)) << b.bytes;
    EXPECT_EQ(offset, b.offset);
    EXPECT_EQ(out, u"unchanged");
  }
  EXPECT_EQ(String::FromUtf8Lossy("a\xFF" "b"), u"a\uFFFDb");

  const char16_t lone_high[] = {u'a', 0xD800, u'b', 0};
  const char16_t lone_low[] = {0xDC00, 0};
  int index = -1;
  std::string out = "unchanged";
  EXPECT_FALSE(String(lone_high).ToUtf8(&out, &index));
  EXPECT_EQ(index, 1);
  EXPECT_EQ(out, "unchanged");
  EXPECT_FALSE(String(lone_low).ToUtf8(&out, &index));
  EXPECT_EQ(index, 0);
  EXPECT_EQ(String(lone_high).ToUtf8Lossy(), "a\xEF\xBF\xBD" "b");
}

TEST(String, WildcardMatch) {
  struct Case {
    const char16_t* pattern;
    const char16_t* name;
    bool match;
  };
  const Case cases[] = {
      {u"*.ttf", u"Arial.TTF", true},  {u"*.ttf", u"font.ttc", false}, {u"*", u"", true},
      {u"*", u"anything", true},       {u"*.*", u"noext", true},       {u"a?c", u"ABC", true},
      {u"a?c", u"ac", false},          {u"*a*b*c", u"xxaxxbxxc", true}, {u"*a*b*c", u"xxaxxcxxb", false},
      {u"help*.xml", u"HELP1.xml", true},
  };
  for (const Case& c : cases) EXPECT_EQ(ov::WildcardMatch(c.pattern, c.name), c.match);
}

TEST(String, CopiesOnManyThreads) {
  String shared(u"shared text");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([shared] {
      for (int i = 0; i < 10000; ++i) {
        String copy = shared;
        if (i % 100 == 0) copy += u'x';
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(shared.ShareCount(), 1);
}

TEST(String, Resources) {
  String::SetResource(104, u"LMENU");
  EXPECT_EQ(String::FromResource(104), u"LMENU");
  EXPECT_TRUE(String::FromResource(99999).IsEmpty());
  std::unordered_set<String> names = {u"LMENU", u"RMENU"};
  EXPECT_EQ(names.count(String::FromResource(104)), 1u);
}
