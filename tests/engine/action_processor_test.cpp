#include "engine/action_processor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/os/ov_string.h"
#include "tests/support/test_paths.h"

namespace engine {
namespace {

// A file in the test's own scratch folder, which goes when the test ends
// (declared before the files opened on it, so that they close first).
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& name)
      : dir_(ovtest::ScratchDir()), path_(ov::String::FromUtf8Lossy(dir_ + "/" + name)) {}
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const ov::String& path() const { return path_; }

 private:
  std::string dir_;
  ov::String path_;
};

std::unique_ptr<EngineCommand> Cmd(uint32_t type, uint32_t time, uint32_t channel = 0) {
  auto c = std::make_unique<EngineCommand>();
  c->type = type;
  c->timeMs = time;
  c->channel = channel;
  return c;
}

TEST(ActionProcessorTest, GetNextActionOrder) {
  ActionProcessor list;
  // Out of time order on purpose: 300, 100, 200, 100.
  list.Append(Cmd(CMD_PLAY, 300, 1));
  list.Append(Cmd(CMD_LOAD, 100, 2));
  list.Append(Cmd(CMD_VOLUME, 200, 3));
  list.Append(Cmd(CMD_STOP, 100, 4));
  ActionProcessor::Position pos;
  // From the start at time 0: the earliest command (first in list order on a
  // tie), then the following ones in list order.
  std::vector<uint32_t> channels;
  while (const EngineCommand* c = list.GetNextAction(0, &pos)) channels.push_back(c->channel);
  EXPECT_EQ(channels, (std::vector<uint32_t>{2, 3, 4}));

  // With a time: the earliest command at or after it from the position on.
  ActionProcessor::Position p2;
  const EngineCommand* c = list.GetNextAction(150, &p2);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->channel, 3u);
  EXPECT_EQ(p2.index, 3u);
  // Later than every command: none, and the position stays.
  ActionProcessor::Position p3 = p2;
  EXPECT_EQ(list.GetNextAction(1000, &p3), nullptr);
  EXPECT_EQ(p3.index, p2.index);
  EXPECT_FALSE(p3.atStart);
  EXPECT_EQ(list.GetNextAction(0, nullptr), nullptr);
  // Last minus first in list order; a last command earlier than the first
  // gives 0, not a wrapped length.
  EXPECT_EQ(list.GetDuration(), 0u);
}

TEST(ActionProcessorTest, EmptyListSavesAsOneWordAndTrailer) {
  ActionProcessor list;
  std::vector<uint8_t> bytes;
  list.Serialize(&bytes);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes[0] | bytes[1] | bytes[2] | bytes[3], 0);
  ActionProcessor back;
  size_t used = 0;
  ASSERT_TRUE(back.Parse(bytes, &used));
  EXPECT_EQ(back.Count(), 0u);
  EXPECT_EQ(used, bytes.size());
  EXPECT_EQ(list.GetDuration(), 0u);
}

TEST(ActionProcessorTest, RecordRoundTripsByteForByteWithFlags) {
  ActionProcessor list;
  auto a = Cmd(CMD_LOAD, 0, 2);
  a->path = ov::String(u"/clips/a.wav");
  a->altPath = ov::String(u"/tmp/Quelvarin/audio2.qvs");
  a->param1 = -1;
  a->param2 = 500;
  a->param3 = 2500;
  a->param4 = 896;
  a->param5 = 7;
  list.Append(std::move(a));
  auto off = Cmd(CMD_ECHO, 1200, 2);
  off->param1 = 500;
  off->flag = 1;  // effect off
  list.Append(std::move(off));
  list.Append(Cmd(CMD_NOP, 1300, 0));

  std::vector<uint8_t> bytes;
  list.Serialize(&bytes);
  // The stored form of the first command: units counted with the terminator.
  EXPECT_EQ(bytes[4], 13);
  ActionProcessor back;
  size_t used = 0;
  ASSERT_TRUE(back.Parse(bytes, &used));
  EXPECT_EQ(used, bytes.size());
  ASSERT_EQ(back.Count(), 3u);
  EXPECT_EQ(back.At(0).path, ov::String(u"/clips/a.wav"));
  EXPECT_EQ(back.At(0).param1, -1);
  EXPECT_EQ(back.At(0).param4, 896);
  EXPECT_EQ(back.At(1).flag, 1u);
  EXPECT_EQ(back.At(2).flag, 0u);
  // Empty strings are one terminator unit each.
  EXPECT_TRUE(back.At(2).path.IsEmpty());
  std::vector<uint8_t> again;
  back.Serialize(&again);
  EXPECT_EQ(again, bytes);

  // Without the trailer (a file of the plain record) the flags load as 0.
  size_t recordBytes = bytes.size() - 8 - 3;
  std::vector<uint8_t> plain(bytes.begin(), bytes.begin() + static_cast<long>(recordBytes));
  ActionProcessor old;
  ASSERT_TRUE(old.Parse(plain, &used));
  EXPECT_EQ(used, plain.size());
  EXPECT_EQ(old.At(1).flag, 0u);
}

TEST(ActionProcessorTest, FileSaveAndLoad) {
  const ScratchFile scratch("engine_record.bin");
  const ov::String& path = scratch.path();
  ActionProcessor list;
  auto c = Cmd(CMD_REVERB, 42, 5);
  c->flag = 1;
  list.Append(std::move(c));
  {
    ov::File f;
    ASSERT_TRUE(f.Open(path, ov::kGenericWrite, 0, ov::CreateMode::kCreateAlways));
    ASSERT_TRUE(list.Save(f));
  }
  ov::File f;
  ASSERT_TRUE(f.Open(path, ov::kGenericRead, 0, ov::CreateMode::kOpenExisting));
  ActionProcessor back;
  ASSERT_TRUE(back.Load(f));
  ASSERT_EQ(back.Count(), 1u);
  EXPECT_EQ(back.At(0).timeMs, 42u);
  EXPECT_EQ(back.At(0).flag, 1u);
}

// Command times against the longest mix: a damaged time (a word of 0x7F,
// a forged four billion) is refused with the whole record, the bound itself
// is kept; times out of order load as they stand and replay as the list
// walk orders them.
TEST(ActionProcessorTest, CommandTimesAreBoundedByTheLongestMix) {
  const struct {
    uint32_t time;
    bool kept;
  } cases[] = {
      {0x7F7F7F7F, false},
      {4000000000u, false},
      {0xFFFFFFFF, false},
      {ActionProcessor::kMaxMixMs + 1, false},
      {ActionProcessor::kMaxMixMs, true},
      {3u * 60 * 60 * 1000, true},  // a three-hour performance
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.time);
    ActionProcessor list;
    list.Append(Cmd(CMD_LOAD, 0, 1));
    list.Append(Cmd(CMD_STOP, c.time, 1));
    std::vector<uint8_t> bytes;
    list.Serialize(&bytes);
    ActionProcessor back;
    size_t used = 0;
    EXPECT_EQ(back.Parse(bytes, &used), c.kept);
    EXPECT_EQ(back.Count(), c.kept ? 2u : 0u);
  }
  // Out of order: 5000, 100, 50, the bound. The walk from the start takes
  // the earliest (50 ms, third) and goes on in list order.
  ActionProcessor list;
  list.Append(Cmd(CMD_PLAY, 5000, 1));
  list.Append(Cmd(CMD_LOAD, 100, 2));
  list.Append(Cmd(CMD_VOLUME, 50, 3));
  list.Append(Cmd(CMD_STOP, ActionProcessor::kMaxMixMs, 4));
  std::vector<uint8_t> bytes;
  list.Serialize(&bytes);
  ActionProcessor back;
  size_t used = 0;
  ASSERT_TRUE(back.Parse(bytes, &used));
  ASSERT_EQ(back.Count(), 4u);
  ActionProcessor::Position pos;
  std::vector<uint32_t> order;
  while (const EngineCommand* c = back.GetNextAction(0, &pos)) order.push_back(c->channel);
  EXPECT_EQ(order, (std::vector<uint32_t>{3, 4}));
}

struct BadRecord {
  const char* name;
  std::vector<uint8_t> bytes;
};

class ActionProcessorBadRecordTest : public testing::TestWithParam<BadRecord> {};

TEST_P(ActionProcessorBadRecordTest, Refused) {
  ActionProcessor list;
  size_t used = 0;
  EXPECT_FALSE(list.Parse(GetParam().bytes, &used));
  EXPECT_EQ(list.Count(), 0u);
}

std::vector<uint8_t> OneCommandWithPathUnits(uint32_t units) {
  std::vector<uint8_t> b;
  PutU32(&b, 1);
  PutU32(&b, units);
  b.resize(b.size() + 60, 0);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Records, ActionProcessorBadRecordTest,
    testing::Values(BadRecord{"Empty", {}}, BadRecord{"ShortCount", {1, 0}},
                    BadRecord{"HugeCount", {0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}},
                    BadRecord{"HugeString", OneCommandWithPathUnits(0x7FFFFFFF)},
                    BadRecord{"ZeroUnits", OneCommandWithPathUnits(0)},
                    BadRecord{"Truncated", [] {
                                std::vector<uint8_t> b;
                                ActionProcessor l;
                                l.Append(std::make_unique<EngineCommand>());
                                l.Append(std::make_unique<EngineCommand>());
                                l.Serialize(&b);
                                b.resize(4 + 44 + 20);
                                return b;
                              }()}),
    [](const testing::TestParamInfo<BadRecord>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace engine

namespace engine {
namespace {

TEST(EngineCommandTest, FileFormAndCopies) {
  const ScratchFile scratch("engine_command.bin");
  const ov::String& path = scratch.path();
  EngineCommand a;
  a.type = CMD_CHORUS;
  a.param1 = 5;
  a.param2 = 15;
  a.flag = 1;
  EngineCommand b = a;  // copies share nothing visible
  b.path = ov::String(u"x");
  EXPECT_TRUE(a.path.IsEmpty());
  {
    ov::File f;
    ASSERT_TRUE(f.Open(path, ov::kGenericWrite, 0, ov::CreateMode::kCreateAlways));
    ASSERT_TRUE(a.Write(f));
    ASSERT_TRUE(EngineCommand().Write(f));
    // A damaged third command: a string count far beyond the file.
    std::vector<uint8_t> bad;
    PutU32(&bad, 0x40000000);
    ASSERT_TRUE(f.Write(bad.data(), 4, nullptr));
  }
  ov::File f;
  ASSERT_TRUE(f.Open(path, ov::kGenericRead, 0, ov::CreateMode::kOpenExisting));
  EngineCommand r1, r2, r3;
  ASSERT_TRUE(r1.Read(f));
  EXPECT_EQ(r1.type, CMD_CHORUS);
  EXPECT_EQ(r1.param2, 15);
  EXPECT_EQ(r1.flag, 0u);  // the stored form has no flag
  ASSERT_TRUE(r2.Read(f));
  EXPECT_EQ(r2.type, CMD_NOP);
  EXPECT_TRUE(r2.path.IsEmpty() && r2.altPath.IsEmpty());
  EXPECT_FALSE(r3.Read(f));
}

}  // namespace
}  // namespace engine
