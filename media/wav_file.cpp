#include "media/wav_file.h"

#include <cstring>
#include <new>

#include "platform/os/os_error.h"

namespace media {

namespace {

void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

uint32_t ErrorOr(uint32_t fallback) {
  uint32_t e = ov::GetLastError();
  return e ? e : fallback;
}

}  // namespace

void StoreWavFormat(const WavFormat& f, uint8_t out[16]) {
  out[0] = static_cast<uint8_t>(f.formatTag);
  out[1] = static_cast<uint8_t>(f.formatTag >> 8);
  out[2] = static_cast<uint8_t>(f.channels);
  out[3] = static_cast<uint8_t>(f.channels >> 8);
  Put32(out + 4, f.samplesPerSecond);
  Put32(out + 8, f.averageBytesPerSecond);
  out[12] = static_cast<uint8_t>(f.blockAlign);
  out[13] = static_cast<uint8_t>(f.blockAlign >> 8);
  out[14] = static_cast<uint8_t>(f.bitsPerSample);
  out[15] = static_cast<uint8_t>(f.bitsPerSample >> 8);
}

WavFormat LoadWavFormat(const uint8_t in[16]) {
  WavFormat f;
  f.formatTag = static_cast<uint16_t>(in[0] | (in[1] << 8));
  f.channels = static_cast<uint16_t>(in[2] | (in[3] << 8));
  f.samplesPerSecond = Get32(in + 4);
  f.averageBytesPerSecond = Get32(in + 8);
  f.blockAlign = static_cast<uint16_t>(in[12] | (in[13] << 8));
  f.bitsPerSample = static_cast<uint16_t>(in[14] | (in[15] << 8));
  return f;
}

WavFile::WavFile(uint32_t user) : userValue(user) {}

WavFile::WavFile(const ov::String& path, uint32_t access, ov::CreateMode mode, const WavFormat& f, uint32_t user)
    : userValue(user) {
  status = Open(path, access, mode, f);
}

WavFile::~WavFile() { Close(); }

uint32_t WavFile::Fail(uint32_t error) {
  Close();
  status = error;
  return error;
}

uint32_t WavFile::Open(const ov::String& path, uint32_t access, ov::CreateMode mode, const WavFormat& f,
                       std::vector<uint8_t>* formatChunk) {
  Close();
  const uint32_t share = ov::kShareRead | ov::kShareWrite;
  if (!main_.Open(path, access, share, mode)) return Fail(ErrorOr(ov::kErrorFileNotFound));
  if (access & ov::kGenericWrite) {
    // Two more handles, each kept on one size field.
    if (!riff_size_.Open(path, access, share, ov::CreateMode::kOpenExisting) ||
        !data_size_.Open(path, access, share, ov::CreateMode::kOpenExisting)) {
      return Fail(ErrorOr(ov::kErrorFileNotFound));
    }
  }
  uint64_t size = 0;
  if (!main_.GetSize(&size)) return Fail(ErrorOr(ov::kErrorInvalidHandle));
  status = size == 0 ? WriteHeader(f) : ParseHeader(formatChunk);
  // A writer reopening a file appends after its data, over the pad byte a
  // Close may have added (and counted in the RIFF size).
  if (status == 0 && size != 0 && (access & ov::kGenericWrite)) {
    main_.Seek(int64_t{dataOffset} + dataSize, ov::SeekFrom::kBegin);
    riffSize = dataOffset + dataSize - 8;
  }
  return status;
}

uint32_t WavFile::WriteHeader(const WavFormat& f) {
  uint8_t h[kHeaderBytes];
  std::memcpy(h, "RIFF", 4);
  Put32(h + 4, 36);
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  Put32(h + 16, 16);
  StoreWavFormat(f, h + 20);
  std::memcpy(h + 36, "data", 4);
  Put32(h + 40, 0);
  uint32_t written = 0;
  if (!main_.Write(h, kHeaderBytes, &written) || written != kHeaderBytes) return Fail(ErrorOr(ov::kErrorWriteFault));
  format = f;
  riffSize = 36;
  dataSize = 0;
  dataOffset = kHeaderBytes;
  if (riff_size_.IsOpen()) riff_size_.Seek(4, ov::SeekFrom::kBegin);
  if (data_size_.IsOpen()) data_size_.Seek(40, ov::SeekFrom::kBegin);
  return 0;
}

uint32_t WavFile::ParseHeader(std::vector<uint8_t>* formatChunk) {
  uint64_t file_size = 0;
  main_.GetSize(&file_size);
  main_.Seek(0, ov::SeekFrom::kBegin);
  auto read = [this](void* out, uint32_t n) {
    uint32_t got = 0;
    return main_.Read(out, n, &got) && got == n;
  };
  uint8_t word[4];
  if (!read(word, 4) || std::memcmp(word, "RIFF", 4) != 0) return Fail(ov::kErrorFileCorrupt);
  if (riff_size_.IsOpen()) riff_size_.Seek(4, ov::SeekFrom::kBegin);
  if (!read(word, 4)) return Fail(ov::kErrorFileCorrupt);
  riffSize = Get32(word);
  if (!read(word, 4) || std::memcmp(word, "WAVE", 4) != 0) return Fail(ov::kErrorFileCorrupt);
  bool have_format = false;
  for (;;) {
    // Every chunk header must lie wholly inside the file: the walk stops at
    // its end instead of reading stale ids.
    uint8_t chunk[8];
    if (!read(chunk, 8)) return Fail(ov::kErrorFileCorrupt);
    const uint32_t size = Get32(chunk + 4);
    const uint64_t body = main_.Position();
    if (std::memcmp(chunk, "data", 4) == 0) {
      if (data_size_.IsOpen()) data_size_.Seek(static_cast<int64_t>(body) - 4, ov::SeekFrom::kBegin);
      if (!have_format) return Fail(ov::kErrorFileCorrupt);
      // A size past the end of the file (a cut-off copy) counts the bytes
      // that are there.
      uint64_t held = file_size - body;
      dataSize = size <= held ? size : static_cast<uint32_t>(held);
      dataOffset = static_cast<uint32_t>(body);
      return 0;
    }
    if (size > file_size - body) return Fail(ov::kErrorFileCorrupt);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16) return Fail(ov::kErrorFileCorrupt);
      std::vector<uint8_t> fmt;
      try {
        fmt.assign(size_t{size} + 2, 0);
      } catch (const std::bad_alloc&) {
        return Fail(ov::kErrorNotEnoughMemory);
      }
      if (!read(fmt.data(), size)) return Fail(ErrorOr(ov::kErrorFileCorrupt));
      format = LoadWavFormat(fmt.data());
      have_format = true;
      if (formatChunk) *formatChunk = std::move(fmt);
    } else if (std::memcmp(chunk, "fact", 4) == 0 && size >= 4) {
      if (!read(word, 4)) return Fail(ov::kErrorFileCorrupt);
      factValue = Get32(word);
    }
    // RIFF chunks are word-aligned: an odd-sized chunk is followed by a pad
    // byte.
    uint64_t next = body + size + (size & 1);
    if (!main_.Seek(static_cast<int64_t>(next), ov::SeekFrom::kBegin)) return Fail(ErrorOr(ov::kErrorFileCorrupt));
  }
}

bool WavFile::WriteSizeField(ov::File& handle, uint32_t value) {
  if (!handle.IsOpen()) return true;
  uint8_t b[4];
  Put32(b, value);
  uint32_t written = 0;
  if (!handle.Write(b, 4, &written) || written != 4) return false;
  return handle.Seek(-4, ov::SeekFrom::kCurrent);
}

bool WavFile::Append(const void* buffer, uint32_t bytes, uint32_t* written) {
  *written = 0;
  if (!main_.IsOpen()) return false;
  // The RIFF size (file length - 8, with the zero pad an odd length gets at
  // Close) must stay a 32-bit number: past it the header would wrap and
  // describe a fraction of the file. The file is left as it stands.
  if (uint64_t{riffSize} + bytes + ((uint64_t{dataSize} + bytes) & 1) > UINT32_MAX) {
    status = ov::kErrorFileTooLarge;
    return false;
  }
  uint32_t done = 0;
  bool ok = main_.Write(buffer, bytes, &done);
  if (!ok || done != bytes) {
    // The header keeps describing what was written before; the partial
    // block is cut off again.
    main_.Seek(int64_t{dataOffset} + dataSize, ov::SeekFrom::kBegin);
    main_.SetEndOfFile();
    status = ErrorOr(ov::kErrorWriteFault);
    return false;
  }
  *written = done;
  dataSize += done;
  riffSize += done;
  main_.SetEndOfFile();
  if (!WriteSizeField(riff_size_, riffSize) || !WriteSizeField(data_size_, dataSize)) {
    status = ErrorOr(ov::kErrorWriteFault);
    return false;
  }
  return true;
}

bool WavFile::Close() {
  bool ok = true;
  if (main_.IsOpen() && (riff_size_.IsOpen() || data_size_.IsOpen())) {
    uint64_t size = 0;
    if (main_.GetSize(&size) && (size & 1)) {
      uint8_t zero = 0;
      uint32_t written = 0;
      main_.Seek(0, ov::SeekFrom::kEnd);
      // The pad byte belongs to the RIFF chunk: its size becomes the new
      // file length - 8 (the data size stays as it is). A pad that cannot
      // be written (a full disk, the file-size limit) leaves a file that
      // readers may refuse: the close fails with the write's error.
      ok = main_.Write(&zero, 1, &written) && written == 1;
      if (!ok) status = ErrorOr(ov::kErrorWriteFault);
      if (ok && (size + 1 - 8 > UINT32_MAX || !WriteSizeField(riff_size_, static_cast<uint32_t>(size + 1 - 8)))) {
        status = ErrorOr(ov::kErrorWriteFault);
        ok = false;
      }
    }
  }
  main_.Close();
  riff_size_.Close();
  data_size_.Close();
  dataSize = 0;
  riffSize = 0;
  dataOffset = 0;
  return ok;
}

}  // namespace media
