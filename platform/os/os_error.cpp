#include "platform/os/os_error.h"

#include <cerrno>

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
    case EDQUOT: return kErrorDiskFull;
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

}  // namespace ov
