#include "media_base.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "text_codec.h"

namespace zt {

std::string from_ansi(const char* ansi) {
  if (!ansi || !*ansi) return {};
  return wide_to_utf8(from_code_page(ansi, CP_ACP));
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, args);
  va_end(args);
  return out;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t n) {
  if (pos_ >= data_.size()) return 0;
  std::size_t avail = data_.size() - static_cast<std::size_t>(pos_);
  std::size_t count = n < avail ? n : avail;
  std::memcpy(buffer, data_.data() + pos_, count);
  pos_ += count;
  return count;
}

void TMemoryStream::Write(const void* buffer, std::size_t n) {
  std::size_t end = static_cast<std::size_t>(pos_) + n;
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + pos_, buffer, n);
  pos_ = end;
}

std::unique_ptr<TFileStream> TFileStream::OpenRead(const std::string& path) {
  HANDLE h = CreateFileW(utf8_to_wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::unique_ptr<TFileStream>(new TFileStream(h));
}

TFileStream::~TFileStream() {
  CloseHandle(handle_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t n) {
  std::size_t total = 0;
  auto* p = static_cast<std::uint8_t*>(buffer);
  while (total < n) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - total, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(handle_, p + total, chunk, &got, nullptr) || got == 0) break;
    total += got;
  }
  return total;
}

void TFileStream::Seek(std::uint64_t position) {
  LARGE_INTEGER li;
  li.QuadPart = static_cast<LONGLONG>(position);
  SetFilePointerEx(handle_, li, nullptr, FILE_BEGIN);
}

std::uint64_t TFileStream::Position() const {
  LARGE_INTEGER zero{}, pos{};
  SetFilePointerEx(handle_, zero, &pos, FILE_CURRENT);
  return static_cast<std::uint64_t>(pos.QuadPart);
}

std::uint64_t TFileStream::Size() const {
  LARGE_INTEGER size{};
  GetFileSizeEx(handle_, &size);
  return static_cast<std::uint64_t>(size.QuadPart);
}

}  // namespace zt
