#include "text/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/text.h"

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

// Padding is optional and a lone last character still yields one byte; '=' may only fill up a
// group (or stand where a new group would begin) and the data ends there, whatever Base64 text
// follows. White space is skipped anywhere; any other character outside the alphabet is refused.
TEST(Base64Test, Decodes) {
  const struct {
    std::u16string_view text;
    std::uint32_t result;
    std::string_view bytes;
  } cases[] = {
      {u"AQID", ERROR_SUCCESS, "\x01\x02\x03"},
      {u"+/+/", ERROR_SUCCESS, "\xFB\xFF\xBF"},
      {u"SGVs\r\nbG8s\r\nIFdv\r\ncmxk\r\nIQ==\r\n", ERROR_SUCCESS, "Hello, World!"},
      {u"\n\t  SGVsbG8s\n\t  IFdvcmxkIQ==\n\t", ERROR_SUCCESS, "Hello, World!"},
      {u"SGVsbG8 = ", ERROR_SUCCESS, "Hello"},  // even inside padding
      {u"VVV=", ERROR_SUCCESS, "UU"},
      {u"VV==", ERROR_SUCCESS, "U"},
      {u"V===", ERROR_SUCCESS, "T"},
      {u"VVV", ERROR_SUCCESS, "UU"},
      {u"V", ERROR_SUCCESS, "T"},            // the top six bits of one byte
      {u"VVVV=", ERROR_SUCCESS, "UUU"},      // '=' where a group would begin ends the data
      {u"VVVV=VVVV", ERROR_SUCCESS, "UUU"},  // ... and what follows is not decoded
      {u"VVV=V", ERROR_SUCCESS, "UU"},
      {u"=", ERROR_SUCCESS, ""},
      {u" \r\n\t", ERROR_SUCCESS, ""},
      {u"V=", ERROR_INVALID_DATA, ""},  // padding that does not complete its group
      {u"VV=", ERROR_INVALID_DATA, ""},
      {u"VV=V", ERROR_INVALID_DATA, ""},
      {u"AQ-D", ERROR_INVALID_DATA, ""},
      {u"AQ\vID", ERROR_INVALID_DATA, ""},
      {u"AQ\u00A0ID", ERROR_INVALID_DATA, ""},
      {u"AQ\u00C4D", ERROR_INVALID_DATA, ""},
      {std::u16string_view(u"AQ\0D", 4), ERROR_INVALID_DATA, ""},
      {u"VVVV=!", ERROR_INVALID_DATA, ""},  // even after the end of the data
  };
  for (const auto& c : cases) {
    std::string bytes;
    EXPECT_EQ(DecodeText(c.text, &bytes), c.result) << ToUtf8(c.text);
    EXPECT_EQ(bytes, c.bytes) << ToUtf8(c.text);
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
