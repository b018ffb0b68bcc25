#include "platform/directory_tree.h"

#include <string>

#include "common/path_text.h"
#include "common/result.h"

namespace orvex::platform {
namespace {

// One directory; an existing directory of that name counts as made.
std::uint32_t CreateOne(const std::u16string& path) {
  const std::uint32_t error = CreateDirectory(path);
  if (error != ERROR_ALREADY_EXISTS) return error;
  std::uint32_t attributes = 0;
  if (GetFileAttributes(path, &attributes) == ERROR_SUCCESS &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return ERROR_SUCCESS;
  }
  return ERROR_ALREADY_EXISTS;
}

}  // namespace

std::uint32_t CreateDirectoryTree(std::u16string_view path) {
  // Walk up to the first directory that exists, then create the missing ones downwards: no
  // recursion, however deep the path.
  std::vector<std::u16string> missing;
  std::u16string current(path);
  for (;;) {
    const std::uint32_t error = CreateOne(current);
    if (error == ERROR_SUCCESS) break;
    if (error != ERROR_PATH_NOT_FOUND && error != ERROR_FILE_NOT_FOUND) return error;
    const std::u16string_view parent = ParentOf(current);
    if (parent.empty() || parent.size() >= current.size()) return error;
    std::u16string next(parent);
    missing.push_back(std::move(current));
    current = std::move(next);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (const std::uint32_t error = CreateOne(*it)) return error;
  }
  return ERROR_SUCCESS;
}

std::uint32_t ListDirectory(std::u16string_view pattern, std::vector<FindData>* entries) {
  entries->clear();
  FindHandle search;
  FindData found;
  std::uint32_t error = FindFirstFile(pattern, &search, &found);
  while (error == ERROR_SUCCESS) {
    if (found.name != u"." && found.name != u"..") entries->push_back(std::move(found));
    error = FindNextFile(search, &found);
  }
  return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

}  // namespace orvex::platform
