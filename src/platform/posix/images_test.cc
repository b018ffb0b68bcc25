#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/file_handles.h"
#include "platform/images.h"
#include "platform/streams.h"
#include "testing/image_files.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex::platform {
namespace {

using Rgb = std::uint32_t;  // 0xRRGGBB
constexpr Rgb kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF,
              kBlack = 0x000000, kYellow = 0xFFFF00;

std::string U16(std::uint32_t v) { return {char(v & 0xFF), char(v >> 8 & 0xFF)}; }
std::string U32(std::uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
std::string Bgr(Rgb c) { return {char(c & 0xFF), char(c >> 8 & 0xFF), char(c >> 16 & 0xFF)}; }

// A bitmap file with a 40-byte (or longer) header. `extra` follows the header (bit-field masks,
// a palette, which also gives the count of colours used); `rows` are stored as given, padded.
std::string BmpFile(std::int32_t width, std::int32_t height, int bits, std::uint32_t compression,
                    const std::string& extra, const std::string& rows, int header_size = 40) {
  std::string info = U32(header_size) + U32(static_cast<std::uint32_t>(width)) +
                     U32(static_cast<std::uint32_t>(height)) + U16(1) + U16(bits) +
                     U32(compression) + U32(static_cast<std::uint32_t>(rows.size())) + U32(0) +
                     U32(0) + U32(bits <= 8 ? static_cast<std::uint32_t>(extra.size() / 4) : 0) +
                     U32(0);
  info.resize(header_size, '\0');
  const std::uint32_t offset = 14 + header_size + static_cast<std::uint32_t>(extra.size());
  return "BM" + U32(offset + static_cast<std::uint32_t>(rows.size())) + U32(0) + U32(offset) +
         info + extra + rows;
}

std::string Pad(std::string row) {
  row.resize((row.size() + 3) / 4 * 4, '\0');
  return row;
}

// The one output format, from packed colours given top-down.
std::string Bmp24(int width, int height, const std::vector<Rgb>& pixels) {
  std::vector<std::uint8_t> rgb;
  for (const Rgb c : pixels) {
    rgb.insert(rgb.end(), {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c)});
  }
  return testing::Bmp24File(width, height, rgb);
}

std::string JpegFromLibrary(const std::vector<std::uint8_t>& rgb, int width, int height) {
  tjhandle encoder = tjInitCompress();
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  EXPECT_EQ(tjCompress2(encoder, rgb.data(), width, 0, height, TJPF_RGB, &buffer, &size, TJSAMP_444,
                        100, TJFLAG_ACCURATEDCT),
            0);
  std::string jpeg(reinterpret_cast<char*>(buffer), size);
  tjFree(buffer);
  tjDestroy(encoder);
  return jpeg;
}

// Decodes through the OLE picture calls and writes the result as a bitmap file.
HRESULT PictureToBmp(const std::u16string& source, const std::u16string& destination) {
  Stream in, out;
  Picture picture, copy;
  RETURN_IF_FAILED(SHCreateStreamOnFile(source, STGM_READ, &in));
  RETURN_IF_FAILED(SHCreateStreamOnFile(destination, STGM_CREATE | STGM_READWRITE, &out));
  RETURN_IF_FAILED(OleLoadPicture(in.get(), &picture));
  RETURN_IF_FAILED(CopyPicture(picture.get(), &copy));
  std::int32_t size = 0;
  RETURN_IF_FAILED(SavePictureAsFile(copy.get(), out.get(), true, &size));
  EXPECT_GT(size, 54);
  return S_OK;
}

TEST(ImagesTest, FirstBytesDecideTheFormat) {
  testing::ScopedTempDir dir;
  const std::string bmp = Bmp24(1, 1, {kRed});
  const std::string jpeg = JpegFromLibrary(testing::GradientPicture(8, 8), 8, 8);
  std::string emf = U32(1) + std::string(36, '\0') + " EMF";
  std::string huge_jpeg = jpeg;  // its frame claims 63231 x 1783 pixels
  huge_jpeg.replace(huge_jpeg.find("\xFF\xC0") + 5, 4, "\x06\xF7\xF6\xFF");
  const struct {
    const char* name;
    std::string bytes;
    std::int32_t load_status;
    const GUID* format;
    HRESULT picture_result;
  } cases[] = {
      {"bitmap", bmp, GDIPLUS_OK, &ImageFormatBMP, S_OK},
      {"jpeg", jpeg, GDIPLUS_OK, &ImageFormatJPEG, S_OK},
      {"png", "\x89PNG\r\n\x1A\n rest", GDIPLUS_OK, &ImageFormatPNG, E_NOTIMPL},
      {"gif", "GIF89a rest", GDIPLUS_OK, &ImageFormatGIF, E_NOTIMPL},
      {"tiff-ii", std::string("II*\0 rest", 9), GDIPLUS_OK, &ImageFormatTIFF, E_NOTIMPL},
      {"tiff-mm", std::string("MM\0* rest", 9), GDIPLUS_OK, &ImageFormatTIFF, E_NOTIMPL},
      {"icon", std::string("\0\0\1\0 rest", 8), GDIPLUS_OK, &ImageFormatIcon, E_NOTIMPL},
      {"wmf", "\xD7\xCD\xC6\x9A rest", GDIPLUS_OK, &ImageFormatWMF, E_NOTIMPL},
      {"emf", emf, GDIPLUS_OK, &ImageFormatEMF, E_NOTIMPL},
      {"empty", "", GDIPLUS_UNKNOWN_IMAGE_FORMAT, nullptr, CTL_E_INVALIDPICTURE},
      {"jpeg-too-short-for-its-size", huge_jpeg, GDIPLUS_OUT_OF_MEMORY, nullptr, E_OUTOFMEMORY},
      {"bare-jpeg-marker", "\xFF\xD8\xFF garbage", GDIPLUS_UNKNOWN_IMAGE_FORMAT, nullptr,
       CTL_E_INVALIDPICTURE},
  };
  for (const auto& c : cases) {
    testing::WriteFile(dir.path() / c.name, c.bytes);
    Image image;
    EXPECT_EQ(GdipLoadImageFromFile(dir.wide(c.name), &image), c.load_status) << c.name;
    GUID format{};
    if (c.format != nullptr) {
      ASSERT_EQ(GdipGetImageRawFormat(image.get(), &format), GDIPLUS_OK) << c.name;
      EXPECT_TRUE(format == *c.format) << c.name;
    } else {
      EXPECT_EQ(GdipGetImageRawFormat(image.get(), &format), GDIPLUS_INVALID_PARAMETER) << c.name;
    }
    Stream stream;
    ASSERT_HR(S_OK, SHCreateStreamOnFile(dir.wide(c.name), STGM_READ, &stream));
    Picture picture;
    EXPECT_HR(c.picture_result, OleLoadPicture(stream.get(), &picture)) << c.name;
    EXPECT_EQ(picture != nullptr, SUCCEEDED(c.picture_result)) << c.name;
  }
}

TEST(ImagesTest, BitmapVariantsDecodeToTheSamePixels) {
  testing::ScopedTempDir dir;
  const std::vector<Rgb> picture = {kRed, kGreen, kBlue, kWhite, kBlack, kYellow};  // 3 x 2
  const std::vector<Rgb> two_colours = {kWhite, kBlack, kWhite, kBlack, kWhite, kBlack};
  const std::string palette = Bgr(kBlack) + '\0' + Bgr(kRed) + '\0' + Bgr(kGreen) + '\0' +
                              Bgr(kBlue) + '\0' + Bgr(kWhite) + '\0' + Bgr(kYellow) + '\0';
  const auto rows_of = [](const std::vector<Rgb>& top_down, bool bottom_up,
                          const auto& pixel_bytes) {
    std::string rows;
    for (int i = 0; i < 2; ++i) {
      const int y = bottom_up ? 1 - i : i;
      std::string row;
      for (int x = 0; x < 3; ++x) row += pixel_bytes(top_down[y * 3 + x]);
      rows += Pad(row);
    }
    return rows;
  };
  const auto rgb16 = [](Rgb c) {  // 5-5-5
    return U16(((c >> 19 & 0x1F) << 10) | ((c >> 11 & 0x1F) << 5) | (c >> 3 & 0x1F));
  };
  const auto rgb565 = [](Rgb c) {
    return U16(((c >> 19 & 0x1F) << 11) | ((c >> 10 & 0x3F) << 5) | (c >> 3 & 0x1F));
  };
  const auto rgba32 = [](Rgb c) { return U32(c << 8 | 0xFF); };  // masks R 0xFF000000 ...
  const auto bgrx32 = [](Rgb c) { return Bgr(c) + '\x7F'; };

  const struct {
    const char* name;
    std::string file;
    const std::vector<Rgb>* expected;
  } cases[] = {
      {"24 bits bottom-up", BmpFile(3, 2, 24, 0, "", rows_of(picture, true, Bgr)), &picture},
      {"24 bits top-down", BmpFile(3, -2, 24, 0, "", rows_of(picture, false, Bgr)), &picture},
      {"32 bits", BmpFile(3, 2, 32, 0, "", rows_of(picture, true, bgrx32)), &picture},
      {"32 bits with masks after the header",
       BmpFile(3, 2, 32, 3, U32(0xFF000000) + U32(0x00FF0000) + U32(0x0000FF00),
               rows_of(picture, true, rgba32)),
       &picture},
      {"16 bits 5-5-5", BmpFile(3, 2, 16, 0, "", rows_of(picture, true, rgb16)), &picture},
      {"16 bits 5-6-5 with masks inside a long header",
       [&] {
         std::string file = BmpFile(3, 2, 16, 3, "", rows_of(picture, true, rgb565), 108);
         file.replace(14 + 40, 12, U32(0xF800) + U32(0x07E0) + U32(0x001F));
         return file;
       }(),
       &picture},
      // Palette indexes, bottom row first: 4 0 5, then 1 2 3.
      {"4 bits with a palette", BmpFile(3, 2, 4, 0, palette, Pad("\x40\x50") + Pad("\x12\x30")),
       &picture},
      {"1 bit with a palette",
       BmpFile(3, 2, 1, 0, Bgr(kBlack) + '\0' + Bgr(kWhite) + '\0',
               Pad("\x40") + Pad("\xA0")),  // bottom row first: 0 1 0, then 1 0 1
       &two_colours},
  };
  for (const auto& c : cases) {
    testing::WriteFile(dir.path() / "in.bmp", c.file);
    ASSERT_HR(S_OK, PictureToBmp(dir.wide("in.bmp"), dir.wide("out.bmp"))) << c.name;
    EXPECT_EQ(testing::ReadFile(dir.path() / "out.bmp"), Bmp24(3, 2, *c.expected)) << c.name;
  }
}

TEST(ImagesTest, RefusesBitmapsItCannotRead) {
  testing::ScopedTempDir dir;
  const std::string rows = Pad(Bgr(kRed)) + Pad(Bgr(kBlue));
  std::string bad_header_size = BmpFile(1, 2, 24, 0, "", rows);
  bad_header_size[14] = 20;
  const struct {
    const char* name;
    std::string file;
    std::int32_t load_status;
    HRESULT picture_result;
  } cases[] = {
      {"run-length compressed", BmpFile(1, 2, 8, 1, std::string(1024, '\0'), "\x01\x00\x00\x01"),
       GDIPLUS_NOT_IMPLEMENTED, E_NOTIMPL},
      {"embedded png", BmpFile(1, 2, 0, 5, "", "\x89PNG"), GDIPLUS_NOT_IMPLEMENTED, E_NOTIMPL},
      {"rows cut short", BmpFile(1, 2, 24, 0, "", rows).substr(0, 14 + 40 + 6),
       GDIPLUS_UNKNOWN_IMAGE_FORMAT, CTL_E_INVALIDPICTURE},
      {"header size unknown", bad_header_size, GDIPLUS_UNKNOWN_IMAGE_FORMAT, CTL_E_INVALIDPICTURE},
      {"no width", BmpFile(0, 2, 24, 0, "", rows), GDIPLUS_UNKNOWN_IMAGE_FORMAT,
       CTL_E_INVALIDPICTURE},
      {"bit count 7", BmpFile(1, 2, 7, 0, "", rows), GDIPLUS_UNKNOWN_IMAGE_FORMAT,
       CTL_E_INVALIDPICTURE},
      {"masks not contiguous", BmpFile(1, 2, 32, 3, U32(0xF0F0) + U32(0xFF0000) + U32(0xFF), rows),
       GDIPLUS_UNKNOWN_IMAGE_FORMAT, CTL_E_INVALIDPICTURE},
      {"just the signature", "BM", GDIPLUS_UNKNOWN_IMAGE_FORMAT, CTL_E_INVALIDPICTURE},
      {"claims 60000 x 60000", BmpFile(60000, 60000, 24, 0, "", rows), GDIPLUS_OUT_OF_MEMORY,
       E_OUTOFMEMORY},
  };
  for (const auto& c : cases) {
    testing::WriteFile(dir.path() / "in.bmp", c.file);
    Image image;
    EXPECT_EQ(GdipLoadImageFromFile(dir.wide("in.bmp"), &image), c.load_status) << c.name;
    EXPECT_TRUE(image == nullptr) << c.name;
    EXPECT_HR(c.picture_result, PictureToBmp(dir.wide("in.bmp"), dir.wide("out.bmp"))) << c.name;
  }
}

TEST(ImagesTest, JpegDecodesWhatTheLibraryEncodes) {
  testing::ScopedTempDir dir;
  const std::vector<std::uint8_t> rgb = testing::GradientPicture(37, 21);
  testing::WriteFile(dir.path() / "in.jpg", JpegFromLibrary(rgb, 37, 21));
  ASSERT_HR(S_OK, PictureToBmp(dir.wide("in.jpg"), dir.wide("out.bmp")));
  int width = 0, height = 0;
  const std::vector<std::uint8_t> decoded =
      testing::ReadBmp24File(testing::ReadFile(dir.path() / "out.bmp"), &width, &height);
  EXPECT_EQ(width, 37);
  EXPECT_EQ(height, 21);
  EXPECT_LE(testing::MaxPixelDifference(decoded, rgb), 3);
}

TEST(ImagesTest, SavesThroughTheEncoders) {
  testing::ScopedTempDir dir;
  const std::vector<std::uint8_t> rgb = testing::GradientPicture(37, 21);
  const std::string bmp = testing::Bmp24File(37, 21, rgb);
  testing::WriteFile(dir.path() / "in.bmp", bmp);
  testing::WriteFile(dir.path() / "in.png", "\x89PNG\r\n\x1A\n rest");

  std::vector<ImageCodecInfo> encoders;
  ASSERT_EQ(GdipGetImageEncoders(&encoders), GDIPLUS_OK);
  CLSID jpeg_encoder{}, bmp_encoder{};
  for (const ImageCodecInfo& encoder : encoders) {
    if (encoder.mime_type == u"image/jpeg") jpeg_encoder = encoder.clsid;
    if (encoder.mime_type == u"image/bmp") bmp_encoder = encoder.clsid;
  }
  Image image, png;
  ASSERT_EQ(GdipLoadImageFromFile(dir.wide("in.bmp"), &image), GDIPLUS_OK);
  ASSERT_EQ(GdipLoadImageFromFile(dir.wide("in.png"), &png), GDIPLUS_OK);

  const EncoderParameter best[] = {{EncoderQuality, EncoderParameterValueTypeLong, 100}};
  ASSERT_EQ(GdipSaveImageToFile(image.get(), dir.wide("best.jpg"), jpeg_encoder, best), GDIPLUS_OK);
  const std::vector<int> tables =
      testing::ReadJpegHeaders(testing::ReadFile(dir.path() / "best.jpg")).quantisation;
  ASSERT_FALSE(tables.empty());
  EXPECT_EQ(tables, std::vector<int>(tables.size(), 1));
  // Read back through the decoder, which is checked against the library's own encoder above.
  ASSERT_HR(S_OK, PictureToBmp(dir.wide("best.jpg"), dir.wide("best.bmp")));
  int width = 0, height = 0;
  const std::vector<std::uint8_t> decoded =
      testing::ReadBmp24File(testing::ReadFile(dir.path() / "best.bmp"), &width, &height);
  EXPECT_EQ(width, 37);
  EXPECT_EQ(height, 21);
  EXPECT_LE(testing::MaxPixelDifference(decoded, rgb), 3);

  ASSERT_EQ(GdipSaveImageToFile(image.get(), dir.wide("copy.bmp"), bmp_encoder, {}), GDIPLUS_OK);
  EXPECT_EQ(testing::ReadFile(dir.path() / "copy.bmp"), bmp);

  const EncoderParameter too_good[] = {{EncoderQuality, EncoderParameterValueTypeLong, 101}};
  const struct {
    const char* name;
    const ImageObject* image;
    CLSID encoder;
    std::span<const EncoderParameter> parameters;
    std::int32_t status;
  } failures[] = {
      {"no image", nullptr, jpeg_encoder, {}, GDIPLUS_INVALID_PARAMETER},
      {"unknown encoder", image.get(), ImageFormatJPEG, {}, GDIPLUS_INVALID_PARAMETER},
      {"quality above 100", image.get(), jpeg_encoder, too_good, GDIPLUS_INVALID_PARAMETER},
      {"quality for bitmaps", image.get(), bmp_encoder, best, GDIPLUS_INVALID_PARAMETER},
      {"recognised format only", png.get(), jpeg_encoder, best, GDIPLUS_NOT_IMPLEMENTED},
  };
  for (const auto& c : failures) {
    EXPECT_EQ(GdipSaveImageToFile(c.image, dir.wide("failed.jpg"), c.encoder, c.parameters),
              c.status)
        << c.name;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "failed.jpg")) << c.name;
  }
  EXPECT_EQ(GdipSaveImageToFile(image.get(), dir.wide("missing/x.jpg"), jpeg_encoder, best),
            GDIPLUS_WIN32_ERROR);
}

}  // namespace
}  // namespace orvex::platform
