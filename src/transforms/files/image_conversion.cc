#include "transforms/files/image_conversion.h"

#include <new>
#include <string>
#include <vector>

#include "paths/paths.h"
#include "platform/images.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "transforms/files/file_system.h"

namespace orvex {
namespace {

// Makes the destination absolute and creates its directory chain; both converters start so, which
// is why a missing source still leaves the new directories behind.
HRESULT PrepareDestination(std::u16string_view destination, std::u16string* resolved) {
  resolved->assign(destination);
  std::size_t file_name_position = 0;
  RETURN_IF_FAILED(ResolveFullPath(resolved, {}, &file_name_position));
  return CreateDirectoryPath(std::u16string_view(*resolved).substr(0, file_name_position));
}

}  // namespace

HRESULT ConvertJpegToBmp(std::u16string_view source, std::u16string_view destination) {
  std::u16string resolved;
  RETURN_IF_FAILED(PrepareDestination(destination, &resolved));

  platform::Stream source_stream;
  RETURN_IF_FAILED(platform::SHCreateStreamOnFile(source, platform::STGM_READ, &source_stream));
  platform::Stream destination_stream;
  RETURN_IF_FAILED(platform::SHCreateStreamOnFile(
      resolved, platform::STGM_CREATE | platform::STGM_READWRITE, &destination_stream));

  platform::Picture picture;
  RETURN_IF_FAILED(platform::OleLoadPicture(source_stream.get(), &picture));
  // Saved as it was loaded, the picture would write the source's own bytes; the copy has only
  // the bitmap.
  platform::Picture copy;
  RETURN_IF_FAILED(platform::CopyPicture(picture.get(), &copy));
  picture.reset();
  return platform::SavePictureAsFile(copy.get(), destination_stream.get(), true);
}

HRESULT ConvertBmpToJpeg(std::u16string_view source, std::u16string_view destination) {
  std::u16string resolved;
  RETURN_IF_FAILED(PrepareDestination(destination, &resolved));

  // A load failure shows in the format query, which fails for an image that did not load.
  platform::Image image;
  (void)platform::GdipLoadImageFromFile(source, &image);
  platform::GUID format;
  if (platform::GdipGetImageRawFormat(image.get(), &format) != platform::GDIPLUS_OK) return E_FAIL;
  if (format != platform::ImageFormatBMP) return E_NOTIMPL;

  platform::CLSID encoder;
  if (FindImageEncoder(u"image/jpeg", &encoder) != S_OK) return E_FAIL;
  const platform::EncoderParameter quality[] = {
      {platform::EncoderQuality, platform::EncoderParameterValueTypeLong, 100}};
  if (platform::GdipSaveImageToFile(image.get(), resolved, encoder, quality) !=
      platform::GDIPLUS_OK) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT FindImageEncoder(std::u16string_view mime_type, platform::CLSID* encoder) {
  std::vector<platform::ImageCodecInfo> encoders;
  try {
    const std::int32_t status = platform::GdipGetImageEncoders(&encoders);
    if (status == platform::GDIPLUS_OUT_OF_MEMORY) return E_OUTOFMEMORY;
    if (status != platform::GDIPLUS_OK || encoders.empty()) return E_UNEXPECTED;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  for (const platform::ImageCodecInfo& info : encoders) {
    if (EqualsIgnoreCase(info.mime_type, mime_type)) {
      *encoder = info.clsid;
      return S_OK;
    }
  }
  return S_FALSE;
}

ImageConverter FindImageConverter(std::u16string_view source, std::u16string_view destination) {
  std::u16string key(source.substr(FindExtension(source)));
  key += destination.substr(FindExtension(destination));
  for (const ImageConverterRow& row : ConverterTable) {
    if (EqualsIgnoreCase(key, row.key)) return row.converter;
  }
  return nullptr;
}

HRESULT ConvertImage(std::u16string_view source, std::u16string_view destination) {
  const ImageConverter converter = FindImageConverter(source, destination);
  return converter == nullptr ? E_NOTIMPL : converter(source, destination);
}

}  // namespace orvex
