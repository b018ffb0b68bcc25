// Bitmaps from anywhere, through the conversion to JPEG.
#include "image_fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orvex::fuzzing::ScratchFiles files("bitmap_fuzzer", ".bmp", ".jpg");
  orvex::fuzzing::ConvertAndReadBack(files, orvex::ConvertBmpToJpeg,
                                     orvex::platform::ImageFormatJPEG, data, size);
  return 0;
}
