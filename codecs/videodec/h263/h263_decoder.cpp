// The H.263 decoder object: creation, the decode slots with their picture
// and segment loops, finishing pictures and the parameter queries.
#include "codecs/videodec/h263/h263_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codecs/videodec/common/post_filter.h"
#include "codecs/videodec/h263/h263_decoder_internal.h"
#include "platform/cpu/cpu.h"

namespace videodec {
namespace {

H263Decoder* Self(VideoDecoder* vd) { return static_cast<H263Decoder*>(vd); }

uint8_t* Align32(uint8_t* p) {
  return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + 31) & ~static_cast<uintptr_t>(31));
}

// One block per picture: Y, U, V, each on a 32-byte boundary.
bool AllocatePicture(std::unique_ptr<uint8_t[]>& storage, DecodedPicture& pic, int w, int h) {
  const size_t luma = static_cast<size_t>(w) * h;
  const size_t chroma = luma / 4;
  storage.reset(new (std::nothrow) uint8_t[luma + 2 * chroma + 128]);
  if (!storage) return false;
  pic.y = Align32(storage.get());
  pic.u = Align32(pic.y + luma);
  pic.v = Align32(pic.u + chroma);
  pic.width = static_cast<uint16_t>(w);
  pic.height = static_cast<uint16_t>(h);
  pic.time = 0;
  // A mid-grey start: concealment against a picture that was never decoded
  // shows grey, not noise.
  std::memset(pic.y, 128, luma);
  std::memset(pic.u, 128, chroma);
  std::memset(pic.v, 128, chroma);
  return true;
}

// Allocates every buffer for a display size; false on failure or a size
// beyond the limits.
bool AllocateBuffers(H263Decoder* d, int display_w, int display_h) {
  if (display_w <= 0 || display_h <= 0 || static_cast<uint32_t>(display_w) > kH263MaxPictureWidth ||
      static_cast<uint32_t>(display_h) > kH263MaxPictureHeight)
    return false;
  const int w = (display_w + 15) & ~15;
  const int h = (display_h + 15) & ~15;
  d->mb_cols = w / 16;
  d->mb_rows = h / 16;
  d->mb_count = d->mb_cols * d->mb_rows;
  const size_t records = static_cast<size_t>(d->mb_count) + 1;  // one spare record
  d->cur_mbs.reset(new (std::nothrow) H263Macroblock[records]());
  d->ref_mbs.reset(new (std::nothrow) H263Macroblock[records]());
  d->aic.reset(new (std::nothrow) H263AicMacroblock[records]());
  d->coeff_storage.reset(new (std::nothrow) int16_t[6 * 64 + 16]());
  if (!d->cur_mbs || !d->ref_mbs || !d->aic || !d->coeff_storage) return false;
  d->coeffs = reinterpret_cast<int16_t*>(Align32(reinterpret_cast<uint8_t*>(d->coeff_storage.get())));
  for (size_t i = 0; i < records; ++i) {
    d->cur_mbs[i].status = d->ref_mbs[i].status = kMbDamaged;
    d->cur_mbs[i].quant = d->ref_mbs[i].quant = 20;
  }
  if (!AllocatePicture(d->ref_planes, d->ref, w, h) || !AllocatePicture(d->cur_planes, d->cur, w, h)) return false;
  d->display_width = static_cast<uint16_t>(display_w);
  d->display_height = static_cast<uint16_t>(display_h);
  d->has_buffers = true;
  return true;
}

// Moves the reader back to bit `pos` of its input.
void Rewind(BitReader& br, uint64_t pos) {
  br.Attach(br.data, br.size);
  while (pos >= 32) {
    br.SkipBits(32);
    pos -= 32;
  }
  if (pos) br.SkipBits(static_cast<int>(pos));
}

// Skips zero bytes while the next 24 bits are zero; false when the input is
// used up doing so.
bool SkipZeroBytes(BitReader& br) {
  while (br.ShowBits(24) == 0) {
    if (br.BytesLeft() == 0) return false;
    br.SkipBits(8);
  }
  return true;
}

int RowsPerGob(int coded_height) { return coded_height <= 400 ? 1 : (coded_height <= 800 ? 2 : 4); }

void MarkPictureDamaged(H263Decoder* d) {
  for (int i = 0; i < d->mb_count; ++i) {
    d->cur_mbs[i].status = kMbDamaged;
    d->cur_mbs[i].segment = 0;
  }
}

// Decodes macroblock (x, y); on failure marks it damaged. False on failure,
// also when the macroblock used bits past the end of the input.
bool DecodeOneMacroblock(H263Decoder* d, int x, int y) {
  const int32_t r = DecodeH263Macroblock(d, x, y);
  if (r != VDEC_OK || d->reader.Overrun()) {
    d->cur_mbs[y * d->mb_cols + x].status = kMbDamaged;
    return false;
  }
  return true;
}

enum class SegmentStart { kDecode, kResync, kError };

// Reads the header that starts a segment at the reader: a picture header
// (then the short first slice header with Annex K), a GOB header (present or
// not) or a slice header. Sets *gob or *mba.
int32_t StartSegment(H263Decoder* d, int* gob, int* mba, SegmentStart* next) {
  BitReader& br = d->reader;
  H263PictureState& ps = d->ps;
  *next = SegmentStart::kDecode;
  if (NextIsPictureStartCode(br)) {
    const int32_t r = ParseH263PictureHeader(d);
    if (r != VDEC_OK) {
      FindNextPicture(br, br.size);
      *next = SegmentStart::kError;
      // Before the first picture nothing is open: the next call starts anew.
      if (ps.state == kStateNoPicture) ps.new_picture = 1;
      return VDEC_ERR_STREAM;
    }
    if (ps.coded_width != d->cur.width || ps.coded_height != d->cur.height) {
      *next = SegmentStart::kError;
      return VDEC_SIZE_CHANGED;
    }
    ps.gob_number = 0;
    ps.header_seen = 1;
    if (ps.state == kStateNoPicture) {
      if (ps.picture_type != 0) {
        FindNextPicture(br, br.size);
        *next = SegmentStart::kError;
        ps.new_picture = 1;
        return VDEC_ERR_STREAM;
      }
      ps.state = kStateDecoding;
    }
    *gob = 0;
    *mba = 0;
    if (ps.annex_k && ParseH263SliceHeader(d, true, mba) != VDEC_OK) {
      *next = SegmentStart::kResync;
      return VDEC_ERR_STREAM;
    }
    return VDEC_OK;
  }
  if (!ps.header_seen) {
    *next = SegmentStart::kResync;
    return VDEC_ERR_STREAM;
  }
  if (ps.annex_k) {
    if (ParseH263SliceHeader(d, false, mba) != VDEC_OK) {
      *next = SegmentStart::kResync;
      return VDEC_ERR_STREAM;
    }
    return VDEC_OK;
  }
  const int gobs = (d->mb_rows + RowsPerGob(d->cur.height) - 1) / RowsPerGob(d->cur.height);
  if (ParseH263GobHeader(d) != VDEC_OK || ps.gob_number >= static_cast<uint32_t>(gobs)) {
    *next = SegmentStart::kResync;
    return VDEC_ERR_STREAM;
  }
  *gob = static_cast<int>(ps.gob_number);
  return VDEC_OK;
}

// The picture loop. With `whole_picture` it decodes every segment of one
// picture and stops in front of the next picture; otherwise it decodes one
// segment (up to the next start code) and stops there.
int32_t DecodeSegments(H263Decoder* d, bool whole_picture) {
  BitReader& br = d->reader;
  H263PictureState& ps = d->ps;

  if (ps.state == kStateNoPicture) {
    if (!SkipZeroBytes(br)) return VDEC_OK;
    const uint64_t start = br.BitPosition();
    if (ParseH263PictureHeader(d) != VDEC_OK) {
      FindNextPicture(br, br.size);
      return VDEC_ERR_STREAM;
    }
    if (!d->has_buffers && !AllocateBuffers(d, ps.display_width, ps.display_height)) {
      FindNextPicture(br, br.size);
      return VDEC_ERR_STREAM;
    }
    Rewind(br, start);
  }

  int32_t result = VDEC_OK;
  if (br.ShowBits(16) != 0) {
    ResyncAtNextStartCode(br);
  } else if (!SkipZeroBytes(br)) {
    return VDEC_OK;
  } else {
    if (ps.new_picture) {
      ps.new_picture = 0;
      ps.segment = 0;
      MarkPictureDamaged(d);
    } else if (NextIsPictureStartCode(br)) {
      return VDEC_PICTURE_OPEN;
    }
    int gob = 0, mba = 0;
    SegmentStart how;
    int32_t r = StartSegment(d, &gob, &mba, &how);
    for (;;) {
      if (how == SegmentStart::kError) return r;
      if (how == SegmentStart::kResync) {
        ResyncAtNextStartCode(br);
        result = VDEC_ERR_STREAM;
        break;
      }
      bool failed = false;
      bool picture_done = false;
      if (ps.annex_k) {
        // A slice runs from its address to the next start code.
        for (int a = mba; a < d->mb_count; ++a) {
          if (!DecodeOneMacroblock(d, a % d->mb_cols, a / d->mb_cols)) {
            failed = true;
            break;
          }
          if (a + 1 == d->mb_count) picture_done = true;
          else if (StartCodeAtSegmentEnd(br)) break;
        }
      } else {
        const int rows = RowsPerGob(d->cur.height);
        const int first = gob * rows;
        const int last = std::min(first + rows, d->mb_rows);
        for (int y = first; y < last && !failed; ++y)
          for (int x = 0; x < d->mb_cols && !failed; ++x) failed = !DecodeOneMacroblock(d, x, y);
        picture_done = last >= d->mb_rows;
      }
      if (failed) {
        ResyncAtNextStartCode(br);
        break;
      }
      if (picture_done) {
        if (StartCodeAtSegmentEnd(br)) br.ByteAlign();
        break;
      }
      if (StartCodeAtSegmentEnd(br)) {
        br.ByteAlign();
        // A group or slice start code continues the picture when decoding it
        // whole; a picture start code, the end of the sequence or zero bits
        // end the call.
        const uint32_t next = br.ShowBits(22);
        if (!whole_picture || next == 0 || (next & 31) == 0 || (next & 31) == 31) break;
      } else if (br.BytesLeft() == 0) {
        break;
      }
      r = StartSegment(d, &gob, &mba, &how);
    }
  }
  if (NextIsPictureStartCode(br) && !whole_picture) return VDEC_NEXT_PICTURE;
  return result;
}

// Conceals, deblocks and swaps the open picture; afterwards d->ref is the
// finished picture and d->ref_mbs its records.
void FinishOpenPicture(H263Decoder* d) {
  H263PictureState& ps = d->ps;
  ConcealH263Macroblocks(d);
  if (ps.annex_j) DeblockH263Picture(d->deblock, d->cur, d->cur_mbs.get(), d->mb_cols, d->mb_rows, ps.annex_t);
  d->cur.time = ps.time;
  std::swap(d->cur, d->ref);
  std::swap(d->cur_planes, d->ref_planes);
  std::swap(d->cur_mbs, d->ref_mbs);
  ps.state = ps.picture_type == 0 ? kStateLastIntra : kStateLastInter;
  d->have_reference = true;
  d->last_finished_inter = ps.picture_type != 0;
  ps.new_picture = 1;
  ps.header_seen = 0;
}

void PostFilterPicture(const H263Decoder* d, const DecodedPicture& pic) {
  if (d->postfilter_level == 0) return;
  PostFilter(pic, &d->ref_mbs[0].quant, sizeof(H263Macroblock), d->postfilter_level, PostFilterCodec::kH263);
}

// Copies the finished picture (d->ref) into the caller's planes.
void CopyOut(const H263Decoder* d, DecodedPicture* out) {
  const DecodedPicture& src = d->ref;
  const size_t luma = static_cast<size_t>(src.width) * src.height;
  std::memcpy(out->y, src.y, luma);
  std::memcpy(out->u, src.u, luma / 4);
  std::memcpy(out->v, src.v, luma / 4);
  out->width = src.width;
  out->height = src.height;
}

// Finishes the open picture, if any. VDEC_ERR_STREAM when no picture has
// been decoded at all.
int32_t Finish(H263Decoder* d) {
  H263PictureState& ps = d->ps;
  if (ps.state == kStateNoPicture || !d->has_buffers) {
    ps.new_picture = 1;
    ps.header_seen = 0;
    return VDEC_ERR_STREAM;
  }
  // With no picture open the last finished one is handed out again.
  if (!ps.new_picture) FinishOpenPicture(d);
  return VDEC_OK;
}

uint32_t Consumed(const BitReader& br, uint32_t length) {
  const uint32_t left = br.BytesLeft();
  return left >= length ? 0 : length - left;
}

int32_t DecodeFrameSlot(VideoDecoder* vd, const uint8_t* data, uint32_t* length) {
  if (!vd || !data || !length) return VDEC_ERR_ARGUMENT;
  if (*length == 0) return VDEC_EMPTY_INPUT;
  H263Decoder* d = Self(vd);
  d->reader.Attach(data, *length);
  const int32_t r = DecodeSegments(d, false);
  *length = Consumed(d->reader, *length);
  return r;
}

int32_t DecodeFrameOutSlot(VideoDecoder* vd, const uint8_t* data, uint32_t* length, DecodedPicture* picture) {
  if (!vd || !data || !length) return VDEC_ERR_ARGUMENT;
  if (*length == 0) return VDEC_EMPTY_INPUT;
  H263Decoder* d = Self(vd);
  BitReader& br = d->reader;
  const uint32_t available = *length;
  br.Attach(data, available);
  if (br.ShowBits(16) != 0) FindNextPicture(br, br.size);
  int32_t r = VDEC_ERR_STREAM;
  if (SkipZeroBytes(br) && NextIsPictureStartCode(br)) {
    // A new picture begins here, whatever was left open.
    if (!d->ps.new_picture && d->ps.state != kStateNoPicture && d->has_buffers) FinishOpenPicture(d);
    d->ps.new_picture = 1;
    r = DecodeSegments(d, true);
  }
  *length = Consumed(br, available);
  if (r != VDEC_OK) {
    d->ps.header_seen = 0;
    return r;
  }
  if (!picture || !picture->y || !picture->u || !picture->v) return VDEC_ERR_ARGUMENT;
  if (Finish(d) != VDEC_OK) return VDEC_ERR_STREAM;
  CopyOut(d, picture);
  picture->time = d->ref.time;
  PostFilterPicture(d, *picture);
  return VDEC_OK;
}

int32_t SetParamSlot(VideoDecoder* vd, uint32_t id, uint32_t value) {
  if (!vd) return VDEC_ERR_ARGUMENT;
  H263Decoder* d = Self(vd);
  switch (id) {
    case VDEC_PARAM_POSTFILTER_LEVEL:
      d->postfilter_level = value;
      return VDEC_OK;
    case VDEC_PARAM_DECODE_VARIANT:
      return VDEC_OK;  // one decode function only
    default:
      return VDEC_ERR_STREAM;
  }
}

int32_t GetParamSlot(VideoDecoder* vd, uint32_t id, void* result) {
  if (!vd || !result) return VDEC_ERR_ARGUMENT;
  H263Decoder* d = Self(vd);
  // Queries about the last finished picture need one.
  const bool finished = d->has_buffers && d->have_reference;
  switch (id) {
    case VDEC_PARAM_POSTFILTER_LEVEL:
      *static_cast<int32_t*>(result) = static_cast<int32_t>(d->postfilter_level);
      return VDEC_OK;
    case VDEC_PARAM_COPY_PICTURE: {
      auto* out = static_cast<DecodedPicture*>(result);
      if (!finished) return VDEC_ERR_STREAM;
      if (!out->y || !out->u || !out->v) return VDEC_ERR_ARGUMENT;
      CopyOut(d, out);
      PostFilterPicture(d, *out);
      return VDEC_OK;
    }
    case VDEC_PARAM_FINISH_PICTURE_COPY: {
      auto* out = static_cast<DecodedPicture*>(result);
      if (!out->y || !out->u || !out->v) return VDEC_ERR_ARGUMENT;
      if (Finish(d) != VDEC_OK) return VDEC_ERR_STREAM;
      CopyOut(d, out);
      out->time = d->ref.time;
      PostFilterPicture(d, *out);
      return VDEC_OK;
    }
    case VDEC_PARAM_FRAME_ACTIVITY:
      if (!finished) return VDEC_ERR_STREAM;
      *static_cast<int32_t*>(result) = FrameActivity(d->ref);
      return VDEC_OK;
    case VDEC_PARAM_FINISH_PICTURE: {
      auto** out = static_cast<DecodedPicture**>(result);
      *out = nullptr;
      if (Finish(d) != VDEC_OK) return VDEC_ERR_STREAM;
      if (d->postfilter_level == 0) {
        *out = &d->ref;
        return VDEC_OK;
      }
      // Post-filter a copy in the spare picture buffer, never the reference.
      CopyOut(d, &d->cur);
      d->cur.time = d->ref.time;
      PostFilterPicture(d, d->cur);
      *out = &d->cur;
      return VDEC_OK;
    }
    case VDEC_PARAM_PICTURE_TYPE:
      *static_cast<int32_t*>(result) = d->ps.picture_type;
      return VDEC_OK;
    case VDEC_PARAM_DAMAGED_PERCENT: {
      if (!finished || d->mb_count == 0) return VDEC_ERR_STREAM;
      int damaged = 0;
      for (int i = 0; i < d->mb_count; ++i) damaged += d->ref_mbs[i].status == kMbDamaged;
      *static_cast<int32_t*>(result) = damaged * 100 / d->mb_count;
      return VDEC_OK;
    }
    case VDEC_PARAM_DAMAGED_MAP:
      if (!finished || d->mb_count == 0) return VDEC_ERR_STREAM;
      WriteDamagedMap(static_cast<uint32_t>(d->mb_count), static_cast<uint8_t*>(result),
                      [d](uint32_t i) { return d->ref_mbs[i].status != kMbDamaged; });
      return VDEC_OK;
    default:
      return VDEC_ERR_STREAM;
  }
}

int32_t DestroySlot(VideoDecoder* vd) {
  if (!vd) return VDEC_ERR_ARGUMENT;
  delete Self(vd);
  return VDEC_OK;
}

}  // namespace

int32_t gCreateH263VideoDecoder(VideoDecoder** decoder, const uint8_t* data, uint32_t length,
                                uint32_t postfilter_level, uint16_t width, uint16_t height) {
  if (!decoder) return VDEC_ERR_ARGUMENT;
  *decoder = nullptr;
  H263Decoder* d = new (std::nothrow) H263Decoder;
  if (!d) return VDEC_ERR_ARGUMENT;
  d->DecodeFrameOut = DecodeFrameOutSlot;
  d->DecodeFrame = DecodeFrameSlot;
  d->SetDecoderParam = SetParamSlot;
  d->GetDecoderParam = GetParamSlot;
  d->ResetDecoder = nullptr;
  d->DestroyDecoder = DestroySlot;
  d->reader.Initialise();
  d->vlc = &GetH263Vlc();
  const uint32_t cpu = ov::GetCpuFlags();
  init_mc_dsp(d->mc, cpu);
  init_idct_dsp(d->idct, cpu);
  init_deblock_dsp(d->deblock, cpu);

  int display_w = 0, display_h = 0;
  if (data && length) {
    d->reader.Attach(data, length);
    const int32_t r = ParseH263PictureHeader(d);
    if (r == VDEC_INPUT_EXHAUSTED) {
      SetParamSlot(d, VDEC_PARAM_POSTFILTER_LEVEL, postfilter_level);
      *decoder = d;
      return r;
    }
    if (r != VDEC_OK) {
      delete d;
      return VDEC_ERR_STREAM;
    }
    display_w = d->ps.display_width;
    display_h = d->ps.display_height;
  } else if (width && height) {
    display_w = width;
    display_h = height;
  }
  if (display_w && !AllocateBuffers(d, display_w, display_h)) {
    delete d;
    return VDEC_ERR_ARGUMENT;
  }
  SetParamSlot(d, VDEC_PARAM_POSTFILTER_LEVEL, postfilter_level);
  *decoder = d;
  return VDEC_OK;
}

}  // namespace videodec
