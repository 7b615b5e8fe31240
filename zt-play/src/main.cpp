#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "dialog.h"
#include "game.h"

namespace {

// FluidSynth loads a SoundFont on OpenMP workers, which by default spin for a
// while after their work: at start-up that more than doubles the CPU the load
// takes, and on a busy machine its time too. The runtime reads its wait
// policy once, as it is loaded with the program, before main; so the program
// starts itself again with the passive policy. One the user set is kept, and
// when the new start fails the program simply goes on.
void make_openmp_workers_wait_passively(char** argv) {
  if (getenv("OMP_WAIT_POLICY") != nullptr) return;
  // The program's own path rather than the link to it, whose name the
  // process would take.
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || setenv("OMP_WAIT_POLICY", "passive", 1) != 0) return;
  execv(self.c_str(), argv);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 0) make_openmp_workers_wait_passively(argv);
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (const std::optional<std::string> error = zt::game::run(args)) {
    std::cerr << "error: " << *error << std::endl;
    zt::dialog::show(zt::dialog::kError, *error);
    return 2;
  }
  return 0;
}
