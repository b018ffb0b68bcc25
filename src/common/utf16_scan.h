#pragma once
// Finding the first of a few code units in UTF-16LE text, eight units at a time. The .reg reader
// and writer spend most of their time looking for the handful of units that end a run of plain
// text (a quote, a backslash, a line break), so they look at a block of units in one step and
// copy the run before it whole.
//
//   // How many units of `text` stand before its first quote or backslash:
//   const std::size_t plain = UnitsBefore<u'"', u'\\'>(bytes, units);
//
// The text is given as bytes, which need not be aligned for char16_t (value data is held so).

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvex {

static_assert(std::endian::native == std::endian::little,
              "units are compared as the host holds them");

// The compilers' portable vector types: one comparison tests eight units against a stop (spelled
// out in every lane) and gives a lane of all ones where they match. (Declared here rather than in
// the function, where one compiler fails on them.)
using EightUnits = std::uint16_t __attribute__((vector_size(16)));
using EightLanes = std::int16_t __attribute__((vector_size(16)));

/// How many of the `count` units at `bytes` come before the first unit that is one of `kStops`;
/// `count` when none is.
template <char16_t... kStops>
std::size_t UnitsBefore(const std::uint8_t* bytes, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    EightUnits units;
    std::memcpy(&units, bytes + 2 * i, sizeof units);
    const EightLanes matches = ((units == (EightUnits{} + kStops)) | ...);
    std::uint64_t halves[2];
    std::memcpy(halves, &matches, sizeof halves);
    if (halves[0] != 0) return i + static_cast<std::size_t>(std::countr_zero(halves[0])) / 16;
    if (halves[1] != 0) return i + 4 + static_cast<std::size_t>(std::countr_zero(halves[1])) / 16;
  }
  for (; i < count; ++i) {
    char16_t unit;
    std::memcpy(&unit, bytes + 2 * i, sizeof unit);
    if (((unit == kStops) || ...)) return i;
  }
  return count;
}

}  // namespace orvex
