// A folder of its own for each test, under the temporary folder, emptied
// before and after; files in it are read and written whole.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zt::win::test {

inline std::string read_all(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_all(const std::wstring& path, const std::string& bytes) {
  std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

// Sets the file's last write time that many seconds into the past.
inline void age_file(const std::wstring& path, int seconds) {
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  t.QuadPart -= static_cast<ULONGLONG>(seconds) * 10000000ull;
  const FILETIME then{t.LowPart, t.HighPart};
  SetFileTime(h, nullptr, nullptr, &then);
  CloseHandle(h);
}

// A file of that size without writing its bytes (sparse where the file system
// allows).
inline bool make_sized_file(const std::wstring& path, LONGLONG size) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = size;
  const bool ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  return ok;
}

class TestFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    dir_ = std::wstring(tmp) + L"zt_" + std::wstring(name.begin(), name.end()) + L"\\";
    remove(dir_);
    CreateDirectoryW(dir_.c_str(), nullptr);
  }
  void TearDown() override { remove(dir_); }

  // The names in the folder, sorted.
  std::vector<std::wstring> names(const std::wstring& sub = L"") const {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((dir_ + sub + L"*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
      const std::wstring n = d.cFileName;
      if (n != L"." && n != L"..") out.push_back(n);
    } while (FindNextFileW(h, &d));
    FindClose(h);
    std::sort(out.begin(), out.end());
    return out;
  }

  std::wstring dir_;

 private:
  static void remove(const std::wstring& dir) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((dir + L"*").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring n = d.cFileName;
        if (n == L"." || n == L"..") continue;
        const std::wstring p = dir + n;
        SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          remove(p + L"\\");
        } else {
          DeleteFileW(p.c_str());
        }
      } while (FindNextFileW(h, &d));
      FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
  }
};

}  // namespace zt::win::test
