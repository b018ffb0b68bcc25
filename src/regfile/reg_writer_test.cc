#include "regfile/reg_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regfile/reg_reader.h"
#include "regfile/reg_test_support.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

using testing::RegFileBytes;

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00\r\n\r\n";

// REG_SZ data as the reader makes it: the text as UTF-16LE and a NUL.
RegistryValueEntry Text(std::u16string_view text) {
  const std::string bytes = testing::Utf16Bytes(text) + std::string(2, '\0');
  return RegistryValueEntry{REG_SZ, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

// The file written from `document` over a longer one; `read_back`, when given, receives what the
// reader makes of it.
std::string Export(const RegistryDocument& document, RegistryDocument* read_back = nullptr) {
  testing::ScopedTempDir dir;
  testing::WriteFile(dir.path() / "out.reg", std::string(4096, 'x'));
  EXPECT_HR(S_OK, ExportRegFile(document, dir.wide("out.reg")));
  if (read_back != nullptr) {
    EXPECT_HR(S_OK, ParseRegFile(*read_back, dir.wide("out.reg")));
  }
  return testing::ReadFile(dir.path() / "out.reg");
}

TEST(RegWriterTest, WritesTheFormat) {
  EXPECT_EQ(RegFileBytes(kHeader), Export(RegistryDocument()));

  RegistryDocument document;
  RegistryValueList& values =
      document.KeyAt(document.AddKey(u"HKEY_CURRENT_USER\\Software\\Example")).values();
  ASSERT_TRUE(values.AddValue(u"", Text(u"Text with \"quotes\"")));
  ASSERT_TRUE(values.AddValue(u"Count", RegistryValueEntry{REG_DWORD, {0x2a, 0, 0, 0}}));
  ASSERT_TRUE(
      values.AddValue(u"Path", RegistryValueEntry{REG_EXPAND_SZ, {0x25, 0, 0x41, 0, 0, 0}}));
  ASSERT_TRUE(values.AddValue(u"Blob", RegistryValueEntry{REG_BINARY, {0xde, 0xad}}));
  ASSERT_TRUE(values.AddValue(u"Odd", RegistryValueEntry{REG_DWORD, {1, 2}}));
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
            Export(document));
}

TEST(RegWriterTest, ValueForms) {
  const struct {
    std::u16string name;
    RegistryValueEntry value;
    std::u16string line;
  } cases[] = {
      {u"a\"b\\c", Text(u"\\\"\t\u6587"), u"\"a\\\"b\\\\c\"=\"\\\\\\\"\t\u6587\""},
      {u"n", {REG_DWORD, {0x78, 0x56, 0x34, 0x12}}, u"\"n\"=dword:12345678"},
      {u"n", {REG_DWORD, {1, 2, 3}}, u"\"n\"=hex(4):01,02,03"},
      {u"b", {REG_BINARY, {}}, u"\"b\"=hex:"},
      {u"b", {REG_NONE, {}}, u"\"b\"=hex(0):"},
      {u"b", {REG_QWORD, {0xff}}, u"\"b\"=hex(b):ff"},
      {u"b", {16, {0}}, u"\"b\"=hex(10):00"},
      {u"b", {0xFFFFFFFF, {0}}, u"\"b\"=hex(ffffffff):00"},
      // Text ends at its first NUL, whatever follows.
      {u"s", {REG_SZ, {0x41, 0, 0, 0, 0x0a, 0, 7}}, u"\"s\"=\"A\""},
      // Data the quoted form would misrepresent goes out whole as typed bytes.
      {u"s", {REG_SZ, {0x41, 0, 0x42}}, u"\"s\"=hex(1):41,00,42"},
      {u"s", {REG_SZ, {0x41, 0, 0x0d, 0, 0, 0}}, u"\"s\"=hex(1):41,00,0d,00,00,00"},
      {u"s", {REG_SZ, {0x0a, 0, 0, 0}}, u"\"s\"=hex(1):0a,00,00,00"},
      // The first byte is never wrapped, however long the line is already.
      {std::u16string(80, u'n'),
       {REG_BINARY, {1, 2}},
       u"\"" + std::u16string(80, u'n') + u"\"=hex:01,\\\r\n  02"},
  };
  for (const auto& c : cases) {
    RegistryDocument document;
    ASSERT_TRUE(document.KeyAt(document.AddKey(u"K")).values().AddValue(c.name, c.value));
    RegistryDocument read;
    EXPECT_EQ(RegFileBytes(std::u16string(kHeader) + u"[K]\r\n" + c.line + u"\r\n\r\n"),
              Export(document, &read))
        << testing::Dump(document);
    // A byte list reads back to the very bytes it was written from.
    if (c.line.find(u"=hex") != std::u16string::npos) {
      EXPECT_EQ(testing::Dump(document), testing::Dump(read));
    }
  }
}

TEST(RegWriterTest, ByteListsWrapAfterColumn75) {
  std::vector<std::uint8_t> data(100);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  RegistryDocument document;
  RegistryValueList& values = document.KeyAt(document.AddKey(u"K")).values();
  ASSERT_TRUE(values.AddValue(u"x", {3, data}));
  data.resize(24);
  ASSERT_TRUE(values.AddValue(u"abc", {3, data}));
  // With the name x: 23 bytes on the first line, 25 on each continuation line, the last 2
  // alone. With abc the first line reaches column 75 before its last byte, and 80 in all.
  EXPECT_EQ(
      RegFileBytes(
          std::u16string(kHeader) +
          u"[K]\r\n"
          u"\"x\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
          u"  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,\\\r\n"
          u"  30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f,40,41,42,43,44,45,46,47,48,\\\r\n"
          u"  49,4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,57,58,59,5a,5b,5c,5d,5e,5f,60,61,\\\r\n"
          u"  62,63\r\n"
          u"\"abc\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
          u"  17\r\n"
          u"\r\n"),
      Export(document));
}

TEST(RegWriterTest, RefusesWhatCannotBeReadBackBeforeWritingAndReportsPlatformErrors) {
  const struct {
    std::u16string path, name;
    RegistryValueEntry value = Text(u"");
  } cases[] = {{u"HKCU\\A\nB", u"v"},
               {u"\rHKCU", u"v"},
               {u"HKCU\\A", u"a\rb"},
               {u"A", u"\n"},
               {u"A", u"empty", {REG_SZ, {}}},
               // Over the reader's capacities.
               {std::u16string(kMaxKeyLineUnits, u'k'), u"v"},
               {u"A", std::u16string(kMaxValueNameUnits + 1, u'n')},
               {u"A", u"v", {REG_MULTI_SZ, std::vector<std::uint8_t>(kMaxHexBytes + 2)}}};
  testing::ScopedTempDir dir;
  for (const auto& c : cases) {
    // The key and its value made so at once, or from fine ones by each change a rule can make:
    // the key renamed, the value renamed, its data set, its type changed.
    for (int route = 0; route < 5; ++route) {
      RegistryDocument document;
      document.AddKey(u"HKCU\\Fine");
      const int key = document.AddKey(route == 1 ? u"HKCU\\Renamed" : c.path);
      RegistryValueList& values = document.KeyAt(key).values();
      ASSERT_TRUE(values.AddValue(route == 2 ? u"fine" : c.name,
                                  route == 3   ? Text(u"x")
                                  : route == 4 ? RegistryValueEntry{REG_NONE, c.value.data}
                                               : c.value));
      if (route == 1) document.RenameKeyTree(u"HKCU\\Renamed", c.path);
      if (route == 2) values.RenameValueAt(0, c.name);
      if (route == 3) values.SetValueAt(0, c.value);
      if (route == 4) values.RetypeValueAt(0, c.value.type);
      testing::WriteFile(dir.path() / "kept.reg", "earlier content");
      EXPECT_HR(E_INVALIDARG, ExportRegFile(document, dir.wide("kept.reg"))) << route;
      EXPECT_EQ("earlier content", testing::ReadFile(dir.path() / "kept.reg"));
    }
  }
  const RegistryDocument empty;
  EXPECT_HR(HResultFromWin32(ERROR_PATH_NOT_FOUND), ExportRegFile(empty, dir.wide("no/out.reg")));
  EXPECT_HR(HResultFromWin32(ERROR_ACCESS_DENIED), ExportRegFile(empty, dir.wide()));
}

}  // namespace
}  // namespace orvex
