// Linux only: environment variables, the current directory, full paths, the temporary folder and
// the C library's character set.
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "common/result.h"
#include "platform/environment.h"
#include "platform/posix/errors.h"
#include "platform/posix/native_path.h"
#include "platform/text.h"

extern char** environ;

namespace orvex::platform {

std::uint32_t ExpandEnvironmentStrings(std::u16string_view text, std::u16string* expanded) {
  std::u16string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find(u'%', pos);
    if (open == std::u16string_view::npos) break;
    out.append(text.substr(pos, open - pos));
    const std::size_t close = text.find(u'%', open + 1);
    if (close == std::u16string_view::npos) {
      pos = open;
      break;
    }
    std::u16string value;
    const std::u16string_view name = text.substr(open + 1, close - open - 1);
    if (!name.empty() && GetEnvironmentVariable(name, &value)) {
      out += value;
      pos = close + 1;
    } else {
      // Not a variable: keep "%name" and let the closing '%' open the next reference.
      out.append(text.substr(open, close - open));
      pos = close;
    }
  }
  out.append(text.substr(pos));
  *expanded = std::move(out);
  return ERROR_SUCCESS;
}

bool GetEnvironmentVariable(std::u16string_view name, std::u16string* value) {
  const std::string narrow = ToUtf8(name);
  if (const char* exact = std::getenv(narrow.c_str())) {
    *value = ToUtf16(exact);
    return true;
  }
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    if (EqualsIgnoreCase(ToUtf16(text.substr(0, equals)), name)) {
      *value = ToUtf16(text.substr(equals + 1));
      return true;
    }
  }
  return false;
}

std::uint32_t SetEnvironmentVariable(std::u16string_view name, const std::u16string* value) {
  const std::string narrow = ToUtf8(name);
  const int result = value != nullptr ? ::setenv(narrow.c_str(), ToUtf8(*value).c_str(), 1)
                                      : ::unsetenv(narrow.c_str());
  return result == 0 ? ERROR_SUCCESS : posix::Win32ErrorFromErrno(errno);
}

char16_t PathSeparator() { return u'/'; }

// There is no 260-character limit on Linux.
bool NeedsLongPathPrefix() { return false; }

namespace {

// The current directory as it was last named, like Windows keeps it: the kernel only knows the
// physical path, which differs from the named one when a symbolic link lies on the way.
std::string& NamedCurrentDirectory() {
  static std::string named;
  return named;
}

// Whether `path` names the directory the process is in now.
bool IsCurrentDirectory(const std::string& path) {
  struct stat named, actual;
  return !path.empty() && ::stat(path.c_str(), &named) == 0 && ::stat(".", &actual) == 0 &&
         named.st_dev == actual.st_dev && named.st_ino == actual.st_ino;
}

}  // namespace

std::uint32_t GetCurrentDirectory(std::u16string* path) {
  const char* pwd = std::getenv("PWD");
  for (const std::string& named : {NamedCurrentDirectory(), std::string(pwd ? pwd : "")}) {
    if (!named.empty() && named[0] == '/' && IsCurrentDirectory(named)) {
      *path = ToUtf16(named);
      return ERROR_SUCCESS;
    }
  }
  std::vector<char> buffer(PATH_MAX);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return posix::Win32ErrorFromErrno(errno);
    buffer.resize(buffer.size() * 2);
  }
  *path = ToUtf16(buffer.data());
  return ERROR_SUCCESS;
}

std::uint32_t SetCurrentDirectory(std::u16string_view path) {
  std::string native;
  if (const std::uint32_t error = posix::ToNativePath(path, &native)) return error;
  std::u16string current;
  if (const std::uint32_t error = GetCurrentDirectory(&current)) return error;
  std::string named = ToUtf8(posix::FullPathText(ToUtf16(native), current));
  if (named.size() > 1 && named.back() == '/') named.pop_back();
  if (::chdir(native.c_str()) != 0) {
    return errno == ENOENT ? ERROR_PATH_NOT_FOUND : posix::Win32ErrorFromErrno(errno);
  }
  NamedCurrentDirectory() = std::move(named);
  return ERROR_SUCCESS;
}

std::uint32_t GetFullPathName(std::u16string_view path, std::u16string* full,
                              std::size_t* file_part) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return ERROR_INVALID_NAME;
  std::u16string current;
  if (const std::uint32_t error = GetCurrentDirectory(&current)) return error;
  std::u16string text = posix::FullPathText(path, current);
  if (file_part != nullptr) *file_part = text.find_last_of(u'/') + 1;
  *full = std::move(text);
  return ERROR_SUCCESS;
}

std::uint32_t GetTempPath(std::u16string* path) {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string text = tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
  if (text.back() != '/') text += '/';
  *path = ToUtf16(text);
  return ERROR_SUCCESS;
}

ScopedUtf8Locale::ScopedUtf8Locale() {
  locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8 == static_cast<locale_t>(nullptr)) {
    utf8 = ::newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
  }
  if (utf8 == static_cast<locale_t>(nullptr)) return;
  locale_ = utf8;
  previous_ = ::uselocale(utf8);
}

ScopedUtf8Locale::~ScopedUtf8Locale() {
  if (locale_ == nullptr) return;
  ::uselocale(static_cast<locale_t>(previous_));
  ::freelocale(static_cast<locale_t>(locale_));
}

}  // namespace orvex::platform
