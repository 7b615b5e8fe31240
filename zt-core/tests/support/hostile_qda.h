// An encoded archive whose members attack the byte-pair decoder, read by the
// archive tests of both programs: both readers must refuse the same members
// and decode the same others.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace zt::test {

// 128 pair codes, each the pair of the one before, so that one packed byte
// stands for 2^128 bytes; the member claims 0xFFFFFFFF unpacked bytes.
inline constexpr std::string_view kDoublingMember = "doubling.bin";
// Codes 200 and 201 stand for each other, a cycle that never ends; the packed
// bytes are the literals "AB" only.
inline constexpr std::string_view kUnusedCycleMember = "unused_cycle.bin";
// The same table with the packed code 200: it expands without end.
inline constexpr std::string_view kUsedCycleMember = "used_cycle.bin";

std::vector<std::uint8_t> hostile_qda_archive();

}  // namespace zt::test
