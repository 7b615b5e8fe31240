#include "qdarc.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zt {
namespace {

constexpr char kBadArchive[] = "Quadruple D Archiveの扱えるデータではありません";
constexpr char kNoMember[] = "アーカイブ内には指定されたID '%s' を持つデータが見つかりません";

constexpr std::size_t kHeaderSize = 256;
constexpr std::size_t kEntrySize = 268;
constexpr std::size_t kStackCodes = 256;
// Far beyond any real member: a hostile pair table cannot make the
// decoder run away with memory.
constexpr std::size_t kOutputLimit = std::size_t{64} << 20;

std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

std::wstring lower(const std::wstring& s) {
  std::wstring out = s;
  if (!out.empty()) CharLowerBuffW(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

// Whether some code of the table reaches itself through its pair bytes:
// such a code would expand without end.
bool has_cycle(const std::array<std::uint8_t, 256>& left,
               const std::array<std::uint8_t, 256>& right) {
  std::array<std::uint8_t, 256> state{};  // 0 new, 1 on the path, 2 done
  struct Frame {
    int code;
    int next;  // 0: visit left, 1: visit right, 2: finished
  };
  for (int start = 0; start < 256; ++start) {
    if (state[start] != 0) continue;
    std::vector<Frame> path{{start, 0}};
    state[start] = 1;
    while (!path.empty()) {
      Frame& f = path.back();
      int c = f.code;
      if (left[c] == c || f.next == 2) {
        state[c] = 2;
        path.pop_back();
        continue;
      }
      int child = f.next == 0 ? left[c] : right[c];
      ++f.next;
      if (state[child] == 1) return true;
      if (state[child] == 0) {
        state[child] = 1;
        path.push_back({child, 0});
      }
    }
  }
  return false;
}

class Decoder {
 public:
  explicit Decoder(const std::vector<std::uint8_t>& in) : in_(in) {}

  // Decodes block after block until the input is used up; input that ends
  // inside a block ends the decoding with what was produced.
  void run(TMemoryStream& out) {
    while (pos_ < in_.size()) {
      if (!read_table()) return;
      if (in_.size() - pos_ < 4) return;
      std::uint32_t packed = le32(in_.data() + pos_);
      pos_ += 4;
      if (has_cycle(left_, right_)) throw EQDAError(kBadArchive);
      expand(packed, out);
    }
  }

 private:
  bool byte(std::uint8_t& b) {
    if (pos_ >= in_.size()) return false;
    b = in_[pos_++];
    return true;
  }

  bool read_table() {
    for (int c = 0; c < 256; ++c) left_[c] = static_cast<std::uint8_t>(c);
    right_.fill(0);
    int k = 0;
    for (;;) {
      std::uint8_t b;
      if (!byte(b)) return false;
      int codes;
      if (b > 127) {
        k += b - 127;
        codes = 1;
      } else {
        codes = b + 1;
      }
      for (int i = 0; i < codes && k < 256; ++i) {
        std::uint8_t l;
        if (!byte(l)) return false;
        left_[k] = l;
        if (l != k) {
          std::uint8_t r;
          if (!byte(r)) return false;
          right_[k] = r;
        }
        ++k;
      }
      if (k >= 256) return true;
    }
  }

  void expand(std::uint32_t packed, TMemoryStream& out) {
    std::array<std::uint8_t, kStackCodes> stack;
    std::size_t top = 0;
    for (;;) {
      std::uint8_t c;
      if (top > 0) {
        c = stack[--top];
      } else {
        if (packed == 0 || pos_ >= in_.size()) return;
        c = in_[pos_++];
        --packed;
      }
      if (left_[c] == c) {
        if (out.Position() >= kOutputLimit) throw EQDAError(kBadArchive);
        out.Write(&c, 1);
      } else if (top + 2 <= kStackCodes) {
        stack[top++] = right_[c];
        stack[top++] = left_[c];
      }
      // A pair on a full stack is dropped.
    }
  }

  const std::vector<std::uint8_t>& in_;
  std::size_t pos_ = 0;
  std::array<std::uint8_t, 256> left_{};
  std::array<std::uint8_t, 256> right_{};
};

void read_or_throw(TStream& s, void* buffer, std::size_t n) {
  if (!s.ReadExact(buffer, n)) throw std::runtime_error("Stream read error");
}

}  // namespace

std::unique_ptr<TMemoryStream> ExtractFromQDA(const std::string& archive_name,
                                              const std::string& member_name) {
  auto file = TFileStream::OpenRead(archive_name);
  if (!file) throw std::runtime_error("Cannot open file \"" + archive_name + "\"");

  std::uint8_t header[kHeaderSize];
  read_or_throw(*file, header, sizeof header);
  if (std::memcmp(header + 4, "QDA0", 4) != 0) throw EQDAError(kBadArchive);
  bool encoded = static_cast<std::int32_t>(le32(header)) == 1;
  auto count = static_cast<std::int32_t>(le32(header + 8));

  std::wstring wanted = lower(widen(member_name));
  std::vector<std::uint8_t> entry(kEntrySize);
  bool found = false;
  std::uint32_t offset = 0, stored = 0, unpacked = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    read_or_throw(*file, entry.data(), kEntrySize);
    const char* name = reinterpret_cast<const char*>(entry.data() + 12);
    std::size_t len = strnlen(name, 256);
    if (lower(widen(std::string(name, len))) == wanted) {
      offset = le32(entry.data());
      stored = le32(entry.data() + 4);
      unpacked = le32(entry.data() + 8);
      found = true;
      break;
    }
  }
  if (!found) throw EQDAError(format(kNoMember, member_name.c_str()));

  std::uint64_t size = file->Size();
  std::uint32_t length = encoded ? stored : unpacked;
  if (offset > size || length > size - offset) throw std::runtime_error("Stream read error");
  if (encoded && unpacked > kOutputLimit) throw EQDAError(kBadArchive);

  auto out = std::make_unique<TMemoryStream>();
  file->Seek(offset);
  if (!encoded) {
    std::vector<std::uint8_t> bytes(unpacked);
    read_or_throw(*file, bytes.data(), bytes.size());
    out->Write(bytes.data(), bytes.size());
  } else {
    std::vector<std::uint8_t> input(stored);
    read_or_throw(*file, input.data(), input.size());
    out->SetSize(unpacked);
    Decoder(input).run(*out);
  }
  out->Seek(0);
  return out;
}

}  // namespace zt
