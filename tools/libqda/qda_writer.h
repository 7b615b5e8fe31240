// Writes QDA archives, optionally byte-pair encoded, in the layout the game's
// reader expects. Output depends only on the input.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace zt::tools {

struct QdaMember {
  std::string name;
  std::vector<std::uint8_t> data;
};

struct QdaWriteError {
  std::string message;
};

// Byte-pair encodes `data` in blocks of at most 8192 bytes, each with its own
// pair table; a pair code expands at most 128 levels deep, so that decoders
// with a 256-code stack expand it whole. Empty input gives empty output.
std::vector<std::uint8_t> bpe_encode(std::span<const std::uint8_t> data);

// The archive bytes, or an error for an empty member, an empty name, a name
// of 256 bytes or more, with a NUL byte or not valid UTF-8, or two names that
// differ only in the case of ASCII letters: the reader could not return such
// a member under its name.
std::variant<std::vector<std::uint8_t>, QdaWriteError> write_qda(std::span<const QdaMember> members,
                                                                 bool encode);

}  // namespace zt::tools
