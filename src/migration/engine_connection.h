#pragma once
// The connection to the archive engine for one run: its string arguments, the imaging library,
// COM, and the engine object, set up in that order and torn down in reverse.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "engine/engine.h"
#include "platform/com.h"

namespace orvex {

/// What the run hands the engine; every path is absolute.
struct EnginePaths {
  std::u16string_view archive_directory;
  std::u16string_view input_path;
  std::u16string_view output_path;
  std::u16string_view engine_log_file;
};

class EngineConnection {
 public:
  explicit EngineConnection(const EnginePaths& paths) : paths_(paths) {}
  ~EngineConnection() { End(); }
  EngineConnection(const EngineConnection&) = delete;
  EngineConnection& operator=(const EngineConnection&) = delete;

  /// Prepares the strings, starts the imaging library and COM (a failure of either raises
  /// ResultException) and creates the engine; returns the creation's result.
  [[nodiscard]] HRESULT Start();
  /// Tells the engine the paths of the archive directory the run can touch, so that Unzip writes
  /// only what lies there; an engine that cannot be told writes everything.
  [[nodiscard]] HRESULT NameTouchedPaths(const std::vector<std::u16string>& paths);
  /// Unpacks the input archive into the archive directory.
  [[nodiscard]] HRESULT Unzip();
  /// Packs the archive directory into the output archive; an existing one is replaced only with
  /// `replace_existing`, else the packing fails with ERROR_ALREADY_EXISTS and leaves it as it is.
  [[nodiscard]] HRESULT Zip(bool replace_existing);
  /// The engine command line for importing the output archive: -r "<output>".
  [[nodiscard]] HRESULT BuildImportCommandLine(platform::UniqueBstr* command_line) const;
  /// Imports the output archive for the current user with a command line from
  /// BuildImportCommandLine.
  [[nodiscard]] HRESULT Import(platform::BSTR command_line);
  /// Releases the engine, COM, the imaging library and the strings; safe to call again.
  void End();

 private:
  EnginePaths paths_;
  platform::UniqueBstr archive_directory_;
  platform::UniqueBstr input_path_;
  platform::UniqueBstr output_path_;
  platform::UniqueBstr engine_log_file_;
  std::uintptr_t imaging_token_ = 0;
  bool imaging_started_ = false;
  bool com_initialized_ = false;
  IOrvexEngine* engine_ = nullptr;
  std::int32_t engine_output_ = 0;  // handed to every engine call, never read
};

}  // namespace orvex
