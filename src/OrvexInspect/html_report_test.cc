#include "OrvexInspect/html_report.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/text.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

// A page of the summary and the rule table: what it shows is escaped, and a browser reads the
// summary and every rule's row back from it.
TEST(HtmlReportTest, BrowserReadsTheSummaryAndEveryRule) {
  const std::u16string_view columns[] = {u"profiles", u"would fail"};
  const CountRow summary[] = {{u"all", {3, 1}}};
  const RuleRow rules[] = {
      {u"value set 'a<b' & \"c\"", 4, {2, {u"u1.zip", u"u2.zip"}}, {1, {u"u3.zip"}}, {}, {}},
      {u"value delete wordwrap",
       9,
       {},
       {3, {u"u1.zip"}},
       {},
       {u"'wordwrap' not found; 'WordWrap' differs only in letter case"}},
  };
  std::u16string page;
  BeginHtmlPage(u"Preview of <rules> & more", &page);
  AppendHtmlSummary(columns, summary, &page);
  AppendHtmlRuleTable(rules, &page);
  EndHtmlPage(&page);
  const std::string html = ToUtf8(page);
  EXPECT_NE(html.find("<title>Preview of &lt;rules&gt; &amp; more</title>"), std::string::npos);
  EXPECT_NE(html.find("<tr class=\"rule\"><td class=\"n\">4</td><td class=\"path\">value set "
                      "'a&lt;b' &amp; &quot;c&quot;</td><td class=\"n\">2<br><small "
                      "class=\"path\">u1.zip, u2.zip</small></td><td class=\"n\">1<br><small "
                      "class=\"path\">u3.zip</small></td><td class=\"n\">0</td><td></td></tr>\n"
                      "<tr class=\"rule\"><td class=\"n\">9</td><td class=\"path\">value delete "
                      "wordwrap</td><td class=\"n\">0</td><td class=\"n\">3<br><small "
                      "class=\"path\">u1.zip, ...</small></td><td class=\"n\">0</td><td>'wordwrap' "
                      "not found; 'WordWrap' differs only in letter case"
                      "</td></tr>\n"),
            std::string::npos)
      << html;

#ifdef _WIN32
  GTEST_SKIP() << "the browser runs beside the Linux build";
#else
  if (std::system("command -v chromium >/dev/null") != 0) {
    GTEST_SKIP() << "Chromium is not installed (make test installs it)";
  }
  testing::ScopedTempDir dir;
  testing::WriteFile(dir.path() / "report.html", html);
  const std::string command =
      "chromium --headless --no-sandbox --disable-gpu --no-first-run --no-proxy-server "
      "--dump-dom 'file://" +
      (dir.path() / "report.html").string() + "' >'" + (dir.path() / "dom.html").string() +
      "' 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string dom = testing::ReadFile(dir.path() / "dom.html");
  auto count = [&](const std::string& piece) {
    std::size_t found = 0;
    for (std::size_t at = dom.find(piece); at != std::string::npos; at = dom.find(piece, at + 1)) {
      ++found;
    }
    return found;
  };
  EXPECT_EQ(count("<section id=\"summary\">"), 1u) << dom;
  EXPECT_EQ(count("<tr class=\"rule\">"), 2u) << dom;
  // Text comes back as text: the browser writes its quotes as they are.
  EXPECT_NE(dom.find("value set 'a&lt;b' &amp; \"c\""), std::string::npos) << dom;
#endif
}

}  // namespace
}  // namespace orvex
