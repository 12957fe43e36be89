#pragma once
// The process's file-size limit lowered for one test and put back when the
// object goes. A write past it fails (EFBIG) instead of raising SIGXFSZ.
// ctest runs each test in a process of its own, so no other test shares it.

#include <signal.h>
#include <sys/resource.h>

#include <cstdint>

namespace ovtest {

class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(uint64_t bytes) {
    ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(bytes);
    ok_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~ScopedFileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;
  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  bool ok_ = false;
};

}  // namespace ovtest
