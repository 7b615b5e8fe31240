#include "qdarc.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "text_codec.h"

namespace zt {
namespace {

constexpr char kBadArchive[] = "Quadruple D Archiveの扱えるデータではありません";
constexpr char kNoMember[] = "アーカイブ内には指定されたID '%s' を持つデータが見つかりません";

constexpr std::size_t kHeaderSize = 256;
constexpr std::size_t kEntrySize = 268;
// The Windows reader's expansion stack; a pair that finds it full is dropped.
constexpr std::size_t kStackCodes = 256;

std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

std::wstring lower(const std::wstring& s) {
  std::wstring out = s;
  if (!out.empty()) CharLowerBuffW(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

void read_or_throw(TStream& s, void* buffer, std::size_t n) {
  if (!s.ReadExact(buffer, n)) throw std::runtime_error("Stream read error");
}

}  // namespace

EQDARefused::EQDARefused(const QdaRefusal& refusal) : EQDAError(kBadArchive), refusal(refusal) {}

std::unique_ptr<TMemoryStream> ExtractFromQDA(const std::string& archive_name,
                                              const std::string& member_name, QdaBudget* budget) {
  auto file = TFileStream::OpenRead(archive_name);
  if (!file) throw std::runtime_error("Cannot open file \"" + archive_name + "\"");

  std::uint8_t header[kHeaderSize];
  read_or_throw(*file, header, sizeof header);
  if (std::memcmp(header + 4, "QDA0", 4) != 0) throw EQDAError(kBadArchive);
  bool encoded = static_cast<std::int32_t>(le32(header)) == 1;
  auto count = static_cast<std::int32_t>(le32(header + 8));

  std::wstring wanted = lower(utf8_to_wide(member_name));
  std::vector<std::uint8_t> entry(kEntrySize);
  bool found = false;
  std::uint32_t offset = 0, stored = 0, unpacked = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    read_or_throw(*file, entry.data(), kEntrySize);
    const char* name = reinterpret_cast<const char*>(entry.data() + 12);
    std::size_t len = strnlen(name, 256);
    if (lower(utf8_to_wide(std::string(name, len))) == wanted) {
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
  QdaBudget own;
  QdaBudget& left = budget != nullptr ? *budget : own;
  // Both kinds of member end up in a stream of at least the unpacked size.
  const std::size_t allowance = left.allowance();
  const QdaRefusal refusal = left.refusal();
  if (unpacked > allowance) throw EQDARefused(refusal);

  auto out = std::make_unique<TMemoryStream>();
  file->Seek(offset);
  if (!encoded) {
    std::vector<std::uint8_t> bytes(unpacked);
    read_or_throw(*file, bytes.data(), bytes.size());
    left.charge(bytes.size());
    out->Write(bytes.data(), bytes.size());
  } else {
    std::vector<std::uint8_t> input(stored);
    read_or_throw(*file, input.data(), input.size());
    // Decoding goes on until the input is used up: one byte past the
    // allowance shows that the member would unpack to more.
    std::vector<std::uint8_t> decoded;
    const bool finite = bpe_decode(input, allowance + 1, kStackCodes, decoded);
    left.charge(std::max<std::size_t>(decoded.size(), unpacked));
    if (!finite) throw EQDAError(kBadArchive);
    if (decoded.size() > allowance) throw EQDARefused(refusal);
    out->SetSize(unpacked);
    if (!decoded.empty()) out->Write(decoded.data(), decoded.size());
  }
  out->Seek(0);
  return out;
}

}  // namespace zt
