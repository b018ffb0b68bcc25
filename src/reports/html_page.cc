#include "reports/html_page.h"

#include "reports/report_text.h"

namespace orvex {
namespace {

// Plain system fonts and a width that reads on a laptop. Every tree starts open, so that the page
// prints whole: a closed <details> prints as its summary line alone.
constexpr std::u16string_view kStyle =
    u"body{font:14px/1.4 system-ui,sans-serif;margin:1.5em auto;max-width:78em;padding:0 1em;"
    u"color:#222}\n"
    u"h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.5em}\n"
    u"table{border-collapse:collapse;margin:.5em 0}\n"
    u"th,td{border:1px solid #ccc;padding:.25em .6em;text-align:left;vertical-align:top}\n"
    u"td.n{text-align:right}th{background:#f2f2f2}\n"
    u"code,pre,.path{font-family:ui-monospace,monospace;font-size:.95em;white-space:pre-wrap;"
    u"overflow-wrap:anywhere}\n"
    u"details{margin:.15em 0 .15em 1.2em}summary{cursor:pointer}\n"
    u".added{color:#1a7f37}.removed{color:#b42318}.moved{color:#6639ba}.changed{color:#9a6700}\n"
    u"ul{list-style:none;margin:.2em 0;padding-left:1.2em}\n"
    u"@media print{body{max-width:none;margin:0}details>summary{list-style:none}}\n";

}  // namespace

void BeginHtmlPage(std::u16string_view title, std::u16string* out) {
  *out +=
      u"<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      u"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  AppendHtmlElement(u"title", u"", title, out);
  *out += u"\n<style>\n";
  *out += kStyle;
  *out += u"</style>\n</head>\n<body>\n";
  AppendHtmlElement(u"h1", u"", title, out);
  *out += u'\n';
}

void EndHtmlPage(std::u16string* out) { *out += u"</body>\n</html>\n"; }

void AppendHtmlElement(std::u16string_view tag, std::u16string_view attributes,
                       std::u16string_view text, std::u16string* out) {
  *out += u'<';
  *out += tag;
  *out += attributes;
  *out += u'>';
  // Markup characters as references, so that any name or value reads as itself.
  *out += XmlEscape(text, false);
  *out += u"</";
  *out += tag;
  *out += u'>';
}

void AppendHtmlSummary(std::span<const std::u16string_view> columns, std::span<const CountRow> rows,
                       std::u16string* out) {
  *out += u"<section id=\"summary\">\n<h2>Summary</h2>\n<table>\n<tr><th></th>";
  for (const std::u16string_view column : columns) AppendHtmlElement(u"th", u"", column, out);
  *out += u"</tr>\n";
  for (const CountRow& row : rows) {
    *out += u"<tr>";
    AppendHtmlElement(u"th", u"", row.label, out);
    for (const std::size_t count : row.counts)
      AppendHtmlElement(u"td", u" class=\"n\"", DecimalText(count), out);
    *out += u"</tr>\n";
  }
  *out += u"</table>\n</section>\n";
}

}  // namespace orvex
