// Removes a folder and everything in it, quietly: tests clean up after
// themselves whatever a run left behind.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>

namespace zt::win::test {

inline void remove_tree(const std::wstring& path) {
  std::wstring from = path;
  from.push_back(L'\0');  // the list of names ends with an empty one
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  SHFileOperationW(&op);
}

}  // namespace zt::win::test
