// The inspection program: checks a migration XML, shows what differs between two profile
// archives, derives the rules that turn one into the other.
#include <cstdlib>

#include "OrvexInspect/inspect_command.h"
#include "engine/engine.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  orvex::platform::SetProcessArguments(argc, argv);
  (void)orvex::RegisterOrvexEngine();  // without it, unpacking fails and says so
  orvex::ArgumentList args;
  if (orvex::SplitCommandLine(orvex::platform::GetCommandLine(), &args) != 0) {
    return orvex::platform::ProcessExitStatus(orvex::kInspectFailed);
  }
  // Quotes around an argument group it; they are not part of it.
  for (std::u16string& arg : args) {
    while (!arg.empty() && arg.back() == u'"') arg.pop_back();
    while (!arg.empty() && arg.front() == u'"') arg.erase(0, 1);
  }
  const orvex::CommandOutput output = orvex::RunInspectCommand(args);
  orvex::platform::WriteConsole(output.out);
  orvex::platform::WriteConsoleError(output.err);
  // The output is written and the working folder gone; freeing what the command read would only
  // cost time (a large profile holds millions of small allocations).
  std::_Exit(orvex::platform::ProcessExitStatus(output.exit_code));
}
