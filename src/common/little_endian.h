#pragma once
// Little-endian numbers in byte buffers: how the registry stores a DWORD and how ZIP and bitmap
// headers store their fields. `Byte` is any one-byte type (char, unsigned char, std::uint8_t).

#include <array>
#include <cstdint>

namespace orvex {

template <typename Byte>
constexpr std::uint16_t LoadLe16(const Byte* p) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(p[0]) |
                                    static_cast<std::uint8_t>(p[1]) << 8);
}

template <typename Byte>
constexpr std::uint32_t LoadLe32(const Byte* p) {
  return LoadLe16(p) | static_cast<std::uint32_t>(LoadLe16(p + 2)) << 16;
}

template <typename Byte>
constexpr std::uint64_t LoadLe64(const Byte* p) {
  return LoadLe32(p) | static_cast<std::uint64_t>(LoadLe32(p + 4)) << 32;
}

template <typename Byte>
constexpr void StoreLe16(Byte* out, std::uint16_t value) {
  out[0] = static_cast<Byte>(value & 0xFF);
  out[1] = static_cast<Byte>(value >> 8);
}

template <typename Byte>
constexpr void StoreLe32(Byte* out, std::uint32_t value) {
  StoreLe16(out, static_cast<std::uint16_t>(value));
  StoreLe16(out + 2, static_cast<std::uint16_t>(value >> 16));
}

template <typename Byte>
constexpr void StoreLe64(Byte* out, std::uint64_t value) {
  StoreLe32(out, static_cast<std::uint32_t>(value));
  StoreLe32(out + 4, static_cast<std::uint32_t>(value >> 32));
}

/// The four bytes of a DWORD as the registry keeps them.
constexpr std::array<std::uint8_t, 4> DwordBytes(std::uint32_t value) {
  std::array<std::uint8_t, 4> bytes{};
  StoreLe32(bytes.data(), value);
  return bytes;
}

}  // namespace orvex
