// The MPEG-4 decoder object: factory, the six slots, set-up from the stream
// headers, and the finishing and handing out of pictures.
#include "codecs/videodec/mpeg4/mpeg4_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codecs/videodec/common/post_filter.h"
#include "codecs/videodec/mpeg4/mpeg4_state.h"
#include "platform/cpu/cpu.h"

namespace videodec {
namespace {

#if defined(OVMIX_FUZZING)
// Fuzzing keeps each input quick: pictures up to 720 x 576.
constexpr uint32_t kMaxMacroblocks = 1620;
#else
constexpr uint32_t kMaxMacroblocks = kMpeg4MaxMacroblocks;
#endif

Mpeg4Decoder* Cast(VideoDecoder* decoder) { return static_cast<Mpeg4Decoder*>(decoder); }

int HighestBit(uint32_t v) {
  int n = -1;
  while (v) {
    ++n;
    v >>= 1;
  }
  return n;
}

// Reads the visual object sequence / visual object headers in front of a
// layer header, as the factory and the first decode call do. Returns 0,
// VDEC_BAD_STREAM_HEADER or VDEC_INPUT_EXHAUSTED.
int32_t ParseObjectHeaders(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  if (b.BitsLeft() < 32) return VDEC_INPUT_EXHAUSTED;
  const uint64_t start = b.Pos();
  const uint32_t code = b.Show(32);
  if (code == 0x1B0) {
    if (Mpeg4ParseVosHeader(d) != 0 || Mpeg4ParseVoHeader(d) != 0) {
      if (b.OverrunBits() >= 64) {
        b.Seek(start);
        return VDEC_INPUT_EXHAUSTED;
      }
      return VDEC_BAD_STREAM_HEADER;
    }
    d.setup_profile = d.stream.profile_class;
    d.setup_level = d.stream.level;
  } else if (code >= 0x100 && code <= 0x11F) {
    b.Skip(32);
    d.stream.video_object_id = static_cast<uint8_t>(code & 0xFF);
  }
  if (b.OverrunBits() >= 64) {
    b.Seek(start);
    return VDEC_INPUT_EXHAUSTED;
  }
  return 0;
}

void CopyPlane(uint8_t* dst, int dst_stride, const uint8_t* src, int src_stride, int w, int h) {
  for (int j = 0; j < h; ++j) std::memcpy(dst + j * dst_stride, src + j * src_stride, static_cast<size_t>(w));
}

// Copies `pic` into the caller's picture, cropped to the layer's even size
// when the layer is not a multiple of 16.
void CopyOut(Mpeg4Decoder& d, const DecodedPicture& pic, DecodedPicture* out) {
  out->time = d.cur_pic().time;
  const int w = pic.width, h = pic.height;
  if (!(d.layer.width & 15) && !(d.layer.height & 15)) {
    std::memcpy(out->y, pic.y, static_cast<size_t>(w) * static_cast<size_t>(h));
    std::memcpy(out->u, pic.u, static_cast<size_t>(w / 2) * static_cast<size_t>(h / 2));
    std::memcpy(out->v, pic.v, static_cast<size_t>(w / 2) * static_cast<size_t>(h / 2));
    out->width = pic.width;
    out->height = pic.height;
    return;
  }
  const int cw = std::min<int>(d.layer.width, w) & ~1, ch = std::min<int>(d.layer.height, h) & ~1;
  CopyPlane(out->y, cw, pic.y, w, cw, ch);
  CopyPlane(out->u, cw / 2, pic.u, w / 2, cw / 2, ch / 2);
  CopyPlane(out->v, cw / 2, pic.v, w / 2, cw / 2, ch / 2);
  out->width = static_cast<uint16_t>(cw);
  out->height = static_cast<uint16_t>(ch);
}

bool HasPlanes(const DecodedPicture* p) { return p && p->y && p->u && p->v; }

// The picture to hand out: `pic` itself when the post filter is off, else a
// filtered copy in the buffer that is not the reference (the filter is for
// display only and never touches a reference). `records` are the picture's
// own macroblock records.
const DecodedPicture& ForDisplay(Mpeg4Decoder& d, const DecodedPicture& pic, const Mpeg4MacroblockRecord* records) {
  if (d.postfilter_level == 0) return pic;
  DecodedPicture& spare = d.cur_pic();
  if (&spare != &pic) {
    const size_t luma = static_cast<size_t>(pic.width) * pic.height;
    std::memcpy(spare.y, pic.y, luma);
    std::memcpy(spare.u, pic.u, luma / 4);
    std::memcpy(spare.v, pic.v, luma / 4);
  }
  PostFilter(spare, &records[0].quant, sizeof(Mpeg4MacroblockRecord), static_cast<uint32_t>(d.postfilter_level),
             PostFilterCodec::kMpeg4);
  return spare;
}

// Finishes the picture being decoded: conceals what is damaged and makes it
// the reference. Returns the finished picture (the reference when nothing was
// decoded or the VOP was not coded).
const DecodedPicture& FinishPicture(Mpeg4Decoder& d, bool conceal) {
  if (d.picture_pending && d.vop.coded) {
    if (conceal) Mpeg4ConcealPicture(d, d.layer.data_partitioned != 0);
    d.ref = 1 - d.ref;
    if (d.vop.reference_state != kRefNone) d.vop.reference_state = d.vop.coding_type == 0 ? kRefIsI : kRefIsP;
  }
  d.picture_pending = false;
  d.vop.new_vop = 1;
  d.vop.header_valid = 0;
  return d.ref_pic();
}

// Entry shared by the decode slots: attach, set up when needed.
int32_t Enter(Mpeg4Decoder& d, const uint8_t* data, uint32_t length) {
  d.bits.Attach(data, length);
  if (d.has_buffers) return 0;
  int32_t status = ParseObjectHeaders(d);
  if (status != 0) return status;
  const uint64_t at = d.bits.Pos();
  if (Mpeg4ParseVolHeader(d) != 0) {
    if (d.bits.OverrunBits() >= 8) {
      d.bits.Seek(at);
      return VDEC_INPUT_EXHAUSTED;
    }
    return VDEC_BAD_STREAM_HEADER;
  }
  if (d.layer.short_header) {
    const uint64_t psc = d.bits.Pos();
    if (Mpeg4ParseShortVideoHeader(d) != 0) {
      if (d.bits.Overrun()) return VDEC_INPUT_EXHAUSTED;
      return VDEC_BAD_STREAM_HEADER;
    }
    d.bits.Seek(psc);
  }
  if (d.bits.Overrun()) return VDEC_INPUT_EXHAUSTED;
  status = Mpeg4AllocateBuffers(d);
  if (status != 0) return status;
  d.bits.Attach(data, length);
  return 0;
}

int32_t DecodeFrameOut(VideoDecoder* decoder, const uint8_t* data, uint32_t* length, DecodedPicture* picture) {
  if (!decoder || !data || !length) return VDEC_ERR_ARGUMENT;
  if (*length == 0) return VDEC_EMPTY_INPUT;
  Mpeg4Decoder& d = *Cast(decoder);
  int32_t status = Enter(d, data, *length);
  if (status != 0) return status;
  status = Mpeg4DecodeWholePicture(d);
  if (status == VDEC_ERR_STREAM) {
    d.vop.header_valid = 0;
    d.picture_pending = false;
    *length = d.bits.BytesConsumed();
    return status;
  }
  if (d.layer.short_header) d.bits.AlignUp();
  else if (!d.bits.Aligned()) Mpeg4ReadNextStartCode(d);
  const DecodedPicture& done = FinishPicture(d, false);
  if (HasPlanes(picture) && d.vop.reference_state != kRefNone) CopyOut(d, ForDisplay(d, done, d.ref_records()), picture);
  *length = status == VDEC_SIZE_CHANGED ? 0 : d.bits.BytesConsumed();
  return status;
}

int32_t DecodeFrameImpl(VideoDecoder* decoder, const uint8_t* data, uint32_t* length, bool resumable) {
  Mpeg4Decoder& d = *Cast(decoder);
  int32_t status = Enter(d, data, *length);
  if (status != 0) {
    if (resumable && status == VDEC_INPUT_EXHAUSTED) *length = 0;
    return status;
  }
  status = Mpeg4DecodePacketMode(d, resumable);
  if (status == VDEC_SIZE_CHANGED || status == VDEC_PICTURE_OPEN) *length = 0;
  else *length = d.bits.BytesConsumed();
  return status;
}

int32_t DecodeFrame(VideoDecoder* decoder, const uint8_t* data, uint32_t* length) {
  if (!decoder || !data || !length) return VDEC_ERR_ARGUMENT;
  if (*length == 0) return VDEC_EMPTY_INPUT;
  return DecodeFrameImpl(decoder, data, length, false);
}

int32_t DecodeFrameResumable(VideoDecoder* decoder, const uint8_t* data, uint32_t* length) {
  if (!decoder || !data) return VDEC_EMPTY_INPUT;
  if (!length) return VDEC_ERR_ARGUMENT;
  if (*length == 0) return VDEC_EMPTY_INPUT;
  if (*length == 4 && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == 0xB1) {
    *length = 4;
    return VDEC_END_OF_SEQUENCE;
  }
  return DecodeFrameImpl(decoder, data, length, true);
}

int32_t SetDecoderParam(VideoDecoder* decoder, uint32_t id, uint32_t value) {
  if (!decoder) return VDEC_ERR_ARGUMENT;
  Mpeg4Decoder& d = *Cast(decoder);
  switch (id) {
    case VDEC_PARAM_POSTFILTER_LEVEL:
      d.postfilter_level = static_cast<int32_t>(value);
      return VDEC_OK;
    case VDEC_PARAM_DECODE_VARIANT:
      d.variant_flag = value == 1 ? 1 : 0;
      d.DecodeFrame = value == 1 ? DecodeFrameResumable : DecodeFrame;
      return VDEC_OK;
    case VDEC_PARAM_MPEG4_OPTION:
      if (value == 1) d.option_flag = 1;
      return VDEC_OK;
    default:
      return VDEC_ERR_STREAM;
  }
}

int32_t GetDecoderParam(VideoDecoder* decoder, uint32_t id, void* result) {
  if (!decoder || !result) return VDEC_ERR_ARGUMENT;
  Mpeg4Decoder& d = *Cast(decoder);
  switch (id) {
    case VDEC_PARAM_POSTFILTER_LEVEL:
      *static_cast<int32_t*>(result) = d.postfilter_level;
      return VDEC_OK;
    case VDEC_PARAM_COPY_PICTURE: {
      auto* out = static_cast<DecodedPicture*>(result);
      if (!d.has_buffers) return VDEC_ERR_STREAM;
      if (!HasPlanes(out)) return VDEC_ERR_ARGUMENT;
      const DecodedPicture& ref = ForDisplay(d, d.ref_pic(), d.ref_records());
      const size_t luma = static_cast<size_t>(ref.width) * ref.height;
      std::memcpy(out->y, ref.y, luma);
      std::memcpy(out->u, ref.u, luma / 4);
      std::memcpy(out->v, ref.v, luma / 4);
      out->width = ref.width;
      out->height = ref.height;
      return VDEC_OK;
    }
    case VDEC_PARAM_FINISH_PICTURE_COPY: {
      auto* out = static_cast<DecodedPicture*>(result);
      if (!d.has_buffers) return VDEC_ERR_STREAM;
      if (d.vop.reference_state == kRefNone) {
        d.vop.new_vop = 1;
        d.vop.header_valid = 0;
        d.picture_pending = false;
        return VDEC_OK;
      }
      const DecodedPicture& done = FinishPicture(d, true);
      if (HasPlanes(out)) CopyOut(d, ForDisplay(d, done, d.ref_records()), out);
      return VDEC_OK;
    }
    case VDEC_PARAM_FRAME_ACTIVITY:
      *static_cast<int32_t*>(result) = d.has_buffers ? FrameActivity(d.ref_pic()) : 0;
      return VDEC_OK;
    case VDEC_PARAM_FINISH_PICTURE: {
      if (!d.has_buffers) return VDEC_ERR_STREAM;
      const uint32_t time = d.cur_pic().time;
      FinishPicture(d, true);
      d.ref_pic().time = time;
      const DecodedPicture& shown = ForDisplay(d, d.ref_pic(), d.ref_records());
      d.cur_pic().time = time;
      *static_cast<const DecodedPicture**>(result) = &shown;
      return VDEC_OK;
    }
    case VDEC_PARAM_PICTURE_TYPE:
      *static_cast<int32_t*>(result) = d.vop.coding_type;
      return VDEC_OK;
    case VDEC_PARAM_FULL_RANGE:
      *static_cast<int32_t*>(result) = d.stream.video_range ? 1 : 0;
      return VDEC_OK;
    case VDEC_PARAM_DAMAGED_PERCENT: {
      int32_t percent = 0;
      if (d.has_buffers && d.vop.coded && d.mb_count) {
        const Mpeg4MacroblockRecord* recs = d.ref_records();
        uint32_t damaged = 0;
        for (uint32_t i = 0; i < d.mb_count; ++i) {
          damaged += recs[i].status == kMbDamaged || recs[i].status == kMbDamagedDc;
        }
        percent = static_cast<int32_t>(damaged * 100 / d.mb_count);
      }
      *static_cast<int32_t*>(result) = percent;
      return VDEC_OK;
    }
    case VDEC_PARAM_DAMAGED_MAP: {
      auto* out = static_cast<uint8_t*>(result);
      if (!d.has_buffers) return VDEC_ERR_STREAM;
      if (!d.vop.coded) {
        std::memset(out, 0xFF, (d.mb_count + 7) / 8);
        return VDEC_OK;
      }
      const Mpeg4MacroblockRecord* recs = d.ref_records();
      WriteDamagedMap(d.mb_count, out, [recs](uint32_t i) {
        return recs[i].status != kMbDamaged && recs[i].status != kMbDamagedDc;
      });
      return VDEC_OK;
    }
    default:
      return VDEC_ERR_STREAM;
  }
}

int32_t ResetDecoder(VideoDecoder* decoder) {
  if (!decoder) return VDEC_ERR_ARGUMENT;
  Mpeg4Decoder& d = *Cast(decoder);
  d.vop.reference_state = kRefNone;
  d.vop.new_vop = 1;
  d.vop.header_valid = 0;
  d.vop.time_increment = 0;
  d.picture_pending = false;
  d.resume_stage = kResumeNone;
  return VDEC_OK;
}

int32_t DestroyDecoder(VideoDecoder* decoder) {
  if (!decoder) return VDEC_ERR_ARGUMENT;
  delete Cast(decoder);
  return VDEC_OK;
}

}  // namespace

int32_t Mpeg4CheckStreamSize(Mpeg4Decoder& d) {
  if (!d.has_buffers) return 0;
  if (d.layer.width != d.setup_width || d.layer.height != d.setup_height) return VDEC_SIZE_CHANGED;
  if (!d.layer.short_header && d.stream.profile_class != d.setup_profile) return VDEC_SIZE_CHANGED;
  return 0;
}

int32_t Mpeg4AllocateBuffers(Mpeg4Decoder& d) {
  const uint32_t cols = (static_cast<uint32_t>(d.layer.width) + 15) / 16;
  const uint32_t rows = (static_cast<uint32_t>(d.layer.height) + 15) / 16;
  const uint32_t count = cols * rows;
  if (count == 0 || count > kMaxMacroblocks) return VDEC_BAD_STREAM_HEADER;
  const uint32_t w = cols * 16, h = rows * 16;
  const size_t luma = static_cast<size_t>(w) * h;
  for (int i = 0; i < 2; ++i) {
    d.plane_blocks[i].reset(new (std::nothrow) uint8_t[luma * 3 / 2 + 8]);
    d.records[i].reset(new (std::nothrow) Mpeg4MacroblockRecord[count]);
    if (!d.plane_blocks[i] || !d.records[i]) return VDEC_ERR_ARGUMENT;
    uint8_t* base = d.plane_blocks[i].get();
    uint8_t* y = base + ((8 - (reinterpret_cast<uintptr_t>(base) & 7)) & 7);
    // Cleared once: a reference handed out before any picture, and the
    // concealment of the first picture, read these buffers.
    std::memset(y, 0, luma);
    std::memset(y + luma, 128, luma / 2);
    std::memset(d.records[i].get(), 0, sizeof(Mpeg4MacroblockRecord) * count);
    for (uint32_t k = 0; k < count; ++k) {
      d.records[i][k].status = kMbDamaged;
      d.records[i][k].quant = 1;
    }
    d.pictures[i] = DecodedPicture{y, y + luma, y + luma + luma / 4, static_cast<uint16_t>(w),
                                   static_cast<uint16_t>(h), 0};
  }
  d.above_pred.reset(new (std::nothrow) int16_t[static_cast<size_t>(cols) * 28]());
  d.dc_diffs.reset(new (std::nothrow) int16_t[static_cast<size_t>(count) * 6]());
  if (!d.above_pred || !d.dc_diffs) return VDEC_ERR_ARGUMENT;
  d.mb_cols = cols;
  d.mb_rows = rows;
  d.mb_count = count;
  d.vop.mb_number_bits = static_cast<uint16_t>(count == 1 ? 1 : 1 + HighestBit(count - 1));
  if (w <= 352) {
    d.gob_rows = 1;
    d.gob_count = rows;
  } else {
    d.gob_count = 18;
    d.gob_rows = rows / 18 ? rows / 18 : 1;
  }
  d.setup_width = d.layer.width;
  d.setup_height = d.layer.height;
  if (!d.layer.short_header) {
    d.setup_profile = d.stream.profile_class;
    d.setup_level = d.stream.level;
  }
  d.has_buffers = true;
  return 0;
}

bool Mpeg4ParseLayerSize(const uint8_t* data, uint32_t size, uint16_t* width, uint16_t* height) {
  if (!data || !width || !height) return false;
  Mpeg4Decoder d;
  d.bits.Attach(data, size);
  for (uint32_t i = 0; i + 4 <= size; ++i) {
    const bool layer = data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0xF0) == 0x20;
    const bool short_header = data[i] == 0 && data[i + 1] == 0 && (data[i + 2] & 0xFC) == 0x80;
    if (!layer && !short_header) continue;
    d.bits.Seek(static_cast<uint64_t>(i) * 8);
    if (Mpeg4ParseVolHeader(d) != 0) return false;
    if (d.layer.short_header && Mpeg4ParseShortVideoHeader(d) != 0) return false;
    *width = d.layer.width;
    *height = d.layer.height;
    return *width > 0 && *height > 0;
  }
  return false;
}

int32_t gCreateMPEG4VideoDecoder(VideoDecoder** decoder, const uint8_t* config, uint32_t* config_length,
                                 uint32_t postfilter_level) {
  if (!decoder || !config_length) return VDEC_ERR_ARGUMENT;
  *decoder = nullptr;
  Mpeg4Decoder* d = new (std::nothrow) Mpeg4Decoder();
  if (!d) {
    *config_length = 0;
    return VDEC_ERR_ARGUMENT;
  }
  init_idct_dsp(d->idct, ov::GetCpuFlags());
  init_mc_dsp(d->mc, ov::GetCpuFlags());
  d->DecodeFrameOut = DecodeFrameOut;
  d->DecodeFrame = DecodeFrame;
  d->SetDecoderParam = SetDecoderParam;
  d->GetDecoderParam = GetDecoderParam;
  d->ResetDecoder = ResetDecoder;
  d->DestroyDecoder = DestroyDecoder;
  if (config && *config_length) {
    d->bits.Attach(config, *config_length);
    int32_t status = *config_length < 4 ? VDEC_INPUT_EXHAUSTED : ParseObjectHeaders(*d);
    if (status == 0) {
      const uint64_t at = d->bits.Pos();
      if (Mpeg4ParseVolHeader(*d) != 0 || d->layer.short_header) {
        status = VDEC_BAD_STREAM_HEADER;
        if (d->bits.OverrunBits() >= 8 && !d->layer.short_header) {
          d->bits.Seek(at);
          status = VDEC_INPUT_EXHAUSTED;
        }
      } else if (d->bits.Overrun()) {
        status = VDEC_INPUT_EXHAUSTED;
      }
    }
    if (status == 0) status = Mpeg4AllocateBuffers(*d);
    if (status != 0) {
      delete d;
      *config_length = 0;
      return status;
    }
    *config_length = d->bits.BytesConsumed();
  } else {
    *config_length = 0;
  }
  SetDecoderParam(d, VDEC_PARAM_POSTFILTER_LEVEL, postfilter_level);
  *decoder = d;
  return VDEC_OK;
}

}  // namespace videodec
