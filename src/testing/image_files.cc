#include "testing/image_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "common/little_endian.h"

namespace orvex::testing {
namespace {

std::string U32(std::uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF),
          static_cast<char>(v >> 16 & 0xFF), static_cast<char>(v >> 24 & 0xFF)};
}

}  // namespace

std::vector<std::uint8_t> GradientPicture(int width, int height) {
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      rgb.push_back(static_cast<std::uint8_t>(x * 255 / std::max(width - 1, 1)));
      rgb.push_back(static_cast<std::uint8_t>(y * 255 / std::max(height - 1, 1)));
      rgb.push_back(static_cast<std::uint8_t>(128 + (x - y) / 2));
    }
  }
  return rgb;
}

int MaxPixelDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size()) return 256;
  int most = 0;
  for (std::size_t i = 0; i < a.size(); ++i) most = std::max(most, std::abs(a[i] - b[i]));
  return most;
}

std::string Bmp24File(int width, int height, const std::vector<std::uint8_t>& rgb) {
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  std::string rows;
  for (int y = height - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < width; ++x) {
      for (int c = 2; c >= 0; --c) row += static_cast<char>(rgb[(y * width + x) * 3 + c]);
    }
    row.resize(stride, '\0');
    rows += row;
  }
  const auto image_size = static_cast<std::uint32_t>(rows.size());
  return "BM" + U32(54 + image_size) + U32(0) + U32(54) + U32(40) + U32(width) + U32(height) +
         std::string("\x01\x00\x18\x00", 4) + U32(0) + U32(image_size) + U32(0) + U32(0) + U32(0) +
         U32(0) + rows;
}

std::vector<std::uint8_t> ReadBmp24File(const std::string& file, int* width, int* height) {
  EXPECT_GE(file.size(), 54u);
  if (file.size() < 54) return {};
  EXPECT_EQ(file.substr(0, 2), "BM");
  EXPECT_EQ(LoadLe32(file.data() + 2), file.size());
  EXPECT_EQ(file[28], 24);                    // bits per pixel
  EXPECT_EQ(LoadLe32(file.data() + 30), 0u);  // uncompressed
  *width = static_cast<int>(LoadLe32(file.data() + 18));
  *height = static_cast<int>(LoadLe32(file.data() + 22));  // positive: bottom-up
  const std::size_t offset = LoadLe32(file.data() + 10);
  const std::size_t stride = (static_cast<std::size_t>(*width) * 3 + 3) / 4 * 4;
  if (*width <= 0 || *height <= 0 || offset + stride * *height != file.size()) {
    ADD_FAILURE() << "not a bottom-up bitmap of " << *width << " x " << *height;
    return {};
  }
  std::vector<std::uint8_t> rgb;
  for (int y = *height - 1; y >= 0; --y) {
    for (int x = 0; x < *width; ++x) {
      for (int c = 2; c >= 0; --c) {
        rgb.push_back(static_cast<std::uint8_t>(file[offset + y * stride + x * 3 + c]));
      }
    }
  }
  return rgb;
}

JpegHeaders ReadJpegHeaders(const std::string& jpeg) {
  JpegHeaders headers;
  const auto byte = [&](std::size_t at) {
    return at < jpeg.size() ? static_cast<unsigned char>(jpeg[at]) : 0;
  };
  std::size_t at = 2;
  // Segments up to the start of the entropy-coded data.
  while (at + 4 <= jpeg.size() && byte(at) == 0xFF && byte(at + 1) != 0xDA) {
    const int marker = byte(at + 1);
    const std::size_t end = at + 2 + (byte(at + 2) << 8 | byte(at + 3));
    if (marker == 0xDB) {
      for (std::size_t i = at + 4; i < end;) {
        const bool wide = (byte(i++) >> 4) != 0;
        for (int k = 0; k < 64; ++k, i += wide ? 2 : 1) {
          headers.quantisation.push_back(wide ? byte(i) << 8 | byte(i + 1) : byte(i));
        }
      }
    } else if (marker >= 0xC0 && marker <= 0xC2) {
      headers.height = byte(at + 5) << 8 | byte(at + 6);
      headers.width = byte(at + 7) << 8 | byte(at + 8);
    }
    at = end;
  }
  return headers;
}

}  // namespace orvex::testing
