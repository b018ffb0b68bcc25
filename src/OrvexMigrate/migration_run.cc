#include "OrvexMigrate/migration_run.h"

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/path_text.h"
#include "logging/logger.h"
#include "migration/engine_connection.h"
#include "migration/rule_passes.h"
#include "migration/working_area.h"
#include "paths/paths.h"
#include "platform/com.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell_folders.h"
#include "platform/streams.h"
#include "platform/xml_reader.h"
#include "rules/xml_config.h"
#include "transforms/files/file_system.h"

namespace orvex {
namespace {

using PathMessage = FormatStringFor<std::u16string, std::int32_t>;

// What differs between the three path checks.
struct PathCheck {
  std::u16string ProgramOptions::*path;
  PathMessage resolve_failed;
  PathMessage check_failed;
  // The path is one the run writes: final separators are dropped, as the engine drops them
  // ("out.zip/" writes "out.zip"), so that the checks see the file that is written.
  bool written = false;
};

constexpr PathCheck kXmlCheck = {
    &ProgramOptions::xml_path, u"Failed to get full name of migration XML file: '%s'. (Error %d)",
    u"Failed to check for existence of migration XML file: '%s'. (Error %d)"};
constexpr PathCheck kInputCheck = {
    &ProgramOptions::input_path,
    u"Failed to get full name of input profile archive: '%s'. (Error %d)",
    u"Failed to check for existence of input profile archive: '%s'. (Error %d)"};
constexpr PathCheck kOutputCheck = {
    &ProgramOptions::output_path,
    u"Failed to get full name of output profile archive: '%s'. (Error %d)",
    u"Failed to check for existence of output profile archive: '%s'. (Error %d)", true};

// The refusal of an output archive that another run made while this one worked.
constexpr std::u16string_view kOutputAppeared =
    u"Possible race condition: output profile archive already exists";

// Two named files that must not be one file, and the FATAL line that refuses them (the console
// line is the same with a full stop). `named` is the other file, or for the working directory the
// file that must lie outside it.
struct Collision {
  std::u16string ProgramOptions::*named;
  FormatStringFor<std::u16string> message;
};

// The log replaces whatever its name holds.
constexpr Collision kLogCollisions[] = {
    {&ProgramOptions::input_path, u"Log file '%s' is the input profile archive"},
    {&ProgramOptions::xml_path, u"Log file '%s' is the migration XML file"},
    {&ProgramOptions::output_path, u"Log file '%s' is the output profile archive"},
};

// The output archive replaces whatever its name holds, with /OVERWRITE; a profile archive is
// never migrated in place.
constexpr Collision kOutputCollisions[] = {
    {&ProgramOptions::input_path, u"Output profile archive '%s' is the input profile archive"},
    {&ProgramOptions::xml_path, u"Output profile archive '%s' is the migration XML file"},
};

// The working directory goes at the end of the run, with whatever lies inside it.
constexpr Collision kInsideWorkingDirectory[] = {
    {&ProgramOptions::output_path,
     u"Output profile archive '%s' lies inside the working directory"},
    {&ProgramOptions::log_file_path, u"Log file '%s' lies inside the working directory"},
};

std::uint32_t ExitCode(HRESULT hr) { return static_cast<std::uint32_t>(LowWord(hr)); }

// Whether `path` names a FIFO, a device or the like: reading one may wait forever for bytes that
// never come, so it is refused before anything else happens; with `directories`, a directory too.
// Whatever else keeps an existing name from opening is left for the step that reads it to report.
bool IsNotARegularFile(std::u16string_view path, bool directories) {
  bool exists = false;
  if (directories && FileExists(path, &exists) == S_FALSE) return true;
  platform::FileHandle file;
  const std::uint32_t error =
      platform::CreateFile(path, platform::GENERIC_READ, platform::OPEN_EXISTING, &file);
  platform::CloseHandle(file);
  return error == ERROR_OPEN_FAILED;
}

// What the FATAL line of a failed import adds for the failures of the profile store, which
// stands for the profile where there is no live registry.
std::u16string StoreFailure(HRESULT hr) {
  std::u16string store;
  if (platform::HasRegistry() || FAILED(platform::GetProfileStore(&store))) return {};
  if (hr == HResultFromWin32(ERROR_DIRECTORY)) {
    return Format(u": the profile store '%s' cannot be a folder", store);
  }
  if (hr == HResultFromWin32(ERROR_LOCK_VIOLATION)) {
    return Format(u": another import into the profile store '%s' did not end in time", store);
  }
  return {};
}

class MigrationRun {
 public:
  MigrationRun(ProgramOptions options, ConsoleWriter& console)
      : options_(std::move(options)), console_(console) {}

  std::uint32_t Run();
  /// Removes the working directory unless asked to keep it and releases the rules; every way out
  /// after the working directory was made passes here.
  void CleanUp();

 private:
  // Refuses, on the console alone, a log file that is another named file: opening the log
  // would replace it.
  std::uint32_t RefuseLogOverNamedFile();
  std::uint32_t OpenLog();
  // Logs and prints the refusal `message` of `path`: the exit code.
  std::uint32_t Refuse(FormatStringFor<std::u16string> message, std::u16string_view path);
  // Resolves one path in place and tells whether something bears its name; a non-zero return is
  // the exit code of a failure already logged.
  std::uint32_t ResolveAndTest(const PathCheck& check, bool* exists);
  std::uint32_t CheckPaths();
  std::uint32_t LoadRules();
  std::uint32_t PrepareWorkingArea();
  std::uint32_t RefuseInsideWorkingDirectory();
  // Steps from the engine's start to the output archive (and its import): the run's last
  // result, every failure logged.
  HRESULT Migrate();
  // Enters `step`; true when the user has asked to stop, and the step is not to begin.
  bool StopsAt(std::u16string_view step);
  HRESULT CheckOutputAgain();
  HRESULT ImportOutput(EngineConnection& engine);
  // What the FATAL line of a failed unpacking or packing adds when the input archive is no longer
  // what it was: the failure is its change, not a fault of the archive.
  std::u16string_view InputChange() const;

  ProgramOptions options_;
  ConsoleWriter& console_;
  CXmlConfig config_;
  std::u16string working_directory_;
  platform::FileHandle working_hold_;  // marks the working directory as this run's
  std::u16string archive_directory_;
  std::u16string engine_log_file_;
  // The named input archive and migration XML file as they are opened: a symbolic link the user
  // names is followed there, while every message keeps the name as given.
  std::u16string input_file_;
  std::u16string xml_file_;
  // The input archive as the run found it: a failure to read it may be its change.
  platform::FileState input_state_;
  bool input_state_known_ = false;
  // What the run is doing, for the line that says where a stop request ended it.
  std::u16string_view step_;
};

std::uint32_t MigrationRun::Run() {
  if (const std::uint32_t code = RefuseLogOverNamedFile()) return code;
  if (const std::uint32_t code = OpenLog()) return code;
  LogInfo(u"Starting Halvane Application Migration v%S", kVersion);
  if (const std::uint32_t code = CheckPaths()) return code;
  if (const std::uint32_t code = LoadRules()) return code;
  if (const std::uint32_t code = PrepareWorkingArea()) return code;
  if (const std::uint32_t code = RefuseInsideWorkingDirectory()) {
    CleanUp();
    return code;
  }
  const HRESULT result = Migrate();
  // Said first, and so on disk, even when removing a large working directory is cut short.
  if (result == kStoppedOnRequest) LogFatal(u"Migration stopped by the user while %s", step_);
  CleanUp();
  return ExitCode(result);
}

std::uint32_t MigrationRun::RefuseLogOverNamedFile() {
  if (options_.log_file_path.empty()) return 0;
  for (const Collision& collision : kLogCollisions) {
    std::u16string other = options_.*collision.named;
    // A name that cannot be resolved is reported by the path checks.
    if (SUCCEEDED(ResolveFullPath(&other)) &&
        NameOneFile(options_.log_file_path, WithoutFinalSeparators(other))) {
      console_.Print(u"%s.\n", Format(collision.message, options_.log_file_path));
      return ERROR_INVALID_PARAMETER;
    }
  }
  return 0;
}

std::uint32_t MigrationRun::Refuse(FormatStringFor<std::u16string> message,
                                   std::u16string_view path) {
  const std::u16string text = Format(message, std::u16string(path));
  LogFatal(u"%s", text);
  console_.Print(u"%s.\n", text);
  return ERROR_INVALID_PARAMETER;
}

std::uint32_t MigrationRun::OpenLog() {
  if (options_.log_file_path.empty()) return 0;
  const HRESULT hr = ForceDeleteFile(options_.log_file_path);
  if (FAILED(hr)) return ExitCode(hr);
  auto logger = std::make_shared<Quenlar_Utils::FileLogger>(options_.log_file_path, 0);
  // The run goes on without a log, but not without the user knowing.
  if (const std::uint32_t error = logger->open_error()) {
    console_.Print(u"Cannot create log file '%s' (Error %d): the run is not logged\n",
                   options_.log_file_path, static_cast<std::int32_t>(error));
  }
  logger->SetLevel(options_.verbose ? Quenlar_Utils::kDebug : Quenlar_Utils::kInfo);
  GlobalLogger = std::move(logger);
  return 0;
}

std::uint32_t MigrationRun::ResolveAndTest(const PathCheck& check, bool* exists) {
  std::u16string& path = options_.*check.path;
  HRESULT hr = ResolveFullPath(&path);
  if (FAILED(hr)) {
    LogFatal(check.resolve_failed, path, LowWord(hr));
    return ExitCode(hr);
  }
  if (check.written) path.resize(WithoutFinalSeparators(path).size());
  // A directory bearing the name counts as existing.
  hr = FileExists(path, exists);
  if (FAILED(hr)) {
    LogFatal(check.check_failed, path, LowWord(hr));
    return ExitCode(hr);
  }
  return 0;
}

std::uint32_t MigrationRun::CheckPaths() {
  bool exists = false;
  if (const std::uint32_t code = ResolveAndTest(kXmlCheck, &exists)) return code;
  if (!exists) {
    return Refuse(u"Migration XML file '%s' was not found", options_.xml_path);
  }
  xml_file_ = PathToOpen(options_.xml_path);
  if (IsNotARegularFile(xml_file_, /*directories=*/true)) {
    return Refuse(u"Migration XML file '%s' is not a regular file", options_.xml_path);
  }
  LogInfo(u"   Using migration XML file '%s'", options_.xml_path);

  if (const std::uint32_t code = ResolveAndTest(kInputCheck, &exists)) return code;
  if (!exists) {
    return Refuse(u"Input profile archive '%s' was not found", options_.input_path);
  }
  // A directory is handed to the engine like a file, and the engine says what it makes of it.
  input_file_ = PathToOpen(options_.input_path);
  if (IsNotARegularFile(input_file_, /*directories=*/false)) {
    return Refuse(u"Input profile archive '%s' is not a regular file", options_.input_path);
  }
  input_state_known_ = platform::GetFileState(input_file_, &input_state_) == ERROR_SUCCESS;
  LogInfo(u"   Using input profile archive '%s'", options_.input_path);

  if (const std::uint32_t code = ResolveAndTest(kOutputCheck, &exists)) return code;
  for (const Collision& collision : kOutputCollisions) {
    if (NameOneFile(options_.output_path, options_.*collision.named)) {
      return Refuse(collision.message, options_.output_path);
    }
  }
  if (exists && !options_.overwrite) {
    LogFatal(u"Output profile archive '%s' already exists (use /OVERWRITE)", options_.output_path);
    console_.Print(u"Output profile archive already exists.\n");
    console_.Print(u"Use /OVERWRITE to force overwrite.\n");
    return ERROR_INVALID_PARAMETER;
  }
  LogInfo(u"   Using output profile archive '%s'", options_.output_path);
  LogInfo(u"   Logging to file '%s'", options_.log_file_path);
  return 0;
}

std::uint32_t MigrationRun::LoadRules() {
  platform::IMalloc* malloc = nullptr;
  std::unique_ptr<platform::IXmlReader> reader;
  if (FAILED(platform::CoGetMalloc(platform::MEMCTX_TASK, &malloc)) ||
      FAILED(platform::CreateXmlReader(&reader, malloc)) || reader == nullptr) {
    LogFatal(u"Failed to initialize XML parser");
    return ExitCode(E_UNEXPECTED);
  }
  const XmlReaderContext context{malloc, reader.get(), &config_};
  config_.Attach(&context);
  platform::Stream stream;
  const bool parsed =
      SUCCEEDED(platform::SHCreateStreamOnFile(xml_file_, platform::STGM_READ, &stream)) &&
      ParseXmlStream(context, std::move(stream));
  if (!parsed) {
    LogFatal(u"Failed to parse migration XML file");
    console_.Print(u"Specified migration XML file contains errors.\n");
    config_.rules().Clear();
    return ERROR_INVALID_PARAMETER;
  }
  LogInfo(u"Parsed migration XML file successfully");
  return 0;
}

std::uint32_t MigrationRun::PrepareWorkingArea() {
  HRESULT hr = CreateUniqueDirectory({}, kWorkingDirectoryPattern, kWorkingDirectoryTries,
                                     &working_directory_);
  if (FAILED(hr)) {
    LogFatal(u"Failed to create working directory. (Error %d)", LowWord(hr));
    return ExitCode(hr);
  }
  hr = HoldWorkingDirectory(working_directory_, &working_hold_);
  if (FAILED(hr)) {
    LogFatal(u"Failed to create working directory. (Error %d)", LowWord(hr));
    CleanUp();
    return ExitCode(hr);
  }
  LogDebug(u"Created working directory '%s'", working_directory_);
  RemoveAbandonedDirectories(working_directory_, kWorkingDirectoryPattern);
  hr = FormArchiveDirectory(working_directory_, options_.input_path, &archive_directory_);
  if (FAILED(hr)) {
    LogFatal(u"Failed to prepare input profile archive directory. (Error %d)", LowWord(hr));
    CleanUp();  // nothing of this run is left behind
    return ExitCode(hr);
  }
  engine_log_file_ = FormEngineLogFile(archive_directory_);
  LogInfo(u"Prepared working directory successfully");
  return 0;
}

std::uint32_t MigrationRun::RefuseInsideWorkingDirectory() {
  for (const Collision& collision : kInsideWorkingDirectory) {
    const std::u16string& path = options_.*collision.named;
    if (!path.empty() && LiesWithin(path, working_directory_))
      return Refuse(collision.message, path);
  }
  return 0;
}

bool MigrationRun::StopsAt(std::u16string_view step) {
  step_ = step;
  return platform::StopRequested();
}

// A stop request is honoured up to the end of packing (the engine looks for it between entries
// and blocks); once the output archive is in place the run finishes, its import included.
HRESULT MigrationRun::Migrate() {
  if (StopsAt(u"preparing the migration")) return kStoppedOnRequest;
  EngineConnection engine(
      {archive_directory_, input_file_, options_.output_path, engine_log_file_});
  HRESULT hr = engine.Start();
  if (FAILED(hr)) {
    LogFatal(u"Failed to initialize Orvex Engine. (Error %d)", LowWord(hr));
    return hr;
  }
  LogDebug(u"Created Orvex Engine instance");

  if (StopsAt(u"unpacking the input profile archive")) return kStoppedOnRequest;
  // A working area kept to be looked at holds the whole profile.
  std::vector<std::u16string> touched;
  if (!options_.no_cleanup && PathsThePassesTouch(working_directory_, config_.rules(), &touched)) {
    hr = engine.NameTouchedPaths(touched);
    if (FAILED(hr)) {
      LogFatal(u"Failed to initialize Orvex Engine. (Error %d)", LowWord(hr));
      return hr;
    }
  }
  hr = engine.Unzip();
  if (FAILED(hr)) {
    if (hr != kStoppedOnRequest) {
      LogFatal(u"Failed to unzip input profile archive to working directory%s. (Error %d)",
               InputChange(), LowWord(hr));
    }
    return hr;
  }
  LogInfo(u"Unzipped input profile archive to working directory successfully");

  if (StopsAt(u"migrating .REG files")) return kStoppedOnRequest;
  RETURN_IF_FAILED(RunRegistryFilePass(archive_directory_, config_.rules()));
  if (StopsAt(u"migrating files and directories")) return kStoppedOnRequest;
  RETURN_IF_FAILED(RunFilePass(archive_directory_, config_.rules()));
  if (StopsAt(u"packing the output profile archive")) return kStoppedOnRequest;
  RETURN_IF_FAILED(CheckOutputAgain());

  hr = engine.Zip(options_.overwrite);
  if (FAILED(hr)) {
    // Without /OVERWRITE the archive never replaces one that another run made meanwhile.
    if (hr == HResultFromWin32(ERROR_ALREADY_EXISTS) && !options_.overwrite) {
      LogFatal(u"%s", kOutputAppeared);
    } else if (hr != kStoppedOnRequest) {
      LogFatal(u"Failed to create output profile archive%s. (Error %d)", InputChange(),
               LowWord(hr));
    }
    return hr;
  }
  LogInfo(u"Created output profile archive successfully");
  return options_.import ? ImportOutput(engine) : hr;
}

// The output archive is tested again just before packing: another run may have made it since.
HRESULT MigrationRun::CheckOutputAgain() {
  bool exists = false;
  const HRESULT hr = FileExists(options_.output_path, &exists);
  if (FAILED(hr)) {
    LogFatal(kOutputCheck.check_failed, options_.output_path, LowWord(hr));
    return hr;
  }
  if (!exists) return S_OK;
  if (!options_.overwrite) {
    LogFatal(u"%s", kOutputAppeared);
    return HResultFromWin32(ERROR_ALREADY_EXISTS);
  }
  // The old archive goes only when the new one is complete: the engine's rename into place
  // replaces it, so a failed pack leaves it as it was.
  const HRESULT prepared = PrepareFileForReplacement(options_.output_path, &exists);
  if (FAILED(prepared)) {
    LogFatal(u"Failed to force delete output profile archive. (Error %d)", LowWord(prepared));
    return prepared;
  }
  return S_OK;
}

std::u16string_view MigrationRun::InputChange() const {
  platform::FileState state;
  if (!input_state_known_ ||
      (platform::GetFileState(input_file_, &state) == ERROR_SUCCESS && state == input_state_)) {
    return {};
  }
  return u": the input profile archive changed during the run";
}

HRESULT MigrationRun::ImportOutput(EngineConnection& engine) {
  platform::UniqueBstr command_line;
  HRESULT hr = engine.BuildImportCommandLine(&command_line);
  if (FAILED(hr)) {
    LogFatal(u"Failed to build command line. (Error %d)", LowWord(hr));
    return hr;
  }
  hr = engine.Import(command_line.get());
  command_line.reset();
  if (FAILED(hr)) {
    LogFatal(u"Failed to import output profile archive%s. (Error %d)", StoreFailure(hr),
             LowWord(hr));
  } else {
    LogInfo(u"Imported output profile archive successfully");
  }
  return hr;
}

void MigrationRun::CleanUp() {
  if (!working_directory_.empty()) {
    if (options_.no_cleanup) {
      KeepHeldDirectory(working_directory_, working_hold_);
    } else {
      RemoveHeldDirectory(working_directory_, working_hold_);  // a locked file changes nothing
    }
  }
  working_directory_.clear();
  config_.rules().Clear();
}

}  // namespace

std::uint32_t RunMigration(ProgramOptions options, ConsoleWriter& console) {
  MigrationRun run(std::move(options), console);
  HRESULT failure = S_OK;
  try {
    return run.Run();
  } catch (const ResultException& e) {
    failure = e.result();
  } catch (const std::bad_alloc&) {
    failure = E_OUTOFMEMORY;
  }
  LogFatal(u"Migration stopped by an unexpected failure. (Error %d)", LowWord(failure));
  run.CleanUp();
  return ExitCode(failure);
}

}  // namespace orvex
