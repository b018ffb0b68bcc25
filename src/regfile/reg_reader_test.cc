#include "regfile/reg_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regfile/reg_test_support.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

using testing::RegFileBytes;

constexpr HRESULT kEof = HResultFromWin32(ERROR_HANDLE_EOF);
constexpr HRESULT kOver = HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00\r\n\r\n";

// Reads `bytes` as a file; the document afterwards (also after a failure) goes to *dump.
HRESULT Parse(const std::string& bytes, std::string* dump = nullptr,
              RegistryDocument* document = nullptr) {
  testing::ScopedTempDir dir;
  testing::WriteFile(dir.path() / "in.reg", bytes);
  RegistryDocument local;
  if (document == nullptr) document = &local;
  const HRESULT status = ParseRegFile(*document, dir.wide("in.reg"));
  if (dump != nullptr) *dump = testing::Dump(*document);
  // A failed read leaves the file open until the document goes, and Windows removes no folder
  // that holds an open file.
  document->channel().Reset();
  return status;
}

std::string WithHeader(std::u16string_view body) {
  return RegFileBytes(std::u16string(kHeader) + std::u16string(body));
}

struct Row {
  const char* label;
  std::u16string text;  // the whole text for header rows, else the text after the header
  HRESULT status;
  std::string dump;
};

void ExpectRows(const std::vector<Row>& rows, bool whole_text) {
  for (const Row& row : rows) {
    std::string dump;
    EXPECT_HR(row.status, Parse(whole_text ? RegFileBytes(row.text) : WithHeader(row.text), &dump))
        << row.label;
    EXPECT_EQ(row.dump, dump) << row.label;
  }
}

TEST(RegReaderTest, OpeningNeedsTheUtf16ByteOrderMark) {
  testing::ScopedTempDir dir;
  RegistryDocument document;
  EXPECT_HR(HResultFromWin32(ERROR_FILE_NOT_FOUND), ParseRegFile(document, dir.wide("no.reg")));
  EXPECT_HR(HResultFromWin32(ERROR_ACCESS_DENIED), ParseRegFile(document, dir.wide()));
  const std::string utf8 = "Windows Registry Editor Version 5.00\r\n";
  EXPECT_HR(E_NOTIMPL, Parse(""));
  EXPECT_HR(E_NOTIMPL, Parse("\xFF"));
  EXPECT_HR(E_NOTIMPL, Parse(utf8));
  EXPECT_HR(E_NOTIMPL, Parse("\xEF\xBB\xBF" + utf8));
  EXPECT_HR(E_NOTIMPL, Parse(std::string("\xFE\xFF\0W", 4)));
  // A trailing odd byte makes no unit.
  EXPECT_HR(S_OK, Parse(WithHeader(u"[A]\r\n") + "A"));
  EXPECT_HR(kEof, Parse(WithHeader(u"[A]") + "\r"));
}

TEST(RegReaderTest, HeaderForms) {
  RegistryDocument document;
  ASSERT_HR(S_OK, Parse(WithHeader(u""), nullptr, &document));
  EXPECT_EQ(0x500u, document.formatVersion());
  const std::u16string v = u"Windows Registry Editor Version";
  ExpectRows(
      {{"no line end", v + u" 5.00", S_OK, ""},
       {"blanks and a comment", u"  " + v + u"   5.00 ; note\r\n", S_OK, ""},
       {"tabs, LF and lines to skip", u"\t" + v + u"\t5.00\n\n \t\r\n; c\n[A]\n", S_OK, "[A]\n"},
       {"ends in a following comment", v + u" 5.00\r\n; c", S_OK, ""},
       {"empty line first", u"\r\n" + v + u" 5.00\r\n", kRegHeaderMismatch, ""},
       {"other text", u"REGEDIT4\r\n", kRegHeaderMismatch, ""},
       {"letter case", u"windows Registry Editor Version 5.00\r\n", kRegHeaderMismatch, ""},
       {"version 4.00", v + u" 4.00\r\n", E_NOTIMPL, ""},
       {"version 0.00", v + u" 0.00\r\n", E_UNEXPECTED, ""},
       {"letters count as zero", v + u" x.yz\r\n", E_UNEXPECTED, ""},
       {"text after the version", v + u" 5.001\r\n", E_UNEXPECTED, ""},
       {"ends in the text", u"Windows Registry Edit", kEof, ""},
       {"ends in the version", v + u" 5.0", kEof, ""}},
      true);
}

TEST(RegReaderTest, Sections) {
  ExpectRows({{"a repeated section adds to the first",
               u"[HKCU\\A]\r\n\"x\"=\"1\"\r\n[HKCU\\B]\r\n[hkcu\\a]\r\n\"y\"=\"2\"\r\n", S_OK,
               "[HKCU\\A]\n  x=1:31000000\n  y=1:32000000\n[HKCU\\B]\n"},
              {"file order, any line ends", u"[B]\n[A]\r[C]\r\n\n", S_OK, "[B]\n[A]\n[C]\n"},
              {"comment after the bracket", u"[HKCU\\A] ; comment\r\n", S_OK, "[HKCU\\A]\n"},
              {"the last bracket ends the path", u"[A]]\r\n", S_OK, "[A]]\n"},
              {"text after the last bracket", u"[A]x]\"v\"=\"1\"\r\n", S_OK, "[A]x]\n"},
              {"comments and blank lines", u"; c\r\n\r\n \t\r\n[A]\r\n; c\r\n@=\"1\"\r\n; end",
               S_OK, "[A]\n  =1:31000000\n"},
              {"an empty path takes no values", u"[]\r\n[]\r\n@=\"1\"\r\n", E_UNEXPECTED, "[]\n"},
              {"value before any key", u"\"x\"=\"1\"\r\n", E_UNEXPECTED, ""},
              {"no closing bracket", u"[A\r\n", E_UNEXPECTED, ""},
              {"deletion", u"[-A]\r\n", E_UNEXPECTED, ""},
              {"NUL in a key line", std::u16string(u"[A\0]\r\n", 6), E_UNEXPECTED, ""},
              {"unknown line", u"[A]\r\nv=1\r\n", E_UNEXPECTED, "[A]\n"},
              {"ends in a key line", u"[HKCU\\A]", kEof, ""}},
             false);
}

TEST(RegReaderTest, ValueForms) {
  ExpectRows(
      {{"blanks around =, default forms, repeats",
        u"[A]\r\n\"a\" = \"b\"\r\n@=\"c\"\r\n\"\"=\"d\"\r\n\"a\"=\"\"", S_OK,
        "[A]\n  a=1:62000000\n  =1:63000000\n  =1:64000000\n  a=1:0000\n"},
       {"escapes", u"[A]\r\n\"q\\\"x\\\\y\"=\"\\\\\t\"\r\n", S_OK,
        "[A]\n  q\"x\\y=1:5c0009000000\n"},
       {"two values on a line, then a comment", u"[A]\r\n\"a\"=\"1\" @=\"2\" ; c\r\n", S_OK,
        "[A]\n  a=1:31000000\n  =1:32000000\n"},
       {"junk after a value", u"[A]\r\n\"a\"=\"b\" junk\r\n", E_UNEXPECTED,
        "[A]\n  a=1:62000000\n"},
       {"unknown escape", u"[A]\r\n\"a\"=\"x\\ty\"\r\n", E_UNEXPECTED, "[A]\n"},
       {"line end in quotes", u"[A]\r\n\"a\"=\"x\r\ny\"\r\n", E_UNEXPECTED, "[A]\n"},
       {"value deletion", u"[A]\r\n\"x\"=-\r\n", E_UNEXPECTED, "[A]\n"},
       {"ends in a string", u"[A]\r\n\"a\"=\"x", kEof, "[A]\n"},
       {"ends after =", u"[A]\r\n\"a\"=", kEof, "[A]\n"},
       {"dword forms", u"[A]\r\n\"n\"=dword:1\r\n\"m\"=dword: FFFFFFFF\r\n\"k\"=dword:0000aBcD",
        S_OK, "[A]\n  n=4:01000000\n  m=4:ffffffff\n  k=4:cdab0000\n"},
       {"dword without digits", u"[A]\r\n\"n\"=dword:\r\n", E_UNEXPECTED, "[A]\n"},
       {"a ninth digit is left to the line", u"[A]\r\n\"n\"=dword:123456789\r\n", E_UNEXPECTED,
        "[A]\n  n=4:78563412\n"},
       {"upper-case word", u"[A]\r\n\"n\"=DWORD:1\r\n", E_UNEXPECTED, "[A]\n"},
       {"ends after a digit", u"[A]\r\n\"n\"=dword:1", kEof, "[A]\n"},
       {"hex forms",
        u"[A]\r\n\"b\"=hex:01,02,\r\n\"c\"=hex(2):41,00\r\n\"d\"=hex(b):00\r\n\"e\"=hex(2)41\r\n"
        u"\"f\"=hex:\r\n\"g\"=hex: AB , cd\r\n\"h\"=hex:01,2\r\n\"i\"=hex(ffffffff):\r\n",
        S_OK,
        "[A]\n  b=3:0102\n  c=2:4100\n  d=11:00\n  e=2:41\n  f=3:\n  g=3:abcd\n  h=3:01\n"
        "  i=4294967295:\n"},
       {"continuations with comment and empty lines",
        u"[A]\r\n\"b\"=hex:\\\r\n01,\\ ; c\r\n; comment\r\n\r\n  02,\\\r\n03\r\n", S_OK,
        "[A]\n  b=3:010203\n"},
       {"bytes without a comma", u"[A]\r\n\"b\"=hex:01 02\r\n", E_UNEXPECTED, "[A]\n  b=3:01\n"},
       {"text after a continuation", u"[A]\r\n\"b\"=hex:01,\\ x\r\n", E_UNEXPECTED, "[A]\n"},
       {"no type digits", u"[A]\r\n\"b\"=hex():00\r\n", E_UNEXPECTED, "[A]\n"},
       {"ends after a byte", u"[A]\r\n\"b\"=hex:01", kEof, "[A]\n"},
       {"ends after a continuation", u"[A]\r\n\"b\"=hex:01,\\\r\n\r\n", kEof, "[A]\n"}},
      false);
}

TEST(RegReaderTest, CapacitiesHoldUpToTheirLimits) {
  const std::u16string name(kMaxValueNameUnits, u'n');
  const std::u16string text(kMaxStringUnits, u't');
  const std::u16string path(kMaxKeyLineUnits - 1, u'k');  // the bracket is the last unit
  std::u16string bytes = u"00";
  for (std::size_t i = 1; i < kMaxHexBytes; ++i) bytes += u",00";
  std::u16string escaped_name;
  for (std::size_t i = 0; i < kMaxValueNameUnits; ++i) escaped_name += u"\\\\";
  // `size`: the path's length for a key without values, else the value's name and data sizes.
  const struct {
    const char* label;
    std::u16string body;
    HRESULT status;
    std::size_t size;
  } cases[] = {
      {"name", u"[A]\r\n\"" + name + u"\"=\"\"\r\n", S_OK, kMaxValueNameUnits + 2},
      {"name over", u"[A]\r\n\"" + name + u"n\"=\"\"\r\n", kOver, 0},
      {"name after escapes", u"[A]\r\n\"" + escaped_name + u"\"=\"\"\r\n", S_OK,
       kMaxValueNameUnits + 2},
      {"string", u"[A]\r\n@=\"" + text + u"\"\r\n", S_OK, kMaxStringUnits * 2 + 2},
      {"string over", u"[A]\r\n@=\"" + text + u"t\"\r\n", kOver, 0},
      {"key line", u"[" + path + u"]\r\n", S_OK, kMaxKeyLineUnits - 1},
      {"key line over", u"[" + path + u"k]\r\n", E_UNEXPECTED, 0},
      {"hex list", u"[A]\r\n@=hex:" + bytes + u"\r\n", S_OK, kMaxHexBytes},
      {"hex list over", u"[A]\r\n@=hex:" + bytes + u",\r\n", kOver, 0},
  };
  for (const auto& c : cases) {
    RegistryDocument document;
    EXPECT_HR(c.status, Parse(WithHeader(c.body), nullptr, &document)) << c.label;
    if (c.status != S_OK) continue;
    const RegistryKeyEntry& key = document.KeyAt(0);
    EXPECT_EQ(c.size, key.values().empty()
                          ? key.path().size()
                          : key.values()[0].name.size() + key.values()[0].value.data.size())
        << c.label;
  }
}

}  // namespace
}  // namespace orvex
