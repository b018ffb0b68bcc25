// Linux only: path text made into names the kernel understands, matching letter case as Windows.
#include "platform/posix/native_path.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <cerrno>
#include <vector>

#include "common/path_text.h"
#include "common/result.h"
#include "platform/posix/errors.h"
#include "platform/posix/name_cache.h"
#include "platform/text.h"

namespace orvex::platform::posix {
namespace {

// "\\?\C:\x" becomes "C:\x" and "\\?\UNC\srv\s" becomes "\\srv\s".
std::u16string StripLongPathPrefix(std::u16string_view path) {
  if (path.starts_with(u"\\\\?\\UNC\\")) return u"\\\\" + std::u16string(path.substr(8));
  if (path.starts_with(u"\\\\?\\")) return std::u16string(path.substr(4));
  return std::u16string(path);
}

bool HasDriveOrNetworkRoot(std::u16string_view path) {
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == u':') return true;
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

bool Exists(const std::string& path, struct stat* st) { return ::lstat(path.c_str(), st) == 0; }

bool Exists(const std::string& path) {
  struct stat st;
  return Exists(path, &st);
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive three-way comparison by full case folding.
int CompareFolded(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b)) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
      const char x = AsciiLower(a[i]), y = AsciiLower(b[i]);
      if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
  }
  const std::u16string wa = ToUtf16(a), wb = ToUtf16(b);
  UErrorCode status = U_ZERO_ERROR;
  return u_strCaseCompare(reinterpret_cast<const UChar*>(wa.data()),
                          static_cast<int32_t>(wa.size()),
                          reinterpret_cast<const UChar*>(wb.data()),
                          static_cast<int32_t>(wb.size()), U_FOLD_CASE_DEFAULT, &status);
}

// The entry of `directory` that matches `name` ignoring case, first in name order; empty if none.
// `known` is the directory's lstat when the caller has it.
std::string FindCaseVariant(const std::string& directory, std::string_view name,
                            const struct stat* known) {
  if (NameCacheActive()) {
    struct stat st;
    if (known == nullptr || !S_ISDIR(known->st_mode)) {
      if (::stat(directory.c_str(), &st) != 0) return {};
      known = &st;
    }
    return CachedCaseVariant(directory, *known, name);
  }
  DIR* dir = ::opendir(directory.empty() ? "/" : directory.c_str());
  if (dir == nullptr) return {};
  std::string best;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (!FileNamesEqualIgnoreCase(candidate, name)) continue;
    if (best.empty() || candidate < best) best = candidate;
  }
  ::closedir(dir);
  return best;
}

}  // namespace

int CompareFileNames(std::string_view a, std::string_view b) {
  const int folded = CompareFolded(a, b);
  if (folded != 0) return folded;
  return a.compare(b);
}

bool FileNamesEqualIgnoreCase(std::string_view a, std::string_view b) {
  return CompareFolded(a, b) == 0;
}

std::uint32_t ToNativePath(std::u16string_view original, std::string* native, bool* absent,
                           struct stat* st) {
  if (absent != nullptr) *absent = false;
  const std::u16string path = StripLongPathPrefix(original);
  if (path.find(u'\0') != std::u16string_view::npos) return ERROR_INVALID_NAME;
  if (HasDriveOrNetworkRoot(path)) return ERROR_PATH_NOT_FOUND;
  std::string text = ToUtf8(path);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  struct stat found;
  if (text.empty() || Exists(text, st != nullptr ? st : &found)) {
    *native = std::move(text);
    // Only the empty path was not looked up, and it names nothing.
    return st != nullptr && native->empty() ? Win32ErrorForPath(ENOENT, *native) : ERROR_SUCCESS;
  }
  // Rebuild component by component, replacing a missing one by its case variant when there is
  // one. Once a component has no variant the rest cannot exist either, so it stays as written.
  // Every leading part of an existing path exists as written, so when the folder of the last
  // component exists, the walk starts there: a new name in an existing folder costs two lookups.
  std::string resolved = text[0] == '/' ? "/" : "";
  std::size_t pos = text[0] == '/' ? 1 : 0;
  struct stat parent;
  const struct stat* known_parent = nullptr;
  if (const std::size_t slash = text.rfind('/');
      slash != std::string::npos && slash > 0 && slash + 1 < text.size() &&
      ::lstat(text.substr(0, slash).c_str(), &parent) == 0) {
    resolved = text.substr(0, slash + 1);
    pos = slash + 1;
    known_parent = &parent;
  }
  bool searching = true;
  while (pos <= text.size()) {
    std::size_t end = text.find('/', pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view component(text.data() + pos, end - pos);
    std::string candidate = resolved + std::string(component);
    const bool last = end == text.size();
    // The whole text is known not to exist.
    if (searching && !component.empty() && component != "." && component != ".." &&
        (candidate == text || !Exists(candidate))) {
      const std::string variant = FindCaseVariant(resolved.empty() ? "." : resolved, component,
                                                  last ? known_parent : nullptr);
      if (variant.empty()) {
        if (last && absent != nullptr) {
          *absent = known_parent != nullptr && S_ISDIR(known_parent->st_mode);
        }
        searching = false;
      } else {
        candidate = resolved + variant;
      }
    }
    resolved = std::move(candidate);
    if (last) break;
    resolved += '/';
    pos = end + 1;
  }
  *native = std::move(resolved);
  if (st != nullptr && ::lstat(native->c_str(), st) != 0) return Win32ErrorForPath(errno, *native);
  return ERROR_SUCCESS;
}

std::u16string FullPathText(std::u16string_view original, std::u16string_view current) {
  const std::u16string stripped = StripLongPathPrefix(original);
  const std::u16string_view path = stripped;
  std::u16string root;
  std::u16string_view rest;
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == u':') {
    root = std::u16string(path.substr(0, 2)) + u"/";
    rest = path.substr(2);
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    root = u"//";
    rest = path.substr(2);
  } else if (!path.empty() && IsSeparator(path[0])) {
    root = u"/";
    rest = path;
  } else {
    return FullPathText(std::u16string(current) + u"/" + std::u16string(path), u"/");
  }

  std::vector<std::u16string_view> parts;
  std::size_t pos = 0;
  while (pos < rest.size()) {
    std::size_t end = pos;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::u16string_view part = rest.substr(pos, end - pos);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    pos = end + 1;
  }
  std::u16string full = root;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) full += u'/';
    full += parts[i];
  }
  if (!rest.empty() && IsSeparator(rest.back()) && !parts.empty()) full += u'/';
  return full;
}

}  // namespace orvex::platform::posix
