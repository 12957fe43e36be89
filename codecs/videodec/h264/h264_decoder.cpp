#include "codecs/videodec/h264/h264_decoder.h"

#include <new>

#include "codecs/videodec/h264/h264_annexb.h"
#include "codecs/videodec/h264/h264_core.h"

namespace videodec {
namespace {

struct H264Decoder : VideoDecoder {
  h264::Core core;
  DecodedPicture output{};
  bool output_ready = false;
  uint32_t nal_length_size = 4;
  uint32_t framing_mode = H264_FRAMING_LENGTH_PREFIXED;
};

H264Decoder* Cast(VideoDecoder* d) { return static_cast<H264Decoder*>(d); }

// Result of one NAL unit as the caller sees it: refused parameter sets and
// unknown picture parameter sets are reported, slice damage is not.
int32_t NalStatus(int core_result, int nal_type) {
  if (core_result == h264::kCoreOk) return VDEC_OK;
  if (core_result == h264::kCoreNoMemory) return VDEC_ERR_ARGUMENT;
  if (nal_type == 7 || nal_type == 8) return VDEC_ERR_STREAM;
  if (core_result == h264::kCoreNoPps) return VDEC_H264_NO_PPS;
  return VDEC_OK;
}

int DecodeNalSafely(h264::Core& core, const uint8_t* nal, size_t size, bool stop_at_new_picture = false) {
  try {
    return core.DecodeNal(nal, size, stop_at_new_picture);
  } catch (const std::bad_alloc&) {
    return h264::kCoreNoMemory;
  }
}

void PublishPicture(H264Decoder* d) {
  const h264::Picture* p = d->core.last_picture();
  if (!p) return;
  d->output.y = p->plane[0];
  d->output.u = p->plane[1];
  d->output.v = p->plane[2];
  d->output.width = uint16_t(d->core.Width());
  d->output.height = uint16_t(d->core.Height());
  d->output.time = 0;
  d->output_ready = true;
}

void OnPicture(void* user, const h264::Picture&, int, int) { PublishPicture(static_cast<H264Decoder*>(user)); }

uint32_t ReadBigEndian(const uint8_t* p, uint32_t n) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

int32_t DecodeFrameOut(VideoDecoder* decoder, const uint8_t* data, uint32_t* length, DecodedPicture*) {
  if (!decoder) return VDEC_ERR_H264_ARGUMENT;
  if (!data || !length || *length < 1) return VDEC_ERR_H264_ARGUMENT;
  H264Decoder* d = Cast(decoder);
  d->output_ready = false;
  const size_t size = *length;
  int32_t result = VDEC_OK;
  if (d->framing_mode == H264_FRAMING_LENGTH_PREFIXED) {
    size_t pos = 0;
    while (pos < size) {
      if (size - pos < d->nal_length_size) {
        result = VDEC_ERR_STREAM;
        break;
      }
      const uint32_t n = ReadBigEndian(data + pos, d->nal_length_size);
      pos += d->nal_length_size;
      if (n > size - pos) {
        result = VDEC_ERR_STREAM;
        break;
      }
      if (n > 0) {
        const int core_result = DecodeNalSafely(d->core, data + pos, n);
        const int32_t r = NalStatus(core_result, d->core.last_nal_type());
        if (r != VDEC_OK) result = r;
      }
      pos += n;
    }
  } else {
    size_t pos = 0, b = 0, e = 0;
    while (h264::NextAnnexBNal(data, size, pos, &b, &e)) {
      if (e > b) {
        const int core_result = DecodeNalSafely(d->core, data + b, e - b);
        const int32_t r = NalStatus(core_result, d->core.last_nal_type());
        if (r != VDEC_OK) result = r;
      }
      pos = e > pos ? e : pos + 1;
    }
  }
  d->core.FinishPicture();
  return result;
}

int32_t DecodeFrame(VideoDecoder* decoder, const uint8_t* data, uint32_t* length) {
  if (!decoder || !data || !length) return VDEC_ERR_H264_ARGUMENT;
  H264Decoder* d = Cast(decoder);
  d->output_ready = false;
  const size_t size = *length;
  if (size == 0) {
    d->core.FinishPicture();
    return VDEC_OK;
  }
  size_t begin = 0, end = 0, consumed = 0;
  if (d->framing_mode == H264_FRAMING_LENGTH_PREFIXED) {
    if (size < d->nal_length_size) return VDEC_ERR_STREAM;
    const uint32_t n = ReadBigEndian(data, d->nal_length_size);
    if (n > size - d->nal_length_size) return VDEC_ERR_STREAM;
    begin = d->nal_length_size;
    end = begin + n;
    consumed = end;
  } else {
    if (!h264::NextAnnexBNal(data, size, 0, &begin, &end)) {
      *length = uint32_t(size);  // no start code: nothing to decode in it
      return VDEC_OK;
    }
    // The unit runs up to the next start code.
    size_t b2 = 0, e2 = 0;
    consumed = h264::NextAnnexBNal(data, size, end, &b2, &e2) ? b2 - 3 : size;
    while (consumed > end && data[consumed - 1] == 0) --consumed;
    if (consumed < end) consumed = end;
  }
  if (end == begin) {
    *length = uint32_t(consumed);
    return VDEC_OK;
  }
  const int r = DecodeNalSafely(d->core, data + begin, end - begin, true);
  if (r == h264::kCorePictureBoundary) {
    *length = 0;
    return VDEC_OK;
  }
  *length = uint32_t(consumed);
  return NalStatus(r, d->core.last_nal_type());
}

int32_t SetDecoderParam(VideoDecoder* decoder, uint32_t, uint32_t) {
  if (!decoder) return VDEC_ERR_H264_ARGUMENT;
  return VDEC_ERR_STREAM;
}

int32_t GetDecoderParam(VideoDecoder* decoder, uint32_t id, void* result) {
  if (!decoder || !result) return VDEC_ERR_H264_ARGUMENT;
  H264Decoder* d = Cast(decoder);
  switch (id) {
    case VDEC_H264_PARAM_OUTPUT_PICTURE: {
      DecodedPicture** out = static_cast<DecodedPicture**>(result);
      *out = nullptr;
      if (!d->output_ready) return VDEC_ERR_STREAM;
      *out = &d->output;
      return VDEC_OK;
    }
    case VDEC_H264_PARAM_PICTURE_KIND: {
      int32_t* out = static_cast<int32_t*>(result);
      if (d->core.last_picture_kind() == 0) *out = 1;
      else *out = d->core.last_picture_idr() ? 2 : 0;
      return VDEC_OK;
    }
    case VDEC_H264_PARAM_FULL_RANGE: {
      const h264::Sps* s = d->core.ActiveSps();
      *static_cast<int32_t*>(result) = s && s->full_range ? 1 : 0;
      return VDEC_OK;
    }
    default:
      *static_cast<int32_t*>(result) = 0;
      return VDEC_ERR_STREAM;
  }
}

int32_t ResetDecoder(VideoDecoder* decoder) {
  if (!decoder) return VDEC_ERR_H264_ARGUMENT;
  H264Decoder* d = Cast(decoder);
  d->core.Reset();
  d->output_ready = false;
  return VDEC_OK;
}

int32_t DestroyDecoder(VideoDecoder* decoder) {
  if (!decoder) return VDEC_ERR_H264_ARGUMENT;
  delete Cast(decoder);
  return VDEC_OK;
}

int32_t ParseParameterSets(H264Decoder* d, const uint8_t* data, uint32_t size, uint32_t ps_length_size,
                           uint32_t* consumed) {
  if (d->framing_mode == H264_FRAMING_LENGTH_PREFIXED) {
    size_t pos = 0;
    while (pos < size) {
      if (size - pos < ps_length_size) return VDEC_ERR_STREAM;
      // Only the low 16 bits of a configuration length count.
      const uint32_t n = ReadBigEndian(data + pos, ps_length_size) & 0xFFFF;
      pos += ps_length_size;
      if (n > size - pos) return VDEC_ERR_STREAM;
      const int type = n > 0 ? (data[pos] & 31) : 0;
      if (!d->core.HasSps()) {
        if (type == 9 || type == 12) {
          pos += n;
          if (pos >= size) return VDEC_H264_NO_SPS;
          continue;
        }
        if (type != 7) return VDEC_ERR_STREAM;
      }
      if (n > 0) {
        const int r = DecodeNalSafely(d->core, data + pos, n);
        if (r == h264::kCoreNoMemory) return VDEC_ERR_ARGUMENT;
        if (r != h264::kCoreOk) return VDEC_ERR_STREAM;
      }
      pos += n;
    }
    *consumed = uint32_t(pos);
    return d->core.HasSps() ? VDEC_OK : VDEC_H264_NO_SPS;
  }
  // Annex B: a sequence parameter set first, then the parameter sets that
  // follow it, up to the first unit of another kind.
  size_t pos = 0, b = 0, e = 0;
  bool first = true;
  while (h264::NextAnnexBNal(data, size, pos, &b, &e)) {
    const int type = e > b ? (data[b] & 31) : 0;
    if (first && type != 7) return VDEC_H264_NO_SPS;
    if (type != 7 && type != 8) break;
    const int r = DecodeNalSafely(d->core, data + b, e - b);
    if (r == h264::kCoreNoMemory) return VDEC_ERR_ARGUMENT;
    if (r != h264::kCoreOk) return VDEC_ERR_STREAM;
    first = false;
    pos = e;
  }
  if (first) return VDEC_H264_NO_SPS;
  *consumed = uint32_t(pos);
  return VDEC_OK;
}

}  // namespace

int32_t gCreateH264VideoDecoder(VideoDecoder** decoder, const uint8_t* data, uint32_t* length,
                                H264StreamInfo* info, uint32_t nal_length_size, uint32_t ps_length_size,
                                uint32_t framing_mode) {
  if (!decoder || !data || !length || !info || *length < 1) return VDEC_ERR_H264_ARGUMENT;
  if (framing_mode == H264_FRAMING_LENGTH_PREFIXED &&
      (nal_length_size == 0 || ps_length_size == 0 || nal_length_size > 4 || ps_length_size > 4))
    return VDEC_ERR_H264_ARGUMENT;
  *decoder = nullptr;
  H264Decoder* d = new (std::nothrow) H264Decoder;
  if (!d) {
    *length = 0;
    return VDEC_ERR_ARGUMENT;
  }
  d->DecodeFrameOut = DecodeFrameOut;
  d->DecodeFrame = DecodeFrame;
  d->SetDecoderParam = SetDecoderParam;
  d->GetDecoderParam = GetDecoderParam;
  d->ResetDecoder = ResetDecoder;
  d->DestroyDecoder = DestroyDecoder;
  d->nal_length_size = nal_length_size;
  d->framing_mode = framing_mode == H264_FRAMING_LENGTH_PREFIXED ? H264_FRAMING_LENGTH_PREFIXED : H264_FRAMING_ANNEX_B;
  d->core.SetPictureCallback(OnPicture, d);
  uint32_t consumed = 0;
  const int32_t r = ParseParameterSets(d, data, *length, ps_length_size, &consumed);
  if (r != VDEC_OK) {
    delete d;
    *length = 0;
    return r;
  }
  const h264::Sps& s = *d->core.ActiveSps();
  const int w = s.mb_width * 16, h = s.mb_height * 16;
  info->coded_width = w;
  info->coded_height = h;
  info->display_width = s.frame_cropping ? w - 2 * (s.crop_left + s.crop_right) : w;
  info->display_height = s.frame_cropping ? h - 2 * (s.crop_top + s.crop_bottom) : h;
  info->crop_top = s.frame_cropping ? 2 * s.crop_top : 0;
  info->crop_left = s.frame_cropping ? 2 * s.crop_left : 0;
  info->frame_cropping = s.frame_cropping ? 1 : 0;
  info->reserved = 0;
  info->level_idc = s.level_idc;
  info->num_ref_frames = s.num_ref_frames;
  *length = consumed;
  *decoder = d;
  return VDEC_OK;
}

}  // namespace videodec
