// ALSA prints its own complaints (no sound card, no /dev/snd/seq) straight to
// standard error. The program reports each failure once, in its own words, so
// that printing is switched off where ALSA is reached.
#pragma once

namespace zt::alsa {

// Off for the rest of the run.
void keep_quiet();

// Off while the guard lives; then back to ALSA's default printing, unless
// keep_quiet was called.
class QuietErrors {
 public:
  QuietErrors();
  ~QuietErrors();
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;
};

}  // namespace zt::alsa
