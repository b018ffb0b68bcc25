#include "OrvexInspect/profile.h"

#include <array>
#include <set>
#include <vector>

#include "OrvexInspect/inspect_text.h"
#include "OrvexMigrate/engine_connection.h"
#include "OrvexMigrate/working_area.h"
#include "platform/directory_tree.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "regfile/reg_reader.h"
#include "transforms/files/file_system.h"
#include "transforms/files/paths.h"

namespace orvex {
namespace {

constexpr std::uint32_t kChunk = 65536;

// The entries of one folder and everything below it, by their names in the archive.
HRESULT ListFolder(const std::u16string& folder, const std::u16string& prefix,
                   const std::set<std::u16string>& skipped, FileTree* tree,
                   std::u16string* failed_path) {
  std::u16string pattern;
  RETURN_IF_FAILED(CombinePath(folder, u"*", &pattern));
  std::vector<platform::FindData> entries;
  if (const std::uint32_t error = platform::ListDirectory(pattern, &entries)) {
    *failed_path = folder;
    return HResultFromWin32(error);
  }
  for (const platform::FindData& found : entries) {
    const std::u16string name = prefix.empty() ? found.name : prefix + u'/' + found.name;
    if (skipped.contains(name)) continue;
    TreeEntry entry;
    entry.directory = (found.data.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.size = entry.directory ? 0 : found.data.size;
    RETURN_IF_FAILED(CombinePath(folder, found.name, &entry.full_path));
    const std::u16string child = entry.full_path;
    const bool directory = entry.directory;
    tree->emplace(name, std::move(entry));
    if (directory) RETURN_IF_FAILED(ListFolder(child, name, skipped, tree, failed_path));
  }
  return S_OK;
}

std::set<std::u16string> RegFileNames(const Profile& profile) {
  std::set<std::u16string> names;
  for (const ProfileRegFile& file : profile.reg_files) names.insert(file.name);
  return names;
}

// Fills `block` as far as the file goes; `*count` falls short of its size only at the end.
HRESULT ReadFull(platform::FileHandle& file, std::string* block, std::uint32_t* count) {
  *count = 0;
  while (*count < block->size()) {
    std::uint32_t read = 0;
    if (const std::uint32_t error =
            platform::ReadFile(file, block->data() + *count,
                               static_cast<std::uint32_t>(block->size()) - *count, &read)) {
      return HResultFromWin32(error);
    }
    if (read == 0) break;
    *count += read;
  }
  return S_OK;
}

// Calls `take` with each block of a file's bytes until it returns false or the file ends.
template <typename Take>
HRESULT ReadBlocks(std::u16string_view path, Take take) {
  platform::FileHandle file;
  if (const std::uint32_t error =
          platform::CreateFile(path, platform::GENERIC_READ, platform::OPEN_EXISTING, &file)) {
    return HResultFromWin32(error);
  }
  std::string block(kChunk, '\0');
  for (;;) {
    std::uint32_t read = 0;
    if (const std::uint32_t error = platform::ReadFile(file, block.data(), kChunk, &read)) {
      return HResultFromWin32(error);
    }
    if (read == 0 || !take(std::string_view(block.data(), read))) return S_OK;
  }
}

// The engine's reason for a failed operation: the last line of its log before the closing
// "<operation>: failed (Error n)", without the time stamp ("YYYY-MM-DD hh:mm:ss ") and the
// operation's name; empty when there is none.
std::u16string EngineReason(std::u16string_view log_file) {
  constexpr std::size_t kTimeStampLength = 20;
  std::string text;
  (void)ReadBlocks(log_file, [&text](std::string_view block) {
    text += block;
    return true;
  });
  std::string_view rest = text;
  for (int closing = 0; closing < 2; ++closing) {
    while (rest.ends_with('\n') || rest.ends_with('\r')) rest.remove_suffix(1);
    std::string_view line = rest.substr(rest.rfind('\n') + 1);  // npos + 1 == 0: the only line
    rest.remove_suffix(line.size());
    if (line.size() <= kTimeStampLength) return {};
    line.remove_prefix(kTimeStampLength);
    line.remove_prefix(line.find(": ") == std::string_view::npos ? 0 : line.find(": ") + 2);
    if (!line.starts_with("failed (Error ")) return ToUtf16(line);
  }
  return {};
}

}  // namespace

InspectionWorkspace::~InspectionWorkspace() { Remove(); }

void InspectionWorkspace::Remove() {
  if (!directory_.empty()) (void)DeleteDirectoryTree(directory_, true, true);
  directory_.clear();
}

HRESULT InspectionWorkspace::Create() {
  return CreateUniqueDirectory({}, u"OVI%05u", kWorkingDirectoryTries, &directory_);
}

HRESULT InspectionWorkspace::Unpack(std::u16string_view archive, std::u16string_view name,
                                    std::u16string* root, std::u16string* reason) {
  std::u16string folder;
  RETURN_IF_FAILED(CombinePath(directory_, name, &folder));
  const std::u16string log_file = folder + u".log";
  EngineConnection engine({folder, archive, {}, log_file});
  RETURN_IF_FAILED(engine.Start());
  if (const HRESULT hr = engine.Unzip(); FAILED(hr)) {
    *reason = EngineReason(log_file);
    return hr;
  }
  *root = std::move(folder);
  return S_OK;
}

HRESULT InspectionWorkspace::PathOf(std::u16string_view name, std::u16string* path) const {
  return CombinePath(directory_, name, path);
}

HRESULT LoadProfile(std::u16string_view root, Profile* profile, std::u16string* failed_path,
                    std::u16string* reason) {
  profile->root = root;
  profile->reg_files.clear();
  std::u16string registry;
  RETURN_IF_FAILED(CombinePath(root, u"Registry", &registry));
  FileFinder folder;
  if (folder.FindFirst(registry) && folder.IsDirectory()) {
    std::u16string pattern;
    RETURN_IF_FAILED(CombinePath(folder.FullPath(), u"*.reg", &pattern));
    FileFinder files;
    for (bool found = files.FindFirst(pattern); found; found = files.FindNext()) {
      if (files.IsDirectory()) continue;
      ProfileRegFile& file = profile->reg_files.emplace_back();
      file.name = folder.Name() + u'/' + files.Name();
      RegReadStop stop;
      const HRESULT hr = ParseRegFile(file.document, files.FullPath(), &stop);
      if (FAILED(hr)) {
        *failed_path = file.name;
        if (stop.line != 0) *reason = u"line " + DecimalText(stop.line);
        if (!stop.why.empty()) *reason += u": " + std::u16string(stop.why);
        return hr;
      }
    }
  }
  return ReloadTree(profile, failed_path);
}

HRESULT ReloadTree(Profile* profile, std::u16string* failed_path) {
  profile->tree.clear();
  return ListFolder(profile->root, {}, RegFileNames(*profile), &profile->tree, failed_path);
}

HRESULT SameContent(std::u16string_view a, std::u16string_view b, bool* same) {
  platform::FileHandle files[2];
  for (int i = 0; i < 2; ++i) {
    if (const std::uint32_t error = platform::CreateFile(i == 0 ? a : b, platform::GENERIC_READ,
                                                         platform::OPEN_EXISTING, &files[i])) {
      return HResultFromWin32(error);
    }
  }
  std::string blocks[2] = {std::string(kChunk, '\0'), std::string(kChunk, '\0')};
  for (;;) {
    std::uint32_t counts[2] = {0, 0};
    for (int i = 0; i < 2; ++i) RETURN_IF_FAILED(ReadFull(files[i], &blocks[i], &counts[i]));
    if (counts[0] != counts[1] || std::string_view(blocks[0]).substr(0, counts[0]) !=
                                      std::string_view(blocks[1]).substr(0, counts[1])) {
      *same = false;
      return S_OK;
    }
    if (counts[0] < kChunk) {
      *same = true;
      return S_OK;
    }
  }
}

HRESULT ReadFileBytes(std::u16string_view path, std::uint64_t limit, std::string* bytes) {
  bytes->clear();
  return ReadBlocks(path, [&](std::string_view block) {
    bytes->append(block.substr(
        0, static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), limit - bytes->size()))));
    return bytes->size() < limit;
  });
}

HRESULT HashFileContent(std::u16string_view path, std::uint64_t* hash) {
  std::uint64_t value = 14695981039346656037ull;  // FNV-1a
  RETURN_IF_FAILED(ReadBlocks(path, [&](std::string_view block) {
    for (const char byte : block) {
      value = (value ^ static_cast<std::uint8_t>(byte)) * 1099511628211ull;
    }
    return true;
  }));
  *hash = value;
  return S_OK;
}

}  // namespace orvex
