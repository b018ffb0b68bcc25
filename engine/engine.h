#pragma once
// The archive engine: a COM-style component that unpacks, packs and imports profile archives.
// The tool reaches it only through IOrvexEngine, created with CoCreateInstance.

#include <cstdint>

#include "common/result.h"
#include "platform/com.h"

namespace orvex {

/// The engine's class identifier.
inline constexpr platform::CLSID CLSID_OrvexEngine = {
    0x29b3f167, 0x57c3, 0x4fd0, {0x99, 0x7f, 0xdd, 0x71, 0x70, 0x9c, 0x33, 0xf2}};
/// The identifier of IOrvexEngine.
inline constexpr platform::IID IID_IOrvexEngine = {
    0x93d94a46, 0x254e, 0x479e, {0x84, 0x9e, 0x5f, 0x10, 0xe5, 0xad, 0xc4, 0x0c}};

/// The engine's interface. Slot order is fixed: the three object operations, four reserved
/// operations, then Import, Zip and Unzip. Results carry the Win32 number of a failure's cause.
class IOrvexEngine : public platform::IUnknown {
 public:
  /// Reserved slots; E_NOTIMPL.
  virtual HRESULT Reserved1() = 0;
  virtual HRESULT Reserved2() = 0;
  virtual HRESULT Reserved3() = 0;
  virtual HRESULT Reserved4() = 0;
  /// Imports an archive for the current user; the command line is -r "<archive>". The
  /// archive's folder-token folders go to the user's shell folders, its Registry\*.reg files to
  /// the user's registry store. `count` (may be null) receives the number of files written.
  virtual HRESULT Import(platform::BSTR command_line, std::int32_t* count) = 0;
  /// Packs the tree under `source_directory` into the ZIP archive `archive`; an existing archive
  /// is replaced only when `replace_existing` is true, else one that exists, or appears while
  /// packing, fails it with ERROR_ALREADY_EXISTS. `count` receives the number of entries.
  virtual HRESULT Zip(platform::BSTR source_directory, platform::BSTR archive,
                      platform::BSTR log_file, platform::VARIANT_BOOL replace_existing,
                      std::int32_t* count) = 0;
  /// Unpacks the ZIP archive `archive` under `target_directory`, creating it. `count` receives
  /// the number of files written.
  virtual HRESULT Unzip(platform::BSTR target_directory, platform::BSTR archive,
                        platform::BSTR log_file, std::int32_t* count) = 0;

 protected:
  ~IOrvexEngine() = default;
};

/// The identifier of IOrvexEngineScope.
inline constexpr platform::IID IID_IOrvexEngineScope = {
    0xe25eef48, 0x2752, 0x4f77, {0x9a, 0xa9, 0x27, 0x37, 0xad, 0xee, 0xc7, 0xee}};

/// What a migration may tell the engine beside IOrvexEngine: the parts of the tree it can touch.
/// Once a path is named, Unzip writes every folder but only the files at, below or above a named
/// path; every other file stays in the archive, checked as if it were written, and the Zip that
/// follows copies it from there to where packing it from the disk would have put it. The
/// environment variable ORVEX_WRITE_ALL_ENTRIES (a number above 0) has every file written.
class IOrvexEngineScope : public platform::IUnknown {
 public:
  /// Names `path`, relative to the root Unzip unpacks into ("\" or "/" between its names, which
  /// are compared as the system compares file names); named paths stay until the engine goes.
  virtual HRESULT AddTouchedPath(platform::BSTR path) = 0;

 protected:
  ~IOrvexEngineScope() = default;
};

/// Makes the engine class known to CoCreateInstance; main calls it once at start-up.
[[nodiscard]] HRESULT RegisterOrvexEngine();

}  // namespace orvex
