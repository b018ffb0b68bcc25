#pragma once
// The operating-system services the system uses, shaped after the Win32 calls they stand for so
// that the Windows build is a thin pass-through. Each call returns the Win32 error number (0 on
// success) or an HRESULT where the Windows call does, and returns text as std::u16string.
// Nothing outside this folder includes an operating-system header.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace orvex::platform {

// --- Process and console ------------------------------------------------------------------------

/// Records the process arguments; main calls it once before anything else.
void SetProcessArguments(int argc, const char* const* argv);

/// The raw command line of the process (GetCommandLineW).
std::u16string GetCommandLine();

/// The full path of the running executable (GetModuleFileNameW).
std::uint32_t GetModuleFileName(std::u16string* path);

/// Asks for a console of the process's own (AllocConsole); false when it already has one.
bool AllocConsole();
/// Releases a console obtained with AllocConsole.
void FreeConsole();
/// Writes text to standard output (WriteConsoleW); failures are ignored.
void WriteConsole(std::u16string_view text);

/// The process exit status for a 32-bit exit code; never 0 for a non-zero code.
int ProcessExitStatus(std::uint32_t exit_code);

/// Local wall-clock time with milliseconds (GetLocalTime).
struct LocalTime {
  int year, month, day, hour, minute, second, milliseconds;
};
LocalTime GetLocalTime();

// --- Environment and paths ----------------------------------------------------------------------

/// Replaces every %NAME% by the variable's value; unknown names stay as written.
std::uint32_t ExpandEnvironmentStrings(std::u16string_view text, std::u16string* expanded);

/// Makes `path` absolute against the current directory with "." and ".." resolved
/// (GetFullPathNameW). `file_part` receives the index where the final name component begins.
std::uint32_t GetFullPathName(std::u16string_view path, std::u16string* full,
                              std::size_t* file_part);

/// The separator that joined and absolute paths are written with.
char16_t PathSeparator();
/// Whether paths of 259 characters or more need the long-path prefix ("\\?\") here.
bool NeedsLongPathPrefix();

std::uint32_t GetCurrentDirectory(std::u16string* path);
std::uint32_t SetCurrentDirectory(std::u16string_view path);

/// The temporary folder, always ending in a separator (GetTempPathW).
std::uint32_t GetTempPath(std::u16string* path);

// --- Files and directories ----------------------------------------------------------------------

constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr std::uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
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

/// CreateDirectoryW: one directory; ERROR_ALREADY_EXISTS when the name is taken, ERROR_PATH_NOT_FOUND
/// when the parent is missing.
std::uint32_t CreateDirectory(std::u16string_view path);
/// RemoveDirectoryW: an empty directory; ERROR_DIR_NOT_EMPTY, ERROR_DIRECTORY for a non-directory.
std::uint32_t RemoveDirectory(std::u16string_view path);
/// CopyFileW: one file's bytes and modification time; with `fail_if_exists` an existing
/// destination gives ERROR_FILE_EXISTS.
std::uint32_t CopyFile(std::u16string_view source, std::u16string_view destination,
                       bool fail_if_exists);

constexpr std::uint32_t MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr std::uint32_t MOVEFILE_COPY_ALLOWED = 0x2;

/// MoveFileExW: renames a file or a whole directory; an existing destination file is replaced
/// only with MOVEFILE_REPLACE_EXISTING, an existing destination directory always fails.
std::uint32_t MoveFileEx(std::u16string_view source, std::u16string_view destination,
                         std::uint32_t flags);

/// One entry of a directory search.
struct FindData {
  std::u16string name;
  FileAttributeData data;
};

/// An open directory search; closed when it goes away or by FindClose.
class FindHandle {
 public:
  FindHandle();
  ~FindHandle();
  FindHandle(FindHandle&& other) noexcept;
  FindHandle& operator=(FindHandle&& other) noexcept;
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;

  bool valid() const { return state_ != nullptr; }
  struct State;
  State* state() const { return state_.get(); }
  void reset(std::unique_ptr<State> state);

 private:
  std::unique_ptr<State> state_;
};

/// FindFirstFileW: starts a search for `pattern` (a directory part and a last component that may
/// hold * and ?, matched ignoring case). Entries come in name order, "." and ".." first.
/// ERROR_FILE_NOT_FOUND when nothing matches.
std::uint32_t FindFirstFile(std::u16string_view pattern, FindHandle* search, FindData* found);
/// FindNextFileW: the next entry; ERROR_NO_MORE_FILES at the end.
std::uint32_t FindNextFile(FindHandle& search, FindData* found);
/// FindClose.
void FindClose(FindHandle& search);

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

// --- File handles -------------------------------------------------------------------------------

constexpr std::uint32_t GENERIC_READ = 0x80000000;
constexpr std::uint32_t GENERIC_WRITE = 0x40000000;
constexpr std::uint32_t FILE_APPEND_DATA = 0x4;  ///< every write goes to the end of the file

constexpr std::uint32_t CREATE_NEW = 1;
constexpr std::uint32_t CREATE_ALWAYS = 2;
constexpr std::uint32_t OPEN_EXISTING = 3;
constexpr std::uint32_t OPEN_ALWAYS = 4;
constexpr std::uint32_t TRUNCATE_EXISTING = 5;

/// An open file; closed when it goes away or by CloseHandle.
class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  /// Takes ownership of an operating-system handle (the platform implementation's business).
  explicit FileHandle(std::intptr_t native) : native_(native) {}
  bool valid() const { return native_ != -1; }
  std::intptr_t native() const { return native_; }
  /// Gives up ownership without closing.
  std::intptr_t release() {
    const std::intptr_t native = native_;
    native_ = -1;
    return native;
  }

 private:
  std::intptr_t native_ = -1;
};

/// CreateFileW with an access mask (GENERIC_READ, GENERIC_WRITE, FILE_APPEND_DATA) and a
/// creation disposition (CREATE_NEW ... TRUNCATE_EXISTING). Sharing modes do not exist here.
std::uint32_t CreateFile(std::u16string_view path, std::uint32_t access,
                         std::uint32_t disposition, FileHandle* file);
/// ReadFile: reads up to `size` bytes; `*read` is 0 at the end of the file.
std::uint32_t ReadFile(FileHandle& file, void* buffer, std::uint32_t size, std::uint32_t* read);
/// WriteFile: writes all `size` bytes or fails.
std::uint32_t WriteFile(FileHandle& file, const void* buffer, std::uint32_t size,
                        std::uint32_t* written);
std::uint32_t FlushFileBuffers(FileHandle& file);
std::uint32_t GetFileSize(FileHandle& file, std::uint64_t* size);
void CloseHandle(FileHandle& file);

}  // namespace orvex::platform
