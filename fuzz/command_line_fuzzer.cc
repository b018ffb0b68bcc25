// The tool's own command-line splitting and option parsing, on any text: no crash, and the
// arguments joined with single blanks split into the same arguments again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "migration/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);
  if (text.empty()) return 0;  // the empty line means the program's own path

  orvex::ArgumentList args;
  if (orvex::SplitCommandLine(text, &args) != 0) std::abort();
  std::u16string joined;
  for (const std::u16string& arg : args) {
    if (arg.empty()) std::abort();
    if (!joined.empty()) joined += u' ';
    joined += arg;
  }
  orvex::ArgumentList again;
  if (!joined.empty() && (orvex::SplitCommandLine(joined, &again) != 0 || again != args)) {
    std::abort();
  }
  orvex::ProgramOptions options;
  (void)orvex::ParseOptions(args, &options);
  return 0;
}
