// Linux only: image files through libturbojpeg, and a Windows bitmap reader and writer of our own.
#include <turbojpeg.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>

#include "common/little_endian.h"
#include "common/result.h"
#include "platform/images.h"
#include "platform/posix/streams.h"

namespace orvex::platform {

// A decoded picture: rows top-down and without padding, 3 bytes per pixel in blue, green, red
// order, which is the order of bitmap files and the one JPEG decodes into directly.
struct Pixels {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> bgr;
};

struct ImageObject {
  GUID format;
  std::optional<Pixels> pixels;  ///< empty for formats that are only recognised here
};

struct PictureObject {
  Pixels pixels;
};

void ImageObjectDeleter::operator()(ImageObject* image) const { delete image; }
void ImageObjectDeleter::operator()(PictureObject* picture) const { delete picture; }

namespace {

// Larger pictures are refused before anything is allocated: a header of a few bytes can claim
// any size.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 27;
// A JPEG file spends some bits on every 8 x 8 block, even of one colour: a file that claims far
// more pixels than its bytes can describe is damaged or hostile, and decoding it would only make
// up a huge picture (266 bytes claiming 63231 x 1783 pixels would become a 338 MB bitmap).
constexpr std::uint64_t kMaxJpegPixelsPerByte = 1u << 14;
constexpr std::size_t kMaxFileSize = std::size_t{1} << 30;
constexpr std::uint32_t kReadChunk = 64 * 1024;

constexpr CLSID kBmpEncoder = {
    0x557CF400, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
constexpr CLSID kJpegEncoder = {
    0x557CF401, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
constexpr int kDefaultJpegQuality = 75;

enum class Decoded { kOk, kDamaged, kUnsupported, kTooLarge };

using Bytes = std::span<const std::uint8_t>;

bool StartsWith(Bytes bytes, std::initializer_list<std::uint8_t> prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// The file format by the first bytes, as the imaging library tells formats apart; null when the
// bytes are no image.
const GUID* SniffFormat(Bytes bytes) {
  if (StartsWith(bytes, {'B', 'M'})) return &ImageFormatBMP;
  if (StartsWith(bytes, {0xFF, 0xD8, 0xFF})) return &ImageFormatJPEG;
  if (StartsWith(bytes, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return &ImageFormatPNG;
  if (StartsWith(bytes, {'G', 'I', 'F', '8', '7', 'a'}) ||
      StartsWith(bytes, {'G', 'I', 'F', '8', '9', 'a'})) {
    return &ImageFormatGIF;
  }
  if (StartsWith(bytes, {'I', 'I', 0x2A, 0x00}) || StartsWith(bytes, {'M', 'M', 0x00, 0x2A})) {
    return &ImageFormatTIFF;
  }
  if (StartsWith(bytes, {0x00, 0x00, 0x01, 0x00}) || StartsWith(bytes, {0x00, 0x00, 0x02, 0x00})) {
    return &ImageFormatIcon;
  }
  if (StartsWith(bytes, {0xD7, 0xCD, 0xC6, 0x9A}) ||
      StartsWith(bytes, {0x01, 0x00, 0x09, 0x00, 0x00, 0x03}) ||
      StartsWith(bytes, {0x02, 0x00, 0x09, 0x00, 0x00, 0x03})) {
    return &ImageFormatWMF;
  }
  if (StartsWith(bytes, {0x01, 0x00, 0x00, 0x00}) && bytes.size() >= 44 &&
      LoadLe32(bytes.data() + 40) == 0x464D4520) {  // " EMF"
    return &ImageFormatEMF;
  }
  return nullptr;
}

// Reads from the stream's position to its end.
HRESULT ReadToEnd(StreamObject& stream, std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  for (;;) {
    const std::size_t used = bytes->size();
    if (used >= kMaxFileSize) return E_OUTOFMEMORY;
    bytes->resize(used + kReadChunk);
    std::uint32_t read = 0;
    RETURN_IF_FAILED(posix::ReadStream(stream, bytes->data() + used, kReadChunk, &read));
    bytes->resize(used + read);
    if (read == 0) return S_OK;
  }
}

struct TurboJpegDestroyer {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TurboJpeg = std::unique_ptr<void, TurboJpegDestroyer>;

Decoded DecodeJpeg(Bytes bytes, Pixels* pixels) {
  const TurboJpeg decoder(tjInitDecompress());
  if (!decoder) return Decoded::kTooLarge;
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(decoder.get(), bytes.data(), bytes.size(), &width, &height, &subsampling,
                          &colorspace) != 0 ||
      width <= 0 || height <= 0) {
    return Decoded::kDamaged;
  }
  const std::uint64_t count =
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (count > kMaxPixels || count > bytes.size() * kMaxJpegPixelsPerByte) return Decoded::kTooLarge;
  pixels->width = static_cast<std::uint32_t>(width);
  pixels->height = static_cast<std::uint32_t>(height);
  pixels->bgr.assign(std::size_t{pixels->width} * pixels->height * 3, 0);
  // A warning (a truncated file, say) still leaves a picture, as the OLE loader shows one.
  if (tjDecompress2(decoder.get(), bytes.data(), bytes.size(), pixels->bgr.data(), width, 0, height,
                    TJPF_BGR, TJFLAG_ACCURATEDCT) != 0 &&
      tjGetErrorCode(decoder.get()) != TJERR_WARNING) {
    return colorspace == TJCS_CMYK || colorspace == TJCS_YCCK ? Decoded::kUnsupported
                                                              : Decoded::kDamaged;
  }
  return Decoded::kOk;
}

bool EncodeJpeg(const Pixels& pixels, int quality, std::vector<std::uint8_t>* jpeg) {
  const TurboJpeg encoder(tjInitCompress());
  if (!encoder) return false;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const int result = tjCompress2(encoder.get(), pixels.bgr.data(), static_cast<int>(pixels.width),
                                 0, static_cast<int>(pixels.height), TJPF_BGR, &buffer, &size,
                                 TJSAMP_444, quality, TJFLAG_ACCURATEDCT);
  if (result == 0) jpeg->assign(buffer, buffer + size);
  tjFree(buffer);
  return result == 0;
}

// One colour channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;

  static std::optional<Channel> FromMask(std::uint32_t mask) {
    Channel channel;
    channel.mask = mask;
    if (mask == 0) return channel;
    channel.shift = std::countr_zero(mask);
    channel.max = mask >> channel.shift;
    if ((channel.max & (channel.max + 1)) != 0) return std::nullopt;  // not one run of bits
    return channel;
  }
  std::uint8_t Of(std::uint32_t pixel) const {
    if (max == 0) return 0;
    const std::uint64_t value = (pixel & mask) >> shift;
    return static_cast<std::uint8_t>((value * 255 + max / 2) / max);
  }
};

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kCoreHeaderSize = 12;
constexpr std::size_t kInfoHeaderSize = 40;

// Windows bitmap files: 1, 4 and 8 bits per pixel with a palette, 16 and 32 bits with bit fields
// or the default layout, 24 bits. Compressed bitmaps (run lengths, embedded JPEG or PNG) are not
// supported.
Decoded DecodeBmp(Bytes bytes, Pixels* pixels) {
  if (bytes.size() < kFileHeaderSize + 4) return Decoded::kDamaged;
  const std::uint32_t pixel_offset = LoadLe32(bytes.data() + 10);
  const std::size_t header_size = LoadLe32(bytes.data() + kFileHeaderSize);
  const std::size_t header = kFileHeaderSize;
  std::int64_t width, height;
  std::uint32_t bit_count, compression = BI_RGB, colors_used = 0;
  std::size_t palette_entry_size = 4;
  if (header_size == kCoreHeaderSize) {
    if (bytes.size() < header + kCoreHeaderSize) return Decoded::kDamaged;
    width = LoadLe16(bytes.data() + header + 4);
    height = LoadLe16(bytes.data() + header + 6);
    bit_count = LoadLe16(bytes.data() + header + 10);
    palette_entry_size = 3;
  } else if (header_size >= kInfoHeaderSize && header_size <= 1024) {
    if (bytes.size() < header + header_size) return Decoded::kDamaged;
    width = static_cast<std::int32_t>(LoadLe32(bytes.data() + header + 4));
    height = static_cast<std::int32_t>(LoadLe32(bytes.data() + header + 8));
    bit_count = LoadLe16(bytes.data() + header + 14);
    compression = LoadLe32(bytes.data() + header + 16);
    colors_used = LoadLe32(bytes.data() + header + 32);
  } else {
    return Decoded::kDamaged;
  }
  const bool bottom_up = height > 0;
  height = bottom_up ? height : -height;
  if (width <= 0 || height <= 0) return Decoded::kDamaged;
  if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxPixels) {
    return Decoded::kTooLarge;
  }

  // Masks follow a 40-byte header and sit inside the longer ones.
  std::size_t palette_at = header + header_size;
  std::optional<Channel> red, green, blue;
  if (compression == BI_BITFIELDS) {
    if (bit_count != 16 && bit_count != 32) return Decoded::kDamaged;
    const std::size_t masks_at = header + kInfoHeaderSize;
    if (header_size == kInfoHeaderSize) palette_at += 12;
    if (bytes.size() < masks_at + 12) return Decoded::kDamaged;
    red = Channel::FromMask(LoadLe32(bytes.data() + masks_at));
    green = Channel::FromMask(LoadLe32(bytes.data() + masks_at + 4));
    blue = Channel::FromMask(LoadLe32(bytes.data() + masks_at + 8));
    if (!red || !green || !blue) return Decoded::kDamaged;
  } else if (compression != BI_RGB) {
    return Decoded::kUnsupported;
  } else if (bit_count == 16) {
    red = Channel::FromMask(0x7C00);
    green = Channel::FromMask(0x03E0);
    blue = Channel::FromMask(0x001F);
  }

  std::vector<std::uint8_t> palette;  // 3 bytes an entry, blue first
  if (bit_count == 1 || bit_count == 4 || bit_count == 8) {
    const std::size_t max_entries = std::size_t{1} << bit_count;
    const std::size_t entries =
        colors_used == 0 || colors_used > max_entries ? max_entries : colors_used;
    if (palette_at + entries * palette_entry_size > bytes.size()) return Decoded::kDamaged;
    palette.resize(max_entries * 3, 0);  // indexes beyond the stored entries show black
    for (std::size_t i = 0; i < entries; ++i) {
      std::memcpy(&palette[i * 3], &bytes[palette_at + i * palette_entry_size], 3);
    }
  } else if (bit_count != 16 && bit_count != 24 && bit_count != 32) {
    return Decoded::kDamaged;
  }

  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bit_count + 31) / 32 * 4;
  if (pixel_offset > bytes.size() ||
      stride * static_cast<std::uint64_t>(height) > bytes.size() - pixel_offset) {
    return Decoded::kDamaged;
  }

  pixels->width = static_cast<std::uint32_t>(width);
  pixels->height = static_cast<std::uint32_t>(height);
  pixels->bgr.resize(std::size_t{pixels->width} * pixels->height * 3);
  for (std::uint32_t y = 0; y < pixels->height; ++y) {
    const std::uint32_t stored_row = bottom_up ? pixels->height - 1 - y : y;
    const std::uint8_t* in = &bytes[pixel_offset + stored_row * stride];
    std::uint8_t* out = &pixels->bgr[std::size_t{y} * pixels->width * 3];
    for (std::uint32_t x = 0; x < pixels->width; ++x, out += 3) {
      switch (bit_count) {
        case 1:
        case 4:
        case 8: {
          const std::uint32_t bit = x * bit_count;
          const std::uint32_t index =
              (in[bit / 8] >> (8 - bit_count - bit % 8)) & ((1u << bit_count) - 1);
          std::memcpy(out, &palette[index * 3], 3);
          break;
        }
        case 24:
          std::memcpy(out, in + x * 3, 3);
          break;
        case 16:
        case 32: {
          const std::uint32_t value = bit_count == 16 ? LoadLe16(in + x * 2) : LoadLe32(in + x * 4);
          if (!red) {  // the default 32-bit layout: blue, green, red, unused
            std::memcpy(out, in + x * 4, 3);
          } else {
            out[0] = blue->Of(value);
            out[1] = green->Of(value);
            out[2] = red->Of(value);
          }
          break;
        }
      }
    }
  }
  return Decoded::kOk;
}

// A Windows bitmap file of 24 bits per pixel: bottom-up rows, each padded to 4 bytes.
std::vector<std::uint8_t> EncodeBmp(const Pixels& pixels) {
  const std::size_t row = std::size_t{pixels.width} * 3;
  const std::size_t stride = (row + 3) / 4 * 4;
  const std::size_t image_size = stride * pixels.height;
  const std::size_t offset = kFileHeaderSize + kInfoHeaderSize;
  std::vector<std::uint8_t> file(offset + image_size, 0);
  std::uint8_t* out = file.data();
  out[0] = 'B';
  out[1] = 'M';
  StoreLe32(out + 2, static_cast<std::uint32_t>(file.size()));
  StoreLe32(out + 10, static_cast<std::uint32_t>(offset));
  out += kFileHeaderSize;
  StoreLe32(out, kInfoHeaderSize);
  StoreLe32(out + 4, pixels.width);
  StoreLe32(out + 8, pixels.height);
  StoreLe16(out + 12, 1);   // planes
  StoreLe16(out + 14, 24);  // bits per pixel
  StoreLe32(out + 16, BI_RGB);
  StoreLe32(out + 20, static_cast<std::uint32_t>(image_size));
  for (std::uint32_t y = 0; y < pixels.height; ++y) {
    std::memcpy(&file[offset + (pixels.height - 1 - y) * stride], &pixels.bgr[std::size_t{y} * row],
                row);
  }
  return file;
}

Decoded Decode(const GUID& format, Bytes bytes, Pixels* pixels) {
  if (format == ImageFormatBMP) return DecodeBmp(bytes, pixels);
  if (format == ImageFormatJPEG) return DecodeJpeg(bytes, pixels);
  return Decoded::kUnsupported;
}

}  // namespace

std::int32_t GdiplusStartup(std::uintptr_t* token, const GdiplusStartupInput* input,
                            void* /*output*/) {
  if (token == nullptr || input == nullptr) return GDIPLUS_INVALID_PARAMETER;
  if (input->gdiplus_version != 1 && input->gdiplus_version != 2) {
    return GDIPLUS_UNSUPPORTED_VERSION;
  }
  *token = 1;
  return GDIPLUS_OK;
}

void GdiplusShutdown(std::uintptr_t /*token*/) {}

std::int32_t GdipLoadImageFromFile(std::u16string_view path, Image* image) {
  image->reset();
  StreamObject file;
  if (CreateFile(path, GENERIC_READ, OPEN_EXISTING, &file.file) != ERROR_SUCCESS) {
    return GDIPLUS_WIN32_ERROR;
  }
  std::vector<std::uint8_t> bytes;
  if (const HRESULT hr = ReadToEnd(file, &bytes); FAILED(hr)) {
    return hr == E_OUTOFMEMORY ? GDIPLUS_OUT_OF_MEMORY : GDIPLUS_WIN32_ERROR;
  }
  const GUID* format = SniffFormat(bytes);
  if (format == nullptr) return GDIPLUS_UNKNOWN_IMAGE_FORMAT;
  auto loaded = std::make_unique<ImageObject>(ImageObject{*format, std::nullopt});
  if (*format == ImageFormatBMP || *format == ImageFormatJPEG) {
    Pixels pixels;
    switch (Decode(*format, bytes, &pixels)) {
      case Decoded::kOk:
        break;
      case Decoded::kDamaged:
        return GDIPLUS_UNKNOWN_IMAGE_FORMAT;
      case Decoded::kUnsupported:
        return GDIPLUS_NOT_IMPLEMENTED;
      case Decoded::kTooLarge:
        return GDIPLUS_OUT_OF_MEMORY;
    }
    loaded->pixels = std::move(pixels);
  }
  image->reset(loaded.release());
  return GDIPLUS_OK;
}

std::int32_t GdipGetImageRawFormat(const ImageObject* image, GUID* format) {
  if (image == nullptr || format == nullptr) return GDIPLUS_INVALID_PARAMETER;
  *format = image->format;
  return GDIPLUS_OK;
}

std::int32_t GdipGetImageEncoders(std::vector<ImageCodecInfo>* encoders) {
  *encoders = {{kBmpEncoder, ImageFormatBMP, u"image/bmp"},
               {kJpegEncoder, ImageFormatJPEG, u"image/jpeg"}};
  return GDIPLUS_OK;
}

std::int32_t GdipSaveImageToFile(const ImageObject* image, std::u16string_view path,
                                 const CLSID& encoder,
                                 std::span<const EncoderParameter> parameters) {
  if (image == nullptr) return GDIPLUS_INVALID_PARAMETER;
  if (encoder != kBmpEncoder && encoder != kJpegEncoder) return GDIPLUS_INVALID_PARAMETER;
  int quality = kDefaultJpegQuality;
  for (const EncoderParameter& parameter : parameters) {
    if (encoder != kJpegEncoder || parameter.guid != EncoderQuality ||
        parameter.type != EncoderParameterValueTypeLong || parameter.value > 100) {
      return GDIPLUS_INVALID_PARAMETER;
    }
    quality = static_cast<int>(parameter.value);
  }
  if (!image->pixels) return GDIPLUS_NOT_IMPLEMENTED;

  // Encoded before the file is touched, so a failure leaves no file behind.
  std::vector<std::uint8_t> encoded;
  if (encoder == kBmpEncoder) {
    encoded = EncodeBmp(*image->pixels);
  } else if (!EncodeJpeg(*image->pixels, quality, &encoded)) {
    return GDIPLUS_GENERIC_ERROR;
  }
  StreamObject file;
  if (CreateFile(path, GENERIC_WRITE, CREATE_ALWAYS, &file.file) != ERROR_SUCCESS ||
      FAILED(posix::WriteStream(file, encoded))) {
    return GDIPLUS_WIN32_ERROR;
  }
  return GDIPLUS_OK;
}

HRESULT OleLoadPicture(StreamObject* stream, Picture* picture) {
  picture->reset();
  if (stream == nullptr) return E_POINTER;
  std::vector<std::uint8_t> bytes;
  RETURN_IF_FAILED(ReadToEnd(*stream, &bytes));
  const GUID* format = SniffFormat(bytes);
  if (format == nullptr) return CTL_E_INVALIDPICTURE;
  Pixels pixels;
  switch (Decode(*format, bytes, &pixels)) {
    case Decoded::kOk:
      break;
    case Decoded::kDamaged:
      return CTL_E_INVALIDPICTURE;
    case Decoded::kUnsupported:
      return E_NOTIMPL;
    case Decoded::kTooLarge:
      return E_OUTOFMEMORY;
  }
  picture->reset(new PictureObject{std::move(pixels)});
  return S_OK;
}

HRESULT CopyPicture(const PictureObject* picture, Picture* copy) {
  copy->reset();
  if (picture == nullptr) return E_POINTER;
  copy->reset(new PictureObject{*picture});
  return S_OK;
}

HRESULT SavePictureAsFile(const PictureObject* picture, StreamObject* stream,
                          bool /*save_memory_copy*/, std::int32_t* size) {
  if (picture == nullptr || stream == nullptr) return E_POINTER;
  const std::vector<std::uint8_t> file = EncodeBmp(picture->pixels);
  RETURN_IF_FAILED(posix::WriteStream(*stream, file));
  if (size != nullptr) *size = static_cast<std::int32_t>(file.size());
  return S_OK;
}

}  // namespace orvex::platform
