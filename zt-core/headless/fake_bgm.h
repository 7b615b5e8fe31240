// Music doubles: a BgmBackend that logs every call as a text line, a
// KbgmSink over a set of file names, and a host that holds both.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "game/glue.h"

namespace zt {

// Lines look like "open(10, -1)", "play(1, true)", "fade_out_active() -> false",
// "load_file(title.mid) -> 1".
class FakeBgm : public BgmBackend {
 public:
  std::int32_t open_result = 0;
  std::int32_t play_result = 0;
  bool fade_out_active_result = false;
  // When set, every load_file answers this; otherwise loads hand out 1, 2, ...
  // like the real backends, and names in fail_loads answer 0.
  std::optional<std::int32_t> load_file_result;
  std::set<std::string, std::less<>> fail_loads;

  std::vector<std::string> log;
  // The log so far, which is then cleared.
  std::vector<std::string> take_log();

  std::int32_t open(std::int32_t a, std::int32_t b) override;
  void send_sysx(std::int32_t n) override;
  void stop() override;
  void init(std::int32_t handle) override;
  std::int32_t play(std::int32_t handle, bool repeat) override;
  void fade_in(std::int32_t handle, std::int32_t seconds) override;
  void fade_out(std::int32_t handle, std::int32_t seconds) override;
  void set_volume(std::int32_t handle, std::int32_t volume) override;
  void set_repeat(std::int32_t handle, std::int32_t a, std::int32_t b) override;
  bool fade_out_active() override;
  std::int32_t load_file(std::string_view file_name) override;
  void pump() override;

 private:
  std::int32_t next_handle_ = 1;
};

class FakeKbgmSink : public KbgmSink {
 public:
  std::set<std::string, std::less<>> existing;
  std::vector<std::string> asked;  // every name asked about, in order

  bool file_exists(std::string_view name) override;
};

// The two music interfaces of a host, for code that takes the host generically.
struct FakeMusicHost {
  FakeBgm backend;
  FakeKbgmSink sink;

  BgmBackend& bgm() { return backend; }
  KbgmSink& kbgm_sink() { return sink; }
};

}  // namespace zt
