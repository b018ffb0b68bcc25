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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvex {

static_assert(std::endian::native == std::endian::little,
              "units are compared as the host holds them");

/// How many of the `count` units at `bytes` come before the first unit that is one of `kStops`;
/// `count` when none is.
template <char16_t... kStops>
std::size_t UnitsBefore(const std::uint8_t* bytes, std::size_t count) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Both builds' processors have SSE2: one comparison tests eight units against a stop and
  // gives two bytes of all ones where they match. (Written with the intrinsics rather than the
  // compilers' vector operators, on which clang 14 crashes in a template.)
  for (; i + 8 <= count; i += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 2 * i));
    __m128i matches = _mm_setzero_si128();
    ((matches = _mm_or_si128(matches,
                             _mm_cmpeq_epi16(units, _mm_set1_epi16(static_cast<short>(kStops))))),
     ...);
    if (const int mask = _mm_movemask_epi8(matches); mask != 0) {
      return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask))) / 2;
    }
  }
#endif
  for (; i < count; ++i) {
    char16_t unit;
    std::memcpy(&unit, bytes + 2 * i, sizeof unit);
    if ((false || ... || (unit == kStops))) return i;
  }
  return count;
}

}  // namespace orvex
