#include "paths/paths.h"

#include <mutex>

#include "common/path_text.h"
#include "platform/environment.h"

namespace orvex {
namespace {

// Position of the first `c` at or after `from`, or npos.
std::size_t FindFrom(std::u16string_view text, char16_t c, std::size_t from) {
  return from > text.size() ? std::u16string_view::npos : text.find(c, from);
}

// Runs steps without a base directory: expansion, long-path prefix, full path, file-name position.
HRESULT ResolveInPlace(std::u16string* path, std::size_t* file_name_position,
                       bool expand_environment) {
  std::u16string copy = *path;
  if (expand_environment) {
    std::u16string expanded;
    if (const std::uint32_t error = platform::ExpandEnvironmentStrings(copy, &expanded)) {
      return HResultFromWin32(error);
    }
    copy = std::move(expanded);
    if (copy.size() >= 259 && platform::NeedsLongPathPrefix()) {
      std::u16string prefixed;
      RETURN_IF_FAILED(AddLongPathPrefix(copy, &prefixed));
      copy = std::move(prefixed);
    }
  }
  std::u16string full;
  std::size_t file_part = 0;
  if (const std::uint32_t error = platform::GetFullPathName(copy, &full, &file_part)) {
    return HResultFromWin32(error);
  }
  if (file_name_position != nullptr) *file_name_position = file_part;
  *path = std::move(full);
  return S_OK;
}

}  // namespace

HRESULT GetRootLength(std::u16string_view path, int* root_length) {
  if (root_length != nullptr) *root_length = 0;
  if (path.empty()) return S_FALSE;
  std::size_t p = 0;
  if (path.starts_with(u"\\\\?\\UNC")) {
    p = 7;
  } else if (path.starts_with(u"\\\\?\\")) {
    p = 4;
  }
  if (p >= path.size()) return S_FALSE;

  std::size_t length = 0;
  const char16_t c = path[p];
  if (IsAsciiLetter(c)) {
    if (FindFrom(path, u':', p) != p + 1) return S_FALSE;
    if (FindFrom(path, u'\\', p + 1) != p + 2 && FindFrom(path, u'/', p + 1) != p + 2) {
      return E_INVALIDARG;
    }
    length = p + 3;
  } else if (IsSeparator(c)) {
    const bool network = p == 7 || (p == 0 && path.starts_with(u"\\\\"));
    if (!network) {
      if (p != 0) return E_INVALIDARG;
      length = 1;
    } else {
      // The first two non-empty pieces between backslashes are the server and the share; the
      // share must be followed by a backslash.
      std::size_t pos = p;
      for (int piece = 0; piece < 2; ++piece) {
        while (pos < path.size() && path[pos] == u'\\') ++pos;
        if (pos == path.size()) return E_INVALIDARG;
        while (pos < path.size() && path[pos] != u'\\') ++pos;
      }
      if (pos == path.size()) return E_INVALIDARG;
      length = pos + 1;
    }
  } else {
    return S_FALSE;
  }
  if (root_length != nullptr) *root_length = static_cast<int>(length);
  return S_OK;
}

std::size_t FindExtension(std::u16string_view path) {
  std::size_t dot = path.size();
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char16_t c = path[i];
    if (c == u'.') {
      dot = i;
    } else if (c == u' ' || IsSeparator(c)) {
      dot = path.size();
    }
  }
  return dot;
}

std::size_t FindFileName(std::u16string_view path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsSeparator(path[i]) || (i == 1 && path[i] == u':')) start = i + 1;
  }
  return start;
}

HRESULT AddLongPathPrefix(std::u16string_view path, std::u16string* prefixed) {
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == u':' && path[2] == u'\\') {
    if (path.find(u"\\\\?\\") != std::u16string_view::npos) {
      *prefixed = path;
    } else {
      *prefixed = u"\\\\?\\" + std::u16string(path);
    }
    return S_OK;
  }
  if (path.starts_with(u"\\\\")) {
    if (path.starts_with(u"\\\\?\\") || path.find(u"\\\\?\\UNC\\") != std::u16string_view::npos) {
      *prefixed = path;
    } else {
      *prefixed = u"\\\\?\\UNC\\" + std::u16string(path.substr(path.find_first_not_of(u'\\')));
    }
    return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT CombinePath(std::u16string_view directory, std::u16string_view name, std::u16string* out) {
  if (name.empty()) {
    *out = directory;
  } else if (directory.empty() || GetRootLength(name) == S_OK) {
    *out = name;
  } else {
    std::u16string joined(directory);
    const char16_t last = joined.back();
    if (last != u'\\' && last != platform::PathSeparator()) joined += platform::PathSeparator();
    joined += name;
    *out = std::move(joined);
  }
  return S_OK;
}

HRESULT ResolveFullPath(std::u16string* path, std::u16string_view base_directory,
                        std::size_t* file_name_position, bool expand_environment) {
  if (base_directory.empty()) return ResolveInPlace(path, file_name_position, expand_environment);

  // The current directory is the process's: resolutions against a base directory take turns, for
  // a preview that runs the rules on several profiles at once. Nothing resolves a relative path
  // without a base meanwhile (the rule passes work on full paths).
  static std::mutex current_directory;
  const std::lock_guard lock(current_directory);
  std::u16string saved;
  if (const std::uint32_t error = platform::GetCurrentDirectory(&saved)) {
    return HResultFromWin32(error);
  }
  if (const std::uint32_t error = platform::SetCurrentDirectory(base_directory)) {
    return HResultFromWin32(error);
  }
  std::u16string resolved_path = *path;
  std::size_t position = 0;
  const HRESULT resolved = ResolveInPlace(&resolved_path, &position, expand_environment);
  const HRESULT restored = HResultFromWin32(platform::SetCurrentDirectory(saved));
  RETURN_IF_FAILED(resolved);
  RETURN_IF_FAILED(restored);
  if (file_name_position != nullptr) *file_name_position = position;
  *path = std::move(resolved_path);
  return S_OK;
}

}  // namespace orvex
