// The key and value rules, judged with the processors' own functions: key roots and their
// normalization, key comparison, type words, number conversion, Base64 and the flag steps.

#include "OrvexInspect/registry_diff.h"
#include "OrvexInspect/rule_checkers.h"
#include "paths/folder_tokens.h"
#include "paths/paths.h"
#include "platform/text.h"
#include "regfile/key_order.h"
#include "regfile/path_collation.h"
#include "regfile/reg_reader.h"
#include "regfile/registry_document.h"
#include "reports/report_text.h"
#include "rules/xml_config.h"
#include "text/base64.h"
#include "text/number.h"
#include "transforms/registry/key_rules.h"
#include "transforms/registry/value_rules.h"

namespace orvex {
namespace {

std::string ValueSlot(std::u16string_view key, std::u16string_view name) {
  std::string slot = PathCollationKey(key);
  slot += '\0';
  slot += ToUtf8(name);
  return slot;
}

std::vector<std::u16string_view> RootWords() {
  std::vector<std::u16string_view> words;
  for (const KeyRoot& root : kKeyRoots) words.push_back(root.word);
  return words;
}

// The registry's own names for the types, which rule writers reach for instead of the type words.
constexpr std::pair<std::u16string_view, std::uint32_t> kTypeNames[] = {
    {u"dword", REG_DWORD},       {u"reg_dword", REG_DWORD},       {u"sz", REG_SZ},
    {u"reg_sz", REG_SZ},         {u"expand_sz", REG_EXPAND_SZ},   {u"reg_expand_sz", REG_EXPAND_SZ},
    {u"multi_sz", REG_MULTI_SZ}, {u"reg_multi_sz", REG_MULTI_SZ}, {u"reg_binary", REG_BINARY},
    {u"hex", REG_BINARY},
};

std::u16string TypeSuggestion(std::u16string_view written,
                              std::span<const std::u16string_view> words) {
  for (const auto& [name, type] : kTypeNames) {
    if (!EqualsIgnoreCase(written, name)) continue;
    for (const std::u16string_view word : words) {
      if (RegistryTypeFromWord(word) == type) return u" (did you mean " + Quoted(word) + u"?)";
    }
  }
  return DidYouMean(written, words);
}

std::u16string_view FlawText(KeyPathFlaw flaw) {
  switch (flaw) {
    case KeyPathFlaw::kEmptyName:
      return u"two backslashes in a row";
    case KeyPathFlaw::kFinalBackslash:
      return u"a backslash at its end";
    case KeyPathFlaw::kTrailingBlank:
      return u"a name that ends in a blank";
    case KeyPathFlaw::kSlash:
      return u"a '/' where key paths separate names with '\\'";
    case KeyPathFlaw::kNone:
      break;
  }
  return {};
}

// The variables Windows sets for each user, for the token folders that have one.
constexpr std::pair<int, std::u16string_view> kFolderVariables[] = {
    {platform::CSIDL_APPDATA, u"%APPDATA%"},
    {platform::CSIDL_LOCAL_APPDATA, u"%LOCALAPPDATA%"},
    {platform::CSIDL_PROFILE, u"%USERPROFILE%"},
};

// The expandable text that names for every user what a flag step names for the migrating
// machine's: the text itself when flags 1 already finds variables in it, the token's variable for
// flags 2; empty when there is none.
std::u16string PerUserText(std::int32_t flag, std::u16string_view data) {
  if (flag == 1) return data.find(u'%') == std::u16string_view::npos ? u"" : std::u16string(data);
  const std::size_t end = std::min(data.find_first_of(u"\\/"), data.size());
  const int folder = LookupFolderToken(data.substr(0, end));
  for (const auto& [csidl, variable] : kFolderVariables) {
    if (csidl == folder) return std::u16string(variable) + std::u16string(data.substr(end));
  }
  return {};
}

}  // namespace

bool IsSharedKey(std::u16string_view path) {
  constexpr std::u16string_view kShared[] = {u"Microsoft", u"Classes", u"Policies", u"Wow6432Node"};
  const auto parts = KeyComponents(path);
  return parts.size() == 2 ||
         (parts.size() == 3 && EqualsIgnoreCase(parts[1], u"Software") &&
          std::any_of(std::begin(kShared), std::end(kShared),
                      [&](std::u16string_view name) { return EqualsIgnoreCase(parts[2], name); }));
}

// The key path with its root in full, or an error; a path the processors take as written but
// that names no key of a .reg file is reported too.
std::optional<std::u16string> RegistryRuleChecker::KeyPath(std::u16string_view attribute,
                                                           const std::u16string& written) {
  const std::u16string what = attribute == u"key" ? u"key " : std::u16string(attribute) + u" key ";
  std::u16string path = written;
  if (!NormalizeKeyPath(&path)) {
    const auto roots = RootWords();
    std::u16string_view first = written;
    while (!first.empty() && first.front() == u'\\') first.remove_prefix(1);
    first = first.substr(0, first.find(u'\\'));
    sink_.Error(u"unknown-key-root", attribute,
                what + Quoted(written) + u" does not start with " + Alternatives(roots) +
                    DidYouMean(first, roots));
    return std::nullopt;
  }
  if (const KeyPathFlaw flaw = FindKeyPathFlaw(path); flaw != KeyPathFlaw::kNone) {
    sink_.Warn(u"key-path-finds-nothing", attribute,
               what + Quoted(written) + u" has " + std::u16string(FlawText(flaw)) +
                   u": no .reg file names a key so, and the rule will not find the key meant");
  }
  return path;
}

// Forgets the sets and removals of values at or below `path`: a key rule changed them.
void RegistryRuleChecker::ForgetValuesBelow(std::u16string_view path) {
  std::erase_if(sets_, [&](const auto& entry) { return IsKeyAtOrBelow(entry.second.key, path); });
  std::erase_if(removed_values_,
                [&](const auto& entry) { return IsKeyAtOrBelow(entry.second.key, path); });
}

bool RegistryRuleChecker::KeyFindsNothing(std::u16string_view attribute, std::u16string_view action,
                                          const std::u16string& path) {
  const Gone* gone = gone_keys_.Find(path);
  if (gone == nullptr) return false;
  sink_.Warn(u"removed-by-earlier-rule", attribute,
             Quoted(action) + u" of key " + Quoted(path) + u" finds nothing: the rule at " +
                 SiteText(gone->site) + u" " + std::u16string(gone->how) + u" " +
                 Quoted(gone->shown));
  return true;
}

bool RegistryRuleChecker::ValueFindsNothing(std::u16string_view attribute,
                                            std::u16string_view action, std::u16string_view key,
                                            std::u16string_view name) {
  const auto removed = removed_values_.find(ValueSlot(key, name));
  if (removed == removed_values_.end()) return false;
  sink_.Warn(u"removed-by-earlier-rule", attribute,
             Quoted(action) + u" of value " + Quoted(name) + u" of key " + Quoted(key) +
                 u" finds nothing: the rule at " + SiteText(removed->second.site) + u" " +
                 std::u16string(removed->second.how) + u" that value");
  return true;
}

void RegistryRuleChecker::RemoveKeys(const std::u16string& path, std::u16string_view how,
                                     const std::u16string& shown) {
  // Every .reg file of a profile carries its import markers below this key; without them the
  // file is not imported in order.
  if (IsKeyAtOrBelow(kImportMarkerKeyPath, path)) {
    sink_.Warn(u"removes-import-markers", AttributeName(RuleAttribute::kSource),
               u"key " + Quoted(shown) + u" holds the import markers of every .reg file (" +
                   std::u16string(kImportMarkerKeyPath) + u"); " + std::u16string(how) +
                   u" with it, they are no longer written");
  }
  gone_keys_.Add({path, shown, sink_.site(), how});
  std::erase_if(made_keys_, [&](const auto& made) { return IsKeyAtOrBelow(made.first, path); });
  ForgetValuesBelow(path);
}

// A key right below a root (HKCU\Control Panel), or a key below Software that many programs share,
// holds settings of every user that no application rule should take.
void RegistryRuleChecker::CheckTopLevelDelete(const std::u16string& path,
                                              const std::u16string& shown) {
  if (IsKeyAtOrBelow(kImportMarkerKeyPath, path)) return;  // removes-import-markers says more
  if (IsSharedKey(path)) {
    sink_.Warn(u"deletes-top-level-key", AttributeName(RuleAttribute::kSource),
               u"key " + Quoted(shown) +
                   u" holds the settings of many programs in every profile; delete the "
                   u"application's own key below it");
  }
}

// A rename back to the name an earlier rename took away: together they change nothing, and what
// rules between them did under the other name is lost to the one meant.
void RegistryRuleChecker::CheckRenamedBack(std::string from, std::string to,
                                           std::u16string_view attribute,
                                           std::u16string_view shown) {
  for (const Rename& earlier : renames_) {
    if (earlier.from == to && earlier.to == from) {
      sink_.Warn(u"undone-by-later-rule", attribute,
                 u"the rename back to " + Quoted(shown) + u" undoes the rename at " +
                     SiteText(earlier.site));
      break;
    }
  }
  renames_.push_back({std::move(from), std::move(to), sink_.site()});
}

// A convert keeps the bytes and changes the type: an integer's four bytes read as text are one or
// two odd characters (150 becomes U+0096), never the number's digits.
void RegistryRuleChecker::CheckConvertedNumber(const ValueMark& set, const ValueRule& rule) {
  const std::uint32_t type = RegistryTypeFromWord(rule.type);
  if (set.type != REG_DWORD || (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)) {
    return;
  }
  sink_.Warn(u"convert-reinterprets-data", AttributeName(RuleAttribute::kType),
             u"the integer set at " + SiteText(set.site) +
                 u" becomes text of its four bytes: convert changes only the type (150 becomes "
                 u"the character U+0096), and no rule turns a number into its digits; set the "
                 u"text with type=\"" +
                 std::u16string(rule.type) + u"\" instead");
}

void RegistryRuleChecker::CheckKey(const KeyRule& rule) {
  const auto source = KeyPath(AttributeName(RuleAttribute::kSource), rule.source);
  if (!source) return;
  const auto action = FindAction<KeyAction>(kKeyActions, rule.action);
  if (action == KeyAction::kUnknown)
    return ReportUnknownAction(sink_, u"key", WordsOf(kKeyActions), rule.action);
  const std::u16string_view word = WordOf(kKeyActions, action);
  const bool moves = action == KeyAction::kMoveValue;
  const bool renames = action == KeyAction::kRename;
  std::optional<std::u16string> destination;
  if (moves || renames) {
    destination = KeyPath(AttributeName(RuleAttribute::kDestination), rule.destination);
    if (!destination) return;
  }
  CheckIgnored(sink_, AttributeName(RuleAttribute::kDestination), word, moves || renames);
  CheckIgnored(sink_, u"value", word, moves);
  if (moves && !sink_.rule().Has(u"value")) {
    sink_.Warn(u"default-value-by-mistake", {},
               Quoted(word) + u" without a value attribute moves the default value (@) of " +
                   Quoted(rule.source) + u"; write value=\"\" if that is meant");
  }

  if (action == KeyAction::kCreate) {
    const auto made = std::find_if(made_keys_.begin(), made_keys_.end(), [&](const auto& m) {
      return EqualsIgnoreCase(m.first, *source);
    });
    if (made != made_keys_.end()) {
      sink_.Warn(u"creates-existing-key", AttributeName(RuleAttribute::kSource),
                 u"key " + Quoted(*source) + u" already exists after the rule at " +
                     SiteText(made->second) + u"; this create changes nothing");
    }
    gone_keys_.Revive(*source);
    made_keys_.emplace_back(*source, sink_.site());
    return;
  }
  if (action == KeyAction::kDelete) {
    KeyFindsNothing(AttributeName(RuleAttribute::kSource), word, *source);
    CheckTopLevelDelete(*source, rule.source);
    RemoveKeys(*source, u"deleted", rule.source);
    return;
  }
  if (renames) {
    KeyFindsNothing(AttributeName(RuleAttribute::kSource), word, *source);
    CheckRenamedBack(PathCollationKey(*source), PathCollationKey(*destination),
                     AttributeName(RuleAttribute::kDestination), rule.destination);
    RemoveKeys(*source, u"renamed", rule.source);
    ForgetValuesBelow(*destination);
    gone_keys_.Revive(*destination);
    made_keys_.emplace_back(*destination, sink_.site());
    return;
  }
  if (!KeyFindsNothing(AttributeName(RuleAttribute::kSource), word, *source)) {
    ValueFindsNothing(u"value", word, *source, rule.value);
  }
  sets_.erase(ValueSlot(*source, rule.value));
  sets_.erase(ValueSlot(*destination, rule.value));
  removed_values_.erase(ValueSlot(*destination, rule.value));
  removed_values_[ValueSlot(*source, rule.value)] = {*source, sink_.site(), u"moved"};
  // Where the profile lacks the value the move does nothing, so it makes no key for sure.
  gone_keys_.Revive(*destination);
}

// A value name left out names the key's default value (@): deleting it, or renaming a value to
// it (which leaves two @ entries in the file, of which an import keeps the last), damages the key.
void RegistryRuleChecker::CheckDefaultValue(ValueAction action, const ValueRule& rule) {
  // The attribute the writer meant is most likely the one the reader does not keep.
  std::u16string_view stray;
  for (const auto& [name, site] : sink_.rule().attributes) {
    if (!IsRuleAttribute(RuleKind::Value, name)) {
      stray = name;
      break;
    }
  }
  // A set of the default value is common; a set without source is only suspect beside an
  // attribute that the reader does not keep.
  if (!sink_.rule().Has(AttributeName(RuleAttribute::kSource)) &&
      (action != ValueAction::kSet || !stray.empty())) {
    sink_.Warn(u"default-value-by-mistake", stray,
               Quoted(WordOf(kValueActions, action)) +
                   u" without a source attribute acts on the default value (@) of " +
                   Quoted(rule.key) + u"; write source=\"\" if that is meant");
  }
  if (action == ValueAction::kRename &&
      !sink_.rule().Has(AttributeName(RuleAttribute::kDestination))) {
    sink_.Warn(u"default-value-by-mistake", stray,
               u"'rename' without a destination attribute renames " + Quoted(rule.source) +
                   u" to the default value (@) of " + Quoted(rule.key) +
                   u": a key that has one then holds two, and an import keeps the last; write "
                   u"destination=\"\" if that is meant");
  }
}

void RegistryRuleChecker::CheckValue(const ValueRule& rule) {
  const auto key = KeyPath(u"key", rule.key);
  if (!key) return;
  const auto action = FindAction<ValueAction>(kValueActions, rule.action);
  if (action == ValueAction::kUnknown) {
    return ReportUnknownAction(sink_, u"value", WordsOf(kValueActions), rule.action);
  }
  const std::u16string_view word = WordOf(kValueActions, action);
  const bool sets = action == ValueAction::kSet;
  if (sets) {
    CheckSetData(rule);
    if (sink_.failed()) return;
  } else if (action == ValueAction::kConvert && RegistryTypeFromWord(rule.type) == REG_NONE) {
    const auto words = WordsOf(kValueTypes);
    sink_.Warn(u"unknown-type", AttributeName(RuleAttribute::kType),
               u"conversion to the unknown type " + Quoted(rule.type) +
                   u" sets the type number 0 (REG_NONE)" + TypeSuggestion(rule.type, words));
  }
  CheckDefaultValue(action, rule);
  CheckIgnored(sink_, AttributeName(RuleAttribute::kDestination), word,
               action == ValueAction::kRename);
  CheckIgnored(sink_, AttributeName(RuleAttribute::kFlags), word, sets);
  CheckIgnored(sink_, AttributeName(RuleAttribute::kType), word,
               sets || action == ValueAction::kConvert);
  if (!sets && HasContent(rule.data)) {
    sink_.Warn(u"text-not-read", {}, u"the element's text is not read by " + Quoted(word));
  }

  const std::string slot = ValueSlot(*key, rule.source);
  if (sets) {
    const auto earlier = sets_.find(slot);
    if (earlier != sets_.end()) {
      sink_.WarnAt(earlier->second.site, u"undone-by-later-rule",
                   u"value " + Quoted(rule.source) + u" of key " + Quoted(earlier->second.key) +
                       u" is set again at " + SiteText(sink_.site()) +
                       u" before anything reads it; this set has no effect");
    }
    sets_[slot] = {*key, sink_.site(), ActionWord(ValueAction::kSet),
                   RegistryTypeFromWord(rule.type)};
    removed_values_.erase(slot);
    gone_keys_.Revive(*key);
    made_keys_.emplace_back(*key, sink_.site());
    return;
  }
  if (!KeyFindsNothing(u"key", word, *key))
    ValueFindsNothing(AttributeName(RuleAttribute::kSource), word, *key, rule.source);
  if (const auto set = sets_.find(slot); set != sets_.end() && action == ValueAction::kDelete) {
    sink_.WarnAt(set->second.site, u"undone-by-later-rule",
                 u"value " + Quoted(rule.source) + u" of key " + Quoted(set->second.key) +
                     u" is deleted at " + SiteText(sink_.site()) +
                     u" before anything reads it; this set has no effect");
  }
  if (const auto set = sets_.find(slot); set != sets_.end() && action == ValueAction::kConvert) {
    CheckConvertedNumber(set->second, rule);
  }
  sets_.erase(slot);
  if (action == ValueAction::kDelete) removed_values_[slot] = {*key, sink_.site(), u"deleted"};
  if (action == ValueAction::kRename) {
    CheckRenamedBack(slot, ValueSlot(*key, rule.destination),
                     AttributeName(RuleAttribute::kDestination), rule.destination);
    removed_values_[slot] = {*key, sink_.site(), u"renamed"};
    sets_.erase(ValueSlot(*key, rule.destination));
    removed_values_.erase(ValueSlot(*key, rule.destination));
  }
}

// The flag step, as the processor takes it: the text becomes what it would be on this machine.
void RegistryRuleChecker::CheckFlags(const ValueRule& rule, std::u16string* text) {
  std::int32_t flag = 0;
  if (FAILED(TextToInt32(rule.flags, &flag))) {
    return sink_.Warn(
        u"unknown-flags", AttributeName(RuleAttribute::kFlags),
        u"flags " + Quoted(rule.flags) + u" is not a number; the data is stored as written");
  }
  if (flag != 1 && flag != 2) {
    return sink_.Warn(
        u"unknown-flags", AttributeName(RuleAttribute::kFlags),
        u"flags " + Quoted(rule.flags) + u" is neither 1 nor 2; the data is stored as written");
  }
  if (flag == 1) {
    if (text->size() >= 2 && (*text)[1] == u':' &&
        (((*text)[0] >= u'A' && (*text)[0] <= u'Z') ||
         ((*text)[0] >= u'a' && (*text)[0] <= u'z'))) {
      sink_.Warn(u"drive-letter-path", AttributeName(RuleAttribute::kFlags),
                 u"flags 1 makes " + Quoted(*text) +
                     u" a full path, but Linux has no drive letters: there it lands below the "
                     u"current directory");
    }
    const HRESULT hr = ResolveFullPath(text, {}, nullptr, true);
    if (FAILED(hr)) {
      return sink_.Error(u"unresolvable-path", AttributeName(RuleAttribute::kFlags),
                         u"flags 1 cannot make " + Quoted(rule.data) + u" a full path (error " +
                             DecimalText(static_cast<std::uint32_t>(LowWord(hr))) + u")");
    }
  } else if (FAILED(ExpandFolderToken(text))) {
    return sink_.Error(u"not-token-path", AttributeName(RuleAttribute::kFlags),
                       u"flags 2 needs data that starts with a folder token (" + FolderTokens() +
                           u"): " + Quoted(rule.data));
  }
  // The path is made once, on the machine that migrates, and lands in every profile alike.
  const std::u16string per_user = PerUserText(flag, rule.data);
  sink_.Warn(u"machine-path", AttributeName(RuleAttribute::kFlags),
             u"flags " + DecimalText(static_cast<std::uint32_t>(flag)) +
                 u" writes the migrating machine's path into every profile (" + Quoted(rule.data) +
                 u" becomes " + Quoted(*text) +
                 u" here); where the value should follow each user, "
                 u"write " +
                 (per_user.empty() ? u"text such as '%APPDATA%\\...'" : Quoted(per_user)) +
                 u" with type=\"expandable\" and no flags");
}

// The data a set builds, judged in the order the processor builds it.
void RegistryRuleChecker::CheckSetData(const ValueRule& rule) {
  std::u16string text = rule.data;
  if (!rule.flags.empty()) {
    CheckFlags(rule, &text);
    if (sink_.failed()) return;
  }
  const std::uint32_t type = RegistryTypeFromWord(rule.type);
  if (type == REG_NONE) {
    const auto words = WordsOf(kValueTypes);
    return sink_.Error(u"unknown-type", AttributeName(RuleAttribute::kType),
                       u"unknown value type " + Quoted(rule.type) + u"; expected " +
                           Alternatives(words) + TypeSuggestion(rule.type, words));
  }
  if (type == REG_DWORD) {
    std::uint32_t number = 0;
    if (FAILED(TextToUInt32(text, &number))) {
      sink_.Error(u"not-an-integer", {}, Quoted(text) + u" is not an integer from 0 to 4294967295");
    }
    return;
  }
  if (type == REG_BINARY) {
    CheckTextAsBase64(sink_, u"the binary data", u"the value", text);
    std::uint32_t size = 0;
    const std::uint32_t answer =
        DecodeBase64(text.data(), static_cast<std::uint32_t>(text.size()), nullptr, &size);
    if (answer == ERROR_INVALID_PARAMETER) {
      return sink_.Error(u"empty-binary", {}, u"the binary data is empty");
    }
    if (answer != ERROR_INSUFFICIENT_BUFFER) {
      return sink_.Error(u"not-base64", {}, u"the binary data is not Base64");
    }
    if (size > kMaxHexBytes) {
      sink_.Warn(u"value-too-large", {},
                 u"the binary data decodes to " + DecimalText(size) +
                     u" bytes; a .reg file with more than " + DecimalText(kMaxHexBytes) +
                     u" bytes in one value cannot be read again");
    }
    return;
  }
  if (text.size() > kMaxStringUnits) {
    sink_.Warn(u"value-too-large", {},
               u"the data has " + DecimalText(text.size()) +
                   u" characters; a .reg file with more than " + DecimalText(kMaxStringUnits) +
                   u" in one value cannot be read again");
  }
  const std::size_t last_break = text.rfind(u'\n');
  if (!text.empty() && text.front() == u'\n' &&
      std::all_of(text.begin() + static_cast<std::ptrdiff_t>(last_break) + 1, text.end(),
                  [](char16_t c) { return c == u' ' || c == u'\t'; })) {
    sink_.Warn(u"indented-data", {},
               type == REG_MULTI_SZ
                   ? u"the data stands on lines of its own: the indentation becomes part of "
                     u"each string"
                   : u"the data stands on lines of its own: the line breaks and the indentation "
                     u"become part of the value");
  }
}

}  // namespace orvex
