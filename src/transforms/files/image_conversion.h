#pragma once
// Image conversion for the file rule action "convert": JPEG to Windows bitmap and back, chosen by
// the pair of file extensions. The converters log nothing; the caller reports their results.

#include <array>
#include <string_view>

#include "common/result.h"
#include "platform/com.h"

namespace orvex {

/// Writes a Windows bitmap (24 bits per pixel) from any picture the platform's picture loader
/// decodes, replacing an existing destination. The source is opened before the destination is
/// created; a source that fails to decode leaves an empty destination behind.
[[nodiscard]] HRESULT ConvertJpegToBmp(std::u16string_view source, std::u16string_view destination);

/// Writes a JPEG at quality 100 from a bitmap file: E_NOTIMPL for another image format, E_FAIL for
/// a source that is missing or no image and for a failed save.
[[nodiscard]] HRESULT ConvertBmpToJpeg(std::u16string_view source, std::u16string_view destination);

/// The class identifier of the image encoder for a MIME type (compared case-insensitively): S_OK
/// when found, S_FALSE when none matches, E_UNEXPECTED for an empty encoder list, E_OUTOFMEMORY.
[[nodiscard]] HRESULT FindImageEncoder(std::u16string_view mime_type, platform::CLSID* encoder);

/// A converter from a source file to a destination file, both absolute.
using ImageConverter = HRESULT (*)(std::u16string_view source, std::u16string_view destination);

/// One row of ConverterTable: the source extension directly followed by the destination's.
struct ImageConverterRow {
  std::u16string_view key;
  ImageConverter converter;
};

/// The extension pairs that can be converted, searched in this order.
inline constexpr std::array<ImageConverterRow, 4> ConverterTable = {{
    {u".jpg.bmp", ConvertJpegToBmp},
    {u".jpeg.bmp", ConvertJpegToBmp},
    {u".bmp.jpg", ConvertBmpToJpeg},
    {u".bmp.jpeg", ConvertBmpToJpeg},
}};

/// The converter for the extensions of two paths, or null when ConverterTable has no row for them.
ImageConverter FindImageConverter(std::u16string_view source, std::u16string_view destination);

/// Runs the converter for the two paths' extensions; E_NOTIMPL, touching nothing, when there is
/// none.
[[nodiscard]] HRESULT ConvertImage(std::u16string_view source, std::u16string_view destination);

}  // namespace orvex
