// Where the running executable lives: "Zentria.ini" and "Network.ini" are
// read beside it.
#pragma once

#include <string>

namespace zt::win {

// The directory of the running executable, with a trailing "\".
std::wstring exe_dir();

}  // namespace zt::win
