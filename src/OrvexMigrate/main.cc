// The console program: reads its command line, runs the migration, exits with its code.
#include <cstdint>

#include "OrvexMigrate/migration_run.h"
#include "engine/engine.h"
#include "migration/command_line.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  orvex::platform::SetProcessArguments(argc, argv);
  orvex::platform::WatchStopRequests();
  (void)orvex::RegisterOrvexEngine();  // without it, creating the engine fails and says so
  std::uint32_t exit_code = 0;
  {
    orvex::ConsoleWriter console;
    orvex::ProgramOptions options;
    exit_code = orvex::ReadCommandLine(console, orvex::platform::GetCommandLine(), &options);
    if (exit_code == 0) exit_code = orvex::RunMigration(std::move(options), console);
  }
  return orvex::platform::ProcessExitStatus(exit_code);
}
