// A disk that fills up, for one process: while a FileSizeLimit lives, a write
// that would make a file longer than the limit fails with EFBIG, as a full
// disk fails with ENOSPC, instead of raising SIGXFSZ.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <cstddef>

namespace zt::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::size_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    old_signal_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, old_signal_);
  }

 private:
  rlimit old_{};
  void (*old_signal_)(int) = SIG_DFL;
};

}  // namespace zt::test
