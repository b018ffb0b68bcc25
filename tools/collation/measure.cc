// Answers make_table.py's questions about the Windows build's case-insensitive sort order, asked
// of the platform layer (LCMapStringW and CompareStringW there). Requests come one a line on
// standard input, and each gets one line of answer:
//   U                      the sort key of every code unit alone, 65536 lines "XXXX key"
//   K <unit>...            the sort key of the text made of these code units
//   C <unit>... | <unit>... the sign of the comparison of the two texts
// Code units are hexadecimal; a sort key is written as hexadecimal bytes without its final zero.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/result.h"
#include "platform/text.h"

namespace {

void PrintKey(const std::u16string& text) {
  try {
    for (const char byte : orvex::CollationKey(text)) {
      std::printf("%02x", static_cast<unsigned char>(byte));
    }
  } catch (const orvex::ResultException& e) {
    std::printf("error %08X", static_cast<unsigned>(e.result()));
  }
}

std::u16string Units(char* tokens) {
  std::u16string text;
  for (char* t = std::strtok(tokens, " \r\n"); t; t = std::strtok(nullptr, " \r\n")) {
    text += static_cast<char16_t>(std::strtoul(t, nullptr, 16));
  }
  return text;
}

}  // namespace

int main() {
  static char line[1 << 16];
  while (std::fgets(line, sizeof line, stdin)) {
    if (line[0] == 'U') {
      for (unsigned unit = 0; unit < 0x10000; ++unit) {
        std::printf("%04X ", unit);
        PrintKey(std::u16string(1, static_cast<char16_t>(unit)));
        std::printf("\n");
      }
    } else if (line[0] == 'K') {
      PrintKey(Units(line + 1));
      std::printf("\n");
    } else if (line[0] == 'C') {
      char* bar = std::strchr(line, '|');
      if (!bar) return 2;
      *bar = '\0';
      const std::u16string a = Units(line + 1);
      const std::u16string b = Units(bar + 1);
      int sign = 9;  // the comparison failed
      try {
        const int order = orvex::CompareIgnoreCase(a, b);
        sign = (order > 0) - (order < 0);
      } catch (const orvex::ResultException&) {
      }
      std::printf("%d\n", sign);
    } else {
      return 2;
    }
  }
  return 0;
}
