// Windows only: the text services on the system's own conversions and comparison.
#include "platform/text.h"
#include "platform/win32/windows_api.h"

namespace orvex {
namespace {

const wchar_t* AsWide(std::u16string_view text) {
  return reinterpret_cast<const wchar_t*>(text.data());
}

int Length(std::u16string_view text) {
  if (text.size() > 0x7FFFFFFF) throw ResultException(E_INVALIDARG);
  return static_cast<int>(text.size());
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  if (text.empty()) return out;
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, AsWide(text), Length(text), nullptr, 0, nullptr, nullptr);
  if (size <= 0) throw ResultException(E_INVALIDARG);
  out.resize(static_cast<std::size_t>(size));
  ::WideCharToMultiByte(CP_UTF8, 0, AsWide(text), Length(text), out.data(), size, nullptr, nullptr);
  return out;
}

std::u16string ToUtf16(std::string_view text) {
  std::u16string out;
  if (text.empty()) return out;
  if (text.size() > 0x7FFFFFFF) throw ResultException(E_INVALIDARG);
  const int length = static_cast<int>(text.size());
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (size <= 0) throw ResultException(E_INVALIDARG);
  out.resize(static_cast<std::size_t>(size));
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, reinterpret_cast<wchar_t*>(out.data()),
                        size);
  return out;
}

int CompareIgnoreCase(std::u16string_view a, std::u16string_view b) {
  // lstrcmpiW is this comparison on NUL-terminated text.
  const int result = ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, AsWide(a), Length(a),
                                      AsWide(b), Length(b));
  if (result == 0) throw ResultException(HResultFromWin32(::GetLastError()));
  return result - CSTR_EQUAL;
}

std::string CollationKey(std::u16string_view text) {
  const DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
  // The call refuses an empty length; the empty text is given as a terminated one.
  const wchar_t* source = text.empty() ? L"" : AsWide(text);
  const int length = text.empty() ? -1 : Length(text);
  const int size = ::LCMapStringW(LOCALE_USER_DEFAULT, flags, source, length, nullptr, 0);
  if (size <= 0) throw ResultException(HResultFromWin32(::GetLastError()));
  std::string key(static_cast<std::size_t>(size), '\0');
  // A sort key is bytes, though the call is declared to write characters.
  ::LCMapStringW(LOCALE_USER_DEFAULT, flags, source, length, reinterpret_cast<wchar_t*>(key.data()),
                 size);
  key.pop_back();  // the terminating zero byte
  return key;
}

bool IsWhiteSpace(char16_t c) {
  const wchar_t wide = static_cast<wchar_t>(c);
  WORD type = 0;
  return ::GetStringTypeExW(LOCALE_USER_DEFAULT, CT_CTYPE1, &wide, 1, &type) &&
         (type & C1_SPACE) != 0;
}

}  // namespace orvex
