#pragma once
// Files and directories by name: attributes, identity and state, creating, removing, copying
// and moving.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/file_handles.h"

namespace orvex::platform {

constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr std::uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
/// Windows sets it on every file written; this system's files have FILE_ATTRIBUTE_NORMAL instead.
constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr std::uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

/// What a directory entry says about a file.
struct FileAttributeData {
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  std::int64_t last_write_time = 0;  ///< seconds since the Unix epoch
};

/// GetFileAttributesExW: attributes, size and modification time of a name.
std::uint32_t GetFileAttributesEx(std::u16string_view path, FileAttributeData* data);
/// GetFileAttributesW.
std::uint32_t GetFileAttributes(std::u16string_view path, std::uint32_t* attributes);
/// SetFileAttributesW: only READONLY (and NORMAL, which clears it) has an effect here.
std::uint32_t SetFileAttributes(std::u16string_view path, std::uint32_t attributes);
/// DeleteFileW: removes a file (or the symbolic link itself), never a directory.
std::uint32_t DeleteFile(std::u16string_view path);

/// Which file a name stands for: names of one file (through a symbolic or a hard link, "..", or
/// another letter case) have equal identities, names of two files never.
struct FileIdentity {
  std::uint64_t volume = 0;  ///< the volume's serial number (the device on Linux)
  std::uint64_t index = 0;   ///< the file's index on its volume (the inode on Linux)
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
/// What tells whether a file changed since it was last looked at: which file it is, its size,
/// its last-write time and the time its content or attributes last changed (100 ns units).
struct FileState {
  FileIdentity identity;
  std::uint64_t size = 0;
  std::int64_t last_write_time = 0;
  std::int64_t change_time = 0;
  friend bool operator==(const FileState&, const FileState&) = default;
};
/// GetFileInformationByHandleEx on the file or directory `path` names, symbolic links followed:
/// its identity, size, last-write and change times.
std::uint32_t GetFileState(std::u16string_view path, FileState* state);
/// The same of a file already open, without looking its name up again.
std::uint32_t GetFileState(const FileHandle& file, FileState* state);
/// GetFinalPathNameByHandleW: the path of the file `path` names once every symbolic link on the
/// way is followed. A file the user names may be a link; every open here refuses links, so such a
/// file is opened by this path.
std::uint32_t GetFinalPathName(std::u16string_view path, std::u16string* final_path);

/// CreateDirectoryW: one directory; ERROR_ALREADY_EXISTS when the name is taken,
/// ERROR_PATH_NOT_FOUND when the parent is missing.
std::uint32_t CreateDirectory(std::u16string_view path);
/// RemoveDirectoryW: an empty directory; ERROR_DIR_NOT_EMPTY, ERROR_DIRECTORY for a non-directory.
std::uint32_t RemoveDirectory(std::u16string_view path);
/// CopyFileW: one file's bytes and modification time; with `fail_if_exists` an existing
/// destination gives ERROR_FILE_EXISTS.
std::uint32_t CopyFile(std::u16string_view source, std::u16string_view destination,
                       bool fail_if_exists);

/// Creates the new file `path` for writing (CREATE_NEW) and holds it locked for as long as `file`
/// stays open, so that whoever finds it later can tell whether its maker is still at work
/// (TakeAbandonedFile).
std::uint32_t CreateHeldFile(std::u16string_view path, FileHandle* file);
/// Whether `path` is a file made by CreateHeldFile whose maker has gone without removing it: its
/// lock is free, it is not empty (its maker wrote to it, so it held the lock by then) and it is
/// still the file bearing the name. ERROR_SUCCESS with its lock held in `*file`;
/// ERROR_LOCK_VIOLATION when that cannot be proved; the error of opening it otherwise.
std::uint32_t TakeAbandonedFile(std::u16string_view path, FileHandle* file);

/// Creates a new file for writing beside `target` under the first free name of
/// "<target>.1.tmp" ... "<target>.100.tmp" (CreateHeldFile), so that a file can be written whole
/// before it takes the target's name; such names that a maker left behind (TakeAbandonedFile) are
/// removed first. Whoever renames it to the target does so before closing it: once closed, it
/// counts as abandoned. `*name` is the name created, or the last one tried; ERROR_FILE_EXISTS or
/// ERROR_ALREADY_EXISTS when none was free.
std::uint32_t CreateFileBeside(std::u16string_view target, FileHandle* file, std::u16string* name);

/// CreateHardLinkW: gives the existing file `existing` the further name `link`, on the same volume;
/// ERROR_NOT_SAME_DEVICE across volumes, ERROR_ALREADY_EXISTS when `link` is taken.
std::uint32_t CreateHardLink(std::u16string_view link, std::u16string_view existing);

constexpr std::uint32_t MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr std::uint32_t MOVEFILE_COPY_ALLOWED = 0x2;

/// MoveFileExW: renames a file or a whole directory; an existing destination file is replaced
/// only with MOVEFILE_REPLACE_EXISTING, an existing destination directory always fails. Without
/// that flag a destination that appears meanwhile is never replaced: ERROR_ALREADY_EXISTS.
std::uint32_t MoveFileEx(std::u16string_view source, std::u16string_view destination,
                         std::uint32_t flags);

/// While one exists, the directory listings read to match the letter case of new names are kept
/// and updated by this layer's own changes instead of being read again for every name, so a walk
/// that creates many names in one directory stays linear. For walks that assume nothing else
/// changes the tree meanwhile; scopes nest. Nothing to keep where names match natively.
class NameCacheScope {
 public:
  NameCacheScope();
  ~NameCacheScope();
  NameCacheScope(const NameCacheScope&) = delete;
  NameCacheScope& operator=(const NameCacheScope&) = delete;
};

}  // namespace orvex::platform
