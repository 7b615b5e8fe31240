// A recording held open as the game holds one while the player pauses: the
// host's RecorderIo opens the slot's file for writing in the data directory,
// the header's place and the seed frame go in, then nothing more is written.
// Prints the temporary file's path, then holds it until it is ended (or the
// given number of seconds has passed, so that a test that loses it does not
// leave it behind for long).
//   zt-hold-recording DATA_DIR SLOT SECONDS
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "files.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: zt-hold-recording DATA_DIR SLOT SECONDS\n";
    return 2;
  }
  const std::filesystem::path data_dir = argv[1];
  const std::int32_t slot = std::atoi(argv[2]);
  zt::HostFiles files(data_dir);
  if (files.open_for_write(slot) || files.write(std::vector<std::uint8_t>(56 + 8, 0))) {
    std::cerr << "could not start the recording\n";
    return 1;
  }
  const std::string prefix = ".Rec" + std::to_string(slot) + ".dat." + std::to_string(::getpid());
  for (const auto& entry : std::filesystem::directory_iterator(data_dir / "Rec")) {
    if (entry.path().filename().string().starts_with(prefix)) std::cout << entry.path().string();
  }
  std::cout << std::endl;
  ::sleep(static_cast<unsigned>(std::atoi(argv[3])));
  return 0;
}
