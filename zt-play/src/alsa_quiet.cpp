#include "alsa_quiet.h"

#include <alsa/asoundlib.h>

namespace zt::alsa {

namespace {

bool kept_quiet = false;

void ignore(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void keep_quiet() {
  kept_quiet = true;
  snd_lib_error_set_handler(ignore);
}

QuietErrors::QuietErrors() {
  snd_lib_error_set_handler(ignore);
}

QuietErrors::~QuietErrors() {
  if (!kept_quiet) snd_lib_error_set_handler(nullptr);
}

}  // namespace zt::alsa
