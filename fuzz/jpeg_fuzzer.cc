// JPEG pictures from anywhere, through the conversion to a bitmap.
#include "image_fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orvex::fuzzing::ScratchFiles files("jpeg_fuzzer", ".jpg", ".bmp");
  orvex::fuzzing::ConvertAndReadBack(files, orvex::ConvertJpegToBmp,
                                     orvex::platform::ImageFormatBMP, data, size);
  return 0;
}
