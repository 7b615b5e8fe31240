#include "media_test_support.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "exe_dir.h"
#include "media_base.h"
#include "medialog.h"
#include "remove_tree.h"
#include "text_codec.h"

namespace zt::test {

int halt_count = 0;
void counting_halt() {
  ++halt_count;
}

void put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
void put_text(Bytes& b, const char* s) {
  while (*s) b.push_back(static_cast<std::uint8_t>(*s++));
}

Bytes make_bmp(const BmpPicture& p) {
  const int h = static_cast<int>(p.rows.size());
  const int w = h ? static_cast<int>(p.rows[0].size()) : 0;
  const int bytes = p.bits / 8;
  const int row = (w * bytes + 3) / 4 * 4;
  const std::uint32_t off = 14 + 40 + 4 * p.table_entries;
  Bytes b;
  put_text(b, "BM");
  put32(b, off + static_cast<std::uint32_t>(row * h));
  put32(b, 0);
  put32(b, off);
  put32(b, 40);
  put32(b, static_cast<std::uint32_t>(w));
  put32(b, static_cast<std::uint32_t>(h));
  put16(b, 1);
  put16(b, static_cast<std::uint32_t>(p.bits));
  put32(b, 0);
  put32(b, static_cast<std::uint32_t>(row * h));
  put32(b, 2835);
  put32(b, 2835);
  put32(b, p.clr_used);
  put32(b, 0);
  for (std::uint32_t i = 0; i < p.table_entries; ++i) {
    std::uint32_t c = i < p.palette.size() ? p.palette[i] : 0;
    b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
    b.push_back(static_cast<std::uint8_t>(c >> 16));
    b.push_back(0);
  }
  for (int y = h - 1; y >= 0; --y) {
    std::size_t start = b.size();
    for (int x = 0; x < w; ++x) {
      std::uint32_t v = p.rows[y][x];
      switch (bytes) {
        case 1:
          b.push_back(static_cast<std::uint8_t>(v));
          break;
        case 2: {
          std::uint32_t r = (v >> 19) & 31, g = (v >> 11) & 31, bl = (v >> 3) & 31;
          put16(b, 0x8000 | (r << 10) | (g << 5) | bl);
          break;
        }
        case 3:
          b.push_back(static_cast<std::uint8_t>(v));
          b.push_back(static_cast<std::uint8_t>(v >> 8));
          b.push_back(static_cast<std::uint8_t>(v >> 16));
          break;
        default:
          put32(b, v | 0xFF000000u);
          break;
      }
    }
    while (b.size() - start < static_cast<std::size_t>(row)) b.push_back(0);
  }
  return b;
}

BmpPicture solid_picture(int width, int height, int bits, std::uint32_t value) {
  BmpPicture p;
  p.bits = bits;
  p.rows.assign(static_cast<std::size_t>(height),
                std::vector<std::uint32_t>(static_cast<std::size_t>(width), value));
  return p;
}

Bytes make_wav(std::uint32_t rate, std::uint16_t bits, std::uint16_t channels, std::uint32_t frames,
               bool with_data) {
  const std::uint32_t align = channels * bits / 8u;
  const std::uint32_t data_size = frames * align;
  Bytes body;
  put_text(body, "WAVE");
  put_text(body, "fmt ");
  put32(body, 16);
  put16(body, 1);
  put16(body, channels);
  put32(body, rate);
  put32(body, rate * align);
  put16(body, align);
  put16(body, bits);
  if (with_data) {
    put_text(body, "data");
    put32(body, data_size);
    for (std::uint32_t i = 0; i < data_size; ++i)
      body.push_back(static_cast<std::uint8_t>(128 + (i % 32) - 16));
  } else {
    put_text(body, "LIST");
    put32(body, 4);
    put_text(body, "INFO");
  }
  Bytes b;
  put_text(b, "RIFF");
  put32(b, static_cast<std::uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

namespace {

Bytes make_qda(std::int32_t flag, const std::vector<QdaMember>& members,
               const std::vector<std::uint32_t>& unpacked) {
  Bytes b;
  put32(b, static_cast<std::uint32_t>(flag));
  put_text(b, "QDA0");
  put32(b, static_cast<std::uint32_t>(members.size()));
  b.resize(256, 0);
  std::uint32_t offset = static_cast<std::uint32_t>(256 + 268 * members.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    put32(b, offset);
    put32(b, static_cast<std::uint32_t>(members[i].data.size()));
    put32(b, unpacked[i]);
    Bytes name(256, 0);
    std::copy(members[i].name.begin(), members[i].name.end(), name.begin());
    b.insert(b.end(), name.begin(), name.end());
    offset += static_cast<std::uint32_t>(members[i].data.size());
  }
  for (const QdaMember& m : members) b.insert(b.end(), m.data.begin(), m.data.end());
  return b;
}

}  // namespace

Bytes make_qda_plain(const std::vector<QdaMember>& members) {
  std::vector<std::uint32_t> sizes;
  for (const QdaMember& m : members) sizes.push_back(static_cast<std::uint32_t>(m.data.size()));
  return make_qda(0, members, sizes);
}

Bytes make_qda_encoded(const std::vector<QdaMember>& members,
                       const std::vector<std::uint32_t>& unpacked) {
  return make_qda(1, members, unpacked);
}

Bytes bpe_encode(const Bytes& data, std::size_t block_size) {
  Bytes out;
  for (std::size_t start = 0; start < data.size(); start += block_size) {
    Bytes block(
        data.begin() + static_cast<std::ptrdiff_t>(start),
        data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), start + block_size)));
    std::array<bool, 256> used{};
    for (std::uint8_t v : block) used[v] = true;
    int code = -1;
    for (int c = 255; c >= 0 && code < 0; --c) {
      if (!used[c]) code = c;
    }
    std::array<int, 65536> count{};
    int best = -1, best_n = 1;
    for (std::size_t i = 0; i + 1 < block.size(); ++i) {
      int pair = block[i] << 8 | block[i + 1];
      if (++count[pair] > best_n) {
        best_n = count[pair];
        best = pair;
      }
    }
    Bytes packed;
    if (code >= 0 && best >= 0) {
      for (std::size_t i = 0; i < block.size(); ++i) {
        if (i + 1 < block.size() && (block[i] << 8 | block[i + 1]) == best) {
          packed.push_back(static_cast<std::uint8_t>(code));
          ++i;
        } else {
          packed.push_back(block[i]);
        }
      }
      // Table run: skip to the code (literal entries where a skip lands
      // short of it), define it, skip to the end.
      int k = 0;
      while (code - k > 128) {
        out.push_back(255);
        k += 128;
        out.push_back(static_cast<std::uint8_t>(k));
        ++k;
      }
      out.push_back(static_cast<std::uint8_t>(code == k ? 0 : 127 + (code - k)));
      out.push_back(static_cast<std::uint8_t>(best >> 8));
      out.push_back(static_cast<std::uint8_t>(best & 0xFF));
      k = code + 1;
      while (k < 256) {
        int skip = std::min(128, 256 - k);
        out.push_back(static_cast<std::uint8_t>(127 + skip));
        k += skip;
        if (k < 256) {
          out.push_back(static_cast<std::uint8_t>(k));
          ++k;
        }
      }
    } else {
      packed = block;
      out.push_back(254);
      out.push_back(127);
      out.push_back(255);
    }
    put32(out, static_cast<std::uint32_t>(packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
  }
  return out;
}

namespace {

// The process's folder for its files, removed with everything in it when the
// process ends (a halt's exit included). A test may have made it the current
// directory, which cannot be removed: the current directory moves out first.
class TempFolder {
 public:
  TempFolder() {
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    base_ = base;
    path_ = base_ + L"zt-media-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempFolder() {
    SetCurrentDirectoryW(base_.c_str());
    win::test::remove_tree(path_);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string path() const { return wide_to_utf8(path_ + L"\\"); }

 private:
  std::wstring base_, path_;
};

}  // namespace

std::string temp_dir() {
  static const TempFolder folder;
  return folder.path();
}

std::string write_temp(const std::string& name, const Bytes& data) {
  std::string path = temp_dir() + name;
  std::ofstream f(std::filesystem::path(utf8_to_wide(path)), std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return path;
}

std::string log_text(const char* file_name) {
  std::ifstream f(std::filesystem::path(exe_dir() + utf8_to_wide(file_name)), std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::string> log_lines(const char* file_name) {
  std::string text = log_text(file_name);
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

void reset_logs() {
  for (UnitLog* log : {&dddd_log(), &ddsd_log()}) {
    log->counter = 0;
    log->apply(0);
    DeleteFileW(utf8_to_wide(log->path()).c_str());
  }
  halt_count = 0;
  SetMediaHaltProc(counting_halt);
}

}  // namespace zt::test
