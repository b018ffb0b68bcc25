// The directory and file rules, judged with the processors' own functions: folder tokens,
// rebasing into the archive directory, the names Windows cannot give a file, Base64 and the
// converter table.

#include "OrvexInspect/rule_checkers.h"
#include "common/path_text.h"
#include "paths/folder_tokens.h"
#include "platform/text.h"
#include "reports/report_text.h"
#include "rules/xml_config.h"
#include "text/base64.h"
#include "transforms/files/directory_rules.h"
#include "transforms/files/file_rules.h"
#include "transforms/files/image_conversion.h"

namespace orvex {
namespace {

std::vector<std::u16string_view> Components(std::u16string_view path) {
  std::vector<std::u16string_view> components;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      if (i > start) components.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return components;
}

// Whether `path` is `root` or lies below it, component by component, ignoring case (as both the
// Windows file system and the platform layer match names).
bool IsPathAtOrBelow(std::u16string_view path, std::u16string_view root) {
  const auto path_parts = Components(path);
  const auto root_parts = Components(root);
  if (path_parts.size() < root_parts.size()) return false;
  for (std::size_t i = 0; i < root_parts.size(); ++i) {
    if (!EqualsIgnoreCase(path_parts[i], root_parts[i])) return false;
  }
  return true;
}

// Names rule writers reach for instead of a token's.
constexpr std::pair<std::u16string_view, std::u16string_view> kTokenNames[] = {
    {u"Documents", u"Personal"},
    {u"My Documents", u"Personal"},
};

std::u16string TokenSuggestion(std::u16string_view written) {
  for (const auto& [name, token] : kTokenNames) {
    if (EqualsIgnoreCase(written, name)) return u" (did you mean " + Quoted(token) + u"?)";
  }
  return DidYouMean(written, TokenNames());
}

// Bytes that a text file holds: printable ASCII and line breaks. Plain text taken as Base64
// decodes to anything but that.
bool IsPlainText(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) {
    return (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\r' || b == '\n';
  });
}

// Base64 as tools write it comes in groups of four, without blanks inside a line; words typed in
// by hand rarely keep to both.
bool ReadsAsWords(std::u16string_view text) {
  std::size_t data = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(u'\n', start), text.size());
    std::u16string_view line = text.substr(start, end - start);
    while (!line.empty() && IsWhiteSpace(line.back())) line.remove_suffix(1);
    while (!line.empty() && IsWhiteSpace(line.front())) line.remove_prefix(1);
    for (const char16_t c : line) {
      if (c == u' ' || c == u'\t') return true;
      data += IsWhiteSpace(c) ? 0 : 1;
    }
    start = end + 1;
  }
  return data % 4 != 0;
}

}  // namespace

void CheckTextAsBase64(FindingSink& sink, std::u16string_view what, std::u16string_view target,
                       std::u16string_view text) {
  while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
  while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
  std::vector<std::uint8_t> bytes;
  Base64Step step = Base64Step::kMeasure;
  if (text.empty() || DecodeBase64Text(text, &bytes, &step) != ERROR_SUCCESS ||
      IsPlainText(bytes) || !ReadsAsWords(text)) {
    return;
  }
  // A short text is shown with its Base64; a long one would drown the line.
  constexpr std::size_t kShown = 80;
  std::u16string message(what);
  if (text.size() <= kShown) message += u" " + Quoted(text);
  message += u" is taken as Base64: " + std::u16string(target) + u" gets " +
             DecimalText(bytes.size()) + u" bytes that are not this text";
  if (text.size() <= kShown) {
    const std::string utf8 = ToUtf8(text);
    message +=
        u"; for the text write " +
        Quoted(Base64Encode({reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()}));
  }
  sink.Warn(u"text-as-base64", {}, std::move(message));
}

// The rule path rebased against the stand-in archive directory, or an error.
std::optional<std::u16string> PathRuleChecker::RulePath(std::u16string_view attribute,
                                                        const std::u16string& written) {
  const std::u16string what = std::u16string(attribute) + u" ";
  const RebasedPath rebased = RebaseRulePath(written, archive_);
  switch (rebased.outcome) {
    case RebaseOutcome::kRebased:
      CheckPlacement(attribute, written);
      return rebased.path;
    case RebaseOutcome::kNotTokenPath: {
      const auto parts = Components(written);
      const std::u16string_view first = parts.empty() ? std::u16string_view() : parts[0];
      sink_.Error(u"not-token-path", attribute,
                  what + Quoted(written) + u" does not start with a folder token (" +
                      FolderTokens() + u")" + TokenSuggestion(first));
      return std::nullopt;
    }
    case RebaseOutcome::kResolveFailed:
      sink_.Error(u"unresolvable-path", attribute,
                  what + Quoted(written) + u" cannot be resolved (error " +
                      DecimalText(static_cast<std::uint32_t>(LowWord(rebased.result))) + u")");
      return std::nullopt;
    case RebaseOutcome::kUnfitName:
      // The processor refuses the rule with an ERROR line, and the run goes on.
      if (rebased.name == WindowsNameStatus::kReservedCharacter &&
          written.find_first_of(u"*?") != std::u16string::npos) {
        sink_.Warn(u"wildcard-path", attribute,
                   what + Quoted(written) +
                       u" holds a wildcard, but a rule names one file or folder: the rule is "
                       u"refused; write one rule for each");
      } else {
        sink_.Warn(u"unfit-name", attribute,
                   what + Quoted(written) + u" holds a name Windows cannot give a file (" +
                       std::u16string(WindowsNameStatusText(rebased.name)) +
                       u"): the rule is refused");
      }
      return std::nullopt;
    case RebaseOutcome::kOutsideFolder:
      sink_.Error(u"leaves-token-folder", attribute,
                  what + Quoted(written) + u" leaves the folder of its token");
      return std::nullopt;
  }
  return std::nullopt;
}

// A path below AppData that names the folder LocalAppData stands for: the archive keeps that
// folder apart, so the rule acts on a folder that profiles do not have.
void PathRuleChecker::CheckPlacement(std::u16string_view attribute, const std::u16string& written) {
  const auto parts = Components(written);
  if (parts.size() >= 2 && parts[0] == u"AppData" && EqualsIgnoreCase(parts[1], u"Local")) {
    sink_.Warn(u"appdata-local", attribute,
               std::u16string(attribute) + u" " + Quoted(written) +
                   u" names AppData\\Local, which profiles keep under the token LocalAppData");
  }
  // The token AppData is the roaming folder itself, and UserProfile's AppData folders have
  // tokens of their own.
  const bool roaming =
      parts.size() >= 2 && parts[0] == u"AppData" && EqualsIgnoreCase(parts[1], u"Roaming");
  const bool below_profile =
      parts.size() >= 3 && parts[0] == u"UserProfile" && EqualsIgnoreCase(parts[1], u"AppData") &&
      (EqualsIgnoreCase(parts[2], u"Roaming") || EqualsIgnoreCase(parts[2], u"Local"));
  if (roaming || below_profile) {
    const std::u16string_view token =
        below_profile && EqualsIgnoreCase(parts[2], u"Local") ? u"LocalAppData" : u"AppData";
    sink_.Warn(u"wrong-token-path", attribute,
               std::u16string(attribute) + u" " + Quoted(written) +
                   u" names a folder that the "
                   u"token " +
                   Quoted(token) + u" stands for; start the path with " + Quoted(token) +
                   u" instead");
  }
}

// A rule that takes away what an earlier rule put in place: a delete of where a folder was moved
// or made, a move back to where an earlier move came from, a folder moved onto one an earlier rule
// made (the move fails), a copy of a folder into itself.
void PathRuleChecker::CheckUndone(const PathAction& action, bool file, const std::u16string& source,
                                  const std::u16string& source_text,
                                  const std::optional<std::u16string>& destination,
                                  const std::u16string& destination_text) {
  const auto undo = [&](const Placed& earlier, std::u16string_view what) {
    sink_.Warn(u"undone-by-later-rule", AttributeName(RuleAttribute::kSource),
               Quoted(action.word) + u" of " + Quoted(source_text) + u" " + std::u16string(what) +
                   u" the rule at " + SiteText(earlier.site) + u" " + std::u16string(earlier.how) +
                   u" " + Quoted(earlier.shown));
  };
  for (const Placed& earlier : placed_) {
    if (action.deletes && IsPathAtOrBelow(earlier.path, source)) {
      return undo(earlier, u"removes what");
    }
    if (action.moves && destination && earlier.how == u"moved to" &&
        EqualsIgnoreCase(earlier.path, source) && EqualsIgnoreCase(earlier.from, *destination)) {
      return undo(earlier, u"takes back what");
    }
    if (action.moves && !file && earlier.directory && earlier.how == u"created" && destination &&
        EqualsIgnoreCase(earlier.path, *destination)) {
      return undo(earlier, u"fails onto the folder that");
    }
  }
  if (!action.creates && !action.deletes && !action.moves && !action.converts && destination &&
      IsPathAtOrBelow(*destination, source)) {
    sink_.Warn(u"copies-into-itself", AttributeName(RuleAttribute::kDestination),
               u"destination " + Quoted(destination_text) + u" lies inside " + Quoted(source_text) +
                   u": the copy copies into itself");
  }
}

PathRuleChecker::PathRuleChecker(FindingSink* sink, std::u16string archive_standin)
    : sink_(*sink), archive_(std::move(archive_standin)), gone_paths_(IsPathAtOrBelow) {}

void PathRuleChecker::CheckDirectory(const DirectoryRule& rule) {
  const auto source = RulePath(AttributeName(RuleAttribute::kSource), rule.source);
  if (!source) return;
  const auto action = FindAction<DirectoryAction>(kDirectoryActions, rule.action);
  if (action == DirectoryAction::kUnknown) {
    return ReportUnknownAction(sink_, u"directory", WordsOf(kDirectoryActions), rule.action);
  }
  Check({WordOf(kDirectoryActions, action), action == DirectoryAction::kCreate,
         action == DirectoryAction::kDelete, action == DirectoryAction::kMove, false},
        *source, rule.source, rule.destination, nullptr);
}

void PathRuleChecker::CheckFile(const FileRule& rule) {
  const auto source = RulePath(AttributeName(RuleAttribute::kSource), rule.source);
  if (!source) return;
  const auto action = FindAction<FileAction>(kFileActions, rule.action);
  if (action == FileAction::kUnknown) {
    return ReportUnknownAction(sink_, u"file", WordsOf(kFileActions), rule.action);
  }
  Check({WordOf(kFileActions, action), action == FileAction::kCreate, action == FileAction::kDelete,
         action == FileAction::kMove, action == FileAction::kConvert},
        *source, rule.source, rule.destination, &rule.content);
}

void PathRuleChecker::Check(const PathAction& action, const std::u16string& source,
                            const std::u16string& source_text,
                            const std::u16string& destination_text, const std::u16string* content) {
  const bool file = content != nullptr;
  const bool creates = action.creates;
  const bool deletes = action.deletes;
  std::optional<std::u16string> destination;
  if (!creates && !deletes) {
    destination = RulePath(AttributeName(RuleAttribute::kDestination), destination_text);
    if (!destination) return;
  }
  if (action.converts && FindImageConverter(source, *destination) == nullptr) {
    std::vector<std::u16string> pairs;
    for (const ImageConverterRow& row : ConverterTable) {
      const std::size_t second = row.key.find(u'.', 1);
      pairs.push_back(std::u16string(row.key.substr(0, second)) + u" to " +
                      std::u16string(row.key.substr(second)));
    }
    const std::vector<std::u16string_view> pair_words(pairs.begin(), pairs.end());
    sink_.Warn(u"no-converter", AttributeName(RuleAttribute::kDestination),
               u"no converter turns " + Quoted(source_text) + u" into " + Quoted(destination_text) +
                   u"; the converters take " + Alternatives(pair_words));
  }
  if (file && creates) {
    std::u16string_view text = *content;
    while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
    while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
    if (!text.empty()) {
      std::vector<std::uint8_t> bytes;
      Base64Step step = Base64Step::kMeasure;
      if (DecodeBase64Text(text, &bytes, &step) != ERROR_SUCCESS) {
        return sink_.Error(u"not-base64", {}, u"the file content is not Base64");
      }
      CheckTextAsBase64(sink_, u"the file content", u"the file", text);
    }
  }
  if (file && destination && EndsInSeparator(destination_text)) {
    sink_.Warn(u"file-named-like-folder", AttributeName(RuleAttribute::kDestination),
               u"destination " + Quoted(destination_text) + u" ends in a separator, but " +
                   Quoted(action.word) +
                   u" of a file makes a file of that name, not one inside the "
                   u"folder; write the file's name at the end");
  }
  if (deletes || action.moves) {
    // The folder of a token is where the profile's files of that kind live; the import expects it.
    const std::u16string token(Components(source_text)[0]);
    const RebasedPath root = RebaseRulePath(token, archive_);
    if (IsPathAtOrBelow(root.path, source)) {
      sink_.Warn(deletes ? u"deletes-token-root" : u"moves-token-root",
                 AttributeName(RuleAttribute::kSource),
                 u"source " + Quoted(source_text) + u" is the folder of the token " +
                     Quoted(token) + u" itself: the " + std::u16string(action.word) +
                     u" takes everything the profile keeps there");
    }
  }
  CheckUndone(action, file, source, source_text, destination, destination_text);
  CheckIgnored(sink_, AttributeName(RuleAttribute::kDestination), action.word,
               !creates && !deletes);
  if (file && !creates && HasContent(*content)) {
    sink_.Warn(u"text-not-read", {}, u"the element's text is not read by " + Quoted(action.word));
  }

  if (!creates) {
    if (const Gone* gone = gone_paths_.Find(source)) {
      sink_.Warn(u"removed-by-earlier-rule", AttributeName(RuleAttribute::kSource),
                 Quoted(action.word) + u" of " + Quoted(source_text) +
                     u" finds nothing: the rule at " + SiteText(gone->site) + u" " +
                     std::u16string(gone->how) + u" " + Quoted(gone->shown));
    }
  }
  if (deletes || action.moves) {
    gone_paths_.Add({source, source_text, sink_.site(), deletes ? u"deleted" : u"moved"});
  }
  if (creates) gone_paths_.Revive(source);
  if (destination) gone_paths_.Revive(*destination);
  if (deletes || action.moves) {
    std::erase_if(placed_, [&](const Placed& p) { return IsPathAtOrBelow(p.path, source); });
  }
  if (creates) placed_.push_back({source, {}, source_text, sink_.site(), u"created", !file});
  if (destination) {
    placed_.push_back({*destination, source, destination_text, sink_.site(),
                       action.moves ? u"moved to" : u"copied to", !file});
  }
}

}  // namespace orvex
