#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>

#include <fstream>
#include <iterator>

#include "dialog_driver.h"
#include "message_window.h"
#include "remove_tree.h"

namespace zt::win::test {

bool pump_until(const std::function<bool()>& done, DWORD timeout_ms) {
  return pump_messages_until(done, timeout_ms);
}

TempDir::TempDir() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  static int counter = 0;
  path_ = std::wstring(base) + L"ztforms" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(++counter);
  CreateDirectoryW(path_.c_str(), nullptr);
}

TempDir::~TempDir() {
  remove_tree(path_);
}

std::string read_bytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary);
  out << bytes;
}

bool file_exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace zt::win::test
