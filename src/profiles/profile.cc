#include "profiles/profile.h"

#include <array>
#include <new>
#include <set>
#include <vector>

#include "common/parallel.h"
#include "engine/engine_log.h"
#include "engine/engine_settings.h"
#include "engine/extract.h"
#include "migration/engine_connection.h"
#include "migration/working_area.h"
#include "paths/paths.h"
#include "platform/directory_tree.h"
#include "platform/environment.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/search.h"
#include "platform/text.h"
#include "regfile/reg_files.h"
#include "regfile/reg_reader.h"
#include "reports/report_text.h"
#include "transforms/files/file_system.h"

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

// An entry's name in the archive: its components joined by '/'.
std::u16string ArchiveName(std::span<const std::u16string> components) {
  std::u16string name;
  for (const std::u16string& component : components) {
    if (!name.empty()) name += u'/';
    name += component;
  }
  return name;
}

// Adds a listed entry, and the folders its name implies, to `tree`, and a .reg file's name to
// `reg_files`.
void AddListed(const engine::CheckedEntry& entry, FileTree* tree,
               std::set<std::u16string>* reg_files) {
  const std::u16string name = ArchiveName(entry.components);
  // Entries of one folder come together: its folders are most often listed already.
  for (std::size_t slash = name.rfind(u'/'); slash != std::u16string::npos && slash != 0;
       slash = name.rfind(u'/', slash - 1)) {
    const auto [folder, added] = tree->try_emplace(name.substr(0, slash));
    folder->second.directory = true;
    if (!added) break;
  }
  TreeEntry& listed = (*tree)[name];
  listed.directory = entry.directory;
  if (IsRegFileEntry(entry.components, entry.directory)) reg_files->insert(name);
  if (entry.directory || entry.place == nullptr) return;
  listed.size = entry.place->uncompressed;
  listed.crc = entry.place->crc;
}

// The files that comparing two listed trees needs unpacked: on each side, a file the other side
// holds with another size or CRC-32 (both sides, for the line diff), a file whose place the
// reader did not know, and a .reg file that the other side does not hold the same (identical
// documents differ in nothing).
void ChooseUnpacked(const FileTree (&trees)[2], const std::set<std::u16string> (&reg_files)[2],
                    std::set<std::u16string> (&unpacked)[2]) {
  for (int side = 0; side < 2; ++side) {
    const FileTree& others = trees[1 - side];
    for (const auto& [name, entry] : trees[side]) {
      if (entry.directory) continue;
      const auto other = others.find(name);
      const bool paired = other != others.end() && !other->second.directory;
      const bool same = paired && RecordedSame(entry, other->second);
      if (!same && (paired || !entry.crc || reg_files[side].contains(name))) {
        unpacked[side].insert(name);
      }
    }
  }
}

// Runs `load(side, failed_path, reason)` for both sides at once, each on a thread, so nothing may
// escape it; the failure of the first side that fails is the one reported.
template <typename Load>
HRESULT OnBothSides(const Load& load, std::size_t* failed, std::u16string* failed_path,
                    std::u16string* reason) {
  HRESULT results[2] = {S_OK, S_OK};
  std::u16string paths[2], reasons[2];
  const auto run = [&](std::size_t side) {
    try {
      results[side] = load(side, &paths[side], &reasons[side]);
    } catch (const ResultException& e) {
      results[side] = e.result();
    } catch (const std::bad_alloc&) {
      results[side] = E_OUTOFMEMORY;
    }
  };
  ForEachOnThreads(2, 2, run);
  for (std::size_t side = 0; side < 2; ++side) {
    if (FAILED(results[side])) {
      *failed = side;
      *failed_path = std::move(paths[side]);
      *reason = std::move(reasons[side]);
      return results[side];
    }
  }
  return S_OK;
}

}  // namespace

HRESULT ReadArchive(std::u16string_view archive, const std::u16string& log_file,
                    const engine::EntryDestination& destination_for, std::u16string* reason) {
  HRESULT hr = S_OK;
  {
    engine::EngineLog log(log_file);
    engine::ExtractLimits limits;
    engine::ExtractCounts counts;
    hr = engine::ReadExtractLimits(log, u"Unzip", &limits);
    if (SUCCEEDED(hr)) {
      hr = engine::InspectArchive(u"Unzip", archive, destination_for, limits, log, &counts);
    }
  }
  if (FAILED(hr)) *reason = EngineReason(log_file);
  return hr;
}

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

HRESULT InspectionWorkspace::LoadForComparison(std::span<const ComparedArchive, 2> sides,
                                               std::size_t* failed, std::u16string* failed_path,
                                               std::u16string* reason) {
  FileTree trees[2];
  std::set<std::u16string> reg_files[2];
  std::u16string logs[2];
  for (std::size_t side = 0; side < 2; ++side) {
    *failed = side;
    RETURN_IF_FAILED(CombinePath(directory_, sides[side].folder, &sides[side].profile->root));
    logs[side] = sides[side].profile->root + u".log";
  }
  // An archive compared with itself is listed once.
  platform::FileState states[2];
  const bool one_file = platform::GetFileState(sides[0].archive, &states[0]) == ERROR_SUCCESS &&
                        platform::GetFileState(sides[1].archive, &states[1]) == ERROR_SUCCESS &&
                        states[0] == states[1];
  RETURN_IF_FAILED(OnBothSides(
      [&](std::size_t side, std::u16string*, std::u16string* why) {
        if (side == 1 && one_file) return S_OK;
        return ReadArchive(
            sides[side].archive, logs[side],
            [&tree = trees[side], &regs = reg_files[side]](const engine::CheckedEntry& entry,
                                                           std::u16string*) {
              AddListed(entry, &tree, &regs);
              return false;
            },
            why);
      },
      failed, failed_path, reason));
  if (one_file) {
    trees[1] = trees[0];
    reg_files[1] = reg_files[0];
  }
  std::set<std::u16string> unpacked[2];
  ChooseUnpacked(trees, reg_files, unpacked);
  return OnBothSides(
      [&](std::size_t side, std::u16string* path, std::u16string* why) {
        Profile& profile = *sides[side].profile;
        FileTree& tree = trees[side];
        if (!unpacked[side].empty()) {
          RETURN_IF_FAILED(ReadArchive(
              sides[side].archive, logs[side],
              [&](const engine::CheckedEntry& entry, std::u16string* destination) {
                const auto found = unpacked[side].find(ArchiveName(entry.components));
                if (found == unpacked[side].end()) return false;
                *destination = profile.root;
                for (const std::u16string& component : entry.components) {
                  *destination += platform::PathSeparator();
                  *destination += component;
                }
                tree.at(*found).full_path = *destination;
                return true;
              },
              why));
        }
        // A file the reader could not place has the size it was unpacked with.
        for (const std::u16string& name : unpacked[side]) {
          TreeEntry& entry = tree.at(name);
          platform::FileState state;
          if (!entry.crc && platform::GetFileState(entry.full_path, &state) == ERROR_SUCCESS) {
            entry.size = state.size;
          }
        }
        RETURN_IF_FAILED(LoadRegFiles(profile.root, &profile, path, why));
        for (const ProfileRegFile& file : profile.reg_files) tree.erase(file.name);
        profile.tree = std::move(tree);
        return S_OK;
      },
      failed, failed_path, reason);
}

HRESULT LoadRegFiles(std::u16string_view root, Profile* profile, std::u16string* failed_path,
                     std::u16string* reason) {
  profile->root = root;
  profile->reg_files.clear();
  RETURN_IF_FAILED(ForEachRegFile(root, [&](const RegFile& found) {
    ProfileRegFile& file = profile->reg_files.emplace_back();
    file.name = std::u16string(found.folder_name) + u'/' + std::u16string(found.name);
    RegReadStop stop;
    const HRESULT hr = ParseRegFile(file.document, found.path, &stop);
    if (FAILED(hr)) {
      *failed_path = file.name;
      if (stop.line != 0) *reason = u"line " + DecimalText(stop.line);
      if (!stop.why.empty()) *reason += u": " + std::u16string(stop.why);
    }
    return hr;
  }));
  return S_OK;
}

HRESULT LoadProfile(std::u16string_view root, Profile* profile, std::u16string* failed_path,
                    std::u16string* reason) {
  RETURN_IF_FAILED(LoadRegFiles(root, profile, failed_path, reason));
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
