#include <iostream>
#include <string>
#include <vector>

#include "dialog.h"
#include "game.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (const std::optional<std::string> error = zt::game::run(args)) {
    std::cerr << "error: " << *error << std::endl;
    zt::dialog::show(zt::dialog::kError, *error);
    return 2;
  }
  return 0;
}
