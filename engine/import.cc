#include "engine/import.h"

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "engine/entry_name.h"
#include "engine/registry_import.h"
#include "platform/directory_tree.h"
#include "platform/environment.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell_folders.h"
#include "platform/text.h"
#include "regfile/reg_files.h"
#include "text/format.h"

namespace orvex::engine {
namespace {

// The top-level folders of a profile archive are named by the shell folders they hold.
constexpr const auto& kFolderTokens = platform::kShellFolders;

// What one pass over an imported archive takes.
enum class Pass {
  kEverything,     // folders and registry files: where the registry is a folder of files
  kRegistryFiles,  // registry files only, unpacked to be read before the folders arrive
  kFolders,        // the folders only, once the registry files have been read
};

// Where each entry of an imported archive goes.
class ImportDestinations {
 public:
  HRESULT Prepare(std::uint32_t store_wait_ms, EngineLog& log) {
    if (!platform::HasRegistry()) return PrepareStore(store_wait_ms, log);
    for (std::size_t i = 0; i < kFolderTokens.size(); ++i) {
      const HRESULT hr =
          platform::SHGetFolderPath(kFolderTokens[i].csidl, nullptr, 0, &folders_[i]);
      if (FAILED(hr)) {
        log.Line(u"Import: no folder for '%s' (Error %d)", kFolderTokens[i].name, LowWord(hr));
        return hr;
      }
    }
    return S_OK;
  }

  /// Where registry files go in a pass that takes them (the store or a staging folder).
  void SetRegistryFolder(std::u16string folder) { store_ = std::move(folder); }

  bool Destination(Pass pass, std::span<const std::u16string> components, bool directory,
                   std::u16string* destination) {
    const std::u16string& top = components[0];
    if (IsRegistryFolder(top)) {
      if (pass == Pass::kFolders || !IsRegFileEntry(components, directory)) return false;
      registry_names_.push_back(components[1]);
      if (pass == Pass::kEverything) {
        *destination = store_ + platform::PathSeparator() + components[1];
      } else {
        // Numbered, so that names only the letter case tells apart stay apart.
        *destination = store_ + platform::PathSeparator() +
                       Format(u"%lld.reg", static_cast<std::int64_t>(registry_names_.size()));
      }
      staged_.push_back(*destination);
      return true;
    }
    if (pass == Pass::kRegistryFiles) return false;
    for (std::size_t i = 0; i < kFolderTokens.size(); ++i) {
      if (top != kFolderTokens[i].name) continue;
      // A file in the token's own place would replace the whole folder.
      if (components.size() == 1 && !directory) return false;
      std::u16string path = folders_[i];
      for (std::size_t c = 1; c < components.size(); ++c) {
        path += platform::PathSeparator();
        path += components[c];
      }
      *destination = std::move(path);
      used_[i] = true;
      return true;
    }
    return false;
  }

  /// The registry files taken so far: their names in the archive and where they were put.
  const std::vector<std::u16string>& registry_names() const { return registry_names_; }
  const std::vector<std::u16string>& registry_files() const { return staged_; }

  void LogUse(EngineLog& log) const {
    for (std::size_t i = 0; i < kFolderTokens.size(); ++i) {
      if (used_[i]) log.Line(u"Import: %s -> '%s'", kFolderTokens[i].name, folders_[i]);
    }
    if (!platform::HasRegistry() && !registry_names_.empty()) {
      log.Line(u"Import: %lld registry files -> '%s'",
               static_cast<std::int64_t>(registry_names_.size()), store_);
    }
  }

 private:
  // Where no Windows profile lives, the registry files and the folders go into the engine's own
  // store: a profile archive holds whole dot-files of a home folder (".bashrc", ".ssh"), which an
  // import must never put into the live one.
  HRESULT PrepareStore(std::uint32_t store_wait_ms, EngineLog& log) {
    std::u16string store;
    const HRESULT hr = platform::GetProfileStore(&store);
    if (FAILED(hr)) {
      log.Line(u"Import: no profile store (Error %d)", LowWord(hr));
      return hr;
    }
    const char16_t separator = platform::PathSeparator();
    std::uint32_t error = platform::CreateDirectoryTree(store);
    if (error == ERROR_ALREADY_EXISTS) {
      log.Line(
          u"Import: the profile store '%s' cannot be a folder: a file bears its name or a "
          u"parent's",
          store);
      return HResultFromWin32(ERROR_DIRECTORY);
    }
    // Imports into one store take turns: two at once would mix two profiles.
    const std::u16string lock = store + separator + u"import.lock";
    if (error == ERROR_SUCCESS) {
      error = platform::CreateFile(lock, platform::GENERIC_WRITE, platform::OPEN_ALWAYS, &lock_);
    }
    if (error == ERROR_SUCCESS) error = platform::LockFileWithin(lock_, store_wait_ms);
    if (error == ERROR_LOCK_VIOLATION) {
      log.Line(u"Import: another import held the profile store '%s' for all of %lld ms", store,
               static_cast<std::int64_t>(store_wait_ms));
      return HResultFromWin32(error);
    }
    if (error != ERROR_SUCCESS) {
      log.Line(u"Import: cannot prepare the profile store '%s' (Error %d)", store,
               static_cast<std::int32_t>(error));
      return HResultFromWin32(error);
    }
    store_ = store + separator + u"Registry";
    for (std::size_t i = 0; i < kFolderTokens.size(); ++i) {
      folders_[i] = store + separator + u"Profile" + separator;
      folders_[i] += kFolderTokens[i].name;
    }
    return S_OK;
  }

  platform::FileHandle lock_;  // the store's, held until the import ends
  std::array<std::u16string, kFolderTokens.size()> folders_;
  std::array<bool, kFolderTokens.size()> used_{};
  std::u16string store_;
  std::vector<std::u16string> registry_names_;
  std::vector<std::u16string> staged_;
};

// A folder of its own under the temporary folder, removed with the files put into it.
class StagingFolder {
 public:
  StagingFolder() = default;
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  ~StagingFolder() {
    if (path_.empty()) return;
    for (const std::u16string& file : files_) {
      // Unpacked read-only when the archive says so.
      (void)platform::SetFileAttributes(file, platform::FILE_ATTRIBUTE_NORMAL);
      (void)platform::DeleteFile(file);
    }
    (void)platform::RemoveDirectory(path_);
  }

  HRESULT Create(EngineLog& log) {
    std::u16string temp;
    std::uint32_t error = platform::GetTempPath(&temp);
    for (std::uint32_t n = 1; error == ERROR_SUCCESS && n <= kMaxTries; ++n) {
      std::u16string candidate = temp + Format(u"OrvexImport%05u", n);
      error = platform::CreateDirectory(candidate);
      if (error == ERROR_SUCCESS) {
        path_ = std::move(candidate);
        return S_OK;
      }
      if (error == ERROR_ALREADY_EXISTS && n < kMaxTries) error = ERROR_SUCCESS;
    }
    log.Line(u"Import: cannot create a folder for the registry files in '%s' (Error %d)", temp,
             static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }

  const std::u16string& path() const { return path_; }
  /// The files to remove with the folder.
  void Own(const std::vector<std::u16string>& files) { files_ = files; }

 private:
  static constexpr std::uint32_t kMaxTries = 10000;

  std::u16string path_;
  std::vector<std::u16string> files_;
};

HRESULT Extract(std::u16string_view archive, Pass pass, ImportDestinations& destinations,
                const ExtractLimits& limits, EngineLog& log, ExtractCounts* counts) {
  return ExtractArchive(
      u"Import", archive,
      [&destinations, pass](const CheckedEntry& entry, std::u16string* destination) {
        return destinations.Destination(pass, entry.components, entry.directory, destination);
      },
      limits, log, counts);
}

}  // namespace

HRESULT ParseImportCommandLine(std::u16string_view line, std::u16string* archive) {
  std::size_t pos = 0;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (line.substr(pos, 2) != u"-r") return E_INVALIDARG;
  pos += 2;
  if (pos >= line.size() || !IsBlank(line[pos])) return E_INVALIDARG;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  std::u16string path;
  if (pos < line.size() && line[pos] == u'"') {
    const std::size_t close = line.find(u'"', pos + 1);
    if (close == std::u16string_view::npos) return E_INVALIDARG;
    path = line.substr(pos + 1, close - pos - 1);
    pos = close + 1;
  } else {
    const std::size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    path = line.substr(start, pos - start);
  }
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (path.empty() || pos != line.size()) return E_INVALIDARG;
  *archive = std::move(path);
  return S_OK;
}

HRESULT ImportArchive(std::u16string_view archive, const ExtractLimits& limits,
                      std::uint32_t store_wait_ms, EngineLog& log, ExtractCounts* counts) {
  *counts = ExtractCounts();
  ImportDestinations destinations;
  RETURN_IF_FAILED(destinations.Prepare(store_wait_ms, log));
  if (!platform::HasRegistry()) {
    const HRESULT hr = Extract(archive, Pass::kEverything, destinations, limits, log, counts);
    destinations.LogUse(log);
    return hr;
  }

  // Into the live registry: the registry files are unpacked first and every one of them is read
  // and checked, so that a file the import cannot take leaves the user's profile untouched.
  StagingFolder staging;
  RETURN_IF_FAILED(staging.Create(log));
  destinations.SetRegistryFolder(staging.path());
  ExtractCounts registry_counts;
  HRESULT hr = Extract(archive, Pass::kRegistryFiles, destinations, limits, log, &registry_counts);
  staging.Own(destinations.registry_files());
  RETURN_IF_FAILED(hr);
  RegistryImporter importer;
  const auto& names = destinations.registry_names();
  const auto& files = destinations.registry_files();
  for (std::size_t i = 0; i < files.size(); ++i) {
    RETURN_IF_FAILED(importer.Read(files[i], names[i], log));
  }

  hr = Extract(archive, Pass::kFolders, destinations, limits, log, counts);
  // The second pass left out the registry files the first one took.
  counts->files += registry_counts.files;
  counts->skipped -= std::min(counts->skipped, registry_counts.files);
  counts->bytes += registry_counts.bytes;
  destinations.LogUse(log);
  RETURN_IF_FAILED(hr);
  return importer.Write(log);
}

}  // namespace orvex::engine
