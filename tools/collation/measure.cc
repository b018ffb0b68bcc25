// Windows only: answers make_table.py's questions about the system's case-insensitive sort order.
// Requests come one a line on standard input, and each gets one line of answer:
//   U                      the sort key of every code unit alone, 65536 lines "XXXX key"
//   K <unit>...            the sort key of the text made of these code units
//   C <unit>... | <unit>... the sign of the comparison of the two texts
// Code units are hexadecimal; a sort key is written as hexadecimal bytes without its final zero.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kKeyFlags = LCMAP_SORTKEY | NORM_IGNORECASE;

void PrintKey(const std::wstring& text) {
  static BYTE key[1 << 16];
  // The call refuses an empty length; the empty text is given as a terminated one.
  const int size = LCMapStringW(LOCALE_USER_DEFAULT, kKeyFlags, text.empty() ? L"" : text.c_str(),
                                text.empty() ? -1 : static_cast<int>(text.size()),
                                reinterpret_cast<LPWSTR>(key), sizeof key);
  if (size <= 0) {
    std::printf("error %lu", GetLastError());
    return;
  }
  for (int i = 0; i + 1 < size; ++i) std::printf("%02x", key[i]);
}

std::wstring Units(char* tokens) {
  std::wstring text;
  for (char* t = std::strtok(tokens, " \r\n"); t; t = std::strtok(nullptr, " \r\n")) {
    text += static_cast<wchar_t>(std::strtoul(t, nullptr, 16));
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
        PrintKey(std::wstring(1, static_cast<wchar_t>(unit)));
        std::printf("\n");
      }
    } else if (line[0] == 'K') {
      PrintKey(Units(line + 1));
      std::printf("\n");
    } else if (line[0] == 'C') {
      char* bar = std::strchr(line, '|');
      if (!bar) return 2;
      *bar = '\0';
      const std::wstring a = Units(line + 1);
      const std::wstring b = Units(bar + 1);
      const int result =
          CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(),
                         static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()));
      std::printf("%d\n", result == 0 ? 9 : result - CSTR_EQUAL);
    } else {
      return 2;
    }
  }
  return 0;
}
