// Where the running executable lives: "Zentria.ini", "Network.ini" and the
// media units' debug logs are beside it.
#pragma once

#include <string>

namespace zt {

// The directory of the running executable, with a trailing "\".
std::wstring exe_dir();

}  // namespace zt
