#include "OrvexInspect/html_report.h"
#include "reports/html_page.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace orvex {
namespace {

// A page of the summary and the rule table: what it shows is escaped. A browser reads the example's
// pages in the test InspectReports.
TEST(HtmlReportTest, RuleRowsShowTheirTextEscaped) {
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
}

}  // namespace
}  // namespace orvex
