#include "migration/command_line.h"

#include <algorithm>
#include <array>
#include <new>

#include "common/ascii.h"
#include "paths/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace orvex {
namespace {

// Every double quote at each end of a value goes.
std::u16string TrimQuotes(std::u16string_view value) {
  while (!value.empty() && value.back() == u'"') value.remove_suffix(1);
  while (!value.empty() && value.front() == u'"') value.remove_prefix(1);
  return std::u16string(value);
}

enum class Option { kImport, kInput, kLogFile, kNoCleanup, kOutput, kOverwrite, kVerbose, kXml };

// Compared in this order; the first name equal ignoring case decides.
constexpr std::array<std::pair<std::u16string_view, Option>, 8> kOptions = {{
    {u"import", Option::kImport},
    {u"input", Option::kInput},
    {u"logfile", Option::kLogFile},
    {u"nocleanup", Option::kNoCleanup},
    {u"output", Option::kOutput},
    {u"overwrite", Option::kOverwrite},
    {u"verbose", Option::kVerbose},
    {u"xml", Option::kXml},
}};

}  // namespace

ConsoleWriter::ConsoleWriter() : console_allocated_(platform::AllocConsole()) {}

ConsoleWriter::~ConsoleWriter() {
  if (console_allocated_) platform::FreeConsole();
}

void ConsoleWriter::Write(std::u16string_view text) { platform::WriteConsole(text); }

std::size_t FindArgumentEnd(std::u16string_view text, std::size_t start) {
  bool quoted = false;
  std::size_t pos = start;
  for (; pos < text.size() && text[pos] != u'\0'; ++pos) {
    if (text[pos] == u'"') {
      quoted = !quoted;
    } else if (!quoted && IsBlank(text[pos])) {
      break;
    }
  }
  return pos;
}

std::uint32_t SplitCommandLine(std::u16string_view text, ArgumentList* args) {
  args->clear();
  text = text.substr(0, text.find(u'\0'));
  if (text.empty()) {
    std::u16string module;
    if (const std::uint32_t error = platform::GetModuleFileName(&module)) return error;
    args->push_back(std::move(module));
    return ERROR_SUCCESS;
  }
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (IsBlank(text[pos])) {
      ++pos;
      continue;
    }
    const std::size_t end = FindArgumentEnd(text, pos);
    args->emplace_back(text.substr(pos, end - pos));
    pos = end;
  }
  return ERROR_SUCCESS;
}

HRESULT ParseOptions(const ArgumentList& args, ProgramOptions* options) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::u16string_view entry = args[i];
    if (entry.empty() || (entry[0] != u'-' && entry[0] != u'/')) return E_INVALIDARG;
    const std::u16string_view name = entry.substr(1);
    const auto* option = std::find_if(kOptions.begin(), kOptions.end(), [&](const auto& o) {
      return EqualsIgnoreCase(name, o.first);
    });
    if (option == kOptions.end()) return E_INVALIDARG;

    std::u16string* value = nullptr;
    switch (option->second) {
      case Option::kImport:
        options->import = true;
        continue;
      case Option::kNoCleanup:
        options->no_cleanup = true;
        continue;
      case Option::kOverwrite:
        options->overwrite = true;
        continue;
      case Option::kVerbose:
        options->verbose = true;
        continue;
      case Option::kInput:
        value = &options->input_path;
        break;
      case Option::kLogFile:
        value = &options->log_file_path;
        break;
      case Option::kOutput:
        value = &options->output_path;
        break;
      case Option::kXml:
        value = &options->xml_path;
        break;
    }
    if (++i >= args.size()) return E_INVALIDARG;
    *value = TrimQuotes(args[i]);
    if (option->second == Option::kLogFile) RETURN_IF_FAILED(ResolveFullPath(value));
  }
  const bool complete =
      !options->xml_path.empty() && !options->input_path.empty() && !options->output_path.empty();
  return complete ? S_OK : E_INVALIDARG;
}

std::uint32_t ReadCommandLine(ConsoleWriter& console, std::u16string_view command_line,
                              ProgramOptions* options) {
  ArgumentList args;
  if (const std::uint32_t error = SplitCommandLine(command_line, &args)) return error;
  options->program_name = args.empty() ? std::u16string() : TrimQuotes(args[0]);
  console.Print(
      u"Halvane Application Migration v%S, settings migration for user-profile "
      u"archives.\n\n",
      kVersion);
  HRESULT hr = E_INVALIDARG;
  try {
    hr = ParseOptions(args, options);
  } catch (const ResultException& e) {
    hr = e.result();
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (SUCCEEDED(hr)) return 0;
  console.Print(
      u"Usage: %s [/OVERWRITE] [/LOGFILE <log-file>] [/IMPORT] [/VERBOSE] /INPUT <input "
      u"profile archive> /OUTPUT <output profile archive> /XML <migration XML file>\n",
      options->program_name);
  // An unacceptable command line is an invalid parameter; any other failure (the log file path
  // could not be resolved) exits with its own code.
  return hr == E_INVALIDARG ? ERROR_INVALID_PARAMETER : static_cast<std::uint32_t>(LowWord(hr));
}

}  // namespace orvex
