#include "media/asf_reader.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/media/asf_builder.h"
#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"

namespace {

using mediatest::AsfFileSpec;
using mediatest::AsfPacketSpec;
using mediatest::AsfPayloadSpec;
using mediatest::Bytes;
using mediatest::Replicated;
using mediatest::TestPackage;
namespace asf = media::asf;

struct Object {
  uint32_t size;
  uint32_t time;
  Bytes bytes;
  bool operator==(const Object&) const = default;
};

std::vector<Object> ReadAll(media::AsfReader& reader, uint8_t stream) {
  std::vector<Object> out;
  Bytes object;
  uint32_t size = 0, time = 0;
  while (reader.ReadMediaObject(&object, stream, &size, &time)) out.push_back({size, time, object});
  return out;
}

Bytes Fill(size_t n, uint8_t first) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(first + i);
  return b;
}

Bytes AudioStream(uint8_t number = 1) {
  return mediatest::StreamProperties(true, number, mediatest::WaveFormat(0x161, 1, 22050, 4000, 185, 16, 2, {1, 2}));
}

// Every media object of every stream, as ffprobe's packets: the table
// order of the stream properties is ffprobe's stream index.
TEST(AsfReader, MatchesFfprobePackets) {
  for (const char* name : {"media_wmav1.wma", "media_wmav2.wma", "media_wmv1.wmv", "media_wmv2.wmv"}) {
    const std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    TestPackage pak;
    const ov::String file = pak.Add(name, ovtest::ReadFileBytes(path));
    const size_t streams = media::AsfReader(file).parser().streams().size();
    ASSERT_GT(streams, 0u) << name;
    for (size_t i = 0; i < streams; ++i) {
      media::AsfReader reader(file);
      ASSERT_TRUE(reader.IsOpen()) << name;
      const auto objects = ReadAll(reader, reader.parser().streams()[i].number);
      const auto packets = mediatest::ProbePackets(path, int(i));
      ASSERT_EQ(objects.size(), packets.size()) << name << " stream " << i;
      ASSERT_GT(objects.size(), 5u);
      for (size_t k = 0; k < objects.size(); ++k) {
        EXPECT_EQ(objects[k].size, packets[k].size) << name << " " << i << " " << k;
        EXPECT_EQ(objects[k].bytes.size(), packets[k].size) << name << " " << i << " " << k;
        EXPECT_EQ(int64_t(objects[k].time), packets[k].dts) << name << " " << i << " " << k;
      }
    }
  }
}

// ovtool info --packets lists the same objects, a stream at a time.
TEST(AsfReader, OvtoolListsTheObjects) {
  const std::string path = ovtest::FixturePath("media_wmv1.wmv");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const std::string out = mediatest::RunCommand("'" OVMIX_BIN_DIR "ovtool' info '" + path + "' --packets");
  std::string expected;
  media::AsfReader reader(mediatest::U16(path));
  for (size_t i = 0; i < reader.parser().streams().size(); ++i) {
    const int number = reader.parser().streams()[i].number;
    for (const auto& p : mediatest::ProbePackets(path, int(i))) {
      expected += "packet stream=" + std::to_string(number) + " time=" + std::to_string(p.dts) +
                  " size=" + std::to_string(p.size) + "\n";
    }
  }
  ASSERT_NE(out.find("packet "), std::string::npos);
  EXPECT_EQ(out.substr(out.find("packet ")), expected);
}

TEST(AsfReader, HeaderFormatsAreBoundedAndNormalised) {
  AsfFileSpec spec;
  // cbSize claims 40 bytes where 2 follow; the format size claims 60 bytes
  // of a 44-byte header; a private tag with PCM sizes; an audio spread kept
  // (800 / 400) and one dropped (800 / 800).
  spec.streams = {
      mediatest::StreamProperties(true, 1, mediatest::WaveFormat(0x161, 2, 44100, 8000, 371, 16, 40, {7, 8})),
      mediatest::StreamProperties(false, 2, mediatest::VideoFormat(176, -144, "wmv2", 60, {9, 9, 9, 9})),
      mediatest::StreamProperties(true, 3, mediatest::WaveFormat(0xFFFE, 2, 8000, 32000, 4, 16, 0, {})),
      mediatest::StreamProperties(true, 4, mediatest::WaveFormat(0x161, 1, 8000, 1000, 100, 16, 0, {}),
                                  asf::kAudioSpread, mediatest::SpreadData(4, 800, 400)),
      mediatest::StreamProperties(true, 5, mediatest::WaveFormat(0x161, 1, 8000, 1000, 100, 16, 0, {}),
                                  asf::kAudioSpread, mediatest::SpreadData(4, 800, 800)),
  };
  TestPackage pak;
  media::AsfReader reader(pak.Add("formats.wma", mediatest::BuildAsf(spec)));
  ASSERT_TRUE(reader.IsOpen());
  const auto& s = reader.parser().streams();
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(reader.GetCodecData(0), (Bytes{7, 8}));
  dshow::WaveFormatEx w;
  ASSERT_TRUE(reader.GetWaveFormat(0, &w));
  EXPECT_EQ(w.cbSize, 2);
  EXPECT_EQ(w.nBlockAlign, 371);
  EXPECT_EQ(reader.GetCodecData(1), (Bytes{9, 9, 9, 9}));
  dshow::BitmapInfoHeader b;
  ASSERT_TRUE(reader.GetVideoInfo(1, &b));
  EXPECT_EQ(b.biCompression, uint32_t('W' | 'M' << 8 | 'V' << 16 | '2' << 24));
  EXPECT_EQ(b.biHeight, 144);
  EXPECT_EQ(s[1].formatFlags, media::AsfStream::kHeightFlipped);
  EXPECT_FALSE(reader.GetWaveFormat(1, &w));
  EXPECT_FALSE(reader.GetVideoInfo(0, &b));
  ASSERT_TRUE(reader.GetWaveFormat(2, &w));
  EXPECT_EQ(w.wFormatTag, 1);
  EXPECT_EQ(s[3].span, 4);
  EXPECT_EQ(s[4].span, 0);
  EXPECT_EQ(reader.ListAudioStreams(), (std::vector<uint16_t>{0x0001, 0x0203, 0x0304, 0x0405}));
  EXPECT_EQ(reader.ListVideoStreams(), (std::vector<uint16_t>{0x0102}));
}

TEST(AsfReader, StreamTableAndListsAreBounded) {
  // 257 stream properties objects: the table keeps 256, a list 128.
  AsfFileSpec spec;
  for (int i = 0; i < 257; ++i) spec.streams.push_back(AudioStream(uint8_t(1 + i % 127)));
  TestPackage pak;
  media::AsfReader reader(pak.Add("many.wma", mediatest::BuildAsf(spec)));
  ASSERT_TRUE(reader.IsOpen());
  EXPECT_EQ(reader.parser().streams().size(), 256u);
  const auto list = reader.ListAudioStreams();
  ASSERT_EQ(list.size(), media::AsfReader::kMaxListed);
  EXPECT_EQ(list.back(), uint16_t((127 << 8) | 1));
}

TEST(AsfReader, RefusesFilesWithoutHeaderOrData) {
  AsfFileSpec spec;
  spec.streams = {AudioStream()};
  Bytes good = mediatest::BuildAsf(spec);
  Bytes noGuid = good;
  noGuid[0] ^= 1;
  Bytes shortObject = good;
  shortObject[30 + 16] = 10;  // the file properties object claims 10 bytes
  Bytes cut(good.begin(), good.begin() + 200);  // ends inside the header
  TestPackage pak;
  EXPECT_TRUE(media::AsfReader(pak.Add("good.wma", good)).IsOpen());
  EXPECT_FALSE(media::AsfReader(pak.Add("noguid.wma", noGuid)).IsOpen());
  EXPECT_FALSE(media::AsfReader(pak.Add("short.wma", shortObject)).IsOpen());
  EXPECT_FALSE(media::AsfReader(pak.Add("cut.wma", cut)).IsOpen());
  EXPECT_FALSE(media::AsfReader(pak.Add("empty.wma", {})).IsOpen());
}

// Packets and payloads: each case lays out packets and lists the objects
// of stream 1 a reader must give.
struct PacketCase {
  const char* name;
  std::vector<AsfPacketSpec> packets;
  std::vector<Object> objects;
};

void PrintTo(const PacketCase& c, std::ostream* os) { *os << c.name; }

Object Obj(uint32_t time, const Bytes& bytes) { return {uint32_t(bytes.size()), time, bytes}; }

std::vector<PacketCase> PacketCases() {
  const Bytes a = Fill(40, 0x10), b = Fill(30, 0x50), c = Fill(20, 0x90);
  const Bytes big = Fill(700, 0);
  auto payload = [](const Bytes& data, uint32_t time, uint8_t stream = 1) {
    AsfPayloadSpec p;
    p.stream = stream;
    p.replicated = Replicated(uint32_t(data.size()), time);
    p.data = data;
    return p;
  };
  auto packet = [](std::vector<AsfPayloadSpec> payloads, uint8_t ec = 0x82) {
    AsfPacketSpec p;
    p.errorCorrection = ec;
    p.payloads = std::move(payloads);
    return p;
  };
  std::vector<PacketCase> cases;
  cases.push_back({"plain", {packet({payload(a, 0), payload(b, 100, 2), payload(c, 100)})}, {Obj(0, a), Obj(100, c)}});
  cases.push_back({"error_correction_0x90", {packet({payload(a, 0)}, 0x90)}, {Obj(0, a)}});
  cases.push_back({"no_error_correction_byte", {packet({payload(a, 0)}, 0)}, {Obj(0, a)}});
  // 0x81 fails its packet; the reader carries on with the next one.
  cases.push_back({"error_correction_0x81", {packet({payload(a, 0)}, 0x81), packet({payload(b, 50)})}, {Obj(50, b)}});
  {
    AsfPacketSpec implicit = packet({payload(a, 0), payload(b, 40)});
    implicit.explicitLength = false;
    cases.push_back({"length_type_0", {implicit, packet({payload(c, 80)})}, {Obj(0, a), Obj(40, b), Obj(80, c)}});
  }
  {
    AsfPacketSpec single = packet({payload(a, 0)});
    single.multiple = false;
    cases.push_back({"single_payload", {single}, {Obj(0, a)}});
    // Without replicated data the payload is the whole object, timed by
    // its packet: the packet's padding after it is not part of it.
    AsfPacketSpec bare = single;
    bare.payloads[0].replicated = {};
    bare.sendTime = 70;
    cases.push_back({"single_payload_then_padding", {bare}, {Obj(70, a)}});
  }
  {
    // An object of 700 bytes in two packets.
    AsfPayloadSpec first = payload(Bytes(big.begin(), big.begin() + 400), 10);
    first.replicated = Replicated(700, 10);
    AsfPayloadSpec second = payload(Bytes(big.begin() + 400, big.end()), 10);
    second.replicated = Replicated(700, 10);
    second.offset = 400;
    cases.push_back({"fragments", {packet({first}), packet({second})}, {Obj(10, big)}});
    // The second half alone (its start was lost) is dropped.
    cases.push_back({"fragment_without_start", {packet({second}), packet({payload(c, 20)})}, {Obj(20, c)}});
  }
  {
    // 2 to 7 bytes of replicated data carry no size and time: dropped.
    AsfPayloadSpec odd = payload(b, 0);
    odd.replicated = {1, 2, 3, 4, 5};
    cases.push_back({"replicated_5", {packet({odd, payload(c, 30)})}, {Obj(30, c)}});
  }
  {
    // A payload length past the packet ends the packet, not the stream.
    AsfPayloadSpec longer = payload(a, 0);
    longer.lengthOverride = 1000;
    cases.push_back({"length_past_packet", {packet({longer, payload(b, 10)}), packet({payload(c, 20)})},
                     {Obj(20, c)}});
  }
  {
    // An object size of 4 GB is never allocated: the object is dropped.
    AsfPayloadSpec huge = payload(a, 0);
    huge.replicated = Replicated(0xFFFFFFFF, 0);
    cases.push_back({"huge_object_size", {packet({huge, payload(b, 5)})}, {Obj(5, b)}});
  }
  {
    // A compressed payload: sub-payloads of 3, 2 and 4 bytes from 200 ms,
    // 40 ms apart; a zero length ends the run.
    AsfPayloadSpec comp;
    comp.offset = 200;
    comp.replicated = {40};
    comp.data = {3, 1, 2, 3, 2, 4, 5, 4, 6, 7, 8, 9};
    cases.push_back({"compressed", {packet({comp, payload(a, 400)})},
                     {Obj(200, {1, 2, 3}), Obj(240, {4, 5}), Obj(280, {6, 7, 8, 9}), Obj(400, a)}});
    comp.data = {2, 1, 2, 0, 7, 7};
    cases.push_back({"compressed_zero_length", {packet({comp})}, {Obj(200, {1, 2})}});
    comp.data = {2, 1, 2, 9, 7};  // a sub-payload longer than what is left
    cases.push_back({"compressed_past_payload", {packet({comp})}, {Obj(200, {1, 2})}});
  }
  return cases;
}

class AsfPackets : public testing::TestWithParam<PacketCase> {};

TEST_P(AsfPackets, GiveTheObjectsOfTheStream) {
  const PacketCase& c = GetParam();
  AsfFileSpec spec;
  spec.streams = {AudioStream(1), AudioStream(2)};
  spec.packets = c.packets;
  TestPackage pak;
  media::AsfReader reader(pak.Add(std::string(c.name) + ".wma", mediatest::BuildAsf(spec)));
  ASSERT_TRUE(reader.IsOpen());
  EXPECT_EQ(ReadAll(reader, 1), c.objects);
}

INSTANTIATE_TEST_SUITE_P(Cases, AsfPackets, testing::ValuesIn(PacketCases()),
                         [](const testing::TestParamInfo<PacketCase>& p) { return std::string(p.param.name); });

// Ten objects 100 ms apart from 3000 ms (the preroll), a key frame every
// fourth, one packet each.
Bytes SeekFile(uint32_t prerollMs = 3000) {
  AsfFileSpec spec;
  spec.prerollMs = prerollMs;
  spec.playDuration = uint64_t(prerollMs + 1000) * 10000;
  spec.streams = {mediatest::StreamProperties(false, 1, mediatest::VideoFormat(16, 16, "WMV2", 40, {}))};
  for (uint32_t i = 0; i < 10; ++i) {
    AsfPayloadSpec p;
    p.key = i % 4 == 0;
    p.data = Fill(10, uint8_t(i * 16));
    p.replicated = Replicated(10, prerollMs + i * 100);
    AsfPacketSpec packet;
    packet.payloads = {p};
    spec.packets.push_back(packet);
  }
  return mediatest::BuildAsf(spec);
}

TEST(AsfReader, SeeksThroughItsIndex) {
  TestPackage pak;
  media::AsfReader reader(pak.Add("seek.wmv", SeekFile()));
  ASSERT_TRUE(reader.IsOpen());
  dshow::BitmapInfoHeader b;
  ASSERT_TRUE(reader.GetVideoInfo(0, &b));
  struct {
    uint32_t target;
    uint32_t entryTime;
    uint32_t delta;
    uint32_t firstObjectTime;  // the key frame the reader stands on
  } cases[] = {
      {650, 500, 1, 400},  // entry one older than 600's, from key frame 400
      {400, 300, 3, 0},
      {0, 0, 0, 0},        // an entry at time 0 succeeds
      {999, 800, 0, 800},
      {120, 0, 0, 0},
  };
  for (const auto& c : cases) {
    media::AsfReader::SeekEntry entry;
    ASSERT_TRUE(reader.Seek(c.target, 1, &entry)) << c.target;
    EXPECT_EQ(entry.timeMs, c.entryTime) << c.target;
    EXPECT_EQ(entry.deltaFrames, c.delta) << c.target;
    Bytes object;
    uint32_t size = 0, time = 0;
    ASSERT_TRUE(reader.ReadMediaObject(&object, 1, &size, &time));
    EXPECT_EQ(time, c.firstObjectTime) << c.target;
    EXPECT_EQ(object[0], uint8_t(c.firstObjectTime / 100 * 16)) << c.target;
  }
  media::AsfReader::SeekEntry entry;
  EXPECT_FALSE(reader.Seek(1000, 1, &entry));  // the play duration's end
  EXPECT_FALSE(reader.Seek(5000, 1, &entry));
  // The reader still reads after a refused seek.
  EXPECT_TRUE(reader.Seek(0, 1, &entry));
  EXPECT_EQ(ReadAll(reader, 1).size(), 10u);
}

// A cut or damaged copy of every fixture reads to an end and seeks without
// fault (AddressSanitizer watches the reads).
TEST(AsfReader, DamagedCopiesEndCleanly) {
  for (const char* name : {"media_wmv2.wmv", "media_wmav2.wma"}) {
    const std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    const Bytes bytes = ovtest::ReadFileBytes(path);
    TestPackage pak;
    for (uint32_t seed = 1; seed <= 20; ++seed) {
      Bytes damaged = mediatest::Corrupt(bytes, seed, 30, 16);
      damaged.resize(damaged.size() * seed / 21);
      media::AsfReader reader(pak.Add("damaged" + std::to_string(seed) + ".asf", damaged));
      if (!reader.IsOpen()) continue;
      for (const media::AsfStream& s : reader.parser().streams()) {
        ReadAll(reader, s.number);
        media::AsfReader::SeekEntry entry;
        reader.Seek(seed * 70, s.number, &entry);
        ReadAll(reader, s.number);
      }
    }
  }
}

}  // namespace
