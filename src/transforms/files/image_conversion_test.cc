#include "transforms/files/image_conversion.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/images.h"
#include "testing/image_files.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
// The system's codecs answer on Windows, and those of Wine fall short of Windows' in two ways:
// the JPEG encoder ignores the quality asked for, and the picture loader reports bytes that are
// no picture as a plain failure. Only the Linux build's codecs are checked that closely.
constexpr bool kCheckCodecsClosely = false;
#else
constexpr bool kCheckCodecsClosely = true;
#endif

TEST(ImageConversionTest, ConverterTableChoosesByExtensions) {
  testing::ScopedTempDir dir;
  const struct {
    std::u16string_view source, destination;
    ImageConverter converter;
  } cases[] = {
      {u"pic.JPG", u"PIC.Bmp", ConvertJpegToBmp}, {u"pic.BMP", u"pic.JPEG", ConvertBmpToJpeg},
      {u"pic.png", u"pic.bmp", nullptr},          {u"pic", u"pic.bmp", nullptr},
      {u"x.jpg/pic", u"y/pic.bmp", nullptr},  // a folder's extension is not the file's
  };
  for (const auto& c : cases) {
    const std::u16string source = dir.wide("in/") + std::u16string(c.source);
    const std::u16string destination = dir.wide("out/") + std::u16string(c.destination);
    EXPECT_EQ(FindImageConverter(source, destination), c.converter);
    if (c.converter == nullptr) {
      EXPECT_HR(E_NOTIMPL, ConvertImage(source, destination));
    }
  }
  EXPECT_FALSE(fs::exists(dir.path() / "out"));  // refused pairs touch nothing
}

TEST(ImageConversionTest, ConversionsKeepSizeAndPixels) {
  testing::ScopedTempDir dir;
  const std::vector<std::uint8_t> rgb = testing::GradientPicture(37, 21);
  testing::WriteFile(dir.path() / "pic.bmp", testing::Bmp24File(37, 21, rgb));

  ASSERT_HR(S_OK, ConvertImage(dir.wide("pic.bmp"), dir.wide("new/deeper/pic.jpg")));
  const testing::JpegHeaders facts =
      testing::ReadJpegHeaders(testing::ReadFile(dir.path() / "new/deeper/pic.jpg"));
  EXPECT_EQ(facts.width, 37);
  EXPECT_EQ(facts.height, 21);
  ASSERT_FALSE(facts.quantisation.empty());
  if (kCheckCodecsClosely) {
    EXPECT_EQ(facts.quantisation, std::vector<int>(facts.quantisation.size(), 1));  // quality 100
  }

  testing::WriteFile(dir.path() / "back/pic.bmp", std::string(5000, 'x'));  // to be replaced
  ASSERT_HR(S_OK, ConvertImage(dir.wide("new/deeper/pic.jpg"), dir.wide("back/pic.bmp")));
  const std::string written = testing::ReadFile(dir.path() / "back/pic.bmp");
  int width = 0, height = 0;
  const std::vector<std::uint8_t> back = testing::ReadBmp24File(written, &width, &height);
  EXPECT_EQ(width, 37);
  EXPECT_EQ(height, 21);
  EXPECT_EQ(written, testing::Bmp24File(37, 21, back));  // a plain 24-bit bitmap and nothing else
  EXPECT_LE(testing::MaxPixelDifference(back, rgb), kCheckCodecsClosely ? 4 : 12);
  EXPECT_TRUE(fs::exists(dir.path() / "pic.bmp"));  // sources stay
}

TEST(ImageConversionTest, Failures) {
  testing::ScopedTempDir dir;
  const std::string text = "not a picture at all";
  const std::string bmp = testing::Bmp24File(2, 2, testing::GradientPicture(2, 2));
  testing::WriteFile(dir.path() / "bmp.bmp", bmp);
  ASSERT_HR(S_OK, ConvertBmpToJpeg(dir.wide("bmp.bmp"), dir.wide("jpeg.jpg")));
  const std::string jpeg = testing::ReadFile(dir.path() / "jpeg.jpg");

  const struct {
    ImageConverter converter;
    const char* name;
    const std::string* content;  ///< null: the source does not exist
    HRESULT result;
    bool leaves_destination;
  } cases[] = {
      // The destination is created once the source is open, before anything is decoded.
      {ConvertJpegToBmp, "missing.jpg", nullptr, HResultFromWin32(ERROR_FILE_NOT_FOUND), false},
      {ConvertJpegToBmp, "text.jpg", &text, platform::CTL_E_INVALIDPICTURE, true},
      // Only bitmaps are converted to JPEG; everything else fails before a file is written.
      {ConvertBmpToJpeg, "missing.bmp", nullptr, E_FAIL, false},
      {ConvertBmpToJpeg, "jpeg.bmp", &jpeg, E_NOTIMPL, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    if (c.content != nullptr) testing::WriteFile(dir.path() / c.name, *c.content);
    const std::string out = "new" + std::to_string(++n) + "/sub/out.img";
    const HRESULT result = c.converter(dir.wide(c.name), dir.wide(out));
    if (kCheckCodecsClosely || c.result != platform::CTL_E_INVALIDPICTURE) {
      EXPECT_HR(c.result, result) << c.name;
    } else {
      EXPECT_TRUE(FAILED(result)) << c.name;
    }
    // The directory chain comes first, whatever happens to the source.
    EXPECT_TRUE(fs::is_directory((dir.path() / out).parent_path())) << c.name;
    EXPECT_EQ(fs::exists(dir.path() / out), c.leaves_destination) << c.name;
    if (c.leaves_destination) {
      EXPECT_EQ(testing::ReadFile(dir.path() / out), "") << c.name;
    }
  }

  testing::WriteFile(dir.path() / "file", "x");
  EXPECT_TRUE(FAILED(ConvertBmpToJpeg(dir.wide("bmp.bmp"), dir.wide("file/out.jpg"))));
  EXPECT_TRUE(FAILED(ConvertJpegToBmp(dir.wide("jpeg.jpg"), dir.wide("file/out.bmp"))));
}

TEST(ImageConversionTest, FindImageEncoder) {
  platform::CLSID found{};
  EXPECT_HR(S_OK, FindImageEncoder(u"IMAGE/Jpeg", &found));
  EXPECT_HR(S_FALSE, FindImageEncoder(u"image/x-unknown", &found));
}

}  // namespace
}  // namespace orvex
