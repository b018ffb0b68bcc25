#pragma once
// The operating-system services the system uses, shaped after the Win32 calls they stand for so
// that the Windows build is a thin pass-through. Each call returns the Win32 error number (0 on
// success) or an HRESULT where the Windows call does, and returns text as std::u16string.
// Nothing outside this folder includes an operating-system header.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

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
/// Writes text to standard error, as WriteConsole writes to standard output.
void WriteConsoleError(std::u16string_view text);
/// Whether standard error is a console (GetConsoleMode succeeds on its handle; a terminal on
/// Linux) rather than a file or a pipe: where a line that rewrites itself may be shown.
bool StandardErrorIsConsole();

/// The process exit status for a 32-bit exit code; never 0 for a non-zero code. On Linux a run
/// that ends with ERROR_CANCELLED after a stop request exits with 128 + the signal number, as a
/// shell expects of a process the signal ended.
int ProcessExitStatus(std::uint32_t exit_code);

/// Listens for the user's requests to stop (SetConsoleCtrlHandler for Ctrl-C, Ctrl-Break and the
/// console's closing; SIGINT, SIGTERM and SIGHUP on Linux). The first request is only noted, for
/// StopRequested to report; a second ends the process at once.
void WatchStopRequests();
/// Whether the user has asked the process to stop; cheap enough to ask between any two steps.
bool StopRequested();

/// Local wall-clock time with milliseconds (GetLocalTime).
struct LocalTime {
  int year, month, day, hour, minute, second, milliseconds;
};
LocalTime GetLocalTime();
/// The local wall-clock time of a moment given in seconds since the Unix epoch, by the time zone's
/// rules for that date (SystemTimeToTzSpecificLocalTime); milliseconds are 0. False when the
/// moment has no such time.
bool LocalTimeOf(std::int64_t seconds, LocalTime* local);

// --- Environment and paths ----------------------------------------------------------------------

/// Replaces every %NAME% by the variable's value; unknown names stay as written.
std::uint32_t ExpandEnvironmentStrings(std::u16string_view text, std::u16string* expanded);
/// GetEnvironmentVariableW: the variable's value, its name matched ignoring case; false when it
/// is not set.
bool GetEnvironmentVariable(std::u16string_view name, std::u16string* value);
/// SetEnvironmentVariableW: sets the variable, or removes it when `value` is null.
std::uint32_t SetEnvironmentVariable(std::u16string_view name, const std::u16string* value);

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
/// GetFinalPathNameByHandleW: the path of the file `path` names once every symbolic link on the
/// way is followed. A file the user names may be a link; every open here refuses links, so such a
/// file is opened by this path.
std::uint32_t GetFinalPathName(std::u16string_view path, std::u16string* final_path);

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
/// Only regular files are opened: a FIFO or a device (whose reads may never end) gives
/// ERROR_OPEN_FAILED, a directory ERROR_ACCESS_DENIED.
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

/// The bytes of a whole file mapped read-only into memory; unmapped when it goes away or by
/// UnmapViewOfFile. Reading it takes the file's pages from the system's cache without copying
/// them. The file must keep its size while mapped: reading a part that has gone ends the process.
class FileView {
 public:
  FileView() = default;
  ~FileView();
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  friend std::uint32_t MapViewOfFile(FileHandle& file, FileView* view);
  friend void UnmapViewOfFile(FileView& view);
  friend void ReleaseViewPages(FileView& view, std::size_t end);

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t released_ = 0;  // the bytes before this are released
};

/// CreateFileMapping and MapViewOfFile of all of a file open for reading (an empty file gives an
/// empty view); any view already held is unmapped first.
std::uint32_t MapViewOfFile(FileHandle& file, FileView* view);
void UnmapViewOfFile(FileView& view);
/// Gives the pages of a view before `end` (whole pages only) back to the system, for a reader
/// that has passed them for good: they stay in the system's cache but no longer count as the
/// process's memory, so that reading a file from start to end holds little of it at any time.
/// Reading them again maps them again (Linux; Windows trims a working set by itself).
void ReleaseViewPages(FileView& view, std::size_t end);

constexpr std::uint32_t FILE_BEGIN = 0;
constexpr std::uint32_t FILE_CURRENT = 1;
constexpr std::uint32_t FILE_END = 2;

/// SetFilePointerEx: moves the position of an open file; `new_position` may be null.
std::uint32_t SetFilePointerEx(FileHandle& file, std::int64_t distance, std::uint32_t move_method,
                               std::uint64_t* new_position);
/// SetFileTime on an open file: its modification time, in seconds since the Unix epoch.
std::uint32_t SetFileTime(FileHandle& file, std::int64_t last_write_time);
/// SetFileTime by name, for directories too (they cannot be opened as a FileHandle here); a
/// symbolic link gets its own time, never its target's.
std::uint32_t SetFileTime(std::u16string_view path, std::int64_t last_write_time);

// --- Memory -------------------------------------------------------------------------------------

/// Lets the process keep up to `bytes` of freed memory instead of handing it back to the system at
/// once (process-wide). Libraries that allocate and free the same large state for every file (the
/// deflate state of the archive library) otherwise pay system calls and page faults each time.
void RetainFreedMemory(std::size_t bytes);

/// The size and alignment of a large page: memory in such pieces can be backed a whole large page
/// at a time.
constexpr std::size_t kLargePageBytes = std::size_t{2} << 20;

/// Asks the system to back the large-page-aligned range with large pages where it can, so that
/// filling it costs one page fault per large page instead of one per small page (Linux; Windows
/// gives large pages only to privileged processes, so it does nothing there).
void AdviseLargePages(void* start, std::size_t size);

// --- Character set of C-library conversions -----------------------------------------------------

/// While it lives, the calling thread's C-library character set is UTF-8, so that libraries which
/// convert names through the C locale (the archive library) see UTF-8 whatever the process locale.
class ScopedUtf8Locale {
 public:
  ScopedUtf8Locale();
  ~ScopedUtf8Locale();
  ScopedUtf8Locale(const ScopedUtf8Locale&) = delete;
  ScopedUtf8Locale& operator=(const ScopedUtf8Locale&) = delete;

  /// False when no UTF-8 locale could be made; the thread keeps its locale then.
  bool active() const { return locale_ != nullptr; }

 private:
  void* locale_ = nullptr;
  void* previous_ = nullptr;
};

// --- Shell folders ------------------------------------------------------------------------------

constexpr int CSIDL_DESKTOP = 0;
constexpr int CSIDL_PROGRAMS = 2;
constexpr int CSIDL_PERSONAL = 5;
constexpr int CSIDL_FAVORITES = 6;
constexpr int CSIDL_STARTUP = 7;
constexpr int CSIDL_RECENT = 8;
constexpr int CSIDL_SENDTO = 9;
constexpr int CSIDL_STARTMENU = 11;
constexpr int CSIDL_NETHOOD = 19;
constexpr int CSIDL_APPDATA = 26;
constexpr int CSIDL_PRINTHOOD = 27;
constexpr int CSIDL_LOCAL_APPDATA = 28;
constexpr int CSIDL_COOKIES = 33;
constexpr int CSIDL_PROFILE = 40;
constexpr int CSIDL_FLAG_MASK = 0xFF00;  ///< flag bits (create, no-verify ...), ignored here

/// A per-user shell folder: the name a profile archive gives its top-level folder, and its
/// identifier.
struct ShellFolder {
  std::u16string_view name;
  int csidl;
};

/// The per-user shell folders a profile archive captures, in the order they are searched.
inline constexpr std::array<ShellFolder, 14> kShellFolders = {{
    {u"AppData", CSIDL_APPDATA},
    {u"Cookies", CSIDL_COOKIES},
    {u"Desktop", CSIDL_DESKTOP},
    {u"Favorites", CSIDL_FAVORITES},
    {u"LocalAppData", CSIDL_LOCAL_APPDATA},
    {u"NetHood", CSIDL_NETHOOD},
    {u"Personal", CSIDL_PERSONAL},
    {u"PrintHood", CSIDL_PRINTHOOD},
    {u"ProgramsMenu", CSIDL_PROGRAMS},
    {u"RecentFiles", CSIDL_RECENT},
    {u"SendTo", CSIDL_SENDTO},
    {u"StartMenu", CSIDL_STARTMENU},
    {u"StartupMenu", CSIDL_STARTUP},
    {u"UserProfile", CSIDL_PROFILE},
}};

/// SHGetFolderPathW for the current user: the folder's path without a final separator; the folder
/// need not exist. `token` (a user) and `flags` (current or default location) change nothing
/// here. E_INVALIDARG for an identifier outside the per-user folders the system knows, E_FAIL
/// when the user has no home directory.
HRESULT SHGetFolderPath(int csidl, const void* token, std::uint32_t flags, std::u16string* path);

// --- Registry -----------------------------------------------------------------------------------
// The live registry of the current user and of the machine. Where there is none (Linux), a
// user's registry settings are kept as .reg files instead, and every call below answers
// ERROR_CALL_NOT_IMPLEMENTED.

/// What Windows answers for a service it does not have.
constexpr std::uint32_t ERROR_CALL_NOT_IMPLEMENTED = 120;

/// Whether there is a live registry that the calls below read and write.
bool HasRegistry();

/// Where there is no live registry, and so no Windows profile, the folder that stands for the
/// user's profile when an archive is imported (its registry files and its shell folders):
/// $XDG_STATE_HOME/OrvexEngine when that variable holds an absolute path, else
/// $HOME/.local/state/OrvexEngine. E_NOTIMPL where there is a live registry.
HRESULT GetProfileStore(std::u16string* store);

/// The predefined keys that key paths start from.
enum class RegistryRoot { kCurrentUser, kLocalMachine };

constexpr std::uint32_t KEY_QUERY_VALUE = 0x1;
constexpr std::uint32_t KEY_SET_VALUE = 0x2;
constexpr std::uint32_t KEY_CREATE_SUB_KEY = 0x4;
constexpr std::uint32_t KEY_READ = 0x20019;
constexpr std::uint32_t KEY_WRITE = 0x20006;

/// An open registry key; closed when it goes away or by RegCloseKey.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept : native_(other.release()) {}
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  /// Takes ownership of an operating-system handle (the platform implementation's business).
  explicit RegistryKey(std::uintptr_t native) : native_(native) {}
  bool valid() const { return native_ != 0; }
  std::uintptr_t native() const { return native_; }
  /// Gives up ownership without closing.
  std::uintptr_t release() {
    const std::uintptr_t native = native_;
    native_ = 0;
    return native;
  }

 private:
  std::uintptr_t native_ = 0;
};

/// RegCreateKeyExW: opens `subkey` of `root` (backslash-separated; empty for the root itself)
/// with `access`, creating it and every missing key above it (non-volatile, default security).
std::uint32_t RegCreateKeyEx(RegistryRoot root, std::u16string_view subkey, std::uint32_t access,
                             RegistryKey* key);
/// RegOpenKeyExW: opens an existing key; ERROR_FILE_NOT_FOUND when there is none,
/// ERROR_ACCESS_DENIED when the process may not have `access` to it.
std::uint32_t RegOpenKeyEx(RegistryRoot root, std::u16string_view subkey, std::uint32_t access,
                           RegistryKey* key);
/// RegSetValueExW: gives the value `name` of an open key (the empty name: the key's default
/// value) the type and exactly the bytes given, whatever the type.
std::uint32_t RegSetValueEx(RegistryKey& key, std::u16string_view name, std::uint32_t type,
                            std::span<const std::uint8_t> data);
/// RegQueryValueExW: the type and the bytes of a value; ERROR_FILE_NOT_FOUND when there is none.
std::uint32_t RegQueryValueEx(RegistryKey& key, std::u16string_view name, std::uint32_t* type,
                              std::vector<std::uint8_t>* data);
/// RegDeleteTreeW: removes `subkey` of `root` with every key and value below it; an empty
/// `subkey`, which would empty the root itself, is refused with ERROR_INVALID_PARAMETER.
std::uint32_t RegDeleteTree(RegistryRoot root, std::u16string_view subkey);
/// RegCloseKey.
void RegCloseKey(RegistryKey& key);

// --- COM ----------------------------------------------------------------------------------------

constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);

/// A COM string: UTF-16 characters preceded by their byte length (4 bytes) and followed by a NUL.
/// A null BSTR is the empty string.
using BSTR = char16_t*;
/// The longest COM string, in characters: its byte length is stored in 32 bits, and the
/// terminating NUL and the prefix must fit in the allocation size too.
constexpr std::uint64_t kMaxBstrLength = (0xFFFFFFFFull - sizeof(std::uint32_t) - 2) / 2;

/// SysAllocString: a COM string copied from NUL-terminated text; null for null text or when
/// memory runs out.
BSTR SysAllocString(const char16_t* text);
/// SysAllocStringLen: `length` characters copied from `text` (zeros when `text` is null).
BSTR SysAllocStringLen(const char16_t* text, std::uint32_t length);
/// SysFreeString: frees a COM string; null is ignored.
void SysFreeString(BSTR string);
/// SysStringLen: the length in characters; 0 for null.
std::uint32_t SysStringLen(BSTR string);
/// Appends `text` to `*string`, which is replaced by a new COM string (a null one counts as
/// empty): E_INVALIDARG for a null `string` or `text`, HRESULT of ERROR_ARITHMETIC_OVERFLOW when
/// the length would not fit, E_OUTOFMEMORY. On failure `*string` is unchanged.
HRESULT AppendBstr(BSTR* string, const char16_t* text);
HRESULT AppendBstr(BSTR* string, std::u16string_view text);

/// A 16-bit COM boolean: VARIANT_TRUE is -1.
using VARIANT_BOOL = std::int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

/// A class or interface identifier.
struct GUID {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
  friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
using CLSID = GUID;
using IID = GUID;

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                     {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/// The three operations every COM object starts with. Objects go away with their last Release,
/// never through delete.
class IUnknown {
 public:
  virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

constexpr std::uint32_t COINIT_APARTMENTTHREADED = 0x2;
constexpr std::uint32_t CLSCTX_INPROC_SERVER = 0x1;
constexpr std::uint32_t CLSCTX_INPROC_HANDLER = 0x2;
constexpr std::uint32_t CLSCTX_LOCAL_SERVER = 0x4;
constexpr std::uint32_t CLSCTX_REMOTE_SERVER = 0x10;
constexpr std::uint32_t CLSCTX_ALL = 0x17;

/// CoInitializeEx: nothing to set up here; S_OK.
HRESULT CoInitializeEx(void* reserved, std::uint32_t coinit);
/// CoUninitialize: nothing to tear down here.
void CoUninitialize();

/// Creates an object of one class and returns the interface `iid` of it (AddRef'ed).
using ClassFactoryFunction = HRESULT (*)(const IID& iid, void** object);
/// Makes a class known to CoCreateInstance for the life of the process (a component's
/// registration function, called once by main); registering a class again replaces its factory.
HRESULT CoRegisterClassFactory(const CLSID& clsid, ClassFactoryFunction create);
/// CoCreateInstance for the classes registered in this process: REGDB_E_CLASSNOTREG for an
/// unknown class or a context without an in-process server, CLASS_E_NOAGGREGATION with an outer
/// object, E_POINTER without `object`, else what the class's factory answers.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context,
                         const IID& iid, void** object);

/// What GdiplusStartup is given.
struct GdiplusStartupInput {
  std::uint32_t gdiplus_version = 1;
  void* debug_event_callback = nullptr;
  bool suppress_background_thread = false;
  bool suppress_external_codecs = false;
};
constexpr std::int32_t GDIPLUS_OK = 0;
constexpr std::int32_t GDIPLUS_INVALID_PARAMETER = 2;
constexpr std::int32_t GDIPLUS_UNSUPPORTED_VERSION = 17;

/// GdiplusStartup: the imaging library needs no start-up here; Ok with a token for a valid input.
std::int32_t GdiplusStartup(std::uintptr_t* token, const GdiplusStartupInput* input,
                            void* output);
/// GdiplusShutdown: nothing to shut down here.
void GdiplusShutdown(std::uintptr_t token);

// --- Streams ------------------------------------------------------------------------------------

/// IStream: a byte stream over a file or over memory, read and written at its position.
struct StreamObject;
/// Shared, as COM streams are: the XML reader holds its input while it reads.
using Stream = std::shared_ptr<StreamObject>;

constexpr std::uint32_t STGM_READ = 0x0;
constexpr std::uint32_t STGM_READWRITE = 0x2;
constexpr std::uint32_t STGM_CREATE = 0x1000;

/// SHCreateStreamOnFileW: STGM_READ opens an existing file, STGM_CREATE | STGM_READWRITE creates
/// or truncates one. Failures are HRESULTs of the Win32 error, as are later read and write
/// failures.
HRESULT SHCreateStreamOnFile(std::u16string_view path, std::uint32_t mode, Stream* stream);
/// SHCreateMemStream: a stream over a copy of `size` bytes.
HRESULT SHCreateMemStream(const std::uint8_t* data, std::uint32_t size, Stream* stream);

// --- Images -------------------------------------------------------------------------------------
// Two families, as on Windows: the imaging library (load an image file, learn its format, save it
// through an encoder) and OLE pictures (decode a picture from a stream, save it as a bitmap file).
// Here JPEG and Windows bitmaps are decoded; other formats are only recognised by their first
// bytes.

inline constexpr GUID ImageFormatBMP = {
    0xB96B3CAB, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatEMF = {
    0xB96B3CAC, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatWMF = {
    0xB96B3CAD, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatJPEG = {
    0xB96B3CAE, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatPNG = {
    0xB96B3CAF, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatGIF = {
    0xB96B3CB0, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatTIFF = {
    0xB96B3CB1, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr GUID ImageFormatIcon = {
    0xB96B3CB5, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
/// The quality parameter of the JPEG encoder (one value, 0 to 100).
inline constexpr GUID EncoderQuality = {
    0x1D5BE4B5, 0xFA4A, 0x452D, {0x9C, 0xDD, 0x5D, 0xB3, 0x51, 0x05, 0xE7, 0xEB}};
constexpr std::uint32_t EncoderParameterValueTypeLong = 4;

constexpr std::int32_t GDIPLUS_GENERIC_ERROR = 1;
constexpr std::int32_t GDIPLUS_OUT_OF_MEMORY = 3;
constexpr std::int32_t GDIPLUS_NOT_IMPLEMENTED = 6;
constexpr std::int32_t GDIPLUS_WIN32_ERROR = 7;
constexpr std::int32_t GDIPLUS_UNKNOWN_IMAGE_FORMAT = 13;

/// What the imaging library says about one of its encoders.
struct ImageCodecInfo {
  CLSID clsid;
  GUID format_id;
  std::u16string mime_type;
};

/// One encoder parameter with a single value.
struct EncoderParameter {
  GUID guid;
  std::uint32_t type;
  std::uint32_t value;
};

struct ImageObject;
struct PictureObject;
/// Releases image objects (GdipDisposeImage, IPicture::Release).
struct ImageObjectDeleter {
  void operator()(ImageObject* image) const;
  void operator()(PictureObject* picture) const;
};
/// A loaded image of the imaging library.
using Image = std::unique_ptr<ImageObject, ImageObjectDeleter>;
/// An OLE picture holding a bitmap.
using Picture = std::unique_ptr<PictureObject, ImageObjectDeleter>;

/// GdipLoadImageFromFile: GDIPLUS_UNKNOWN_IMAGE_FORMAT when the bytes are no image,
/// GDIPLUS_NOT_IMPLEMENTED for a bitmap variant that cannot be decoded here. Formats that are only
/// recognised load without pixels: their format can be asked, they cannot be saved.
std::int32_t GdipLoadImageFromFile(std::u16string_view path, Image* image);
/// GdipGetImageRawFormat: the file format an image was loaded from; GDIPLUS_INVALID_PARAMETER
/// without an image.
std::int32_t GdipGetImageRawFormat(const ImageObject* image, GUID* format);
/// GdipGetImageEncodersSize and GdipGetImageEncoders in one: the encoders SaveImageToFile accepts
/// (image/bmp and image/jpeg here).
std::int32_t GdipGetImageEncoders(std::vector<ImageCodecInfo>* encoders);
/// GdipSaveImageToFile: writes the image through an encoder, replacing an existing file. The JPEG
/// encoder takes EncoderQuality (type long, 0 to 100, 75 when not given).
std::int32_t GdipSaveImageToFile(const ImageObject* image, std::u16string_view path,
                                 const CLSID& encoder,
                                 std::span<const EncoderParameter> parameters);

/// OleLoadPicture's answer for bytes that are no picture it can read.
constexpr HRESULT CTL_E_INVALIDPICTURE = static_cast<HRESULT>(0x800A01E1);

/// OleLoadPicture over the whole stream: JPEG and Windows bitmaps decode; another image format
/// gives E_NOTIMPL, anything else (also a damaged picture) CTL_E_INVALIDPICTURE.
HRESULT OleLoadPicture(StreamObject* stream, Picture* picture);
/// IPicture::get_Handle, CopyImage and OleCreatePictureIndirect in one: a new picture around an
/// independent copy of the bitmap, so that saving it writes a bitmap and not the source's bytes.
HRESULT CopyPicture(const PictureObject* picture, Picture* copy);
/// IPicture::SaveAsFile: writes a Windows bitmap file (24 bits per pixel) at the stream's
/// position; `size` receives the bytes written.
HRESULT SavePictureAsFile(const PictureObject* picture, StreamObject* stream, bool save_memory_copy,
                          std::int32_t* size = nullptr);

// --- Pull XML reader ----------------------------------------------------------------------------
// A forward-only reader shaped after XmlLite's IXmlReader: the node kinds, the S_OK / S_FALSE /
// error results and the 0xC00Cxxxx error codes are XmlLite's, so the Windows build passes through.

/// The node kinds the reader reports (XmlNodeType).
enum XmlNodeType : std::int32_t {
  XmlNodeType_None = 0,
  XmlNodeType_Element = 1,
  XmlNodeType_Attribute = 2,
  XmlNodeType_Text = 3,
  XmlNodeType_CDATA = 4,
  XmlNodeType_ProcessingInstruction = 7,
  XmlNodeType_Comment = 8,
  XmlNodeType_DocumentType = 10,
  XmlNodeType_Whitespace = 13,
  XmlNodeType_EndElement = 15,
  XmlNodeType_XmlDeclaration = 17,
};

/// IXmlReader. Names and values stay valid until the next Read or SetInput.
class IXmlReader {
 public:
  virtual ~IXmlReader() = default;
  /// Starts reading `input` from its beginning; null releases the current input.
  virtual HRESULT SetInput(Stream input) = 0;
  /// Moves to the next node: S_OK, S_FALSE at the end of the document, or the parse error, which
  /// every later call repeats.
  virtual HRESULT Read(XmlNodeType* node_type) = 0;
  /// The local name of the current node or attribute (a namespace declaration's is the declared
  /// prefix, or "xmlns" for a default namespace).
  virtual HRESULT GetLocalName(std::u16string_view* name) = 0;
  /// The value of the current node or attribute.
  virtual HRESULT GetValue(std::u16string_view* value) = 0;
  /// S_FALSE when the current node has no attributes.
  virtual HRESULT MoveToFirstAttribute() = 0;
  /// S_FALSE after the last attribute.
  virtual HRESULT MoveToNextAttribute() = 0;
  /// Whether the current attribute came from a DTD default rather than the document.
  virtual bool IsDefault() = 0;
  /// Whether the current element, also while on one of its attributes, is an empty-element tag.
  virtual bool IsEmptyElement() = 0;
  /// Where the current node is, or where the error was found; both count from 1.
  virtual HRESULT GetLineNumber(std::uint32_t* line) = 0;
  virtual HRESULT GetLinePosition(std::uint32_t* position) = 0;
};

/// IMalloc: the task allocator handed to CreateXmlReader; memory here is C++'s own, so it is a
/// token that only has to exist.
class IMalloc {
 public:
  virtual ~IMalloc() = default;
};

constexpr std::uint32_t MEMCTX_TASK = 1;

/// CoGetMalloc: the process's task allocator for MEMCTX_TASK, E_INVALIDARG otherwise.
HRESULT CoGetMalloc(std::uint32_t memory_context, IMalloc** malloc);
/// CreateXmlReader with default settings: a document type declaration is refused, and nothing is
/// ever loaded from outside the input.
HRESULT CreateXmlReader(std::unique_ptr<IXmlReader>* reader, IMalloc* malloc);

}  // namespace orvex::platform
