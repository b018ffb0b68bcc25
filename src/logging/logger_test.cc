#include "logging/logger.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "testing/temp_dir.h"

namespace Quenlar_Utils {
namespace {

// Captures lines and stamps them with a fixed time.
class CapturingLogger : public AbstractLogger {
 public:
  std::vector<std::pair<LogLevel, std::u16string>> lines;

 protected:
  void Write(LogLevel level, std::u16string_view line) override {
    lines.emplace_back(level, std::u16string(line));
  }
  orvex::platform::LocalTime Now() override { return {2024, 3, 5, 7, 8, 9, 10}; }
};

constexpr std::u16string_view kStamp = u"2024-03-05 07:08:09.010 ";

// Each level's line; SetLevel enables the levels at or above the one given.
TEST(LoggerTest, LinesOfTheEnabledLevels) {
  const std::u16string all[] = {
      u"2024-03-05 07:08:09.010 [DEBUG] d 1\n", u"2024-03-05 07:08:09.010 [INFO ] x\n",
      u"2024-03-05 07:08:09.010 [WARN ] 'w'\n", u"2024-03-05 07:08:09.010 [ERROR] e (Error 5)\n",
      u"2024-03-05 07:08:09.010 [FATAL] f\n"};
  const struct {
    int level;
    bool result;
    int first;  // the first level written
  } cases[] = {{-3, true, 0}, {0, true, 0}, {1, true, 1}, {4, true, 4}, {5, false, 5}};
  for (const auto& c : cases) {
    CapturingLogger log;
    EXPECT_EQ(log.SetLevel(c.level), c.result);
    log.Debug(u"d %d", 1);
    log.Info(u"x");
    log.Warn(u"'%s'", u"w");
    log.Error(u"e (Error %d)", 5);
    log.Fatal(u"f");
    ASSERT_EQ(log.lines.size(), static_cast<std::size_t>(5 - c.first)) << c.level;
    for (int i = c.first; i < 5; ++i) {
      EXPECT_EQ(log.lines[i - c.first].first, i);
      EXPECT_EQ(log.lines[i - c.first].second, all[i]);
    }
    EXPECT_EQ(log.IsDebugEnabled(), c.level < 1);
  }
}

TEST(LoggerTest, LongMessagesAreCutWithANotice) {
  const std::size_t fits = 2045 - 32;
  CapturingLogger log;
  log.Info(u"%s", std::u16string(fits, u'a'));
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].second.size(), 2046u);
  EXPECT_EQ(log.lines[0].second.back(), u'\n');

  log.lines.clear();
  log.Info(u"%s", std::u16string(fits + 1, u'b'));
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0].first, kInfo);
  EXPECT_EQ(log.lines[0].second,
            std::u16string(kStamp) + u"[INFO ] " + std::u16string(fits, u'b') + u"\n");
  EXPECT_EQ(log.lines[1].first, kFatal);
  EXPECT_EQ(log.lines[1].second,
            std::u16string(kStamp) + u"[FATAL] *** PREVIOUS LOG MESSAGE WAS TRUNCATED! ***\n");

  // The notice is written even where FATAL is off, which only an override can do.
  class NoFatal : public CapturingLogger {
    bool IsFatalEnabled() override { return false; }
  } quiet;
  quiet.Info(u"%s", std::u16string(3000, u'c'));
  ASSERT_EQ(quiet.lines.size(), 2u);
  EXPECT_EQ(quiet.lines[1].first, kFatal);
}

// Text from an archive or a rule cannot start a line of its own: its line breaks are written
// as \r and \n, and the escaped text is what counts against the line's capacity.
TEST(LoggerTest, LineBreaksInArgumentsAreWrittenEscaped) {
  CapturingLogger log;
  log.Error(u"'%s' '%S' %d", u"a\r\n2024-03-05 07:08:09.010 [INFO ] forged\n", "b\rc", 7);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].second,
            std::u16string(kStamp) +
                u"[ERROR] 'a\\r\\n2024-03-05 07:08:09.010 [INFO ] forged\\n' 'b\\rc' 7\n");

  log.Info(u"%s", std::u16string(2045 - 32 - 1, u'a') + u"\n");  // fits only unescaped
  ASSERT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[1].second.size(), 2046u);
  EXPECT_EQ(log.lines[2].second.substr(kStamp.size()),
            u"[FATAL] *** PREVIOUS LOG MESSAGE WAS TRUNCATED! ***\n");
}

TEST(FileLoggerTest, StoresUtf8WithCrLfAndAppends) {
  orvex::testing::ScopedTempDir dir;
  const auto path = dir.path() / "run.log";
  orvex::testing::WriteFile(path, "old\r\n");
  {
    FileLogger log(orvex::ToUtf16(path.string()), 0);
    log.Info(u"Grüße\nzwei");
    EXPECT_EQ(orvex::testing::ReadFile(path), "old\r\n") << "lines wait in a buffer";
    log.Fatal(u"stop");  // but a FATAL line is written at once, with all before it
    EXPECT_NE(orvex::testing::ReadFile(path).find("zwei\r\n"), std::string::npos);
  }
  const std::string text = orvex::testing::ReadFile(path);
  ASSERT_EQ(text.rfind("old\r\n", 0), 0u);
  EXPECT_NE(text.find("[INFO ] Gr\xC3\xBC\xC3\x9F"
                      "e\r\nzwei\r\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(FileLoggerTest, SizeLimitEmptiesLargerFiles) {
  orvex::testing::ScopedTempDir dir;
  const auto path = dir.path() / "run.log";
  const std::u16string wide = orvex::ToUtf16(path.string());
  orvex::testing::WriteFile(path, "0123456789");
  { FileLogger log(wide, 10); }
  EXPECT_EQ(orvex::testing::ReadFile(path), "0123456789");
  { FileLogger log(wide, 9); }
  EXPECT_EQ(orvex::testing::ReadFile(path), "");
}

TEST(FileLoggerTest, UnopenableFileDropsLines) {
  orvex::testing::ScopedTempDir dir;
  FileLogger log(dir.wide("missing/run.log"), 0);
  log.Info(u"x");  // must not fail
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
}

}  // namespace
}  // namespace Quenlar_Utils
