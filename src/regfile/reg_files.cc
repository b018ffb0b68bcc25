#include "regfile/reg_files.h"

#include "paths/file_finder.h"
#include "paths/paths.h"
#include "platform/text.h"

namespace orvex {

bool IsRegistryFolder(std::u16string_view name) {
  return EqualsIgnoreCase(name, kRegistryFolderName);
}

bool IsRegFileEntry(std::span<const std::u16string> components, bool directory) {
  if (directory || components.size() != 2 || !IsRegistryFolder(components[0])) return false;
  const std::u16string_view name = components[1];
  return name.size() > kRegFileExtension.size() &&
         EqualsIgnoreCase(name.substr(name.size() - kRegFileExtension.size()), kRegFileExtension);
}

HRESULT ForEachRegFile(std::u16string_view root,
                       const std::function<HRESULT(const RegFile&)>& visit) {
  std::u16string registry_directory;
  RETURN_IF_FAILED(CombinePath(root, kRegistryFolderName, &registry_directory));
  // The folder itself is the pattern, so the only possible match is its own entry; that finds it
  // whatever the letter case of its name in the archive.
  FileFinder folder;
  if (!folder.FindFirst(registry_directory) || !folder.IsDirectory()) return S_OK;
  std::u16string pattern;
  RETURN_IF_FAILED(
      CombinePath(folder.FullPath(), u"*" + std::u16string(kRegFileExtension), &pattern));
  FileFinder files;
  for (bool found = files.FindFirst(pattern); found; found = files.FindNext()) {
    if (files.IsDirectory()) continue;
    const std::u16string path = files.FullPath();
    RETURN_IF_FAILED(visit({folder.Name(), files.Name(), path}));
  }
  return S_OK;
}

}  // namespace orvex
