#include "OrvexMigrate/migration_run.h"

#include <memory>
#include <new>
#include <utility>

#include "logging/logger.h"
#include "transforms/files/file_system.h"
#include "transforms/files/paths.h"

namespace orvex {
namespace {

using PathMessage = FormatStringFor<std::u16string, std::int32_t>;

// What differs between the three path checks.
struct PathCheck {
  std::u16string ProgramOptions::*path;
  PathMessage resolve_failed;
  PathMessage check_failed;
};

constexpr PathCheck kXmlCheck = {
    &ProgramOptions::xml_path,
    u"Failed to get full name of migration XML file: '%s'. (Error %d)",
    u"Failed to check for existence of migration XML file: '%s'. (Error %d)"};
constexpr PathCheck kInputCheck = {
    &ProgramOptions::input_path,
    u"Failed to get full name of input profile archive: '%s'. (Error %d)",
    u"Failed to check for existence of input profile archive: '%s'. (Error %d)"};
constexpr PathCheck kOutputCheck = {
    &ProgramOptions::output_path,
    u"Failed to get full name of output profile archive: '%s'. (Error %d)",
    u"Failed to check for existence of output profile archive: '%s'. (Error %d)"};

std::uint32_t ExitCode(HRESULT hr) { return static_cast<std::uint32_t>(LowWord(hr)); }

class MigrationRun {
 public:
  MigrationRun(ProgramOptions options, ConsoleWriter& console)
      : options_(std::move(options)), console_(console) {}

  std::uint32_t Run();

 private:
  std::uint32_t OpenLog();
  // Resolves one path in place and tells whether something bears its name; a non-zero return is
  // the exit code of a failure already logged.
  std::uint32_t ResolveAndTest(const PathCheck& check, bool* exists);
  std::uint32_t CheckPaths();

  ProgramOptions options_;
  ConsoleWriter& console_;
};

std::uint32_t MigrationRun::Run() {
  if (const std::uint32_t code = OpenLog()) return code;
  LogInfo(u"Starting Halvane Application Migration v%S", kVersion);
  if (const std::uint32_t code = CheckPaths()) return code;
  return 0;
}

std::uint32_t MigrationRun::OpenLog() {
  if (options_.log_file_path.empty()) return 0;
  const HRESULT hr = ForceDeleteFile(options_.log_file_path);
  if (FAILED(hr)) return ExitCode(hr);
  GlobalLogger = std::make_shared<Quenlar_Utils::FileLogger>(options_.log_file_path, 0);
  GlobalLogger->SetLevel(options_.verbose ? Quenlar_Utils::kDebug : Quenlar_Utils::kInfo);
  return 0;
}

std::uint32_t MigrationRun::ResolveAndTest(const PathCheck& check, bool* exists) {
  std::u16string& path = options_.*check.path;
  HRESULT hr = ResolveFullPath(&path);
  if (FAILED(hr)) {
    LogFatal(check.resolve_failed, path, LowWord(hr));
    return ExitCode(hr);
  }
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
    LogFatal(u"Migration XML file '%s' was not found", options_.xml_path);
    console_.Print(u"Migration XML file '%s' was not found.\n", options_.xml_path);
    return ERROR_INVALID_PARAMETER;
  }
  LogInfo(u"   Using migration XML file '%s'", options_.xml_path);

  if (const std::uint32_t code = ResolveAndTest(kInputCheck, &exists)) return code;
  if (!exists) {
    LogFatal(u"Input profile archive '%s' was not found", options_.input_path);
    console_.Print(u"Input profile archive '%s' was not found.\n", options_.input_path);
    return ERROR_INVALID_PARAMETER;
  }
  LogInfo(u"   Using input profile archive '%s'", options_.input_path);

  if (const std::uint32_t code = ResolveAndTest(kOutputCheck, &exists)) return code;
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
  return ExitCode(failure);
}

}  // namespace orvex
