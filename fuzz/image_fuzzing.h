#pragma once
// What the image fuzz targets share: any bytes as the source of a "convert" file rule. Reading
// must never crash, and a source that converts gives a file that reads back in the format the
// converter writes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/com.h"
#include "platform/images.h"
#include "scratch_files.h"
#include "transforms/files/image_conversion.h"

namespace orvex::fuzzing {

inline void ConvertAndReadBack(const ScratchFiles& files, ImageConverter convert,
                               const platform::GUID& written_format, const std::uint8_t* data,
                               std::size_t size) {
  files.WriteInput(data, size);
  if (convert(files.input(), files.output()) != S_OK) return;
  platform::Image image;
  platform::GUID format;
  if (platform::GdipLoadImageFromFile(files.output(), &image) != platform::GDIPLUS_OK ||
      platform::GdipGetImageRawFormat(image.get(), &format) != platform::GDIPLUS_OK ||
      format != written_format) {
    std::abort();
  }
}

}  // namespace orvex::fuzzing
