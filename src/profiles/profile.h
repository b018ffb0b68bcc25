#pragma once
// A profile archive opened for inspection: the archive engine unpacks it into a folder of the
// inspection's own, the .reg files that the registry pass would migrate are read into documents,
// and every other entry of the tree is listed.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "engine/extract.h"
#include "platform/files.h"
#include "regfile/registry_document.h"

namespace orvex {

struct Profile;

/// One side of a comparison: the archive, the new folder of the workspace for what of it is
/// unpacked, and the profile read.
struct ComparedArchive {
  std::u16string_view archive;
  std::u16string_view folder;
  Profile* profile;
};

/// A folder under the temporary folder for one inspection, removed with everything in it when the
/// object goes away.
class InspectionWorkspace {
 public:
  InspectionWorkspace() = default;
  ~InspectionWorkspace();
  InspectionWorkspace(const InspectionWorkspace&) = delete;
  InspectionWorkspace& operator=(const InspectionWorkspace&) = delete;

  /// Creates the folder.
  [[nodiscard]] HRESULT Create();
  /// Removes the folder with everything in it; the destructor does it too.
  void Remove();
  /// Unpacks `archive` with the archive engine into the new folder `name` of the workspace;
  /// `*root` receives that folder's path. On failure `*reason` receives the engine's own words
  /// on why (the refused entry and what is wrong with it), or nothing.
  [[nodiscard]] HRESULT Unpack(std::u16string_view archive, std::u16string_view name,
                               std::u16string* root, std::u16string* reason);
  /// Reads the two archives of a comparison, unpacking only what comparing them needs, with the
  /// archive engine's own reader: both central directories are listed, and only the .reg files
  /// and the files whose size or CRC-32 differ between the two are unpacked. Each profile's tree
  /// holds every other entry, with the size and CRC-32 its archive records. On failure `*failed`
  /// is the side that failed, `*failed_path` what could not be read of it (empty when its archive
  /// could not be read) and `*reason` why, as Unpack and LoadProfile give them.
  [[nodiscard]] HRESULT LoadForComparison(std::span<const ComparedArchive, 2> sides,
                                          std::size_t* failed, std::u16string* failed_path,
                                          std::u16string* reason);
  /// The path of `name` in the workspace, for a scratch file or folder.
  [[nodiscard]] HRESULT PathOf(std::u16string_view name, std::u16string* path) const;

 private:
  std::u16string directory_;  // ends in a separator
};

/// Runs the archive engine's reader over `archive` for inspection, the content of each file going
/// where `destination_for` says (or nowhere), with the limits an administrator set for the engine
/// and its log in `log_file`; on failure `*reason` is the reader's own.
[[nodiscard]] HRESULT ReadArchive(std::u16string_view archive, const std::u16string& log_file,
                                  const engine::EntryDestination& destination_for,
                                  std::u16string* reason);

/// A .reg file of a profile: its name in the archive ("Registry/User.reg") and its keys.
struct ProfileRegFile {
  std::u16string name;
  RegistryDocument document;
};

/// One entry of a profile's tree.
struct TreeEntry {
  bool directory = false;
  std::uint64_t size = 0;
  std::u16string full_path;          ///< empty for a file left packed
  std::optional<std::uint32_t> crc;  ///< a file's CRC-32 as its archive records it, when listed
  /// In a tree that rules change in place, a file's state when the tree was read: the bytes before
  /// are gone, so the trees before and after are compared by the states their files had.
  std::optional<platform::FileState> state;
};

/// Whether two files listed from their archives hold the same bytes by what the archives record:
/// the same size and CRC-32. Files not both listed are not known to be the same.
inline bool RecordedSame(const TreeEntry& a, const TreeEntry& b) {
  return a.crc && b.crc && a.size == b.size && a.crc == b.crc;
}

/// Entries by their name in the archive: '/'-separated, without a final separator.
using FileTree = std::map<std::u16string, TreeEntry>;

/// What an unpacked profile holds.
struct Profile {
  std::u16string root;                    ///< the unpacked folder, without a final separator
  std::vector<ProfileRegFile> reg_files;  ///< in the order the registry pass meets them
  FileTree tree;                          ///< everything but those .reg files
};

/// Reads the .reg files directly inside the Registry folder of the unpacked tree at `root` (found
/// as the registry pass finds them) into documents; failures as LoadProfile's.
[[nodiscard]] HRESULT LoadRegFiles(std::u16string_view root, Profile* profile,
                                   std::u16string* failed_path, std::u16string* reason);

/// Reads the unpacked tree at `root`: the .reg files directly inside its Registry folder (found
/// as the registry pass finds them) into documents, every other entry into the tree. On failure
/// `*failed_path` names what could not be read and `*reason`, for a .reg file, the line where the
/// reading stopped and why ("line 7: a key deletion '[-'"), or nothing.
[[nodiscard]] HRESULT LoadProfile(std::u16string_view root, Profile* profile,
                                  std::u16string* failed_path, std::u16string* reason);

/// Lists the tree at `root` again, leaving out the .reg files `profile` holds.
[[nodiscard]] HRESULT ReloadTree(Profile* profile, std::u16string* failed_path);

/// Whether two files hold the same bytes.
[[nodiscard]] HRESULT SameContent(std::u16string_view a, std::u16string_view b, bool* same);

/// Up to `limit` bytes of a file.
[[nodiscard]] HRESULT ReadFileBytes(std::u16string_view path, std::uint64_t limit,
                                    std::string* bytes);

/// A 64-bit hash of a file's bytes.
[[nodiscard]] HRESULT HashFileContent(std::u16string_view path, std::uint64_t* hash);

}  // namespace orvex
