#pragma once
// Pictures for image tests: bitmap files written and read by hand and the headers of JPEG files,
// so that the image code is checked against the file formats rather than against itself.

#include <cstdint>
#include <string>
#include <vector>

namespace orvex::testing {

/// A picture (top-down RGB bytes) in which every channel changes smoothly, which JPEG keeps
/// closely.
std::vector<std::uint8_t> GradientPicture(int width, int height);

/// The largest difference of one channel value between two pictures; 256 when their sizes differ.
int MaxPixelDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

/// A Windows bitmap file of 24 bits per pixel, bottom-up rows padded to 4 bytes, from top-down
/// RGB bytes.
std::string Bmp24File(int width, int height, const std::vector<std::uint8_t>& rgb);

/// The top-down RGB pixels and the size of a file of the kind Bmp24File writes; anything else
/// fails the test's expectations and gives no pixels.
std::vector<std::uint8_t> ReadBmp24File(const std::string& file, int* width, int* height);

/// What the headers of a JPEG file say.
struct JpegHeaders {
  std::vector<int> quantisation;  ///< every value of every quantisation table
  int width = 0, height = 0;      ///< from the frame header
};
JpegHeaders ReadJpegHeaders(const std::string& jpeg);

}  // namespace orvex::testing
