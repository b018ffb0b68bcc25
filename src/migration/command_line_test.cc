#include "migration/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/text.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

TEST(CommandLineTest, SplitCommandLine) {
  const struct {
    std::u16string_view text;
    ArgumentList expected;
  } cases[] = {
      {u"tool /input \"C:\\My Files\\a.zip\"", {u"tool", u"/input", u"\"C:\\My Files\\a.zip\""}},
      {u"tool\t/a  \t /b ", {u"tool", u"/a", u"/b"}},
      {u"tool C:\\\"My Files\"\\a.zip", {u"tool", u"C:\\\"My Files\"\\a.zip"}},
      {u"\"C:\\Program Files\\tool.exe\" x", {u"\"C:\\Program Files\\tool.exe\"", u"x"}},
      {u"a\\\" b", {u"a\\\" b"}},  // backslashes escape nothing: the quote stays open
      {u" \t  ", {}},
      {std::u16string_view(u"a\0b c", 5), {u"a"}},
  };
  for (const auto& c : cases) {
    ArgumentList args;
    EXPECT_EQ(SplitCommandLine(c.text, &args), 0u);
    EXPECT_EQ(args, c.expected) << ToUtf8(c.text);
  }

  ArgumentList args;
  EXPECT_EQ(SplitCommandLine(u"", &args), 0u);
  ASSERT_EQ(args.size(), 1u);
  EXPECT_TRUE(std::filesystem::path(ToUtf8(args[0])).is_absolute());
}

TEST(CommandLineTest, ParseOptions) {
  const std::u16string cwd = ToUtf16(std::filesystem::current_path().string());
  const struct {
    ArgumentList args;
    HRESULT result;
    ProgramOptions expected;
  } cases[] = {
      {{u"t", u"/XML", u"r.xml", u"-input", u"\"C:\\My Files\\a.zip\"", u"/Output", u"o.zip"},
       S_OK,
       {u"", u"r.xml", u"C:\\My Files\\a.zip", u"o.zip", u"", false, false, false, false}},
      {{u"t", u"/xml", u"x", u"/INPUT", u"a", u"/INPUT", u"b", u"/output", u"o", u"/import",
        u"/OVERWRITE", u"-Verbose", u"/nocleanup"},
       S_OK,
       {u"", u"x", u"b", u"o", u"", true, true, true, true}},
      {{u"t", u"/xml", u"x", u"/input", u"/output", u"/output", u"o"},
       S_OK,
       {u"", u"x", u"/output", u"o", u"", false, false, false, false}},
      {{u"t", u"/xml", u"\"\"x\"\"", u"/input", u"a\"b\"", u"/output", u"o"},
       S_OK,
       {u"", u"x", u"a\"b", u"o", u"", false, false, false, false}},
      {{u"t", u"/xml", u"x", u"/input", u"i", u"/output", u"o", u"/logfile", u"logs\\run.log"},
       S_OK,
       {u"", u"x", u"i", u"o", cwd + testing::NativeSeparators(u"/logs/run.log"), false, false,
        false, false}},
      {{u"t", u"/xmlfile", u"x"}, E_INVALIDARG, {}},
      {{u"t", u"xml", u"x"}, E_INVALIDARG, {}},
      {{u"t", u""}, E_INVALIDARG, {}},
      {{u"t", u"/"}, E_INVALIDARG, {}},
      {{u"t", u"/xml", u"x", u"/input", u"i", u"/output"}, E_INVALIDARG, {}},
      {{u"t", u"/xml", u"x", u"/input", u"i"}, E_INVALIDARG, {}},
      {{u"t", u"/xml", u"\"\"", u"/input", u"i", u"/output", u"o"}, E_INVALIDARG, {}},
      {{u"t"}, E_INVALIDARG, {}},
  };
  for (const auto& c : cases) {
    ProgramOptions options;
    EXPECT_HR(c.result, ParseOptions(c.args, &options)) << ToUtf8(c.args.back());
    if (c.result != S_OK) continue;
    EXPECT_EQ(options.xml_path, c.expected.xml_path);
    EXPECT_EQ(options.input_path, c.expected.input_path);
    EXPECT_EQ(options.output_path, c.expected.output_path);
    EXPECT_EQ(options.log_file_path, c.expected.log_file_path);
    EXPECT_EQ(options.import, c.expected.import);
    EXPECT_EQ(options.overwrite, c.expected.overwrite);
    EXPECT_EQ(options.verbose, c.expected.verbose);
    EXPECT_EQ(options.no_cleanup, c.expected.no_cleanup);
  }
}

}  // namespace
}  // namespace orvex
