#pragma once
// Two families, as on Windows: the imaging library (load an image file, learn its format, save it
// through an encoder) and OLE pictures (decode a picture from a stream, save it as a bitmap file).
// Here JPEG and Windows bitmaps are decoded; other formats are only recognised by their first
// bytes.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/com.h"
#include "platform/streams.h"

namespace orvex::platform {

inline constexpr GUID ImageFormatBMP = {
    0xB96B3CAB, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatEMF = {
    0xB96B3CAC, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatWMF = {
    0xB96B3CAD, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatJPEG = {
    0xB96B3CAE, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatPNG = {
    0xB96B3CAF, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatGIF = {
    0xB96B3CB0, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatTIFF = {
    0xB96B3CB1, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatIcon = {
    0xB96B3CB5, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
/// The quality parameter of the JPEG encoder (one value, 0 to 100).
inline constexpr GUID EncoderQuality = {
    0x1D5BE4B5, 0xFA4A, 0x452D, {0x9C, 0xDD, 0x5D, 0xB3, 0x51, 0x05, 0xE7, 0xEB}};
constexpr std::uint32_t EncoderParameterValueTypeLong = 4;

constexpr std::int32_t GDIPLUS_GENERIC_ERROR = 1;
constexpr std::int32_t GDIPLUS_OUT_OF_MEMORY = 3;
constexpr std::int32_t GDIPLUS_NOT_IMPLEMENTED = 6;
constexpr std::int32_t GDIPLUS_WIN32_ERROR = 7;
constexpr std::int32_t GDIPLUS_UNKNOWN_IMAGE_FORMAT = 13;

/// What the imaging library says about one of its encoders.
struct ImageCodecInfo {
  CLSID clsid;
  GUID format_id;
  std::u16string mime_type;
};

/// One encoder parameter with a single value.
struct EncoderParameter {
  GUID guid;
  std::uint32_t type;
  std::uint32_t value;
};

struct ImageObject;
struct PictureObject;
/// Releases image objects (GdipDisposeImage, IPicture::Release).
struct ImageObjectDeleter {
  void operator()(ImageObject* image) const;
  void operator()(PictureObject* picture) const;
};
/// A loaded image of the imaging library.
using Image = std::unique_ptr<ImageObject, ImageObjectDeleter>;
/// An OLE picture holding a bitmap.
using Picture = std::unique_ptr<PictureObject, ImageObjectDeleter>;

/// GdipLoadImageFromFile: GDIPLUS_UNKNOWN_IMAGE_FORMAT when the bytes are no image,
/// GDIPLUS_NOT_IMPLEMENTED for a bitmap variant that cannot be decoded here. Formats that are only
/// recognised load without pixels: their format can be asked, they cannot be saved.
std::int32_t GdipLoadImageFromFile(std::u16string_view path, Image* image);
/// GdipGetImageRawFormat: the file format an image was loaded from; GDIPLUS_INVALID_PARAMETER
/// without an image.
std::int32_t GdipGetImageRawFormat(const ImageObject* image, GUID* format);
/// GdipGetImageEncodersSize and GdipGetImageEncoders in one: the encoders SaveImageToFile accepts
/// (image/bmp and image/jpeg here).
std::int32_t GdipGetImageEncoders(std::vector<ImageCodecInfo>* encoders);
/// GdipSaveImageToFile: writes the image through an encoder, replacing an existing file. The JPEG
/// encoder takes EncoderQuality (type long, 0 to 100, 75 when not given).
std::int32_t GdipSaveImageToFile(const ImageObject* image, std::u16string_view path,
                                 const CLSID& encoder,
                                 std::span<const EncoderParameter> parameters);

/// OleLoadPicture's answer for bytes that are no picture it can read.
constexpr HRESULT CTL_E_INVALIDPICTURE = static_cast<HRESULT>(0x800A01E1);

/// OleLoadPicture over the whole stream: JPEG and Windows bitmaps decode; another image format
/// gives E_NOTIMPL, anything else (also a damaged picture) CTL_E_INVALIDPICTURE.
HRESULT OleLoadPicture(StreamObject* stream, Picture* picture);
/// IPicture::get_Handle, CopyImage and OleCreatePictureIndirect in one: a new picture around an
/// independent copy of the bitmap, so that saving it writes a bitmap and not the source's bytes.
HRESULT CopyPicture(const PictureObject* picture, Picture* copy);
/// IPicture::SaveAsFile: writes a Windows bitmap file (24 bits per pixel) at the stream's
/// position; `size` receives the bytes written.
HRESULT SavePictureAsFile(const PictureObject* picture, StreamObject* stream, bool save_memory_copy,
                          std::int32_t* size = nullptr);

/// What GdiplusStartup is given.
struct GdiplusStartupInput {
  std::uint32_t gdiplus_version = 1;
  void* debug_event_callback = nullptr;
  bool suppress_background_thread = false;
  bool suppress_external_codecs = false;
};
constexpr std::int32_t GDIPLUS_OK = 0;
constexpr std::int32_t GDIPLUS_INVALID_PARAMETER = 2;
constexpr std::int32_t GDIPLUS_UNSUPPORTED_VERSION = 17;

/// GdiplusStartup: the imaging library needs no start-up here; Ok with a token for a valid input.
std::int32_t GdiplusStartup(std::uintptr_t* token, const GdiplusStartupInput* input, void* output);
/// GdiplusShutdown: nothing to shut down here.
void GdiplusShutdown(std::uintptr_t token);

}  // namespace orvex::platform
