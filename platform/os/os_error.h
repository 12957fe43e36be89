#pragma once
// The platform error numbers that the program stores and compares, and the
// per-thread last error that every failing call of platform/os sets.
//
// Thread: the last error belongs to the calling thread, as on the platform;
// a call that succeeds leaves it unchanged unless its documentation says so.

#include <cstdint>

namespace ov {

enum : uint32_t {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorInvalidData = 13,
  kErrorOutOfMemory = 14,
  kErrorNotSameDevice = 17,
  kErrorNoMoreFiles = 18,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorGenFailure = 31,
  kErrorSharingViolation = 32,
  kErrorHandleEof = 38,
  kErrorNotSupported = 50,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorBrokenPipe = 109,
  kErrorDiskFull = 112,
  kErrorInsufficientBuffer = 122,
  kErrorInvalidName = 123,
  kErrorNegativeSeek = 131,
  kErrorDirNotEmpty = 145,
  kErrorAlreadyExists = 183,
  kErrorFilenameTooLong = 206,
  kErrorBadFileType = 222,  // a FIFO, socket or device where a file was expected
  kErrorFileTooLarge = 223,  // past the file-size limit (the process's, or what the format can hold)
  kErrorPipeNotConnected = 233,  // a queue write with no reader
  kErrorMoreData = 234,
  kErrorWaitTimeout = 258,
  kErrorStillActive = 259,  // also the exit code of a process that still runs
  kErrorNotOwner = 288,     // release of a mutex the thread does not own
  kErrorModuleNotFound = 126,     // a library that cannot be loaded
  kErrorProcedureNotFound = 127,  // a library without that export
  kErrorBadExeFormat = 193,
  kErrorFileCorrupt = 1392,
  kErrorTimeout = 1460,
};

// The calling thread's last error.
uint32_t GetLastError();
void SetLastError(uint32_t error);

// Maps a POSIX errno value to the nearest platform error number. ENOENT maps
// to kErrorFileNotFound; callers that can tell a missing folder apart give
// kErrorPathNotFound themselves.
uint32_t ErrorFromErrno(int posix_errno);

// A short English reason for an error number, for messages on the command
// line ("no such file", "the folder does not exist", "access denied", "the
// disk is full", "the file-size limit is reached"; "error N" for numbers
// without a text of their own).
const char* ErrorText(uint32_t error);

}  // namespace ov
