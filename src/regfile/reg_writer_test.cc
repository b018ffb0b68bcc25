#include "regfile/reg_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "regfile/reg_test_support.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

using testing::RegFileBytes;

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00\r\n\r\n";

RegistryValueEntry Bytes(std::uint32_t type, std::vector<std::uint8_t> data) {
  return RegistryValueEntry{type, std::move(data)};
}

// REG_SZ data as the reader makes it: the text as UTF-16LE and a NUL.
RegistryValueEntry Text(std::u16string_view text) {
  std::vector<std::uint8_t> data;
  for (const char16_t unit : text) {
    data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    data.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  data.insert(data.end(), {0, 0});
  return RegistryValueEntry{REG_SZ, std::move(data)};
}

// What ExportRegFile leaves at a fresh path; the status goes to *status.
std::string Export(const RegistryDocument& document, HRESULT* status) {
  testing::ScopedTempDir dir;
  *status = ExportRegFile(document, dir.wide("out.reg"));
  return testing::ReadFile(dir.path() / "out.reg");
}

std::string ExportOk(const RegistryDocument& document) {
  HRESULT status = E_FAIL;
  std::string bytes = Export(document, &status);
  EXPECT_HR(S_OK, status);
  return bytes;
}

TEST(RegWriterTest, EmptyDocumentIsTheHeaderAndAnEmptyLine) {
  const RegistryDocument document;
  EXPECT_EQ(RegFileBytes(kHeader), ExportOk(document));
}

TEST(RegWriterTest, WritesTheExampleFile) {
  RegistryDocument document;
  RegistryValueList& values =
      document.KeyAt(document.AddKey(u"HKEY_CURRENT_USER\\Software\\Example")).values();
  ASSERT_TRUE(values.AddValue(u"", Text(u"Text with \"quotes\"")));
  ASSERT_TRUE(values.AddValue(u"Count", Bytes(REG_DWORD, {0x2a, 0, 0, 0})));
  ASSERT_TRUE(values.AddValue(u"Path", Bytes(REG_EXPAND_SZ, {0x25, 0, 0x41, 0, 0, 0})));
  ASSERT_TRUE(values.AddValue(u"Blob", Bytes(REG_BINARY, {0xde, 0xad})));
  ASSERT_TRUE(values.AddValue(u"Odd", Bytes(REG_DWORD, {1, 2})));
  document.AddKey(u"HKEY_CURRENT_USER\\Empty");

  EXPECT_EQ(RegFileBytes(u"Windows Registry Editor Version 5.00\r\n"
                         u"\r\n"
                         u"[HKEY_CURRENT_USER\\Software\\Example]\r\n"
                         u"@=\"Text with \\\"quotes\\\"\"\r\n"
                         u"\"Count\"=dword:0000002a\r\n"
                         u"\"Path\"=hex(2):25,00,41,00,00,00\r\n"
                         u"\"Blob\"=hex:de,ad\r\n"
                         u"\"Odd\"=hex(4):01,02\r\n"
                         u"\r\n"
                         u"[HKEY_CURRENT_USER\\Empty]\r\n"
                         u"\r\n"),
            ExportOk(document));
}

TEST(RegWriterTest, ValueForms) {
  struct Case {
    const char* label;
    std::u16string name;
    RegistryValueEntry value;
    std::u16string line;
  };
  const Case cases[] = {
      {"escaped name", u"a\"b\\c", Text(u""), u"\"a\\\"b\\\\c\"=\"\""},
      {"escaped text, tab kept", u"s", Text(u"\\\"\t;"), u"\"s\"=\"\\\\\\\"\t;\""},
      {"non-ASCII text", u"\u00e9", Text(u"\u6587\U0001F600"), u"\"\u00e9\"=\"\u6587\U0001F600\""},
      {"dword", u"n", Bytes(REG_DWORD, {0x78, 0x56, 0x34, 0x12}), u"\"n\"=dword:12345678"},
      {"dword of three bytes", u"n", Bytes(REG_DWORD, {1, 2, 3}), u"\"n\"=hex(4):01,02,03"},
      {"binary without data", u"b", Bytes(REG_BINARY, {}), u"\"b\"=hex:"},
      {"type 0", u"b", Bytes(REG_NONE, {}), u"\"b\"=hex(0):"},
      {"type 11", u"b", Bytes(REG_QWORD, {0xff}), u"\"b\"=hex(b):ff"},
      {"type 16", u"b", Bytes(16, {0}), u"\"b\"=hex(10):00"},
      {"largest type", u"b", Bytes(0xFFFFFFFF, {0}), u"\"b\"=hex(ffffffff):00"},
      {"multi-string", u"m", Bytes(REG_MULTI_SZ, {0x61, 0, 0, 0, 0, 0}),
       u"\"m\"=hex(7):61,00,00,00,00,00"},
      {"string up to the first NUL", u"s", Bytes(REG_SZ, {0x41, 0, 0, 0, 0x42, 0, 0, 0}),
       u"\"s\"=\"A\""},
      {"string with an odd byte after the NUL", u"s", Bytes(REG_SZ, {0x41, 0, 0, 0, 7}),
       u"\"s\"=\"A\""},
      {"string with LF after the NUL", u"s", Bytes(REG_SZ, {0x41, 0, 0, 0, 0x0a, 0}),
       u"\"s\"=\"A\""},
      // Data a quoted string cannot carry goes out whole as typed bytes.
      {"string without a NUL", u"s", Bytes(REG_SZ, {0x41, 0, 0x42, 0}),
       u"\"s\"=hex(1):41,00,42,00"},
      {"string of an odd size without a NUL", u"s", Bytes(REG_SZ, {0x41, 0, 0}),
       u"\"s\"=hex(1):41,00,00"},
      {"string without data", u"s", Bytes(REG_SZ, {}), u"\"s\"=hex(1):"},
      {"string with CR before the NUL", u"s", Bytes(REG_SZ, {0x41, 0, 0x0d, 0, 0, 0}),
       u"\"s\"=hex(1):41,00,0d,00,00,00"},
      {"string with LF before the NUL", u"s", Bytes(REG_SZ, {0x0a, 0, 0, 0}),
       u"\"s\"=hex(1):0a,00,00,00"},
      // The first byte is never wrapped, however long the line already is.
      {"long name", std::u16string(80, u'n'), Bytes(REG_BINARY, {1, 2}),
       u"\"" + std::u16string(80, u'n') + u"\"=hex:01,\\\r\n  02"},
  };
  for (const Case& c : cases) {
    RegistryDocument document;
    ASSERT_TRUE(document.KeyAt(document.AddKey(u"K")).values().AddValue(c.name, c.value));
    EXPECT_EQ(RegFileBytes(std::u16string(kHeader) + u"[K]\r\n" + c.line + u"\r\n\r\n"),
              ExportOk(document))
        << c.label;
  }
}

TEST(RegWriterTest, ByteListsWrapAfterColumn75) {
  std::vector<std::uint8_t> data(100);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  RegistryDocument document;
  ASSERT_TRUE(document.KeyAt(document.AddKey(u"K")).values().AddValue(u"x", Bytes(3, data)));

  // 23 bytes on the first line, 25 on each continuation line, the last 2 alone.
  const std::u16string expected_value =
      u"\"x\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
      u"  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,\\\r\n"
      u"  30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f,40,41,42,43,44,45,46,47,48,\\\r\n"
      u"  49,4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,57,58,59,5a,5b,5c,5d,5e,5f,60,61,\\\r\n"
      u"  62,63\r\n";
  EXPECT_EQ(RegFileBytes(std::u16string(kHeader) + u"[K]\r\n" + expected_value + u"\r\n"),
            ExportOk(document));
}

TEST(RegWriterTest, OutputCrossingBufferBoundariesIsWhole) {
  // About 3.5 buffers of output, with wrapped lists running over the buffer ends.
  RegistryDocument document;
  std::u16string expected(kHeader);
  for (int k = 0; k < 1500; ++k) {
    const std::u16string path = u"HKEY_CURRENT_USER\\Key" + WidenAscii(std::to_string(k));
    RegistryValueList& values = document.KeyAt(document.AddKey(path)).values();
    const std::u16string text = u"value " + WidenAscii(std::to_string(k));
    ASSERT_TRUE(values.AddValue(u"v", Text(text)));
    ASSERT_TRUE(values.AddValue(u"b", Bytes(REG_BINARY, std::vector<std::uint8_t>(40, 0xab))));
    expected += u"[" + path + u"]\r\n\"v\"=\"" + text + u"\"\r\n\"b\"=hex:";
    for (int i = 0; i < 40; ++i) {
      expected += i == 0 ? u"ab" : (i == 23 ? u",\\\r\n  ab" : u",ab");
    }
    expected += u"\r\n\r\n";
  }
  const std::string bytes = ExportOk(document);
  ASSERT_GT(bytes.size(), 3 * 131072u);
  EXPECT_TRUE(bytes == RegFileBytes(expected));
}

TEST(RegWriterTest, LineBreaksInPathsAndNamesAreRefusedBeforeWriting) {
  struct Case {
    const char* label;
    std::u16string path;
    std::u16string name;
  };
  const Case cases[] = {
      {"LF in a path", u"HKEY_CURRENT_USER\\A\nB", u"v"},
      {"CR in a path", u"\rHKEY_CURRENT_USER", u"v"},
      {"CR in a name", u"HKEY_CURRENT_USER\\A", u"a\rb"},
      {"LF in a name", u"HKEY_CURRENT_USER\\A", u"\n"},
  };
  for (const Case& c : cases) {
    RegistryDocument document;
    document.AddKey(u"HKEY_CURRENT_USER\\Fine");
    ASSERT_TRUE(document.KeyAt(document.AddKey(c.path)).values().AddValue(c.name, Text(u"")));
    testing::ScopedTempDir dir;
    testing::WriteFile(dir.path() / "kept.reg", "earlier content");
    EXPECT_HR(E_INVALIDARG, ExportRegFile(document, dir.wide("kept.reg"))) << c.label;
    EXPECT_EQ("earlier content", testing::ReadFile(dir.path() / "kept.reg")) << c.label;
    EXPECT_HR(E_INVALIDARG, ExportRegFile(document, dir.wide("new.reg"))) << c.label;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "new.reg")) << c.label;
  }
}

TEST(RegWriterTest, ReplacesAFileAndReportsPlatformErrors) {
  RegistryDocument document;
  document.AddKey(u"K");
  testing::ScopedTempDir dir;
  testing::WriteFile(dir.path() / "out.reg", std::string(5000, 'x'));
  EXPECT_HR(S_OK, ExportRegFile(document, dir.wide("out.reg")));
  EXPECT_EQ(RegFileBytes(std::u16string(kHeader) + u"[K]\r\n\r\n"),
            testing::ReadFile(dir.path() / "out.reg"));

  EXPECT_HR(HResultFromWin32(ERROR_PATH_NOT_FOUND),
            ExportRegFile(document, dir.wide("missing/out.reg")));
  EXPECT_HR(HResultFromWin32(ERROR_ACCESS_DENIED), ExportRegFile(document, dir.wide()));
}

}  // namespace
}  // namespace orvex
