#include "platform/process.h"

namespace orvex::platform {

void AppendCommandLineArgument(std::u16string* line, std::u16string_view argument) {
  if (!line->empty()) *line += u' ';
  const bool quote = argument.empty() || argument.find_first_of(u" \t") != std::u16string::npos;
  if (quote) *line += u'"';
  *line += argument;
  if (quote) *line += u'"';
}

}  // namespace orvex::platform
