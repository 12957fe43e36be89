// ovtool venc: encodes raw YUV 4:2:0 into an MPEG-4 or short-header elementary
// stream with mpeg4enc, or an H.263 stream with h263enc, and reports the bit
// rate and the luma PSNR of the encoder's own reconstruction.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "encoders/h263enc/h263_encoder.h"
#include "encoders/h263enc/h263enc.h"
#include "encoders/mpeg4enc/mpeg4_encoder.h"
#include "encoders/mpeg4enc/mpeg4enc.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

struct VencOptions {
  std::string codec = "mpeg4";
  int width = 0, height = 0;
  int fps = 15;
  int kbps = 64;
  int streamMode = 0;
  int level = -1;
  unsigned packet = 0;
  bool dp = false, rvlc = false, intraOnly = false, telephony = false;
  int intraMbsFirst = -1, intraMbsCount = 0;
  int rcMode = 0, complexity = 2, gop = 45, air = 0, prefilter = 0, searchRange = 15;
  bool cyclicRefresh = false, sceneChange = false, bandwidthAdaptation = false;
  // h263enc.
  int profile = 0, gob = 1;
  unsigned slices = 0;
  bool umv = false, mq = false, deblock = false;
  std::string input, output, recon, header, dumpQp;
};

int VencUsage() {
  std::fprintf(stderr,
               "usage: ovtool venc --codec mpeg4 --size WxH --fps N --kbps K [--stream-mode 0|1|2] [--level L]\n"
               "                   [--packet BITS] [--dp] [--rvlc] [--intra-only] [--recon OUT.yuv]\n"
               "                   [--header OUT.hdr] [--intra-mbs FIRST,COUNT] [--telephony] [--rc-mode 0|1|2]\n"
               "                   [--complexity 0-3] [--gop N] [--air MBS] [--cyclic-refresh] [--scene-change]\n"
               "                   [--bandwidth-adaptation] [--prefilter 0|1|2] [--search-range PIXELS] IN.yuv OUT.m4v\n"
               "       ovtool venc --codec h263 --size WxH --fps N --kbps K [--level L] [--profile 0|3] [--umv] [--mq]\n"
               "                   [--slices BITS] [--deblock] [--gob N] [--dump-qp OUT.txt] [--gop N] [--recon OUT.yuv]\n"
               "                   [the rate, refresh and search options above] IN.yuv OUT.h263\n"
               "  --recon writes the encoder's reconstruction, --header the stream header alone,\n"
               "  --intra-mbs codes COUNT macroblocks from FIRST intra in every predicted frame,\n"
               "  --telephony switches the low-delay video-telephony mode on,\n"
               "  --air refreshes MBS macroblocks of every predicted frame by their activity,\n"
               "  --cyclic-refresh refreshes them in turn instead, --bandwidth-adaptation lets\n"
               "  the rate control skip frames when its buffer fills. h263: --profile 3 with --umv\n"
               "  (Annex D), --mq (Annex T), --slices (Annex K, slice length in bits), --deblock\n"
               "  (Annex J); --gob N writes a GOB header every N rows (0: none); --dump-qp writes\n"
               "  each picture's macroblock quantisers as a decoder holds them.\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, VencOptions& o) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&](const char** v) {
      if (i + 1 >= argc) return false;
      *v = argv[++i];
      return true;
    };
    const char* v = nullptr;
    if (a == "--codec") {
      if (!next(&v)) return false;
      o.codec = v;
    } else if (a == "--size") {
      if (!next(&v) || std::sscanf(v, "%dx%d", &o.width, &o.height) != 2) return false;
    } else if (a == "--fps") {
      if (!next(&v)) return false;
      o.fps = std::atoi(v);
    } else if (a == "--kbps") {
      if (!next(&v)) return false;
      o.kbps = std::atoi(v);
    } else if (a == "--stream-mode") {
      if (!next(&v)) return false;
      o.streamMode = std::atoi(v);
    } else if (a == "--level") {
      if (!next(&v)) return false;
      o.level = std::atoi(v);
    } else if (a == "--packet") {
      if (!next(&v)) return false;
      o.packet = static_cast<unsigned>(std::strtoul(v, nullptr, 0));
    } else if (a == "--recon") {
      if (!next(&v)) return false;
      o.recon = v;
    } else if (a == "--intra-mbs") {
      if (!next(&v) || std::sscanf(v, "%d,%d", &o.intraMbsFirst, &o.intraMbsCount) != 2) return false;
    } else if (a == "--header") {
      if (!next(&v)) return false;
      o.header = v;
    } else if (a == "--rc-mode") {
      if (!next(&v)) return false;
      o.rcMode = std::atoi(v);
    } else if (a == "--complexity") {
      if (!next(&v)) return false;
      o.complexity = std::atoi(v);
    } else if (a == "--gop") {
      if (!next(&v)) return false;
      o.gop = std::atoi(v);
    } else if (a == "--search-range") {
      if (!next(&v)) return false;
      o.searchRange = std::atoi(v);
    } else if (a == "--air") {
      if (!next(&v)) return false;
      o.air = std::atoi(v);
    } else if (a == "--prefilter") {
      if (!next(&v)) return false;
      o.prefilter = std::atoi(v);
    } else if (a == "--profile") {
      if (!next(&v)) return false;
      o.profile = std::atoi(v);
    } else if (a == "--gob") {
      if (!next(&v)) return false;
      o.gob = std::atoi(v);
    } else if (a == "--slices") {
      if (!next(&v)) return false;
      o.slices = static_cast<unsigned>(std::strtoul(v, nullptr, 0));
    } else if (a == "--dump-qp") {
      if (!next(&v)) return false;
      o.dumpQp = v;
    } else if (a == "--umv") {
      o.umv = true;
    } else if (a == "--mq") {
      o.mq = true;
    } else if (a == "--deblock") {
      o.deblock = true;
    } else if (a == "--cyclic-refresh") {
      o.cyclicRefresh = true;
    } else if (a == "--scene-change") {
      o.sceneChange = true;
    } else if (a == "--bandwidth-adaptation") {
      o.bandwidthAdaptation = true;
    } else if (a == "--telephony") {
      o.telephony = true;
    } else if (a == "--dp") {
      o.dp = true;
    } else if (a == "--rvlc") {
      o.rvlc = true;
    } else if (a == "--intra-only") {
      o.intraOnly = true;
    } else if (!a.empty() && a[0] == '-') {
      return false;
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2 || o.width <= 0 || o.height <= 0 || o.fps <= 0 || o.kbps <= 0) return false;
  o.input = files[0];
  o.output = files[1];
  return o.codec == "mpeg4" || o.codec == "h263";
}

venc::EncoderCreateParams MakeParams(const VencOptions& o, int level) {
  venc::EncoderCreateParams p{};
  p.height = o.height;
  p.width = o.width;
  p.frameRate = static_cast<float>(o.fps);
  p.bitRate = o.kbps * 1000;
  p.gopLength = o.intraOnly ? 1 : o.gop;
  p.intraRefreshMbs = o.air;
  p.sceneChangeDetection = o.sceneChange ? 1 : 0;
  p.bandwidthAdaptation = o.bandwidthAdaptation ? 1 : 0;
  p.preprocessingLevel = o.prefilter;
  p.gobHeaderInterval = o.streamMode != 0 ? 1 : 0;
  p.rcMode = o.rcMode;
  p.encodingComplexity = o.complexity;
  p.searchRange = o.searchRange;
  p.resyncMarkers = (o.packet != 0 || o.dp) ? 1 : 0;
  p.packetSize = o.packet ? o.packet : 4096;
  p.dataPartitioning = o.dp ? 1 : 0;
  p.reversibleVlc = o.rvlc ? 1 : 0;
  p.level = level;
  p.streamMode = o.streamMode;
  p.timeResolution = 1000;
  if (o.codec == "h263") {
    p.gobHeaderInterval = o.gob;
    venc::H263Words h{};
    h.level = level;
    h.timeResolution = 1000;
    h.packetSize = o.slices;
    h.unrestrictedMv = o.umv ? 1 : 0;
    h.profile = o.profile;
    h.modifiedQuant = o.mq ? 1 : 0;
    h.videoTelephony = o.slices != 0 ? 1 : 0;
    h.deblocking = o.deblock ? 1 : 0;
    venc::SetH263Words(p, h);
  }
  return p;
}

// ffmpeg's -debug qp layout: a line naming the picture type, then one line of
// two-column quantisers per macroblock row.
void DumpQuantisers(FILE* f, const venc::H263Encoder& enc, int type) {
  std::fprintf(f, "New frame, type: %c\n", type == 0 ? 'I' : 'P');
  for (int r = 0; r < enc.mbRows; ++r) {
    for (int c = 0; c < enc.mbsPerRow; ++c) std::fprintf(f, "%2d", enc.decoderQuant[r * enc.mbsPerRow + c]);
    std::fputc('\n', f);
  }
}

double PlanePsnr(const uint8_t* a, ptrdiff_t strideA, const uint8_t* b, int w, int h) {
  uint64_t sse = 0;  // integer sums: exact, and cheap beside the encoder
  for (int y = 0; y < h; ++y) {
    const uint8_t* ra = a + y * strideA;
    const uint8_t* rb = b + static_cast<ptrdiff_t>(y) * w;
    uint32_t row = 0;
    for (int x = 0; x < w; ++x) {
      const int d = ra[x] - rb[x];
      row += static_cast<uint32_t>(d * d);
    }
    sse += row;
  }
  if (sse == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * w * h / static_cast<double>(sse));
}

int RunVenc(int argc, char** argv) {
  VencOptions o;
  if (!ParseOptions(argc, argv, o)) return VencUsage();
  const bool h263 = o.codec == "h263";
  std::vector<int> levels;
  if (o.level >= 0) {
    levels.push_back(o.level);
  } else if (h263) {
    levels = {10, 45, 20, 30, 40, 50, 60, 70};
  } else if (o.streamMode == 2) {
    levels = {10, 45, 20, 30, 40};
  } else if (o.streamMode == 1) {
    levels = {1};
  } else {
    levels = {0, 1, 10, 2, 3, 4, 5};
  }
  venc::VideoEncoder* enc = nullptr;
  int chosen = -1;
  venc::VideoEncoderResult r = venc::VENC_ERR_BAD_PARAMS;
  for (int level : levels) {
    const venc::EncoderCreateParams p = MakeParams(o, level);
    r = h263 ? gCreateH263VideoEncoder(&enc, &p) : gCreateMPEG4VideoEncoder(&enc, &p);
    if (r == venc::VENC_OK) {
      chosen = level;
      break;
    }
  }
  if (r != venc::VENC_OK) {
    std::fprintf(stderr, "venc: no level admits these settings (error %d)\n", r);
    return 1;
  }
  if (!o.header.empty()) {
    uint32_t length = 0;
    enc->GetEncoderParam(enc, venc::VENC_PARAM_HEADER_LENGTH, &length);
    std::vector<uint32_t> words(length / 4 + 1);
    enc->GetEncoderParam(enc, venc::VENC_PARAM_HEADER, words.data());
    FILE* h = std::fopen(o.header.c_str(), "wb");
    if (!h || std::fwrite(words.data(), 1, length, h) != length || std::fclose(h) != 0) {
      std::fprintf(stderr, "venc: cannot write %s\n", o.header.c_str());
      enc->DestroyEncoder(enc);
      return 1;
    }
  }
  if (o.telephony) enc->SetEncoderParam(enc, venc::VENC_PARAM_VIDEO_TELEPHONY, 1);
  if (o.cyclicRefresh) enc->SetEncoderParam(enc, venc::VENC_PARAM_CYCLIC_INTRA_REFRESH, 1);
  if (!ovtool::CheckInputFile("venc", o.input)) {
    enc->DestroyEncoder(enc);
    return 1;
  }
  FILE* in = std::fopen(o.input.c_str(), "rb");
  FILE* out = std::fopen(o.output.c_str(), "wb");
  FILE* rec = o.recon.empty() ? nullptr : std::fopen(o.recon.c_str(), "wb");
  FILE* qp = h263 && !o.dumpQp.empty() ? std::fopen(o.dumpQp.c_str(), "w") : nullptr;
  if (!in || !out || (!o.recon.empty() && !rec) || (h263 && !o.dumpQp.empty() && !qp)) {
    std::fprintf(stderr, "venc: cannot open files\n");
    if (in) std::fclose(in);
    if (out) std::fclose(out);
    if (rec) std::fclose(rec);
    if (qp) std::fclose(qp);
    enc->DestroyEncoder(enc);
    return 1;
  }
  uint32_t capacity = 0;
  enc->GetEncoderParam(enc, venc::VENC_PARAM_MAX_FRAME_BYTES, &capacity);
  const size_t frameBytes = static_cast<size_t>(o.width) * o.height * 3 / 2;
  std::vector<uint8_t> frame(frameBytes), stream(capacity);
  uint64_t totalBytes = 0;
  double psnrSum = 0;
  int frames = 0, skipped = 0, status = 0;
  const auto* state = h263 ? nullptr : static_cast<const venc::Mpeg4Encoder*>(enc);
  const auto* h263State = h263 ? static_cast<const venc::H263Encoder*>(enc) : nullptr;
  while (std::fread(frame.data(), 1, frameBytes, in) == frameBytes) {
    if (o.intraMbsFirst >= 0) {
      enc->SetEncoderParam(enc, venc::VENC_PARAM_INTRA_MBS, 1);
      enc->SetEncoderParam(enc, venc::VENC_PARAM_INTRA_MBS_FIRST, static_cast<uint32_t>(o.intraMbsFirst));
      enc->SetEncoderParam(enc, venc::VENC_PARAM_INTRA_MBS_COUNT, static_cast<uint32_t>(o.intraMbsCount));
    }
    uint32_t bytes = capacity;
    int32_t type = 0;
    const int32_t time = static_cast<int32_t>(static_cast<int64_t>(frames) * 1000 / o.fps);
    r = enc->EncodeFrame(enc, frame.data(), static_cast<uint32_t>(frameBytes), time, o.intraOnly ? 1 : 0,
                         stream.data(), &bytes, &type);
    if (r != venc::VENC_OK) {
      std::fprintf(stderr, "venc: frame %d: error %d\n", frames, r);
      status = 1;
      break;
    }
    if (bytes == 0) ++skipped;
    std::fwrite(stream.data(), 1, bytes, out);
    totalBytes += bytes;
    const venc::EncoderFrame& f = h263 ? *h263State->reference : *state->reference;
    if (qp && bytes > 0) DumpQuantisers(qp, *h263State, type);
    psnrSum += PlanePsnr(f.lumaOrigin(), f.lumaStride(), frame.data(), o.width, o.height);
    if (rec && bytes > 0) {  // a skipped frame leaves no picture in the stream
      for (int y = 0; y < o.height; ++y) std::fwrite(f.lumaOrigin() + y * f.lumaStride(), 1, o.width, rec);
      for (const uint8_t* c : {f.uOrigin(), f.vOrigin()})
        for (int y = 0; y < o.height / 2; ++y) std::fwrite(c + y * f.chromaStride(), 1, o.width / 2, rec);
    }
    ++frames;
  }
  std::fclose(in);
  if (std::fclose(out) != 0) status = 1;
  if (rec) std::fclose(rec);
  if (qp && std::fclose(qp) != 0) status = 1;
  const int level = (h263 || o.streamMode == 2) ? chosen : state->level;
  venc::H263Counts counts;
  if (h263) counts = h263State->counts;
  enc->DestroyEncoder(enc);
  if (frames == 0) {
    std::fprintf(stderr, "venc: no frames read\n");
    return 1;
  }
  const double kbps = totalBytes * 8.0 * o.fps / frames / 1000.0;
  std::printf("level %d frames %d skipped %d bytes %llu bitrate %.1f kbit/s (asked %d) psnr_y %.2f dB\n", level,
              frames, skipped, static_cast<unsigned long long>(totalBytes), kbps, o.kbps, psnrSum / frames);
  if (h263)
    std::printf("outside_vectors %u six_bit_dquant %u quant_c %u max_packets %u\n", counts.outsideVectors,
                counts.sixBitDquant, counts.chromaQuant, counts.maxPackets);
  return status;
}

}  // namespace

OVTOOL_COMMAND(venc,
               "venc --codec mpeg4|h263 --size WxH --fps N --kbps K [--stream-mode 0|1|2] [--level L] [--packet BITS] "
               "[--dp] [--rvlc] [--intra-only] [--recon OUT.yuv] [--header OUT.hdr] [--intra-mbs FIRST,COUNT] [--telephony] "
               "[--rc-mode M] [--complexity C] [--gop N] [--air MBS] [--cyclic-refresh] [--scene-change] "
               "[--bandwidth-adaptation] [--prefilter L] [--search-range P] [--profile 0|3] [--umv] [--mq] "
               "[--slices BITS] [--deblock] [--gob N] [--dump-qp OUT.txt]"
               " IN.yuv OUT.m4v|OUT.h263  encode raw YUV 4:2:0",
               RunVenc)
