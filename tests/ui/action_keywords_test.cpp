#include "ui/action_keywords.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace ui {
namespace {

struct KeywordCase {
  const char16_t* text;
  ActionCode code;
};

// Prefix matching in table order, case-insensitive, the shadowed entries.
TEST(ActionKeywords, LookupFollowsTableOrderAndPrefixes) {
  const KeywordCase cases[] = {
      {u"JUMP_TO", 1},          {u"jump_to", 1},         {u"Jump_To", 1},        {u"JUMP", 1},
      {u"JUMP_TOO", 4},         {u"", 1},                {u"HW_HELPON", 35},     {u"HW_HELPRESET", 34},
      {u"HW_DISMISSHELP", 32},  {u"MX_SAVE", 330},       {u"MX_SAVEMENU", 226},  {u"PB_PREV", 53},
      {u"PB_PREVIEW", 62},      {u"MX_TEMPO_3", 184},    {u"CH_CLEAR", 81},      {u"PREVIOUS_MENU", 0},
      {u"ED_AUD_CHORUS", 252},  {u"NOT_A_KEYWORD", 4},   {u"SHOW_POPUP", 37},    {u"SETATTRIBUTE", 38},
  };
  for (const KeywordCase& c : cases) {
    EXPECT_EQ(ActionCodeFromKeyword(c.text), c.code) << std::string(c.text, c.text + std::u16string_view(c.text).size());
  }
}

TEST(ActionKeywords, ParseActionSplitsAtFirstBlank) {
  ov::String arg;
  EXPECT_EQ(ParseAction(u"CH_CLEAR  some thing", &arg), 81);
  EXPECT_EQ(arg, ov::String(u"some thing"));
  EXPECT_EQ(ParseAction(u"JUMP_TO main_menu", &arg), 1);
  EXPECT_EQ(arg, ov::String(u"main_menu"));
  // Empty text and text beginning with a blank give the first entry.
  EXPECT_EQ(ParseAction(u"", &arg), 1);
  EXPECT_EQ(ParseAction(u" PREVIOUS_MENU", &arg), 1);
  EXPECT_EQ(arg, ov::String(u"PREVIOUS_MENU"));
}

TEST(ActionKeywords, TableShape) {
  ASSERT_EQ(ActionKeywordCount(), 253);
  std::set<std::string> distinct;
  for (int i = 0; i < ActionKeywordCount(); ++i) distinct.insert(std::string(ActionKeywordAt(i, nullptr)));
  EXPECT_EQ(distinct.size(), 247u);
  // Code 33 is not reachable by any keyword.
  for (int i = 0; i < ActionKeywordCount(); ++i) {
    ActionCode code = 0;
    const std::string_view k = ActionKeywordAt(i, &code);
    const std::u16string wide(k.begin(), k.end());
    EXPECT_NE(ActionCodeFromKeyword(wide), 33) << k;
  }
}


// The number each keyword stands for is what skins are written against; the
// table spells the numbers through the code names, so a name whose value
// moved would move the keyword with it. Every entry is held to its number.
TEST(ActionKeywords, EveryKeywordKeepsItsNumber) {
  const std::map<std::string, ActionCode> numbers = {
      {"JUMP_TO", 1}, {"ACTION_DISABLED", 3}, {"ACTION_IGNORE", 7}, {"ACTION_EXECUTABLE", 24},
      {"PREVIOUS_MENU", 0}, {"SAVE_SETTINGS", 20}, {"SAVE_AND_EXIT", 21}, {"INITIALISE", 22}, {"REVERT", 23},
      {"SHOW_POPUP", 37}, {"SETATTRIBUTE", 38}, {"SHOW_IMAGE", 30}, {"ACTION_QUIT", 6}, {"MENU_OK", 41},
      {"MENU_CANCEL", 42}, {"PB_VIEW", 50}, {"PB_ZOOMMINUS", 51}, {"PB_ZOOMPLUS", 52}, {"PB_PREV", 53},
      {"PB_NEXT", 54}, {"PB_FULLSCREEN", 55}, {"PB_SORTDATE", 56}, {"PB_SORTNAME", 57}, {"PB_SELECTALL", 60},
      {"PB_SELECTNONE", 61}, {"PB_PREVIEW", 62}, {"CH_CLEAR", 81}, {"CH_CLEAR0", 82}, {"CH_CLEAR1", 83},
      {"CH_CLEAR2", 84}, {"CH_CLEAR3", 85}, {"CH_CLEAR4", 86}, {"CH_CLEAR5", 87}, {"CH_ASSIGN", 91},
      {"CH_ADVANCED", 92}, {"MX_MUTE_ON", 94}, {"MX_MUTE_OFF", 95}, {"MX_START", 96}, {"MX_STOP", 99},
      {"MX_START_CREDITS_FINISH", 97}, {"MX_END_CREDITS_START", 98}, {"MX_PLAYBACK", 113}, {"MX_PLAYSTOP", 114},
      {"MX_PLAYPAUSE", 115}, {"MX_WIZARD", 100}, {"MX_ACCEPTWIZARD", 101}, {"MX_WIZARD_SETTING0", 102},
      {"MX_WIZARD_SETTING1", 103}, {"MX_WIZARD_SETTING2", 104}, {"MX_WIZARD_SETTING3", 105},
      {"MX_WIZARD_SETTING4", 106}, {"MX_WIZARD_SETTING5", 107}, {"MX_WIZARD_SETTING6", 108},
      {"MX_WIZARD_SETTING7", 109}, {"MX_WIZARD_SETTING8", 110}, {"MX_WIZARD_SETTING9", 111},
      {"MX_SETVOLUME", 112}, {"MX_CHANNEL_ON_0", 119}, {"MX_CHANNEL_ON_1", 120}, {"MX_CHANNEL_ON_2", 121},
      {"MX_CHANNEL_ON_3", 122}, {"MX_CHANNEL_ON_4", 123}, {"MX_CHANNEL_ON_5", 124}, {"MX_CHANNEL_OFF_0", 127},
      {"MX_CHANNEL_OFF_1", 128}, {"MX_CHANNEL_OFF_2", 129}, {"MX_CHANNEL_OFF_3", 130}, {"MX_CHANNEL_OFF_4", 131},
      {"MX_CHANNEL_OFF_5", 132}, {"MX_SPEAKER_0", 187}, {"MX_SPEAKER_1", 188}, {"MX_SPEAKER_2", 189},
      {"MX_SPEAKER_3", 190}, {"MX_SPEAKER_4", 191}, {"MX_SPEAKER_5", 192}, {"MX_TEMPO_0", 181},
      {"MX_TEMPO_1", 182}, {"MX_TEMPO_2", 183}, {"MX_TEMPO_3", 184}, {"MX_TEMPO_4", 185}, {"MX_TEMPO_5", 186},
      {"MX_EFFECT_ON_0", 135}, {"MX_EFFECT_ON_1", 136}, {"MX_EFFECT_ON_2", 137}, {"MX_EFFECT_ON_3", 138},
      {"MX_EFFECT_ON_4", 139}, {"MX_EFFECT_ON_5", 140}, {"MX_EFFECT_OFF_0", 143}, {"MX_EFFECT_OFF_1", 144},
      {"MX_EFFECT_OFF_2", 145}, {"MX_EFFECT_OFF_3", 146}, {"MX_EFFECT_OFF_4", 147}, {"MX_EFFECT_OFF_5", 148},
      {"MX_SEL_CHANNEL_ON", 117}, {"MX_SEL_CHANNEL_OFF", 118}, {"MX_VOL_0", 152}, {"MX_VOL_1", 153},
      {"MX_VOL_2", 154}, {"MX_VOL_3", 155}, {"MX_VOL_4", 156}, {"MX_VOL_5", 157}, {"MX_MASTERVOL", 166},
      {"SL_OK", 345}, {"SL_CANCEL", 346}, {"ED_ADDTEXT", 243}, {"ED_ACCEPTTEXT", 244}, {"TE_ITALIC", 270},
      {"TE_BOLD", 271}, {"TE_UNDERLINE", 272}, {"TE_CLEAR", 273}, {"TE_STARTCREDIT", 276},
      {"TE_ENDCREDIT", 277}, {"MB_FILTER_NONE", 313}, {"MB_FILTER_AUDIO", 314}, {"MB_FILTER_IMAGE", 315},
      {"MB_FILTER_VIDEO", 316}, {"MB_FILTER_PROJECT", 317}, {"MB_MIXCLEAR", 326}, {"MB_SHOWTODAY", 318},
      {"MB_SHOWYESTERDAY", 319}, {"MB_SHOWDAY", 320}, {"MB_SHOWLAST7DAYS", 321}, {"MB_SHOWALL", 324},
      {"MB_SHOWLASTMONTH", 323}, {"MB_SHOWTHISMONTH", 322}, {"MB_SHOWCALENDER", 325}, {"MX_SAVE", 330},
      {"MX_RENDERMMS", 331}, {"MX_RENDEREMAIL", 332}, {"MX_RENDEREDEVICE", 334}, {"MX_RENDEREUBLOG", 333},
      {"MX_LOAD", 329}, {"MX_CANCEL_RENDER", 335}, {"MX_CANCEL_DECOMPRESS", 338},
      {"MX_OK_DECOMPRESSFAILURE", 341}, {"PB_JUMPTOMIX", 63}, {"PB_ADDCREDITS", 66}, {"PB_OPENFILEBOX", 64},
      {"PB_ADDNOTE", 65}, {"MX_SHOW_VID_EFFECT_0", 282}, {"MX_SHOW_VID_EFFECT_1", 283},
      {"MX_SHOW_VID_EFFECT_2", 284}, {"MX_SHOW_VID_EFFECT_3", 285}, {"MX_SHOW_VID_EFFECT_4", 286},
      {"MX_SHOW_VID_EFFECT_5", 287}, {"MX_SHOW_AUD_EFFECT_0", 288}, {"MX_SHOW_AUD_EFFECT_1", 289},
      {"MX_SHOW_AUD_EFFECT_2", 290}, {"MX_SHOW_AUD_EFFECT_3", 291}, {"MX_SHOW_AUD_EFFECT_4", 292},
      {"MX_SHOW_AUD_EFFECT_5", 293}, {"MX_SHOW_VID_EFFECT_GREY_0", 294}, {"MX_SHOW_VID_EFFECT_GREY_1", 295},
      {"MX_SHOW_VID_EFFECT_GREY_2", 296}, {"MX_SHOW_VID_EFFECT_GREY_3", 297}, {"MX_SHOW_VID_EFFECT_GREY_4", 298},
      {"MX_SHOW_VID_EFFECT_GREY_5", 299}, {"MX_SHOW_AUD_EFFECT_GREY_0", 300}, {"MX_SHOW_AUD_EFFECT_GREY_1", 301},
      {"MX_SHOW_AUD_EFFECT_GREY_2", 302}, {"MX_SHOW_AUD_EFFECT_GREY_3", 303}, {"MX_SHOW_AUD_EFFECT_GREY_4", 304},
      {"MX_SHOW_AUD_EFFECT_GREY_5", 305}, {"MX_VID_SLIDE_SLOW_RIGHT", 193}, {"MX_VID_SLIDE_SLOW_LEFT", 194},
      {"MX_VID_SLIDE_SLOW_UP", 195}, {"MX_VID_SLIDE_SLOW_DOWN", 196}, {"MX_VID_SLIDE_FAST_RIGHT", 197},
      {"MX_VID_SLIDE_FAST_LEFT", 198}, {"MX_VID_SLIDE_FAST_UP", 199}, {"MX_VID_SLIDE_FAST_DOWN", 200},
      {"MX_VID_BLIND_SLOW_RIGHT", 201}, {"MX_VID_BLIND_SLOW_LEFT", 202}, {"MX_VID_BLIND_SLOW_UP", 203},
      {"MX_VID_BLIND_SLOW_DOWN", 204}, {"MX_VID_BLIND_FAST_RIGHT", 205}, {"MX_VID_BLIND_FAST_LEFT", 206},
      {"MX_VID_BLIND_FAST_UP", 207}, {"MX_VID_BLIND_FAST_DOWN", 208}, {"MX_VID_FADE_SLOW", 209},
      {"MX_VID_FADE_FAST", 210}, {"MX_VID_SWEEP_SLOW_RIGHT", 211}, {"MX_VID_SWEEP_SLOW_LEFT", 212},
      {"MX_VID_SWEEP_SLOW_UP", 213}, {"MX_VID_SWEEP_SLOW_DOWN", 214}, {"MX_VID_SWEEP_FAST_RIGHT", 215},
      {"MX_VID_SWEEP_FAST_LEFT", 216}, {"MX_VID_SWEEP_FAST_UP", 217}, {"MX_VID_SWEEP_FAST_DOWN", 218},
      {"MX_VID_FAST_RANDOM", 219}, {"MX_VID_SLOW_RANDOM", 220}, {"MX_AUD_ECHO_SHORT", 221},
      {"MX_AUD_ECHO_LONG", 222}, {"MX_AUD_CHORUS", 223}, {"MX_AUD_REVERB", 224}, {"MX_ALLCHANACCEPTEFFECT", 308},
      {"MX_ACCEPTEFFECT", 307}, {"MX_EFFECT_TOGGLE", 151}, {"ED_ACCEPTEFFECT", 241}, {"ED_ACCEPTCHANGES", 240},
      {"ED_ACCEPTKENBURNS", 242}, {"MX_ADDEFFECT", 225}, {"MX_SAVEMENU", 226}, {"PL_DELETE", 279},
      {"HW_DISMISSHELP", 32}, {"HW_HELPONRESET", 35}, {"HW_HELPON", 33}, {"HW_HELPRESET", 34},
      {"MX_TEMPOLEVEL_0", 175}, {"MX_TEMPOLEVEL_1", 176}, {"MX_TEMPOLEVEL_2", 177}, {"MX_TEMPOLEVEL_3", 178},
      {"MX_TEMPOLEVEL_4", 179}, {"MX_TEMPOLEVEL_5", 180}, {"CL_NEXTDATE", 67}, {"CL_PREVDATE", 68},
      {"CL_SHOWMONTHS", 69}, {"CL_SHOWDAYS", 70}, {"CL_SELECT", 71}, {"CL_CANCEL", 72}, {"ED_PLAY", 228},
      {"ED_PLAYSELECTION", 229}, {"ED_PAUSE", 230}, {"ED_STOP", 231}, {"ED_SKIPF", 232}, {"ED_SKIPB", 233},
      {"ED_TOGGLELOOP", 235}, {"ED_TOGGLEBEATMATCHING", 236}, {"ED_ADDEFFECT", 237}, {"ED_ADDOVERLAY", 238},
      {"ED_CREDITADDOVERLAY", 239}, {"ED_CUTSTART", 245}, {"ED_CUTEND", 246}, {"ED_CUTCLEAR", 247},
      {"ED_CROPPHOTO", 261}, {"ED_PANZOOMEDIT", 262}, {"ED_ASSIGNPHOTOEFFECTTOALL", 254},
      {"ED_ASSIGNPHOTOEFFECTTOONE", 255}, {"ED_ASSIGNOVERLAYTOALL", 256}, {"ED_ASSIGNOVERLAYTOONE", 257},
      {"ED_BLACKWHITE", 258}, {"ED_SEPIA", 259}, {"ED_SATURATION", 260}, {"ED_AUD_ECHO_SHORT", 249},
      {"ED_AUD_ECHO_LONG", 250}, {"ED_AUD_REVERB", 251}, {"ED_AUD_CHORUS", 252},
  };
  std::set<std::string> seen;
  for (int i = 0; i < ActionKeywordCount(); ++i) {
    ActionCode code = -1;
    const std::string keyword(ActionKeywordAt(i, &code));
    const auto it = numbers.find(keyword);
    ASSERT_NE(it, numbers.end()) << keyword;
    EXPECT_EQ(code, it->second) << keyword;
    seen.insert(keyword);
  }
  EXPECT_EQ(seen.size(), numbers.size());
}

}  // namespace
}  // namespace ui
