#include "OrvexInspect/rule_check.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>

#include "OrvexInspect/inspect_text.h"
#include "OrvexInspect/profile.h"
#include "common/base64.h"
#include "common/number.h"
#include "common/path_text.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "regfile/path_collation.h"
#include "regfile/reg_reader.h"
#include "regfile/registry_document.h"
#include "resources/string_table.h"
#include "rules/xml_config.h"
#include "transforms/files/folder_tokens.h"
#include "transforms/files/image_conversion.h"
#include "transforms/files/paths.h"
#include "transforms/registry/value_rules.h"

namespace orvex {

const std::vector<std::u16string_view> kDirectoryActions = {u"copy", u"create", u"delete", u"move"};
const std::vector<std::u16string_view> kFileActions = {u"convert", u"copy", u"create", u"delete",
                                                       u"move"};
const std::vector<std::u16string_view> kKeyActions = {u"create", u"delete", u"move_value",
                                                      u"rename"};
const std::vector<std::u16string_view> kValueActions = {u"convert", u"delete", u"rename", u"set"};

namespace {

constexpr std::uint64_t kMaxRulesFileBytes = 256ull * 1024 * 1024;

// --- Where elements start ------------------------------------------------------------------------

// The rule file's text, for turning the reader's positions into the position of an element's '<'.
// Readers report an element at different places (after its start tag, at its name or at its last
// attribute); the last '<' before any of them is the tag's own, as '<' cannot stand inside a tag.
class SourceText {
 public:
  explicit SourceText(const std::string& bytes) {
    if (bytes.size() >= 2 && (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))) {
      const bool little = bytes[0] == '\xFF';
      for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto low = static_cast<std::uint8_t>(bytes[little ? i : i + 1]);
        const auto high = static_cast<std::uint8_t>(bytes[little ? i + 1 : i]);
        text_ += static_cast<char16_t>(low | high << 8);
      }
    } else {
      text_ = ToUtf16(bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes);
    }
    line_starts_.push_back(0);
    for (std::size_t i = 0; i < text_.size(); ++i) {
      if (text_[i] == u'\n' || (text_[i] == u'\r' && (i + 1 == text_.size() || text_[i + 1] != u'\n'))) {
        line_starts_.push_back(i + 1);
      }
    }
  }

  // The position of the last '<' before the reported one, or the reported one when there is none.
  std::pair<std::uint32_t, std::uint32_t> ElementStart(std::uint32_t line,
                                                       std::uint32_t column) const {
    if (line == 0 || line > line_starts_.size() || text_.empty()) return {line, column};
    std::size_t offset = std::min(line_starts_[line - 1] + (column > 0 ? column - 1 : 0),
                                  text_.size());
    const std::size_t open = text_.rfind(u'<', offset == 0 ? 0 : offset - 1);
    if (open == std::u16string::npos) return {line, column};
    const auto next = std::upper_bound(line_starts_.begin(), line_starts_.end(), open);
    const std::size_t start = *(next - 1);
    return {static_cast<std::uint32_t>(next - line_starts_.begin()),
            static_cast<std::uint32_t>(open - start + 1)};
  }

 private:
  std::u16string text_;
  std::vector<std::size_t> line_starts_;
};

// --- What the reader reported -------------------------------------------------------------------

struct Site {
  std::uint32_t line;
  std::uint32_t column;
};

struct RuleSite {
  Site site;
  std::vector<std::u16string> attributes;  // names, as written
};

// Lets CXmlConfig build the rules and notes where each rule element stands, its attribute names,
// and elements that make no rule though they look like one.
class SiteRecorder final : public CXmlElementHandler {
 public:
  explicit SiteRecorder(const SourceText& text) : text_(text) {}
  ~SiteRecorder() = default;

  void Attach(const XmlReaderContext* context) override {
    context_ = context;
    config_.Attach(context);
  }

  void OnStartElement(std::u16string_view name, std::span<const XmlAttribute> attributes) override {
    const std::int32_t count = config_.rules().Count();
    config_.OnStartElement(name, attributes);
    const Site site = Position();
    if (config_.rules().Count() > count) {
      RuleSite& rule = sites_.emplace_back();
      rule.site = site;
      for (const XmlAttribute& attribute : attributes) rule.attributes.push_back(attribute.name);
      return;
    }
    for (const std::u16string_view element : {u"directory", u"file", u"key", u"value"}) {
      if (name == element) {
        Note(site, u"'" + std::u16string(name) + u"' element without attributes makes no rule");
      } else if (EqualsIgnoreCase(name, element)) {
        Note(site, u"element '" + std::u16string(name) +
                       u"' is not a rule: rule elements are written in lower case ('" +
                       std::u16string(element) + u"')");
      }
    }
  }
  void OnEndElement(std::u16string_view name) override { config_.OnEndElement(name); }
  void OnText(const char16_t* text, std::uint32_t length) override { config_.OnText(text, length); }
  void OnParseError(HRESULT result, std::uint32_t line, std::uint32_t column) override {
    config_.OnParseError(result, line, column);
    std::u16string_view text = LoadStringResource(static_cast<std::uint32_t>(LowWord(result)));
    if (text.empty()) text = u"unspecified error";
    parse_error_ = RuleFinding{line, column, true,
                               u"the XML cannot be read: " + std::u16string(text) +
                                   u"; the migration stops here"};
  }

  const MigrationRules& rules() const { return config_.rules(); }
  const std::vector<RuleSite>& sites() const { return sites_; }
  std::vector<RuleFinding>& notes() { return notes_; }
  const std::optional<RuleFinding>& parse_error() const { return parse_error_; }

 private:
  Site Position() const {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    (void)context_->reader->GetLineNumber(&line);
    (void)context_->reader->GetLinePosition(&column);
    const auto [start_line, start_column] = text_.ElementStart(line, column);
    return {start_line, start_column};
  }
  void Note(Site site, std::u16string message) {
    notes_.push_back({site.line, site.column, false, std::move(message)});
  }

  const SourceText& text_;
  const XmlReaderContext* context_ = nullptr;
  CXmlConfig config_;
  std::vector<RuleSite> sites_;
  std::vector<RuleFinding> notes_;
  std::optional<RuleFinding> parse_error_;
};

// --- Words ----------------------------------------------------------------------------------------

std::u16string Quoted(std::u16string_view text) { return u"'" + std::u16string(text) + u"'"; }

// "a, b, c or d".
std::u16string Alternatives(std::span<const std::u16string_view> words) {
  std::u16string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? u" or " : u", ";
    text += words[i];
  }
  return text;
}

std::u16string FolderTokens() {
  std::vector<std::u16string_view> names;
  for (const platform::ShellFolder& token : FolderTokenTable) names.push_back(token.name);
  return Alternatives(names);
}

std::optional<std::u16string_view> Action(std::span<const std::u16string_view> words,
                                          std::u16string_view action) {
  for (const std::u16string_view word : words) {
    if (EqualsIgnoreCase(action, word)) return word;
  }
  return std::nullopt;
}

std::u16string SiteText(Site site) {
  return DecimalText(site.line) + u':' + DecimalText(site.column);
}

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

bool HasContent(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), [](char16_t c) { return !IsWhiteSpace(c); });
}

// --- The checks -----------------------------------------------------------------------------------

// A part of the registry or of the tree that an earlier rule removed.
struct Gone {
  std::u16string path;  // normalized key path or resolved file path
  std::u16string shown;  // as the removing rule wrote it
  Site site;
  std::u16string_view how;  // "deleted", "renamed", "moved"
};

class RuleChecker {
 public:
  RuleChecker(std::vector<RuleFinding>* findings, std::u16string archive_standin)
      : findings_(*findings), archive_(std::move(archive_standin)) {}

  void Check(const MigrationRule& rule, const RuleSite& site) {
    site_ = site.site;
    failed_ = false;
    switch (rule.kind) {
      case RuleKind::Directory:
        CheckAttributes(site, {u"action", u"destination", u"source"}, u"directory");
        CheckPathRule(rule.directory.action, rule.directory.source, rule.directory.destination,
                      nullptr, site, false);
        break;
      case RuleKind::File:
        CheckAttributes(site, {u"action", u"destination", u"source"}, u"file");
        CheckPathRule(rule.file.action, rule.file.source, rule.file.destination,
                      &rule.file.content, site, true);
        break;
      case RuleKind::Key:
        CheckAttributes(site, {u"action", u"destination", u"source", u"value"}, u"key");
        CheckKey(rule.key, site);
        break;
      case RuleKind::Value:
        CheckAttributes(site, {u"action", u"destination", u"source", u"key", u"flags", u"type"},
                        u"value");
        CheckValue(rule.value, site);
        break;
    }
  }

 private:
  void Error(std::u16string message) {
    findings_.push_back({site_.line, site_.column, true, std::move(message)});
    failed_ = true;
  }
  void Warn(std::u16string message) {
    findings_.push_back({site_.line, site_.column, false, std::move(message)});
  }
  void WarnAt(Site site, std::u16string message) {
    findings_.push_back({site.line, site.column, false, std::move(message)});
  }

  static bool Has(const RuleSite& site, std::u16string_view attribute) {
    return std::find(site.attributes.begin(), site.attributes.end(), attribute) !=
           site.attributes.end();
  }

  void CheckAttributes(const RuleSite& site, std::initializer_list<std::u16string_view> listed,
                       std::u16string_view element) {
    for (const std::u16string& name : site.attributes) {
      if (std::find(listed.begin(), listed.end(), name) == listed.end()) {
        Warn(u"attribute " + Quoted(name) + u" is not read on a '" + std::u16string(element) +
             u"' element");
      }
    }
  }

  // An attribute that the action does not read.
  void CheckIgnored(const RuleSite& site, std::u16string_view attribute, std::u16string_view action,
                    bool read) {
    if (!read && Has(site, attribute)) {
      Warn(std::u16string(attribute) + u" is not read by " + Quoted(action));
    }
  }

  // --- Registry ---

  // The key path with its root in full, or an error.
  std::optional<std::u16string> KeyPath(std::u16string_view what, const std::u16string& written) {
    std::u16string path = written;
    if (NormalizeKeyPath(&path)) return path;
    Error(std::u16string(what) + Quoted(written) +
          u" does not start with HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKCU or HKLM");
    return std::nullopt;
  }

  const Gone* GoneKey(std::u16string_view path) const {
    for (auto it = gone_keys_.rbegin(); it != gone_keys_.rend(); ++it) {
      if (IsKeyAtOrBelow(path, it->path)) return &*it;
    }
    return nullptr;
  }
  // Something is written at or below `path`, so the removed parts above it hold keys again.
  void ReviveKey(std::u16string_view path) {
    std::erase_if(gone_keys_, [&](const Gone& gone) { return IsKeyAtOrBelow(path, gone.path); });
  }
  static std::string ValueSlot(std::u16string_view key, std::u16string_view name) {
    std::string slot = PathCollationKey(key);
    slot += '\0';
    slot += ToUtf8(name);
    return slot;
  }
  // Forgets the sets and removals of values at or below `path`: a key rule changed them.
  void ForgetValuesBelow(std::u16string_view path) {
    std::erase_if(sets_, [&](const auto& entry) { return IsKeyAtOrBelow(entry.second.key, path); });
    std::erase_if(removed_values_,
                  [&](const auto& entry) { return IsKeyAtOrBelow(entry.second.key, path); });
  }
  bool KeyFindsNothing(std::u16string_view action, std::u16string_view path) {
    if (const Gone* gone = GoneKey(path)) {
      Warn(Quoted(action) + u" of key " + Quoted(path) + u" finds nothing: the rule at " +
           SiteText(gone->site) + u" " + std::u16string(gone->how) + u" " + Quoted(gone->shown));
      return true;
    }
    return false;
  }

  void CheckKey(const KeyRule& rule, const RuleSite& site) {
    const auto source = KeyPath(u"source key ", rule.source);
    if (!source) return;
    const auto action = Action(kKeyActions, rule.action);
    if (!action) {
      Error(u"unknown key action " + Quoted(rule.action) + u"; expected " +
            Alternatives(kKeyActions));
      return;
    }
    const bool moves = *action == u"move_value";
    const bool renames = *action == u"rename";
    std::optional<std::u16string> destination;
    if (moves || renames) {
      destination = KeyPath(u"destination key ", rule.destination);
      if (!destination) return;
    }
    CheckIgnored(site, u"destination", *action, moves || renames);
    CheckIgnored(site, u"value", *action, moves);

    if (*action == u"create") {
      const auto made = std::find_if(made_keys_.begin(), made_keys_.end(), [&](const auto& m) {
        return EqualsIgnoreCase(m.first, *source);
      });
      if (made != made_keys_.end()) {
        Warn(u"key " + Quoted(*source) + u" already exists after the rule at " +
             SiteText(made->second) + u"; this create changes nothing");
      }
      ReviveKey(*source);
      made_keys_.emplace_back(*source, site_);
      return;
    }
    if (*action == u"delete") {
      KeyFindsNothing(u"delete", *source);
      RemoveKeys(*source, u"deleted", rule.source);
      return;
    }
    if (renames) {
      KeyFindsNothing(u"rename", *source);
      RemoveKeys(*source, u"renamed", rule.source);
      ForgetValuesBelow(*destination);
      ReviveKey(*destination);
      made_keys_.emplace_back(*destination, site_);
      return;
    }
    if (!KeyFindsNothing(u"move_value", *source)) ValueFindsNothing(u"move_value", *source, rule.value);
    sets_.erase(ValueSlot(*source, rule.value));
    sets_.erase(ValueSlot(*destination, rule.value));
    removed_values_.erase(ValueSlot(*destination, rule.value));
    removed_values_[ValueSlot(*source, rule.value)] = {*source, site_, u"moved"};
    ReviveKey(*destination);
    made_keys_.emplace_back(*destination, site_);
  }

  void RemoveKeys(const std::u16string& path, std::u16string_view how, const std::u16string& shown) {
    gone_keys_.push_back({path, shown, site_, how});
    std::erase_if(made_keys_, [&](const auto& made) { return IsKeyAtOrBelow(made.first, path); });
    ForgetValuesBelow(path);
  }

  struct ValueMark {
    std::u16string key;
    Site site;
    std::u16string_view how;
  };

  bool ValueFindsNothing(std::u16string_view action, std::u16string_view key,
                         std::u16string_view name) {
    const auto removed = removed_values_.find(ValueSlot(key, name));
    if (removed == removed_values_.end()) return false;
    Warn(Quoted(action) + u" of value " + Quoted(name) + u" of key " + Quoted(key) +
         u" finds nothing: the rule at " + SiteText(removed->second.site) + u" " +
         std::u16string(removed->second.how) + u" that value");
    return true;
  }

  void CheckValue(const ValueRule& rule, const RuleSite& site) {
    const auto key = KeyPath(u"key ", rule.key);
    if (!key) return;
    const auto action = Action(kValueActions, rule.action);
    if (!action) {
      Error(u"unknown value action " + Quoted(rule.action) + u"; expected " +
            Alternatives(kValueActions));
      return;
    }
    const bool sets = *action == u"set";
    if (sets) {
      CheckSetData(rule);
      if (failed_) return;
    } else if (*action == u"convert" && RegistryTypeFromWord(rule.type) == REG_NONE) {
      Warn(u"conversion to the unknown type " + Quoted(rule.type) +
           u" sets the type number 0 (REG_NONE)");
    }
    CheckIgnored(site, u"destination", *action, *action == u"rename");
    CheckIgnored(site, u"flags", *action, sets);
    CheckIgnored(site, u"type", *action, sets || *action == u"convert");
    if (!sets && HasContent(rule.data)) Warn(u"the element's text is not read by " + Quoted(*action));

    const std::string slot = ValueSlot(*key, rule.source);
    if (sets) {
      const auto earlier = sets_.find(slot);
      if (earlier != sets_.end()) {
        WarnAt(earlier->second.site, u"value " + Quoted(rule.source) + u" of key " +
                                         Quoted(earlier->second.key) +
                                         u" is set again at " + SiteText(site_) +
                                         u" before anything reads it; this set has no effect");
      }
      sets_[slot] = {*key, site_, u"set"};
      removed_values_.erase(slot);
      ReviveKey(*key);
      made_keys_.emplace_back(*key, site_);
      return;
    }
    if (!KeyFindsNothing(*action, *key)) ValueFindsNothing(*action, *key, rule.source);
    sets_.erase(slot);
    if (*action == u"delete") removed_values_[slot] = {*key, site_, u"deleted"};
    if (*action == u"rename") {
      removed_values_[slot] = {*key, site_, u"renamed"};
      sets_.erase(ValueSlot(*key, rule.destination));
      removed_values_.erase(ValueSlot(*key, rule.destination));
    }
  }

  // The data a set builds, judged in the order the processor builds it.
  void CheckSetData(const ValueRule& rule) {
    std::u16string text = rule.data;
    if (!rule.flags.empty()) {
      std::int32_t flag = 0;
      if (FAILED(TextToInt32(rule.flags, &flag))) {
        Warn(u"flags " + Quoted(rule.flags) + u" is not a number; the data is stored as written");
      } else if (flag == 1) {
        if (text.size() >= 2 && text[1] == u':' &&
            ((text[0] >= u'A' && text[0] <= u'Z') || (text[0] >= u'a' && text[0] <= u'z'))) {
          Warn(u"flags 1 makes " + Quoted(text) +
               u" a full path, but Linux has no drive letters: there it lands below the current "
               u"directory");
        }
        const HRESULT hr = ResolveFullPath(&text, {}, nullptr, true);
        if (FAILED(hr)) {
          return Error(u"flags 1 cannot make " + Quoted(rule.data) + u" a full path (error " +
                       DecimalText(static_cast<std::uint32_t>(LowWord(hr))) + u")");
        }
      } else if (flag == 2) {
        if (FAILED(ExpandFolderToken(&text))) {
          return Error(u"flags 2 needs data that starts with a folder token (" + FolderTokens() +
                       u"): " + Quoted(rule.data));
        }
      } else {
        Warn(u"flags " + Quoted(rule.flags) + u" is neither 1 nor 2; the data is stored as written");
      }
    }
    const std::uint32_t type = RegistryTypeFromWord(rule.type);
    if (type == REG_NONE) {
      return Error(u"unknown value type " + Quoted(rule.type) +
                   u"; expected binary, expandable, integer, multi or string");
    }
    if (type == REG_DWORD) {
      std::uint32_t number = 0;
      if (FAILED(TextToUInt32(text, &number))) {
        Error(Quoted(text) + u" is not an integer from 0 to 4294967295");
      }
      return;
    }
    if (type == REG_BINARY) {
      std::uint32_t size = 0;
      const std::uint32_t answer =
          DecodeBase64(text.data(), static_cast<std::uint32_t>(text.size()), nullptr, &size);
      if (answer == ERROR_INVALID_PARAMETER) return Error(u"the binary data is empty");
      if (answer != ERROR_INSUFFICIENT_BUFFER) return Error(u"the binary data is not Base64");
      if (size > kMaxHexBytes) {
        Warn(u"the binary data decodes to " + DecimalText(size) + u" bytes; a .reg file with more "
             u"than " + DecimalText(kMaxHexBytes) + u" bytes in one value cannot be read again");
      }
      return;
    }
    if (text.size() > kMaxStringUnits) {
      Warn(u"the data has " + DecimalText(text.size()) + u" characters; a .reg file with more than " +
           DecimalText(kMaxStringUnits) + u" in one value cannot be read again");
    }
    const std::size_t last_break = text.rfind(u'\n');
    if (!text.empty() && text.front() == u'\n' &&
        std::all_of(text.begin() + static_cast<std::ptrdiff_t>(last_break) + 1, text.end(),
                    [](char16_t c) { return c == u' ' || c == u'\t'; })) {
      Warn(type == REG_MULTI_SZ
               ? u"the data stands on lines of its own: the indentation becomes part of each string"
               : u"the data stands on lines of its own: the line breaks and the indentation become "
                 u"part of the value");
    }
  }

  // --- Directories and files ---

  // The rule path rebased against a stand-in archive directory, or an error.
  std::optional<std::u16string> RulePath(std::u16string_view what, const std::u16string& written) {
    const RebasedPath rebased = RebaseRulePath(written, archive_);
    switch (rebased.outcome) {
      case RebaseOutcome::kRebased:
        return rebased.path;
      case RebaseOutcome::kNotTokenPath: {
        const auto parts = Components(written);
        for (const platform::ShellFolder& token : FolderTokenTable) {
          if (!parts.empty() && EqualsIgnoreCase(parts[0], token.name)) {
            Error(std::u16string(what) + Quoted(written) +
                  u" does not start with a folder token: tokens are case-sensitive (" +
                  std::u16string(token.name) + u")");
            return std::nullopt;
          }
        }
        Error(std::u16string(what) + Quoted(written) + u" does not start with a folder token (" +
              FolderTokens() + u")");
        return std::nullopt;
      }
      case RebaseOutcome::kResolveFailed:
        Error(std::u16string(what) + Quoted(written) + u" cannot be resolved (error " +
              DecimalText(static_cast<std::uint32_t>(LowWord(rebased.result))) + u")");
        return std::nullopt;
      case RebaseOutcome::kUnfitName:
        // The processor refuses the rule with an ERROR line, and the run goes on.
        Warn(std::u16string(what) + Quoted(written) +
             u" holds a name Windows cannot give a file (" +
             std::u16string(WindowsNameStatusText(rebased.name)) + u"): the rule is refused");
        return std::nullopt;
      case RebaseOutcome::kOutsideFolder:
        Error(std::u16string(what) + Quoted(written) + u" leaves the folder of its token");
        return std::nullopt;
    }
    return std::nullopt;
  }

  const Gone* GonePath(std::u16string_view path) const {
    for (auto it = gone_paths_.rbegin(); it != gone_paths_.rend(); ++it) {
      if (IsPathAtOrBelow(path, it->path)) return &*it;
    }
    return nullptr;
  }
  void RevivePath(std::u16string_view path) {
    std::erase_if(gone_paths_, [&](const Gone& gone) { return IsPathAtOrBelow(path, gone.path); });
  }

  void CheckPathRule(const std::u16string& action_text, const std::u16string& source_text,
                     const std::u16string& destination_text, const std::u16string* content,
                     const RuleSite& site, bool file) {
    const std::u16string_view element = file ? u"file" : u"directory";
    const auto source = RulePath(u"source ", source_text);
    if (!source) return;
    const auto action = Action(file ? kFileActions : kDirectoryActions, action_text);
    if (!action) {
      Error(u"unknown " + std::u16string(element) + u" action " + Quoted(action_text) +
            u"; expected " + Alternatives(file ? kFileActions : kDirectoryActions));
      return;
    }
    const bool creates = *action == u"create";
    const bool deletes = *action == u"delete";
    std::optional<std::u16string> destination;
    if (!creates && !deletes) {
      destination = RulePath(u"destination ", destination_text);
      if (!destination) return;
    }
    if (*action == u"convert" && FindImageConverter(*source, *destination) == nullptr) {
      std::vector<std::u16string> pairs;
      for (const ImageConverterRow& row : ConverterTable) {
        const std::size_t second = row.key.find(u'.', 1);
        pairs.push_back(std::u16string(row.key.substr(0, second)) + u" to " +
                        std::u16string(row.key.substr(second)));
      }
      std::vector<std::u16string_view> words(pairs.begin(), pairs.end());
      Warn(u"no converter turns " + Quoted(source_text) + u" into " + Quoted(destination_text) +
           u"; the converters take " + Alternatives(words));
    }
    if (file && creates) {
      std::u16string_view text = *content;
      while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
      while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
      std::uint32_t size = 0;
      if (!text.empty() &&
          DecodeBase64(text.data(), static_cast<std::uint32_t>(text.size()), nullptr, &size) !=
              ERROR_INSUFFICIENT_BUFFER) {
        return Error(u"the file content is not Base64");
      }
    }
    CheckIgnored(site, u"destination", *action, !creates && !deletes);
    if (file && !creates && HasContent(*content)) {
      Warn(u"the element's text is not read by " + Quoted(*action));
    }

    if (!creates) {
      if (const Gone* gone = GonePath(*source)) {
        Warn(Quoted(*action) + u" of " + Quoted(source_text) + u" finds nothing: the rule at " +
             SiteText(gone->site) + u" " + std::u16string(gone->how) + u" " + Quoted(gone->shown));
      }
    }
    if (deletes || *action == u"move") {
      gone_paths_.push_back({*source, source_text, site_, deletes ? u"deleted" : u"moved"});
    }
    if (creates) RevivePath(*source);
    if (destination) RevivePath(*destination);
  }

  std::vector<RuleFinding>& findings_;
  const std::u16string archive_;
  Site site_{};
  bool failed_ = false;
  std::vector<Gone> gone_keys_;
  std::vector<std::pair<std::u16string, Site>> made_keys_;
  std::unordered_map<std::string, ValueMark> sets_;
  std::unordered_map<std::string, ValueMark> removed_values_;
  std::vector<Gone> gone_paths_;
};

// A directory that every rule path can be rebased against, as the real archive directory will be:
// resolving and containment are text operations, but resolving visits the directory.
HRESULT ArchiveStandIn(std::u16string* directory) {
  if (const std::uint32_t error = platform::GetTempPath(directory)) return HResultFromWin32(error);
  directory->resize(WithoutFinalSeparators(*directory).size());
  return S_OK;
}

}  // namespace

HRESULT CheckMigrationXml(std::u16string_view path, std::vector<RuleFinding>* findings) {
  findings->clear();
  std::string bytes;
  RETURN_IF_FAILED(ReadFileBytes(path, kMaxRulesFileBytes, &bytes));
  const SourceText text(bytes);
  std::u16string archive;
  RETURN_IF_FAILED(ArchiveStandIn(&archive));

  platform::IMalloc* malloc = nullptr;
  std::unique_ptr<platform::IXmlReader> reader;
  RETURN_IF_FAILED(platform::CoGetMalloc(platform::MEMCTX_TASK, &malloc));
  RETURN_IF_FAILED(platform::CreateXmlReader(&reader, malloc));
  SiteRecorder recorder(text);
  const XmlReaderContext context{malloc, reader.get(), &recorder};
  recorder.Attach(&context);
  platform::Stream stream;
  RETURN_IF_FAILED(platform::SHCreateStreamOnFile(path, platform::STGM_READ, &stream));
  (void)ParseXmlStream(context, std::move(stream));

  *findings = std::move(recorder.notes());
  RuleChecker checker(findings, archive);
  for (std::int32_t i = 0; i < recorder.rules().Count(); ++i) {
    checker.Check(recorder.rules().At(i), recorder.sites()[static_cast<std::size_t>(i)]);
  }
  if (recorder.parse_error()) findings->push_back(*recorder.parse_error());
  std::stable_sort(findings->begin(), findings->end(),
                   [](const RuleFinding& a, const RuleFinding& b) {
                     return std::pair(a.line, a.column) < std::pair(b.line, b.column);
                   });
  return S_OK;
}

void AppendFindingsText(std::u16string_view file_name, const std::vector<RuleFinding>& findings,
                        std::u16string* out) {
  for (const RuleFinding& finding : findings) {
    *out += file_name;
    *out += u':' + DecimalText(finding.line) + u':' + DecimalText(finding.column) +
            (finding.error ? u": error: " : u": warning: ") + finding.message + u'\n';
  }
}

void AppendFindingsJson(std::u16string_view file_name, const std::vector<RuleFinding>& findings,
                        std::u16string* out) {
  *out += u'[';
  for (std::size_t i = 0; i < findings.size(); ++i) {
    const RuleFinding& finding = findings[i];
    *out += i == 0 ? u"\n  {\"file\": " : u",\n  {\"file\": ";
    AppendJsonString(out, file_name);
    *out += u", \"line\": " + DecimalText(finding.line) + u", \"column\": " +
            DecimalText(finding.column) + u", \"severity\": ";
    AppendJsonString(out, finding.error ? u"error" : u"warning");
    *out += u", \"message\": ";
    AppendJsonString(out, finding.message);
    *out += u'}';
  }
  *out += findings.empty() ? u"]\n" : u"\n]\n";
}

}  // namespace orvex
