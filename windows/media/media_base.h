// Small pieces shared by the media units: text in the ANSI code page, owned
// COM references, option sets and byte streams.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zt {

// Text in the system's ANSI code page, as the A functions of Win32 return it.
std::string from_ansi(const char* ansi);
// printf-style formatting into a std::string (the messages' Format calls).
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// One owned reference of a COM interface. release() hands back the count
// that Release reports, which some callers check.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* p) : p_(p) {}
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ComRef& operator=(ComRef&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  ~ComRef() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For the out parameter of a creating call; drops what was held.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  ULONG release() {
    ULONG count = 0;
    if (p_) count = p_->Release();
    p_ = nullptr;
    return count;
  }
  void reset() { release(); }
  // Hands the reference over to the caller.
  T* detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
};

// A set of enumeration values stored as bits 0..31.
template <class E>
class SetOf {
 public:
  constexpr SetOf() = default;
  constexpr SetOf(std::initializer_list<E> items) {
    for (E e : items) bits_ |= bit(e);
  }
  static constexpr SetOf from_bits(std::uint32_t b) {
    SetOf s;
    s.bits_ = b;
    return s;
  }
  constexpr bool contains(E e) const { return (bits_ & bit(e)) != 0; }
  constexpr std::uint32_t bits() const { return bits_; }
  constexpr bool operator==(const SetOf&) const = default;

 private:
  static constexpr std::uint32_t bit(E e) { return 1u << static_cast<unsigned>(e); }
  std::uint32_t bits_ = 0;
};

// A byte stream as the loaders read it: a file or a block of memory.
class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to n bytes, returns how many arrived.
  virtual std::size_t Read(void* buffer, std::size_t n) = 0;
  virtual void Seek(std::uint64_t position) = 0;
  virtual std::uint64_t Position() const = 0;
  virtual std::uint64_t Size() const = 0;
  // True only when all n bytes arrived.
  bool ReadExact(void* buffer, std::size_t n) { return Read(buffer, n) == n; }
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> bytes) : data_(std::move(bytes)) {}
  std::size_t Read(void* buffer, std::size_t n) override;
  void Seek(std::uint64_t position) override { pos_ = position; }
  std::uint64_t Position() const override { return pos_; }
  std::uint64_t Size() const override { return data_.size(); }
  void Write(const void* buffer, std::size_t n);
  void SetSize(std::size_t n) { data_.resize(n); }
  const std::vector<std::uint8_t>& Bytes() const { return data_; }

 private:
  std::vector<std::uint8_t> data_;
  std::uint64_t pos_ = 0;
};

class TFileStream : public TStream {
 public:
  // Opens read-only; nothing when the file cannot be opened.
  static std::unique_ptr<TFileStream> OpenRead(const std::string& path);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  std::size_t Read(void* buffer, std::size_t n) override;
  void Seek(std::uint64_t position) override;
  std::uint64_t Position() const override;
  std::uint64_t Size() const override;

 private:
  explicit TFileStream(HANDLE h) : handle_(h) {}
  HANDLE handle_;
};

}  // namespace zt
