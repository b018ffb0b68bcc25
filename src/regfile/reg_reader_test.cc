#include "regfile/reg_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "regfile/reg_test_support.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

using testing::Dump;
using testing::RegFileBytes;

constexpr HRESULT kEof = HResultFromWin32(ERROR_HANDLE_EOF);
constexpr HRESULT kOver = HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00\r\n\r\n";

struct Parsed {
  HRESULT status;
  std::string dump;
  std::uint32_t version;
};

Parsed ParseBytes(const std::string& bytes) {
  testing::ScopedTempDir dir;
  testing::WriteFile(dir.path() / "in.reg", bytes);
  RegistryDocument document;
  const HRESULT status = ParseRegFile(document, dir.wide("in.reg"));
  return {status, Dump(document), document.formatVersion()};
}

// A file holding the header, then `body`.
std::string WithHeader(std::u16string_view body) {
  return RegFileBytes(std::u16string(kHeader) + std::u16string(body));
}

std::u16string WithNul(std::u16string_view before, std::u16string_view after) {
  return std::u16string(before) + u'\0' + std::u16string(after);
}

struct Row {
  const char* label;
  std::u16string text;  // for header rows the whole text, otherwise the text after the header
  HRESULT status;
  std::string dump;  // the document afterwards, also after a failure
};

void ExpectRows(const std::vector<Row>& rows, bool whole_text) {
  for (const Row& row : rows) {
    const Parsed parsed =
        ParseBytes(whole_text ? RegFileBytes(row.text) : WithHeader(row.text));
    EXPECT_HR(row.status, parsed.status) << row.label;
    EXPECT_EQ(row.dump, parsed.dump) << row.label;
  }
}

TEST(RegReaderTest, OpeningNeedsAFileWithTheUtf16ByteOrderMark) {
  testing::ScopedTempDir dir;
  RegistryDocument document;
  EXPECT_HR(HResultFromWin32(ERROR_FILE_NOT_FOUND),
            ParseRegFile(document, dir.wide("missing.reg")));
  EXPECT_HR(HResultFromWin32(ERROR_ACCESS_DENIED), ParseRegFile(document, dir.wide()));

  const std::string header = "Windows Registry Editor Version 5.00\r\n";
  struct Case {
    const char* label;
    std::string bytes;
    HRESULT status;
  };
  const Case cases[] = {
      {"empty file", "", E_NOTIMPL},
      {"one byte", "\xFF", E_NOTIMPL},
      {"UTF-8", header, E_NOTIMPL},
      {"UTF-8 with its mark", "\xEF\xBB\xBF" + header, E_NOTIMPL},
      {"UTF-16BE", "\xFE\xFF" + testing::Utf16Bytes(u"W").substr(1), E_NOTIMPL},
      {"a trailing odd byte is dropped", WithHeader(u"[A]\r\n") + "A", S_OK},
      {"a trailing odd byte makes no line end", WithHeader(u"[A]") + "\r", kEof},
  };
  for (const Case& c : cases) EXPECT_HR(c.status, ParseBytes(c.bytes).status) << c.label;
}

TEST(RegReaderTest, HeaderForms) {
  EXPECT_EQ(0x500u, ParseBytes(WithHeader(u"")).version);
  ExpectRows(
      {
          {"no line end", u"Windows Registry Editor Version 5.00", S_OK, ""},
          {"blanks and a comment", u"  Windows Registry Editor Version   5.00 ; note\r\n", S_OK,
           ""},
          {"tabs and LF", u"\tWindows Registry Editor Version\t5.00\n[A]\n", S_OK, "[A]\n"},
          {"empty, blank and comment lines follow",
           u"Windows Registry Editor Version 5.00\r\n\r\n \t\r\n; c\r\n\r\n[A]\r\n", S_OK,
           "[A]\n"},
          {"ends inside a following comment", u"Windows Registry Editor Version 5.00\r\n; c",
           S_OK, ""},
          {"empty line first", u"\r\nWindows Registry Editor Version 5.00\r\n",
           kRegHeaderMismatch, ""},
          {"other text", u"REGEDIT4\r\n", kRegHeaderMismatch, ""},
          {"letter case", u"windows Registry Editor Version 5.00\r\n", kRegHeaderMismatch, ""},
          {"version 4.00", u"Windows Registry Editor Version 4.00\r\n", E_NOTIMPL, ""},
          {"version 0.00", u"Windows Registry Editor Version 0.00\r\n", E_UNEXPECTED, ""},
          {"letters count as zero", u"Windows Registry Editor Version x.yz\r\n", E_UNEXPECTED,
           ""},
          {"two digits after the dot", u"Windows Registry Editor Version 5.001\r\n",
           E_UNEXPECTED, ""},
          {"text after the version", u"Windows Registry Editor Version 5.00 x\r\n",
           E_UNEXPECTED, ""},
          {"ends inside the text", u"Windows Registry Edit", kEof, ""},
          {"ends before the version", u"Windows Registry Editor Version ", kEof, ""},
          {"ends inside the version", u"Windows Registry Editor Version 5.0", kEof, ""},
      },
      true);
}

TEST(RegReaderTest, Sections) {
  ExpectRows(
      {
          {"a repeated section adds to the first",
           u"[HKEY_CURRENT_USER\\A]\r\n\"x\"=\"1\"\r\n[HKEY_CURRENT_USER\\B]\r\n"
           u"[hkey_current_user\\a]\r\n\"y\"=\"2\"\r\n",
           S_OK,
           "[HKEY_CURRENT_USER\\A]\n  x=1:31000000\n  y=1:32000000\n[HKEY_CURRENT_USER\\B]\n"},
          {"file order, any line ends", u"[B]\n[A]\r[C]\r\n\n", S_OK, "[B]\n[A]\n[C]\n"},
          {"comment after the bracket", u"[HKEY_CURRENT_USER\\A] ; comment\r\n", S_OK,
           "[HKEY_CURRENT_USER\\A]\n"},
          {"the last bracket ends the path", u"[HKEY_CURRENT_USER\\A]]\r\n", S_OK,
           "[HKEY_CURRENT_USER\\A]]\n"},
          {"text after the last bracket is ignored", u"[A]x]\"v\"=\"1\"\r\n", S_OK, "[A]x]\n"},
          {"comments and blank lines", u"; c\r\n\r\n \t\r\n[A]\r\n; c2\r\n\"v\"=\"1\"\r\n; end",
           S_OK, "[A]\n  v=1:31000000\n"},
          {"an empty path is a key but takes no values", u"[]\r\n[]\r\n", S_OK, "[]\n"},
          {"value under an empty path", u"[]\r\n@=\"1\"\r\n", E_UNEXPECTED, "[]\n"},
          {"value before any key", u"\"x\"=\"1\"\r\n", E_UNEXPECTED, ""},
          {"default value before any key", u"@=\"1\"\r\n", E_UNEXPECTED, ""},
          {"no closing bracket", u"[A\r\n", E_UNEXPECTED, ""},
          {"deletion", u"[-A]\r\n", E_UNEXPECTED, ""},
          {"NUL in a key line", WithNul(u"[A", u"]\r\n"), E_UNEXPECTED, ""},
          {"unknown line", u"[A]\r\nv=1\r\n", E_UNEXPECTED, "[A]\n"},
          {"ends inside a key line", u"[HKEY_CURRENT_USER\\A]", kEof, ""},
          {"ends after the opening bracket", u"[", kEof, ""},
      },
      false);
}

TEST(RegReaderTest, StringValues) {
  ExpectRows(
      {
          {"blanks around =", u"[A]\r\n\"a\" = \"b\"\r\n", S_OK, "[A]\n  a=1:62000000\n"},
          {"default value forms, names repeat",
           u"[A]\r\n@=\"b\"\r\n\"\"=\"c\"\r\n\"a\"=\"1\"\r\n\"a\"=\"2\"\r\n", S_OK,
           "[A]\n  =1:62000000\n  =1:63000000\n  a=1:31000000\n  a=1:32000000\n"},
          {"escaped quote and backslash", u"[A]\r\n\"q\\\"x\\\\y\"=\"\\\\\"\r\n", S_OK,
           "[A]\n  q\"x\\y=1:5c000000\n"},
          {"tab stands for itself", u"[A]\r\n\"a\"=\"x\ty\"\r\n", S_OK,
           "[A]\n  a=1:780009007900" "0000\n"},
          {"empty string", u"[A]\r\n\"a\"=\"\"\r\n", S_OK, "[A]\n  a=1:0000\n"},
          {"non-ASCII text", u"[A]\r\n\"\u00e9\"=\"\u6587\"\r\n", S_OK,
           "[A]\n  \xc3\xa9=1:87650000\n"},
          {"comment after a value", u"[A]\r\n\"a\"=\"b\" ; c\r\n", S_OK, "[A]\n  a=1:62000000\n"},
          {"last line without a line end", u"[A]\r\n\"a\"=\"x\"", S_OK, "[A]\n  a=1:78000000\n"},
          // Only what the body accepts may follow a value, and that includes another value.
          {"two values on a line", u"[A]\r\n\"a\"=\"1\" \"b\"=\"2\"\r\n", S_OK,
           "[A]\n  a=1:31000000\n  b=1:32000000\n"},
          {"junk after a value", u"[A]\r\n\"a\"=\"b\" junk\r\n", E_UNEXPECTED,
           "[A]\n  a=1:62000000\n"},
          {"unknown escape", u"[A]\r\n\"a\"=\"x\\ty\"\r\n", E_UNEXPECTED, "[A]\n"},
          {"line end inside quotes", u"[A]\r\n\"a\"=\"x\r\ny\"\r\n", E_UNEXPECTED, "[A]\n"},
          {"NUL inside quotes", WithNul(u"[A]\r\n\"a", u"\"=\"x\"\r\n"), E_UNEXPECTED, "[A]\n"},
          {"no =", u"[A]\r\n\"a\":\"b\"\r\n", E_UNEXPECTED, "[A]\n"},
          {"value deletion", u"[A]\r\n\"x\"=-\r\n", E_UNEXPECTED, "[A]\n"},
          {"unknown form", u"[A]\r\n\"x\"=str:1\r\n", E_UNEXPECTED, "[A]\n"},
          {"ends inside a name", u"[A]\r\n\"a", kEof, "[A]\n"},
          {"ends before =", u"[A]\r\n\"a\" ", kEof, "[A]\n"},
          {"ends after =", u"[A]\r\n\"a\"=", kEof, "[A]\n"},
          {"ends inside a string", u"[A]\r\n\"a\"=\"x", kEof, "[A]\n"},
          {"ends inside an escape", u"[A]\r\n\"a\"=\"x\\", kEof, "[A]\n"},
      },
      false);
}

TEST(RegReaderTest, DwordValues) {
  ExpectRows(
      {
          {"one digit", u"[A]\r\n\"n\"=dword:1\r\n", S_OK, "[A]\n  n=4:01000000\n"},
          {"blank before the digits", u"[A]\r\n\"n\"=dword: FFFFFFFF\r\n", S_OK,
           "[A]\n  n=4:ffffffff\n"},
          {"mixed case digits", u"[A]\r\n\"n\"=dword:0000aBcD\r\n", S_OK, "[A]\n  n=4:cdab0000\n"},
          {"eight digits at the end of the file", u"[A]\r\n\"n\"=dword:12345678", S_OK,
           "[A]\n  n=4:78563412\n"},
          {"no digits", u"[A]\r\n\"n\"=dword:\r\n", E_UNEXPECTED, "[A]\n"},
          {"not a digit", u"[A]\r\n\"n\"=dword:x\r\n", E_UNEXPECTED, "[A]\n"},
          {"a ninth digit is left for the line", u"[A]\r\n\"n\"=dword:123456789\r\n",
           E_UNEXPECTED, "[A]\n  n=4:78563412\n"},
          {"upper-case word", u"[A]\r\n\"n\"=DWORD:1\r\n", E_UNEXPECTED, "[A]\n"},
          {"misspelt word", u"[A]\r\n\"n\"=dwrd:1\r\n", E_UNEXPECTED, "[A]\n"},
          {"ends after a digit", u"[A]\r\n\"n\"=dword:1", kEof, "[A]\n"},
          {"ends inside the word", u"[A]\r\n\"n\"=dwo", kEof, "[A]\n"},
      },
      false);
}

TEST(RegReaderTest, HexValues) {
  ExpectRows(
      {
          {"trailing comma", u"[A]\r\n\"b\"=hex:01,02,\r\n", S_OK, "[A]\n  b=3:0102\n"},
          {"typed", u"[A]\r\n\"b\"=hex(2):41,00,00,00\r\n", S_OK, "[A]\n  b=2:41000000\n"},
          {"type in hexadecimal", u"[A]\r\n\"b\"=hex(b):00\r\n", S_OK, "[A]\n  b=11:00\n"},
          {"largest type", u"[A]\r\n\"b\"=hex(ffffffff):\r\n", S_OK, "[A]\n  b=4294967295:\n"},
          {"colon left out", u"[A]\r\n\"b\"=hex(2)41,00\r\n", S_OK, "[A]\n  b=2:4100\n"},
          {"parenthesis left out", u"[A]\r\n\"b\"=hex(2:41\r\n", S_OK, "[A]\n  b=2:41\n"},
          {"empty list", u"[A]\r\n\"b\"=hex:\r\n", S_OK, "[A]\n  b=3:\n"},
          {"blanks and upper case", u"[A]\r\n\"b\"=hex: AB , cd\r\n", S_OK, "[A]\n  b=3:abcd\n"},
          {"a lone digit is dropped", u"[A]\r\n\"b\"=hex:01,2\r\n", S_OK, "[A]\n  b=3:01\n"},
          {"continuation with comment and empty lines",
           u"[A]\r\n\"b\"=hex:01,\\ ; c\r\n; comment\r\n\r\n  02,\\\r\n03\r\n", S_OK,
           "[A]\n  b=3:010203\n"},
          {"continuation before the first byte", u"[A]\r\n\"b\"=hex:\\\r\n  01\r\n", S_OK,
           "[A]\n  b=3:01\n"},
          {"bytes without a comma", u"[A]\r\n\"b\"=hex:01 02\r\n", E_UNEXPECTED,
           "[A]\n  b=3:01\n"},
          {"text after a continuation", u"[A]\r\n\"b\"=hex:01,\\ x\r\n02\r\n", E_UNEXPECTED,
           "[A]\n"},
          {"no type digits", u"[A]\r\n\"b\"=hex():00\r\n", E_UNEXPECTED, "[A]\n"},
          {"misspelt word", u"[A]\r\n\"b\"=hx:00\r\n", E_UNEXPECTED, "[A]\n"},
          {"ends after a byte", u"[A]\r\n\"b\"=hex:01", kEof, "[A]\n"},
          {"ends after the colon", u"[A]\r\n\"b\"=hex:", kEof, "[A]\n"},
          {"ends after a continuation", u"[A]\r\n\"b\"=hex:01,\\\r\n\r\n", kEof, "[A]\n"},
          {"ends inside the type", u"[A]\r\n\"b\"=hex(2", kEof, "[A]\n"},
      },
      false);
}

TEST(RegReaderTest, CapacitiesHoldUpToTheirLimits) {
  const std::u16string name_at_limit(kMaxValueNameUnits, u'n');
  const std::u16string text_at_limit(kMaxStringUnits, u't');
  const std::u16string path_at_limit(kMaxKeyLineUnits - 1, u'k');  // the bracket is the last unit
  std::u16string bytes_at_limit;
  for (std::size_t i = 0; i < kMaxHexBytes; ++i) bytes_at_limit += i == 0 ? u"00" : u",00";
  std::u16string escaped_name_at_limit;
  for (std::size_t i = 0; i < kMaxValueNameUnits; ++i) escaped_name_at_limit += u"\\\\";

  // `size` is what a successful read holds: the path's length for a key without values, else
  // the first value's name length plus its data bytes.
  struct Case {
    const char* label;
    std::u16string body;
    HRESULT status;
    std::size_t size;
  };
  const Case cases[] = {
      {"name", u"[A]\r\n\"" + name_at_limit + u"\"=\"\"\r\n", S_OK, kMaxValueNameUnits + 2},
      {"name over", u"[A]\r\n\"" + name_at_limit + u"n\"=\"\"\r\n", kOver, 0},
      {"name counted after escapes", u"[A]\r\n\"" + escaped_name_at_limit + u"\"=\"\"\r\n", S_OK,
       kMaxValueNameUnits + 2},
      {"string", u"[A]\r\n@=\"" + text_at_limit + u"\"\r\n", S_OK, kMaxStringUnits * 2 + 2},
      {"string over", u"[A]\r\n@=\"" + text_at_limit + u"t\"\r\n", kOver, 0},
      {"key line", u"[" + path_at_limit + u"]\r\n", S_OK, kMaxKeyLineUnits - 1},
      {"key line over", u"[" + path_at_limit + u"k]\r\n", E_UNEXPECTED, 0},
      {"hex list", u"[A]\r\n@=hex:" + bytes_at_limit + u"\r\n", S_OK, kMaxHexBytes},
      {"hex list over", u"[A]\r\n@=hex:" + bytes_at_limit + u",\r\n", kOver, 0},
  };
  for (const Case& c : cases) {
    testing::ScopedTempDir dir;
    testing::WriteFile(dir.path() / "in.reg", WithHeader(c.body));
    RegistryDocument document;
    EXPECT_HR(c.status, ParseRegFile(document, dir.wide("in.reg"))) << c.label;
    if (c.status != S_OK) continue;
    ASSERT_EQ(1, document.size()) << c.label;
    const RegistryKeyEntry& key = document.keys()[0];
    const std::size_t size = key.values().empty()
                                 ? key.path().size()
                                 : key.values()[0].name.size() + key.values()[0].value.data.size();
    EXPECT_EQ(c.size, size) << c.label;
  }
}

}  // namespace
}  // namespace orvex
