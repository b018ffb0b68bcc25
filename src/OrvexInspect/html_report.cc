#include "OrvexInspect/html_report.h"

#include "OrvexInspect/registry_describe.h"
#include "reports/html_page.h"
#include "reports/report_text.h"

namespace orvex {
namespace {

// Text as element content: markup characters as references, so that any name or value reads as
// itself.
std::u16string Text(std::u16string_view text) { return XmlEscape(text, false); }

std::u16string_view ClassOf(char16_t marker) {
  switch (marker) {
    case u'+':
      return u"added";
    case u'-':
      return u"removed";
    case u'>':
      return u"moved";
    default:
      return u"changed";
  }
}

// A value's description in one cell, its further lines below its first; an empty cell for a
// value that side lacks.
std::u16string ValueCell(const RegistryValueRef* value, std::size_t count) {
  std::u16string cell = u"<td class=\"path\">";
  if (value != nullptr) {
    const ValueDescription description = DescribeValue(*value);
    cell += Text(description.head);
    for (const std::u16string& more : description.more) cell += u"<br>" + Text(more);
    if (count > 1) cell += u"<br>" + NameCountText(count);
  }
  return cell + u"</td>";
}

void AppendKey(const KeyDifference& key, std::u16string* out) {
  const char16_t marker = key.kind == KeyDifference::Kind::kAdded     ? u'+'
                          : key.kind == KeyDifference::Kind::kRemoved ? u'-'
                                                                      : u'~';
  *out += u"<details open><summary class=\"path ";
  *out += ClassOf(marker);
  *out += u"\">";
  *out += marker;
  *out += u" [" + Text(key.key->path) + u"]</summary>\n";
  if (!key.values.empty()) {
    *out += u"<table><tr><th>value</th><th>before</th><th>after</th></tr>\n";
    for (const ValueDifference& value : key.values) {
      const char16_t value_marker = value.renamed             ? u'>'
                                    : value.before == nullptr ? u'+'
                                    : value.after == nullptr  ? u'-'
                                                              : u'~';
      *out += u"<tr class=\"";
      *out += ClassOf(value_marker);
      *out += u"\"><td class=\"path\">" + Text(ValueNamesText(value)) + u"</td>";
      *out += ValueCell(value.renamed ? nullptr : value.before, value.before_count);
      *out += ValueCell(value.after, value.after_count);
      *out += u"</tr>\n";
    }
    *out += u"</table>\n";
  }
  *out += u"</details>\n";
}

void AppendRegFile(const RegFileComparison& file, std::u16string* out) {
  const char16_t marker = !file.in_before ? u'+' : !file.in_after ? u'-' : u'~';
  *out += u"<details open><summary class=\"path ";
  *out += ClassOf(marker);
  *out += u"\">";
  *out += marker;
  *out += u' ' + Text(file.name) + u"</summary>\n";
  for (const KeyTreeMove& move : file.moves) {
    AppendHtmlElement(u"div", u" class=\"path moved\"", KeyTreeMoveLine(move), out);
    *out += u'\n';
  }
  for (const KeyDifference& key : file.keys) AppendKey(key, out);
  *out += u"</details>\n";
}

std::u16string_view TopFolder(std::u16string_view path) { return path.substr(0, path.find(u'/')); }

void AppendCount(const ProfileCount& count, std::u16string* out) {
  *out += u"<td class=\"n\">" + DecimalText(count.profiles);
  if (!count.examples.empty()) {
    std::u16string names;
    for (const std::u16string& name : count.examples) {
      names += names.empty() ? u"" : u", ";
      names += name;
    }
    if (count.examples.size() < count.profiles) names += u", ...";
    *out += u"<br>";
    AppendHtmlElement(u"small", u" class=\"path\"", names, out);
  }
  *out += u"</td>";
}

}  // namespace

void AppendHtmlRuleTable(std::span<const RuleRow> rows, std::u16string* out) {
  *out +=
      u"<section id=\"rules\">\n<h2>Rules</h2>\n<table>\n"
      u"<tr><th>line</th><th>rule</th><th>acted</th><th>found nothing</th><th>failed</th>"
      u"<th>near misses</th></tr>\n";
  for (const RuleRow& row : rows) {
    *out += u"<tr class=\"rule\">";
    AppendHtmlElement(u"td", u" class=\"n\"", DecimalText(row.line), out);
    AppendHtmlElement(u"td", u" class=\"path\"", row.rule, out);
    AppendCount(row.acted, out);
    AppendCount(row.found_nothing, out);
    AppendCount(row.failed, out);
    *out += u"<td>";
    for (std::size_t i = 0; i < row.near_misses.size(); ++i) {
      if (i > 0) *out += u"<br>";
      *out += Text(row.near_misses[i]);
    }
    *out += u"</td></tr>\n";
  }
  *out += u"</table>\n</section>\n";
}

void AppendHtmlChanges(std::u16string_view profile, std::u16string_view status,
                       const ProfileComparison* changes, std::u16string* out) {
  *out += u"<section class=\"profile\">\n";
  AppendHtmlElement(u"h2", u" class=\"path\"", profile, out);
  *out += u'\n';
  if (!status.empty()) {
    AppendHtmlElement(u"p", u"", status, out);
    *out += u'\n';
  }
  if (changes == nullptr) {
    *out += u"</section>\n";
    return;
  }
  const ProfileComparison& comparison = *changes;
  if (comparison.empty()) *out += u"<p>No differences.</p>\n";
  for (const RegFileComparison& file : comparison.reg_files) AppendRegFile(file, out);
  // Files and folders under their top folder (AppData, Desktop, ...).
  for (std::size_t i = 0; i < comparison.tree.size();) {
    const std::u16string_view top = TopFolder(
        comparison.tree[i].kind == TreeDifference::Kind::kMoved ? comparison.tree[i].from
                                                                : comparison.tree[i].path);
    *out += u"<details open><summary class=\"path\">";
    *out += Text(top) + u"/</summary>\n<ul>\n";
    for (; i < comparison.tree.size(); ++i) {
      const TreeDifference& difference = comparison.tree[i];
      const std::u16string_view path =
          difference.kind == TreeDifference::Kind::kMoved ? difference.from : difference.path;
      if (TopFolder(path) != top) break;
      const std::u16string line = TreeDifferenceLine(difference);
      *out += u"<li class=\"path ";
      *out += ClassOf(line[0]);
      *out += u"\">" + Text(line);
      if (!difference.lines.empty()) {
        std::u16string lines;
        for (const std::u16string& text : difference.lines) lines += text + u'\n';
        AppendHtmlElement(u"pre", u"", lines, out);
      }
      *out += u"</li>\n";
    }
    *out += u"</ul>\n</details>\n";
  }
  *out += u"</section>\n";
}

}  // namespace orvex
