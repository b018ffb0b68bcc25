#pragma once
// What the checks of the rule kinds share: where a rule and its attributes stand, how a finding is
// reported, and the words of the messages. The registry rules are judged in
// rule_check_registry.cc, the directory and file rules in rule_check_files.cc.

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "OrvexInspect/rule_check.h"
#include "regfile/registry_document.h"
#include "rules/migration_rules.h"
#include "transforms/registry/value_rules.h"

namespace orvex {

struct Site {
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

/// A rule element: where its '<' stands and where each of its attributes does.
struct RuleSite {
  Site site;
  std::vector<std::pair<std::u16string, Site>> attributes;  // names as written

  bool Has(std::u16string_view name) const {
    return std::any_of(attributes.begin(), attributes.end(),
                       [&](const auto& attribute) { return attribute.first == name; });
  }
  /// Where attribute `name` stands, or the element when it has none of that name.
  Site At(std::u16string_view name) const {
    for (const auto& [attribute, where] : attributes) {
      if (attribute == name) return where;
    }
    return site;
  }
};

/// Reports the findings about one rule at a time into a shared list.
class FindingSink {
 public:
  explicit FindingSink(std::vector<RuleFinding>* findings) : findings_(*findings) {}

  void Begin(const RuleSite& site) {
    rule_ = &site;
    failed_ = false;
  }

  /// At the attribute named (the element when it is empty or not there).
  void Error(std::u16string_view code, std::u16string_view attribute, std::u16string message) {
    Add(rule_->At(attribute), true, code, std::move(message));
    failed_ = true;
  }
  void Warn(std::u16string_view code, std::u16string_view attribute, std::u16string message) {
    Add(rule_->At(attribute), false, code, std::move(message));
  }
  void WarnAt(Site site, std::u16string_view code, std::u16string message) {
    Add(site, false, code, std::move(message));
  }

  const RuleSite& rule() const { return *rule_; }
  Site site() const { return rule_->site; }
  bool failed() const { return failed_; }

 private:
  void Add(Site site, bool error, std::u16string_view code, std::u16string message) {
    findings_.push_back({site.line, site.column, error, code, std::move(message)});
  }

  std::vector<RuleFinding>& findings_;
  const RuleSite* rule_ = nullptr;
  bool failed_ = false;
};

/// A part of the registry or of the tree that an earlier rule removed.
struct Gone {
  std::u16string path;   // normalized key path or resolved file path
  std::u16string shown;  // as the removing rule wrote it
  Site site;
  std::u16string_view how;  // "deleted", "renamed", "moved"
};

/// What earlier rules removed, for keys or for files: a path is gone when it lies at or below a
/// removed one, until something is written at or below it again.
class Removals {
 public:
  using AtOrBelow = bool (*)(std::u16string_view path, std::u16string_view root);
  explicit Removals(AtOrBelow at_or_below) : at_or_below_(at_or_below) {}

  void Add(Gone gone) { gone_.push_back(std::move(gone)); }
  /// The latest removal of `path` or of a part above it, or null.
  const Gone* Find(std::u16string_view path) const {
    for (auto it = gone_.rbegin(); it != gone_.rend(); ++it) {
      if (at_or_below_(path, it->path)) return &*it;
    }
    return nullptr;
  }
  /// Something is written at or below `path`, so the removed parts above it exist again.
  void Revive(std::u16string_view path) {
    std::erase_if(gone_, [&](const Gone& gone) { return at_or_below_(path, gone.path); });
  }

 private:
  AtOrBelow at_or_below_;
  std::vector<Gone> gone_;
};

/// The key and value rules, judged in document order against what earlier rules did.
class RegistryRuleChecker {
 public:
  explicit RegistryRuleChecker(FindingSink* sink) : sink_(*sink) {}
  void CheckKey(const KeyRule& rule);
  void CheckValue(const ValueRule& rule);

 private:
  struct ValueMark {
    std::u16string key;
    Site site;
    std::u16string_view how;
    std::uint32_t type = REG_NONE;  ///< a set's
  };
  /// A rename of a key or a value, by the collation keys of its two names.
  struct Rename {
    std::string from;
    std::string to;
    Site site;
  };

  std::optional<std::u16string> KeyPath(std::u16string_view attribute,
                                        const std::u16string& written);
  void ForgetValuesBelow(std::u16string_view path);
  // Each reports at the attribute that names the key or the value.
  bool KeyFindsNothing(std::u16string_view attribute, std::u16string_view action,
                       const std::u16string& path);
  bool ValueFindsNothing(std::u16string_view attribute, std::u16string_view action,
                         std::u16string_view key, std::u16string_view name);
  void RemoveKeys(const std::u16string& path, std::u16string_view how, const std::u16string& shown);
  void CheckTopLevelDelete(const std::u16string& path, const std::u16string& shown);
  void CheckRenamedBack(std::string from, std::string to, std::u16string_view attribute,
                        std::u16string_view shown);
  void CheckDefaultValue(ValueAction action, const ValueRule& rule);
  void CheckSetData(const ValueRule& rule);
  void CheckConvertedNumber(const ValueMark& set, const ValueRule& rule);
  void CheckFlags(const ValueRule& rule, std::u16string* text);

  FindingSink& sink_;
  Removals gone_keys_{IsKeyAtOrBelow};
  std::vector<std::pair<std::u16string, Site>> made_keys_;
  std::unordered_map<std::string, ValueMark> sets_;
  std::unordered_map<std::string, ValueMark> removed_values_;
  std::vector<Rename> renames_;
};

/// The directory and file rules, judged in document order against a stand-in archive directory.
class PathRuleChecker {
 public:
  PathRuleChecker(FindingSink* sink, std::u16string archive_standin);
  void CheckDirectory(const DirectoryRule& rule);
  void CheckFile(const FileRule& rule);

 private:
  // What the checks need to know of a directory or file action.
  struct PathAction {
    std::u16string_view word;
    bool creates;
    bool deletes;
    bool moves;
    bool converts;
  };

  std::optional<std::u16string> RulePath(std::u16string_view attribute,
                                         const std::u16string& written);
  void CheckPlacement(std::u16string_view attribute, const std::u16string& written);
  // `content` is null for a directory rule.
  void Check(const PathAction& action, const std::u16string& source,
             const std::u16string& source_text, const std::u16string& destination_text,
             const std::u16string* content);

  FindingSink& sink_;
  const std::u16string archive_;
  Removals gone_paths_;
  // Where an earlier rule moved, copied or made something.
  struct Placed {
    std::u16string path;
    std::u16string from;  // a move's or copy's source
    std::u16string shown;
    Site site;
    std::u16string_view how;  // "moved to", "copied to", "created"
    bool directory = false;
  };
  void CheckUndone(const PathAction& action, bool file, const std::u16string& source,
                   const std::u16string& source_text,
                   const std::optional<std::u16string>& destination,
                   const std::u16string& destination_text);
  std::vector<Placed> placed_;
};

// --- Words of the messages ----------------------------------------------------------------------

/// `text` in single quotes, as written (registry_diff.cc's QuotedEscaped is the diff's form).
inline std::u16string Quoted(std::u16string_view text) {
  return u"'" + std::u16string(text) + u"'";
}

/// "a, b, c or d".
std::u16string Alternatives(std::span<const std::u16string_view> words);

/// The names of the folder tokens, and the same as Alternatives writes them.
std::vector<std::u16string_view> TokenNames();
std::u16string FolderTokens();

/// An action word that is none of the processor's `words`: the rule stops a run.
void ReportUnknownAction(FindingSink& sink, std::u16string_view element,
                         std::span<const std::u16string_view> words, std::u16string_view action);

/// " (did you mean 'x'?)" when `written` is close to one word of `words`, else nothing.
std::u16string DidYouMean(std::u16string_view written, std::span<const std::u16string_view> words);

std::u16string SiteText(Site site);

/// The text holds something other than white space.
bool HasContent(std::u16string_view text);

/// Plain words written where Base64 is read (`what`: "the file content", "the binary data"):
/// `target` ("the file", "the value") gets other bytes. Reported at the element.
void CheckTextAsBase64(FindingSink& sink, std::u16string_view what, std::u16string_view target,
                       std::u16string_view text);

/// An attribute the action does not read.
void CheckIgnored(FindingSink& sink, std::u16string_view attribute, std::u16string_view action,
                  bool read);

}  // namespace orvex
