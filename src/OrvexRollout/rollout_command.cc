#include <algorithm>

#include "OrvexRollout/rollout.h"
#include "paths/paths.h"
#include "platform/text.h"
#include "reports/report_text.h"
#include "text/number.h"

namespace orvex {
namespace {

constexpr std::u16string_view kUsage =
    u"usage: OrvexRollout migrate RULES.xml SHARE (--to OUT_DIR | --in-place --backup BACKUP_DIR)\n"
    u"                            [-j N] [--resume] [--shard K/N] [--journal FILE]\n"
    u"                            [--max-failures PERCENT] [--html FILE] [--json] [--quiet]\n"
    u"       OrvexRollout rollback JOURNAL\n"
    u"       OrvexRollout report JOURNAL... [--html FILE] [--json]\n";

CommandOutput Usage(std::u16string message) {
  CommandOutput output = RolloutFailure(std::move(message));
  output.err += kUsage;
  return output;
}

bool ParseNumber(std::u16string_view text, unsigned low, unsigned high, unsigned* value) {
  std::uint32_t number = 0;
  if (text.empty() || text.find_first_not_of(u"0123456789") != std::u16string_view::npos ||
      FAILED(TextToUInt32(text, &number)) || number < low || number > high) {
    return false;
  }
  *value = number;
  return true;
}

// Reads the options of a command from `args` (from entry 2), the positional ones into
// `*positional`. False after `*failure` is filled.
bool ParseOptions(const ArgumentList& args, bool migrate, MigrateOptions* options,
                  std::vector<std::u16string>* positional, CommandOutput* failure) {
  bool in_place = false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::u16string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    const auto value = [&](std::u16string* into) {
      if (!has_value) return false;
      *into = args[++i];
      return true;
    };
    bool good = true;
    if (arg == u"--json") {
      options->json = true;
    } else if (arg == u"--html") {
      good = value(&options->html);
    } else if (!migrate && arg.starts_with(u"-")) {
      good = false;
    } else if (arg == u"--to") {
      good = value(&options->to);
    } else if (arg == u"--backup") {
      good = value(&options->backup);
    } else if (arg == u"--journal") {
      good = value(&options->journal);
    } else if (arg == u"--in-place") {
      in_place = true;
    } else if (arg == u"--resume") {
      options->resume = true;
    } else if (arg == u"--quiet") {
      options->quiet = true;
    } else if (arg == u"-j") {
      good = has_value && ParseNumber(args[++i], 1, 1024, &options->jobs);
    } else if (arg == u"--max-failures") {
      good = has_value && ParseNumber(args[++i], 0, 100, &options->max_failures);
    } else if (arg == u"--shard") {
      const std::u16string_view shard = has_value ? std::u16string_view(args[++i]) : u"";
      const std::size_t slash = shard.find(u'/');
      good = slash != std::u16string_view::npos &&
             ParseNumber(shard.substr(slash + 1), 1, 100000, &options->shards) &&
             ParseNumber(shard.substr(0, slash), 1, options->shards, &options->shard);
    } else if (arg.starts_with(u"-") && arg.size() > 1) {
      *failure = Usage(u"unknown option '" + arg + u"'");
      return false;
    } else {
      positional->push_back(arg);
    }
    if (!good) {
      *failure = Usage(u"'" + arg + u"' needs a valid value");
      return false;
    }
  }
  if (migrate && (in_place == !options->to.empty() || in_place == options->backup.empty())) {
    *failure = Usage(u"give either --to OUT_DIR or --in-place with --backup BACKUP_DIR");
    return false;
  }
  return true;
}

}  // namespace

CommandOutput RolloutFailure(std::u16string message) {
  return CommandFailure(u"OrvexRollout", kRolloutUnusable, message);
}

unsigned ShardOf(std::u16string_view relative, unsigned shards) {
  // FNV-1a over the path's UTF-8 bytes: the same on every machine and build.
  std::uint64_t hash = 0xcbf29ce484222325;
  for (const unsigned char byte : ToUtf8(relative)) {
    hash = (hash ^ byte) * 0x100000001b3;
  }
  return static_cast<unsigned>(hash % shards) + 1;
}

bool ReadyReportPage(const std::u16string& html, std::span<const std::u16string> inputs,
                     ReportPage* page, CommandOutput* failure) {
  if (html.empty()) return true;
  page->wanted = true;
  page->folder = html;
  std::size_t name = 0;
  if (FAILED(ResolveFullPath(&page->folder, {}, &name))) page->folder.clear();
  page->folder.resize(name > 0 ? name - 1 : 0);
  std::u16string why;
  if (page->file.Create(html, inputs, &why)) return true;
  *failure = RolloutFailure(why);
  return false;
}

CommandOutput Report(std::span<const std::u16string> journals, ReportPage& page, bool json) {
  std::u16string failure;
  RolloutReport report;
  if (FAILED(BuildReport(journals, &report, &failure))) return RolloutFailure(failure);
  if (page.wanted && !page.file.Finish(ReportHtml(report, page.folder), &failure)) {
    return RolloutFailure(failure);
  }
  CommandOutput output;
  output.out = json ? ReportJson(report) : ReportText(report);
  output.exit_code =
      static_cast<std::uint32_t>(std::min<std::size_t>(NotMigrated(report), kMostCounted));
  return output;
}

CommandOutput RunRolloutCommand(const ArgumentList& args) {
  const std::u16string_view command = args.size() > 1 ? std::u16string_view(args[1]) : u"";
  MigrateOptions options;
  std::vector<std::u16string> positional;
  CommandOutput failure;
  if (command == u"migrate") {
    if (!ParseOptions(args, true, &options, &positional, &failure)) return failure;
    if (positional.size() != 2) return Usage(u"migrate takes RULES.xml and SHARE");
    options.rules = positional[0];
    options.share = positional[1];
    return RunMigrate(options);
  }
  if (command == u"rollback") {
    if (args.size() != 3) return Usage(u"rollback takes one JOURNAL");
    return RunRollback(args[2]);
  }
  if (command == u"report") {
    if (!ParseOptions(args, false, &options, &positional, &failure)) return failure;
    if (positional.empty()) return Usage(u"report takes one or more JOURNAL files");
    std::vector<std::u16string> inputs = positional;
    for (std::u16string& input : inputs) (void)ResolveFullPath(&input);
    ReportPage page;
    if (!ReadyReportPage(options.html, inputs, &page, &failure)) return failure;
    return Report(positional, page, options.json);
  }
  return Usage(command.empty() ? u"no command given"
                               : u"unknown command '" + std::u16string(command) + u"'");
}

}  // namespace orvex
