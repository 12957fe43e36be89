#pragma once
// The platform's outside filters of the encoding graphs, over libavformat
// and libavcodec (target ov_dshow_outside, apart from ov_dshow so that the
// frame source plug-in does not pull them in):
// - the MP4/3GP multiplexer and file sink (class MEDIASUBTYPE_Mp4Mux): two
//   input pins taking the encoder objects' H.263, MPEG-4, AAC (raw) and
//   AMR-NB streams; the container follows the file name's extension
//   (".3gp"; ".mp4", which takes the 3GP writer for H.263 or AMR-NB; ".aac"
//   as ADTS; ".amr" as "#!AMR\n" and frames). An audio sample holds packed
//   frames whose count and sizes follow its data in the buffer (a 32-bit
//   count, then a 16-bit size each); empty entries are skipped. Packets are
//   interleaved by time without ever making one input wait for the other.
//   Once every connected input has ended and the file is closed, the filter
//   reports EC_COMPLETE; a write that fails reports EC_ERRORABORT.
// - the WMV encoder object (CLSID_WmvEncoderDmo): bottom-up RGB555 frames
//   under MEDIATYPE_PrivateVideo to WMV2 frames; property "_VBRQUALITY"
//   (VT_INT or VT_UI4, 0-100, default 100) sets the quantiser.
// - the ASF writer (CLSID_AsfWriter), a file sink: its first pin "Mux Audio
//   Input Pin" takes 16-bit PCM and codes it as WMA (wmav2), its last pin
//   the WMV encoder object's frames; completion and write failures as the
//   multiplexer's.
//
// Thread: the filters' streaming calls come from their upstream threads,
// each under the filter's own lock.

#include "platform/com/unknown.h"
#include "platform/dshow/encoded_types.h"
#include "platform/dshow/encoder_ids.h"

namespace dshow {

HRESULT CreateMp4MuxFilter(const GUID& iid, void** object);
HRESULT CreateAsfWriterFilter(const GUID& iid, void** object);
HRESULT CreateWmvEncoderDmo(const GUID& iid, void** object);

// Registers the three as classes of this process. Any thread; repeatable.
void RegisterOutsideFilters();

// Lets the codec and container library tell errors alone: its notes (a
// frame rate reduced, statistics at the end) are not the user's business on
// a render's stderr. Any thread; once per process.
void QuietCodecLog();

}  // namespace dshow
