// Turns a hang into a failure: when the watchdog is not dropped within its
// time, it names what hung on standard error and ends the process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace zt::test {

class Watchdog {
 public:
  Watchdog(std::chrono::seconds limit, std::string what)
      : what_(std::move(what)), thread_([this, limit] { watch(limit); }) {}
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_changed_.notify_all();
    thread_.join();
  }

 private:
  void watch(std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    if (done_changed_.wait_for(lock, limit, [this] { return done_; })) return;
    std::fprintf(stderr, "still running after %lld s: %s\n", static_cast<long long>(limit.count()),
                 what_.c_str());
    std::fflush(stderr);
    std::_Exit(3);
  }

  std::string what_;
  std::mutex mutex_;
  std::condition_variable done_changed_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace zt::test
