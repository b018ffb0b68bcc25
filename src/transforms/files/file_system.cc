#include "transforms/files/file_system.h"

#include <string>
#include <thread>
#include <vector>

#include "common/parallel.h"
#include "common/path_text.h"
#include "paths/paths.h"
#include "platform/directory_tree.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/search.h"
#include "platform/text.h"

namespace orvex {
namespace {

constexpr std::uint32_t kClearedByForce = platform::FILE_ATTRIBUTE_READONLY |
                                          platform::FILE_ATTRIBUTE_HIDDEN |
                                          platform::FILE_ATTRIBUTE_SYSTEM;

bool IsDirectory(std::uint32_t attributes) {
  return (attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The form in which walks hand a directory on: with a final separator.
void AppendSeparator(std::u16string* path) {
  if (!EndsInSeparator(*path)) *path += platform::PathSeparator();
}

// FileExists and DirectoryExists: S_FALSE when the name exists with the other kind. A missing
// name reports all attribute bits set.
HRESULT ExistsAs(std::u16string_view path, bool* exists, std::uint32_t* attributes,
                 bool directory) {
  if (exists == nullptr) return E_INVALIDARG;
  *exists = false;
  std::uint32_t found = platform::INVALID_FILE_ATTRIBUTES;
  RETURN_IF_FAILED(GetPathAttributes(path, exists, &found));
  if (attributes != nullptr) *attributes = found;
  if (!*exists) return S_OK;
  return IsDirectory(found) == directory ? S_OK : S_FALSE;
}

HRESULT ClearAttributes(std::u16string_view path) {
  return HResultFromWin32(platform::SetFileAttributes(path, platform::FILE_ATTRIBUTE_NORMAL));
}

// Calls `visit(entry, child)` for every entry of `directory` but "." and "..", where `child` is
// the entry's path (with a final separator for a directory). The first result of `visit` other
// than S_OK ends the walk and is its result; the end of the entries gives S_OK.
template <typename Visit>
HRESULT WalkDirectory(std::u16string_view directory, Visit visit) {
  std::u16string pattern;
  RETURN_IF_FAILED(CombinePath(directory, u"*", &pattern));
  std::vector<platform::FindData> entries;
  if (const std::uint32_t error = platform::ListDirectory(pattern, &entries)) {
    return HResultFromWin32(error);
  }
  for (const platform::FindData& entry : entries) {
    std::u16string child;
    RETURN_IF_FAILED(CombinePath(directory, entry.name, &child));
    if (IsDirectory(entry.data.attributes)) AppendSeparator(&child);
    const HRESULT hr = visit(entry, child);
    if (hr != S_OK) return hr;
  }
  return S_OK;
}

// Whether the resolved `destination` is `source` itself or lies inside it, by the letter-case
// rules names are matched with.
bool IsSameOrInside(std::u16string_view destination, std::u16string_view source) {
  const std::u16string_view s = WithoutFinalSeparators(source);
  const std::u16string_view d = WithoutFinalSeparators(destination);
  if (d.size() < s.size() || !EqualsIgnoreCase(d.substr(0, s.size()), s)) return false;
  return d.size() == s.size() || IsSeparator(s.back()) || IsSeparator(d[s.size()]);
}

// The parent directory of a destination that a copy or move could not reach, created, and the
// resolved destination to try once more.
HRESULT CreateDestinationParent(std::u16string_view destination, std::u16string* resolved) {
  *resolved = destination;
  std::size_t file_name_position = 0;
  RETURN_IF_FAILED(ResolveFullPath(resolved, {}, &file_name_position));
  const std::u16string_view parent = std::u16string_view(*resolved).substr(0, file_name_position);
  if (parent.empty()) return HResultFromWin32(ERROR_PATH_NOT_FOUND);
  return CreateDirectoryPath(parent);
}

HRESULT CopyOneFile(std::u16string_view source, std::u16string_view destination, bool overwrite) {
  const std::uint32_t error = platform::CopyFile(source, destination, !overwrite);
  if (error == ERROR_SUCCESS) return S_OK;
  if (!overwrite && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)) return S_FALSE;
  if (error != ERROR_PATH_NOT_FOUND) return HResultFromWin32(error);
  std::u16string resolved;
  RETURN_IF_FAILED(CreateDestinationParent(destination, &resolved));
  return HResultFromWin32(platform::CopyFile(source, resolved, !overwrite));
}

HRESULT CopyTree(std::u16string_view source, std::u16string_view destination, bool overwrite) {
  std::u16string from(source), to(destination);
  RETURN_IF_FAILED(ResolveFullPath(&from));
  RETURN_IF_FAILED(ResolveFullPath(&to));
  // The walk would enter the directories it creates and copy the tree into itself until the
  // paths grew too long.
  if (IsSameOrInside(to, from)) return kCopyIntoItself;
  // A copy creates one new name after another in the same directories.
  const platform::NameCacheScope keep_listings;
  RETURN_IF_FAILED(CreateDirectoryPath(to));
  return WalkDirectory(from, [&](const platform::FindData& entry, std::u16string_view child) {
    std::u16string child_destination;
    RETURN_IF_FAILED(CombinePath(to, entry.name, &child_destination));
    if (IsDirectory(entry.data.attributes)) AppendSeparator(&child_destination);
    const HRESULT hr = CopyPath(child, child_destination, overwrite);
    return hr == S_FALSE && overwrite ? S_OK : hr;
  });
}

}  // namespace

HRESULT GetPathAttributes(std::u16string_view path, bool* exists, std::uint32_t* attributes) {
  if (exists == nullptr) return E_INVALIDARG;
  *exists = false;
  std::uint32_t found = 0;
  const std::uint32_t error = platform::GetFileAttributes(path, &found);
  if (error == ERROR_SUCCESS) {
    if (attributes != nullptr) *attributes = found;
    *exists = true;
    return S_OK;
  }
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return S_OK;
  return HResultFromWin32(error);
}

HRESULT FileExists(std::u16string_view path, bool* exists, std::uint32_t* attributes) {
  return ExistsAs(path, exists, attributes, /*directory=*/false);
}

HRESULT DirectoryExists(std::u16string_view path, bool* exists, std::uint32_t* attributes) {
  return ExistsAs(path, exists, attributes, /*directory=*/true);
}

HRESULT CreateDirectoryPath(std::u16string_view path) {
  const std::uint32_t error = platform::CreateDirectoryTree(path);
  return HResultFromWin32(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
}

HRESULT PrepareFileForReplacement(std::u16string_view path, bool* exists) {
  std::uint32_t attributes = 0;
  const HRESULT hr = FileExists(path, exists, &attributes);
  RETURN_IF_FAILED(hr);
  if (!*exists) return S_OK;
  if (hr == S_FALSE) return HResultFromWin32(ERROR_ACCESS_DENIED);
  if ((attributes & kClearedByForce) != 0) RETURN_IF_FAILED(ClearAttributes(path));
  return S_OK;
}

HRESULT ForceDeleteFile(std::u16string_view path) {
  bool exists = false;
  RETURN_IF_FAILED(PrepareFileForReplacement(path, &exists));
  return exists ? HResultFromWin32(platform::DeleteFile(path)) : S_OK;
}

HRESULT DeleteDirectoryTree(std::u16string_view path, bool delete_files, bool recursive) {
  if (path.empty()) return E_INVALIDARG;
  bool exists = false;
  std::uint32_t attributes = 0;
  const HRESULT hr = DirectoryExists(path, &exists, &attributes);
  RETURN_IF_FAILED(hr);
  if (!exists) return S_OK;
  if (hr == S_FALSE) return HResultFromWin32(ERROR_DIRECTORY);
  if ((attributes & platform::FILE_ATTRIBUTE_READONLY) != 0)
    RETURN_IF_FAILED(ClearAttributes(path));
  if (delete_files || recursive) {
    RETURN_IF_FAILED(
        WalkDirectory(path, [&](const platform::FindData& entry, std::u16string_view child) {
          if (recursive && IsDirectory(entry.data.attributes)) {
            return DeleteDirectoryTree(child, delete_files, recursive);
          }
          if (!delete_files) return S_OK;
          // A subdirectory met without `recursive` lands here too, and deleting it as a file
          // fails.
          if ((entry.data.attributes & kClearedByForce) != 0) {
            RETURN_IF_FAILED(ClearAttributes(child));
          }
          return HResultFromWin32(platform::DeleteFile(child));
        }));
  }
  return HResultFromWin32(platform::RemoveDirectory(path));
}

void RemoveLargeTree(std::u16string_view path) {
  // The folders three levels down (in a working area: those in the archive's shell folders) are
  // parts enough to share out; the rest goes afterwards.
  constexpr int kPartDepth = 3;
  std::vector<std::u16string> parts{std::u16string(path)};
  for (int level = 0; level < kPartDepth; ++level) {
    std::vector<std::u16string> below;
    for (const std::u16string& folder : parts) {
      (void)WalkDirectory(folder,
                          [&below](const platform::FindData& entry, std::u16string_view child) {
                            if (IsDirectory(entry.data.attributes)) below.emplace_back(child);
                            return S_OK;
                          });
    }
    parts = std::move(below);
  }
  ForEachOnThreads(parts.size(), std::thread::hardware_concurrency(),
                   [&parts](std::size_t i) { (void)DeleteDirectoryTree(parts[i], true, true); });
  (void)DeleteDirectoryTree(path, true, true);
}

HRESULT CopyPath(std::u16string_view source, std::u16string_view destination, bool overwrite) {
  bool exists = false;
  std::uint32_t attributes = 0;
  RETURN_IF_FAILED(GetPathAttributes(source, &exists, &attributes));
  if (!exists) return S_OK;
  if (!IsDirectory(attributes)) return CopyOneFile(source, destination, overwrite);
  return CopyTree(source, destination, overwrite);
}

HRESULT MovePath(std::u16string_view source, std::u16string_view destination, bool replace_existing,
                 bool allow_copy) {
  std::uint32_t flags = 0;
  if (replace_existing) flags |= platform::MOVEFILE_REPLACE_EXISTING;
  if (allow_copy) flags |= platform::MOVEFILE_COPY_ALLOWED;
  const std::uint32_t error = platform::MoveFileEx(source, destination, flags);
  if (error == ERROR_SUCCESS) return S_OK;
  if (!replace_existing && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)) {
    return S_FALSE;
  }
  if (error != ERROR_PATH_NOT_FOUND) return HResultFromWin32(error);
  std::u16string resolved;
  RETURN_IF_FAILED(CreateDestinationParent(destination, &resolved));
  return HResultFromWin32(platform::MoveFileEx(source, resolved, flags));
}

bool NameOneFile(std::u16string_view a, std::u16string_view b) {
  platform::FileState file_a, file_b;
  const bool a_exists = platform::GetFileState(a, &file_a) == ERROR_SUCCESS;
  const bool b_exists = platform::GetFileState(b, &file_b) == ERROR_SUCCESS;
  if (a_exists || b_exists) return a_exists && b_exists && file_a.identity == file_b.identity;
  // Two free names: whichever is made first, the other then finds it.
  const std::u16string_view folder_a = ParentOf(a), folder_b = ParentOf(b);
  const auto last = [](std::u16string_view path) {
    path = WithoutFinalSeparators(path);
    return path.substr(FindFileName(path));
  };
  if (!EqualsIgnoreCase(last(a), last(b))) return false;
  platform::FileState parent_a, parent_b;
  if (platform::GetFileState(folder_a, &parent_a) == ERROR_SUCCESS &&
      platform::GetFileState(folder_b, &parent_b) == ERROR_SUCCESS) {
    return parent_a.identity == parent_b.identity;
  }
  return EqualsIgnoreCase(a, b);
}

std::u16string PathToOpen(std::u16string_view path) {
  std::u16string final_path;
  if (platform::GetFinalPathName(path, &final_path) == ERROR_SUCCESS) return final_path;
  return std::u16string(path);
}

bool LiesWithin(std::u16string_view path, std::u16string_view directory) {
  platform::FileState folder;
  if (platform::GetFileState(directory, &folder) != ERROR_SUCCESS) return false;
  for (std::u16string_view step = path; !step.empty(); step = ParentOf(step)) {
    platform::FileState file;
    if (platform::GetFileState(step, &file) == ERROR_SUCCESS && file.identity == folder.identity) {
      return true;
    }
    if (ParentOf(step).size() == step.size()) break;  // the root
  }
  return false;
}

}  // namespace orvex
