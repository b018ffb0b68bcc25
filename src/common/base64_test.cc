#include "common/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "common/text.h"

namespace orvex {
namespace {

// Size query, then decode into a buffer of exactly that size, as callers do. Returns the code
// of the step that failed (or 0) and the bytes.
std::uint32_t DecodeText(std::u16string_view text, std::string* bytes) {
  std::uint32_t size = 0;
  const std::uint32_t query =
      DecodeBase64(text.data(), static_cast<std::uint32_t>(text.size()), nullptr, &size);
  if (query != ERROR_INSUFFICIENT_BUFFER) return query;
  std::vector<std::uint8_t> buffer(size + 1, 0xEE);  // one guard byte behind the reported size
  std::uint32_t decoded_size = size;
  const std::uint32_t decoded = DecodeBase64(text.data(), static_cast<std::uint32_t>(text.size()),
                                             buffer.data(), &decoded_size);
  EXPECT_EQ(buffer[size], 0xEE) << "wrote past the reported size";
  if (decoded != ERROR_SUCCESS) return decoded;
  EXPECT_EQ(decoded_size, size) << "decode disagrees with the size query";
  bytes->assign(buffer.begin(), buffer.begin() + decoded_size);
  return ERROR_SUCCESS;
}

TEST(Base64Test, DecodesPlainWrappedAndIndentedText) {
  const struct {
    std::u16string_view text;
    std::string_view bytes;
  } cases[] = {
      {u"AQID", "\x01\x02\x03"},
      {u"SGVsbG8=", "Hello"},
      {u"SGVsbA==", "Hell"},
      {u"SGVsbG8sIFdvcmxkIQ==", "Hello, World!"},
      {u"+/+/", "\xFB\xFF\xBF"},
      {u"SGVs\r\nbG8s\r\nIFdv\r\ncmxk\r\nIQ==\r\n", "Hello, World!"},  // wrapped lines
      {u"\n\t  SGVsbG8s\n\t  IFdvcmxkIQ==\n\t", "Hello, World!"},      // indented in XML
      {u"S G V s b G 8 =", "Hello"},                                   // blanks anywhere
      {u"SGVsbG8 = ", "Hello"},                                        // even inside padding
  };
  for (const auto& c : cases) {
    std::string bytes;
    EXPECT_EQ(DecodeText(c.text, &bytes), ERROR_SUCCESS) << ToUtf8(c.text);
    EXPECT_EQ(bytes, c.bytes) << ToUtf8(c.text);
  }
}

// The padding forms the platform decoder accepts and refuses. Padding is optional; a lone last
// character still yields one byte; '=' may only fill up a group (or stand where a new group would
// begin) and the data ends there, whatever Base64 text follows.
TEST(Base64Test, PaddingForms) {
  const struct {
    std::u16string_view text;
    std::uint32_t result;
    std::string_view bytes;
  } cases[] = {
      {u"VVVV", ERROR_SUCCESS, "UUU"},
      {u"VVV=", ERROR_SUCCESS, "UU"},
      {u"VV==", ERROR_SUCCESS, "U"},
      {u"V===", ERROR_SUCCESS, "T"},
      {u"VVV", ERROR_SUCCESS, "UU"},  // unpadded last group
      {u"VV", ERROR_SUCCESS, "U"},
      {u"V", ERROR_SUCCESS, "T"},            // one character: the top six bits of one byte
      {u"VVVV=", ERROR_SUCCESS, "UUU"},      // '=' where a group would begin ends the data
      {u"VVVV=VVVV", ERROR_SUCCESS, "UUU"},  // ... and what follows is not decoded
      {u"VV==VVVV", ERROR_SUCCESS, "U"},
      {u"V========", ERROR_SUCCESS, "T"},
      {u"=", ERROR_SUCCESS, ""},
      {u" \r\n\t", ERROR_SUCCESS, ""},  // only white space: nothing to decode
      {u"V=", ERROR_INVALID_DATA, ""},  // padding that does not complete its group
      {u"VV=", ERROR_INVALID_DATA, ""},
      {u"V==", ERROR_INVALID_DATA, ""},
      {u"VV=V", ERROR_INVALID_DATA, ""},  // data after padding inside a group
      {u"VVV=V", ERROR_SUCCESS, "UU"},    // the padding completed the group: data ended
  };
  for (const auto& c : cases) {
    std::string bytes;
    EXPECT_EQ(DecodeText(c.text, &bytes), c.result) << ToUtf8(c.text);
    EXPECT_EQ(bytes, c.bytes) << ToUtf8(c.text);
  }
}

TEST(Base64Test, RefusesCharactersOutsideTheAlphabet) {
  const std::u16string_view texts[] = {
      u"AQ-D",
      u"AQ_D",
      u"AQID!",
      u"AQ\vID",
      u"AQ\u00A0ID",
      u"AQ\u00C4D",
      std::u16string_view(u"AQ\0D", 4),
      u"VVVV=!",                            // even after the end of the data
      u"-----BEGIN-----AQID-----END-----",  // header lines are not read
  };
  for (const std::u16string_view text : texts) {
    std::string bytes;
    EXPECT_EQ(DecodeText(text, &bytes), ERROR_INVALID_DATA) << ToUtf8(text);
  }
}

TEST(Base64Test, CallerContract) {
  std::uint32_t size = 99;
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(DecodeBase64(nullptr, 4, nullptr, &size), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(DecodeBase64(u"AQID", 0, nullptr, &size), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(DecodeBase64(u"AQID", 4, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(DecodeBase64(u"AQID", 4, buffer, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(size, 99u);

  // Only `length` characters count: the rest of the text is not looked at.
  EXPECT_EQ(DecodeBase64(u"AQIDBAU!", 4, nullptr, &size), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, 3u);

  // With a buffer: undecodable text and a buffer that is too small both fail with 1627 and leave
  // the buffer and the size alone; a larger buffer is fine and the size becomes the byte count.
  size = 4;
  EXPECT_EQ(DecodeBase64(u"AQ-D", 4, buffer, &size), ERROR_FUNCTION_FAILED);
  size = 2;
  EXPECT_EQ(DecodeBase64(u"AQID", 4, buffer, &size), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(buffer[0], 0);
  size = 4;
  EXPECT_EQ(DecodeBase64(u"AQID", 4, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(std::string(buffer, buffer + 3), "\x01\x02\x03");
}

}  // namespace
}  // namespace orvex
