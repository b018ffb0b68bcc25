#pragma once
// The report pages of the companion and the roll-out: each one self-contained HTML page (styles
// inline, no script, nothing fetched) that reads on a laptop screen and prints. A page is its
// beginning, any of the parts its command adds, and its end.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

/// The page's head with its styles, and its heading.
void BeginHtmlPage(std::u16string_view title, std::u16string* out);

/// Closes the page.
void EndHtmlPage(std::u16string* out);

/// Appends the element `tag`, with `attributes` (each after a space) and `text` escaped as its
/// content.
void AppendHtmlElement(std::u16string_view tag, std::u16string_view attributes,
                       std::u16string_view text, std::u16string* out);

/// One row of a summary table: what is counted, and a count per column.
struct CountRow {
  std::u16string_view label;
  std::vector<std::size_t> counts;
};

/// The summary: a table of counts under the heading "Summary".
void AppendHtmlSummary(std::span<const std::u16string_view> columns, std::span<const CountRow> rows,
                       std::u16string* out);

}  // namespace orvex
