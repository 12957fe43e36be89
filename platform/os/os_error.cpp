#include "platform/os/os_error.h"

#include <cerrno>
#include <cstdio>

namespace ov {

namespace {
thread_local uint32_t t_last_error = 0;
}  // namespace

uint32_t GetLastError() { return t_last_error; }
void SetLastError(uint32_t error) { t_last_error = error; }

uint32_t ErrorFromErrno(int posix_errno) {
  switch (posix_errno) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kErrorAccessDenied;
    case EEXIST: return kErrorAlreadyExists;
    case EBUSY:
    case ETXTBSY: return kErrorSharingViolation;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;  // no room for the file to grow
    case EFBIG: return kErrorFileTooLarge;  // past the process's file-size limit
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case EINVAL: return kErrorInvalidParameter;
    case ENOMEM: return kErrorNotEnoughMemory;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case EXDEV: return kErrorNotSameDevice;
    case EBADF: return kErrorInvalidHandle;
    case ETIMEDOUT: return kErrorTimeout;
    case EPIPE: return kErrorBrokenPipe;
    case ENOTSUP: return kErrorNotSupported;
    default: return kErrorGenFailure;
  }
}

const char* ErrorText(uint32_t error) {
  switch (error) {
    case kErrorSuccess: return "no error";
    case kErrorFileNotFound: return "no such file";
    case kErrorPathNotFound: return "the folder does not exist";
    case kErrorTooManyOpenFiles: return "too many open files";
    case kErrorAccessDenied: return "access denied (a read-only place, or a folder)";
    case kErrorNotEnoughMemory:
    case kErrorOutOfMemory: return "not enough memory";
    case kErrorWriteFault: return "a write failed";
    case kErrorReadFault: return "a read failed";
    case kErrorSharingViolation: return "the file is in use";
    case kErrorHandleEof: return "the file ends early";
    case kErrorFileExists:
    case kErrorAlreadyExists: return "it exists already";
    case kErrorDiskFull: return "the disk is full";
    case kErrorFileTooLarge: return "the file-size limit is reached";
    case kErrorInvalidName: return "the name is not valid";
    case kErrorFilenameTooLong: return "the name is too long";
    case kErrorFileCorrupt: return "the file is damaged";
    case kErrorBadFileType: return "not a regular file";
    case kErrorTimeout: return "the time-out elapsed";
    default: break;
  }
  thread_local char text[24];
  std::snprintf(text, sizeof text, "error %u", static_cast<unsigned>(error));
  return text;
}

}  // namespace ov
