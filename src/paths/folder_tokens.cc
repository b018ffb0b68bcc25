#include "paths/folder_tokens.h"

#include <algorithm>

#include "common/path_text.h"
#include "paths/paths.h"
#include "platform/environment.h"
#include "platform/shell_folders.h"

namespace orvex {
namespace {

// Beyond this many characters a path needs the long-path prefix where the platform has the limit.
constexpr std::size_t kMaxPath = 260;

bool IsInvalidPathCharacter(char16_t c) {
  return c == u'<' || c == u'>' || c == u'"' || c == u'|' || (c >= 0x0001 && c <= 0x001F);
}

// Walks up the parents until none is left: what remains is the first component of a relative
// path, or the root of a rooted one.
HRESULT FindFirstComponent(std::u16string_view path, std::u16string* component) {
  std::u16string current(path);
  std::u16string parent;
  for (;;) {
    const HRESULT hr = GetParentPath(current, &parent);
    RETURN_IF_FAILED(hr);
    if (hr == S_FALSE) break;
    current.swap(parent);
  }
  *component = std::move(current);
  return S_OK;
}

// Inside means the archive directory itself or anything below it; a plain text prefix would also
// let "<archive>X" (a sibling folder) through.
bool IsInsideDirectory(std::u16string_view path, std::u16string_view directory) {
  if (directory.empty() || !path.starts_with(directory)) return false;
  return path.size() == directory.size() || IsSeparator(directory.back()) ||
         IsSeparator(path[directory.size()]);
}

}  // namespace

int LookupFolderToken(std::u16string_view name) {
  for (const platform::ShellFolder& token : FolderTokenTable) {
    if (token.name == name) return token.csidl;
  }
  return -1;
}

HRESULT GetParentPath(std::u16string_view path, std::u16string* parent) {
  parent->clear();
  for (const char16_t c : path) {
    if (IsInvalidPathCharacter(c)) return E_INVALIDARG;
  }
  int root_length = 0;
  const HRESULT rooted = GetRootLength(path, &root_length);
  RETURN_IF_FAILED(rooted);
  const std::size_t root = static_cast<std::size_t>(root_length);
  if (rooted == S_OK && root == path.size()) return S_FALSE;
  for (std::size_t i = path.size(); i-- > 0;) {
    if (IsSeparator(path[i])) {
      parent->assign(path.substr(0, std::max(root, i)));
      break;
    }
  }
  return parent->empty() ? S_FALSE : S_OK;
}

bool IsFolderTokenPath(std::u16string_view path) {
  std::u16string component;
  return SUCCEEDED(FindFirstComponent(path, &component)) && LookupFolderToken(component) != -1;
}

HRESULT ExpandFolderToken(std::u16string* path, const void* user_token,
                          std::uint32_t folder_type_flags) {
  std::u16string token;
  RETURN_IF_FAILED(FindFirstComponent(*path, &token));
  const int folder_id = LookupFolderToken(token);
  if (folder_id == -1) return E_INVALIDARG;

  std::u16string folder;
  const HRESULT found =
      platform::SHGetFolderPath(folder_id, user_token, folder_type_flags, &folder);
  if (found == S_FALSE || found == E_FAIL) return E_INVALIDARG;
  RETURN_IF_FAILED(found);
  folder.resize(std::min(folder.size(), folder.find(u'\0')));

  // The token is the path's first component and starts it; a later occurrence of the same text
  // is part of the rest and stays.
  std::u16string expanded = folder + path->substr(token.size());
  if (expanded.size() > kMaxPath && platform::NeedsLongPathPrefix()) {
    std::u16string prefixed;
    RETURN_IF_FAILED(AddLongPathPrefix(expanded, &prefixed));
    expanded = std::move(prefixed);
  }
  *path = std::move(expanded);
  return S_OK;
}

RebasedPath RebaseRulePath(std::u16string_view rule_path, std::u16string_view archive_directory) {
  RebasedPath rebased;
  std::u16string token;
  if (FAILED(FindFirstComponent(rule_path, &token)) || LookupFolderToken(token) == -1) {
    return rebased;
  }
  // Judged as written: resolving would let Windows drop a final dot, or read "x:y" as a stream of
  // "x", where Linux makes the name itself, which no later run could unpack.
  for (std::size_t start = 0; start < rule_path.size();) {
    std::size_t end = start;
    while (end < rule_path.size() && !IsSeparator(rule_path[end])) ++end;
    const std::u16string_view component = rule_path.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == u"." || component == u"..") continue;
    rebased.name = CheckWindowsName(component);
    if (rebased.name != WindowsNameStatus::kAccepted) {
      rebased.outcome = RebaseOutcome::kUnfitName;
      rebased.result = S_FALSE;
      return rebased;
    }
  }

  std::u16string resolved(rule_path);
  std::size_t file_name_position = 0;
  const HRESULT hr = ResolveFullPath(&resolved, archive_directory, &file_name_position);
  if (FAILED(hr)) {
    rebased.outcome = RebaseOutcome::kResolveFailed;
    rebased.result = hr;
    return rebased;
  }
  rebased.path = std::move(resolved);
  rebased.file_name_position = file_name_position;
  // A rule acts inside the folder of its token only: "Desktop\.." names the whole archive.
  std::u16string folder;
  (void)CombinePath(archive_directory, token, &folder);  // joining text cannot fail
  if (!IsInsideDirectory(rebased.path, folder)) {
    rebased.outcome = RebaseOutcome::kOutsideFolder;
    rebased.result = E_INVALIDARG;
    return rebased;
  }
  rebased.outcome = RebaseOutcome::kRebased;
  rebased.result = S_OK;
  return rebased;
}

}  // namespace orvex
