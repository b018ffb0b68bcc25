#include "OrvexInspect/rule_run.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "OrvexInspect/profile_diff.h"
#include "migration/rule_passes.h"
#include "paths/folder_tokens.h"
#include "platform/files.h"
#include "platform/text.h"
#include "reports/report_text.h"
#include "transforms/files/directory_rules.h"
#include "transforms/files/file_rules.h"
#include "transforms/registry/key_rules.h"
#include "transforms/registry/value_rules.h"

namespace orvex {
namespace {

bool SameLetter(char16_t a, char16_t b) {
  return a == b || EqualsIgnoreCase(std::u16string_view(&a, 1), std::u16string_view(&b, 1));
}

bool SameCharacter(char16_t a, char16_t b) { return a == b; }

// Whether one character inserted, removed or replaced turns `a` into `b`, characters compared
// by `same`.
template <typename Same>
bool OneEditApart(std::u16string_view a, std::u16string_view b, Same same) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1) return false;
  std::size_t i = 0;
  while (i < a.size() && same(a[i], b[i])) ++i;
  if (i == b.size()) return false;  // equal
  const std::size_t skip_a = a.size() == b.size() ? 1 : 0;
  for (std::size_t j = i + skip_a, k = i + 1; k < b.size(); ++j, ++k) {
    if (!same(a[j], b[k])) return false;
  }
  return true;
}

std::vector<std::u16string_view> Components(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = path.find(u'\\', start);
    parts.push_back(path.substr(start, end - start));
    if (end == std::u16string_view::npos) return parts;
    start = end + 1;
  }
}

// Whether `longer` is `shorter` with one more component before its last (letter case aside): a
// vendor's folder left out or put in. A key's parent or child is no slip.
bool OneComponentMore(std::u16string_view longer, std::u16string_view shorter) {
  const std::vector<std::u16string_view> a = Components(longer);
  const std::vector<std::u16string_view> b = Components(shorter);
  if (a.size() != b.size() + 1) return false;
  std::size_t i = 0;
  while (i < b.size() && EqualsIgnoreCase(a[i], b[i])) ++i;
  if (i == b.size()) return false;
  for (std::size_t j = i; j < b.size(); ++j) {
    if (!EqualsIgnoreCase(a[j + 1], b[j])) return false;
  }
  return true;
}

std::u16string_view Root(std::u16string_view path) { return path.substr(0, path.find(u'\\')); }

// A key of `document` that the key `written` (`sought` with its root in full) may have meant:
// one character or one path component apart. Named with the root as the rule writes it.
std::u16string KeyNearMiss(std::u16string_view written, std::u16string_view sought,
                           const RegistryDocument& document) {
  for (const RegistryKeyEntry& key : document.keys()) {
    const std::u16string_view path = key.path();
    if (!OneEditApart(path, sought, SameLetter) && !OneComponentMore(path, sought) &&
        !OneComponentMore(sought, path)) {
      continue;
    }
    std::u16string shown(path);
    if (EqualsIgnoreCase(Root(path), Root(sought))) {
      shown = std::u16string(Root(written)) + std::u16string(path.substr(Root(path).size()));
    }
    return u"key '" + std::u16string(written) + u"' not found; '" + shown + u"' exists";
  }
  return {};
}

// A value of `values` that the value `name` may have meant: the same name in another letter
// case, else one character apart.
std::u16string ValueNearMiss(std::u16string_view name, const RegistryValueList& values) {
  const std::u16string missing = u"'" + std::u16string(name) + u"' not found; '";
  for (const RegistryValuePair& value : values) {
    if (EqualsIgnoreCase(value.name, name)) {
      return missing + std::u16string(value.name) + u"' differs only in letter case";
    }
  }
  for (const RegistryValuePair& value : values) {
    if (OneEditApart(value.name, name, SameCharacter)) {
      return missing + std::u16string(value.name) + u"' exists";
    }
  }
  return {};
}

// What a key or value rule that found nothing in `document` may have meant: a near key when its
// key is missing (`*key_found` false), else a near value name in that key. Creating an existing
// key has none.
std::u16string NearMiss(const MigrationRule& rule, const RegistryDocument& document,
                        bool* key_found) {
  const bool key_rule = rule.kind == RuleKind::Key;
  *key_found = false;
  if (key_rule && FindAction<KeyAction>(kKeyActions, rule.key.action) == KeyAction::kCreate) {
    return {};
  }
  const std::u16string& written = key_rule ? rule.key.source : rule.value.key;
  std::u16string sought = written;
  if (!NormalizeKeyPath(&sought)) return {};
  const int key = document.FindKey(sought);
  if (key < 0) return KeyNearMiss(written, sought, document);
  *key_found = true;
  return ValueNearMiss(key_rule ? rule.key.value : rule.value.source, document.KeyAt(key).values());
}

// A path of the profile's tree that a directory or file rule's missing source may have meant: one
// character apart (letter case aside), or one folder more or less (`AppData\Roaming\Vendor` for
// `AppData\Vendor`). Named as a rule writes it.
std::u16string PathNearMiss(const MigrationRule& rule, const Profile& before) {
  const std::u16string& written =
      rule.kind == RuleKind::Directory ? rule.directory.source : rule.file.source;
  std::u16string sought = written;
  std::replace(sought.begin(), sought.end(), u'/', u'\\');
  for (const auto& [name, entry] : before.tree) {
    std::u16string path = name;
    std::replace(path.begin(), path.end(), u'/', u'\\');
    if (OneEditApart(path, sought, SameLetter) || OneComponentMore(path, sought) ||
        OneComponentMore(sought, path)) {
      return u"'" + written + u"' not found; '" + path + u"' exists";
    }
  }
  return {};
}

void AddOnce(std::vector<std::u16string>* texts, std::u16string text) {
  if (!text.empty() && std::find(texts->begin(), texts->end(), text) == texts->end()) {
    texts->push_back(std::move(text));
  }
}

// Counts what each rule did and gathers its near misses. A near key counts only where no .reg
// file of the profile held the key: a profile keeps an application's keys in one of its files,
// and the others lack them without a slip.
class EffectRecorder final : public RuleObserver {
 public:
  EffectRecorder(const MigrationRules& rules, std::vector<RuleEffect>* effects)
      : rules_(rules),
        effects_(effects),
        near_keys_(static_cast<std::size_t>(rules.Count())),
        key_found_(static_cast<std::size_t>(rules.Count()), false) {
    effects_->assign(static_cast<std::size_t>(rules.Count()), {});
  }

  void RegistryRuleApplied(std::int32_t index, RuleOutcome outcome,
                           const RegistryDocument& document) override {
    RuleEffect& effect = Count(index, outcome);
    // Each .reg file meets the rules from the first: its first rule saw the file as read.
    if (index <= last_registry_rule_) ++reg_file_;
    last_registry_rule_ = index;
    if (outcome == RuleOutcome::kActed && NumberTurnedText(index)) {
      AddOnce(&effect.warnings,
              u"'" + rules_.At(index).value.source +
                  u"' held a number: convert changes only the type, so the number's bytes read "
                  u"as characters; no rule turns a number into its digits");
    }
    NoteTypeBefore(index + 1, document);
    if (outcome != RuleOutcome::kFoundNothing) return;
    const auto rule = static_cast<std::size_t>(index);
    bool key_found = false;
    std::u16string near_miss = NearMiss(rules_.At(index), document, &key_found);
    if (key_found) key_found_[rule] = true;
    AddOnce(key_found ? &effect.near_misses : &near_keys_[rule], std::move(near_miss));
  }
  // A delete or a conversion whose source is missing reports success or a failure; it found
  // nothing, as the other rules say themselves. Whether the source is there is seen before the
  // rule runs: once before the file pass, then after each file rule for the next.
  void FileRuleApplied(std::int32_t index, RuleOutcome outcome) override {
    const auto rule = static_cast<std::size_t>(index);
    if (missing_ == rule) {
      outcome = RuleOutcome::kFoundNothing;
      if (before_ != nullptr) {
        AddOnce(&(*effects_)[rule].near_misses, PathNearMiss(rules_.At(index), *before_));
      }
    }
    Count(index, outcome);
    LookAhead(index + 1);
  }

  // Before the passes: the profile as read, and where its tree is unpacked.
  void Start(std::u16string_view root, const Profile* before) {
    root_ = root;
    before_ = before;
  }
  void StartFilePass() { LookAhead(0); }

  // Once the passes are done.
  void AddNearKeys() {
    for (std::size_t rule = 0; rule < near_keys_.size(); ++rule) {
      if (key_found_[rule]) continue;
      for (std::u16string& text : near_keys_[rule]) {
        AddOnce(&(*effects_)[rule].near_misses, std::move(text));
      }
    }
  }

 private:
  RuleEffect& Count(std::int32_t index, RuleOutcome outcome) {
    RuleEffect& effect = (*effects_)[static_cast<std::size_t>(index)];
    ++(outcome == RuleOutcome::kActed          ? effect.acted
       : outcome == RuleOutcome::kFoundNothing ? effect.found_nothing
                                               : effect.failed);
    return effect;
  }

  // Notes whether the next directory or file rule from `index` on deletes or converts a source
  // that is not there.
  void LookAhead(std::int32_t index) {
    missing_ = kNone;
    for (; index < rules_.Count(); ++index) {
      const MigrationRule& rule = rules_.At(index);
      if (rule.kind != RuleKind::Directory && rule.kind != RuleKind::File) continue;
      const bool directory = rule.kind == RuleKind::Directory;
      const std::u16string& action = directory ? rule.directory.action : rule.file.action;
      const bool acts_on_source =
          directory
              ? FindAction<DirectoryAction>(kDirectoryActions, action) == DirectoryAction::kDelete
              : FindAction<FileAction>(kFileActions, action) == FileAction::kDelete ||
                    FindAction<FileAction>(kFileActions, action) == FileAction::kConvert;
      if (!acts_on_source) return;
      const RebasedPath source =
          RebaseRulePath(directory ? rule.directory.source : rule.file.source, root_);
      platform::FileState state;
      if (source.outcome == RebaseOutcome::kRebased &&
          platform::GetFileState(source.path, &state) != ERROR_SUCCESS) {
        missing_ = static_cast<std::size_t>(index);
      }
      return;
    }
  }

  // The value a convert to a text type acts on, when rule `index` is one.
  const ValueRule* TextConvert(std::int32_t index) const {
    if (index >= rules_.Count() || rules_.At(index).kind != RuleKind::Value) return nullptr;
    const ValueRule& rule = rules_.At(index).value;
    const std::uint32_t type = RegistryTypeFromWord(rule.type);
    const bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    return text && FindAction<ValueAction>(kValueActions, rule.action) == ValueAction::kConvert
               ? &rule
               : nullptr;
  }
  static std::uint32_t TypeIn(const RegistryDocument& document, const ValueRule& rule) {
    std::u16string key = rule.key;
    const int found = NormalizeKeyPath(&key) ? document.FindKey(key) : -1;
    if (found < 0) return REG_NONE;
    const RegistryValueList& values = document.KeyAt(found).values();
    const int value = values.FindValue(rule.source);
    return value < 0 ? REG_NONE : values[value].value.type;
  }
  // Keeps the type that the value of a convert that follows has now.
  void NoteTypeBefore(std::int32_t index, const RegistryDocument& document) {
    while (index < rules_.Count() && rules_.At(index).kind != RuleKind::Key &&
           rules_.At(index).kind != RuleKind::Value) {
      ++index;
    }
    const ValueRule* rule = TextConvert(index);
    type_before_ = rule == nullptr ? REG_NONE : TypeIn(document, *rule);
  }
  // Whether rule `index`, a convert to text, acted on an integer (the first rule of a .reg file
  // on the file as read).
  bool NumberTurnedText(std::int32_t index) {
    const ValueRule* rule = TextConvert(index);
    if (rule == nullptr) return false;
    std::uint32_t type = type_before_;
    if (index == FirstRegistryRule() && before_ != nullptr &&
        reg_file_ <= before_->reg_files.size()) {
      type = TypeIn(before_->reg_files[reg_file_ - 1].document, *rule);
    }
    return type == REG_DWORD || type == REG_QWORD;
  }
  std::int32_t FirstRegistryRule() const {
    for (std::int32_t i = 0; i < rules_.Count(); ++i) {
      const RuleKind kind = rules_.At(i).kind;
      if (kind == RuleKind::Key || kind == RuleKind::Value) return i;
    }
    return rules_.Count();
  }

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::int32_t last_registry_rule_ = std::numeric_limits<std::int32_t>::max();
  std::size_t reg_file_ = 0;              // of the profile, counted from 1
  std::uint32_t type_before_ = REG_NONE;  // of the value the next rule converts
  const MigrationRules& rules_;
  std::vector<RuleEffect>* effects_;
  std::u16string_view root_;
  const Profile* before_ = nullptr;
  std::size_t missing_ = kNone;
  std::vector<std::vector<std::u16string>> near_keys_;
  std::vector<bool> key_found_;
};

// Keeps in `tree` the state each of its files and folders has now.
HRESULT RecordStates(FileTree* tree) {
  for (auto& [name, entry] : *tree) {
    if (const std::uint32_t error =
            platform::GetFileState(entry.full_path, &entry.state.emplace())) {
      return HResultFromWin32(error);
    }
  }
  return S_OK;
}

}  // namespace

HRESULT RunRulesOnProfile(std::u16string_view archive, const MigrationRules& rules, RuleRun* run) {
  RETURN_IF_FAILED(run->workspace.Create());
  std::u16string root;
  std::u16string reason;
  HRESULT hr = run->workspace.Unpack(archive, u"profile", &root, &reason);
  if (FAILED(hr)) {
    run->exit_code = static_cast<std::uint32_t>(LowWord(hr));
    run->unreadable = true;
    run->failure =
        u"cannot unpack the archive" + ErrorText(hr) + (reason.empty() ? u"" : u": ") + reason;
    return S_OK;
  }
  // A .reg file that cannot be read stops the registry pass at the same file, which says so.
  std::u16string failed_path;
  const HRESULT before_read = LoadProfile(root, &run->before, &failed_path, &reason);
  if (SUCCEEDED(before_read)) RETURN_IF_FAILED(RecordStates(&run->before.tree));

  EffectRecorder recorder(rules, &run->rules);
  recorder.Start(root, SUCCEEDED(before_read) ? &run->before : nullptr);
  hr = RunRegistryFilePass(root, rules, &recorder);
  if (SUCCEEDED(hr)) {
    recorder.StartFilePass();
    hr = RunFilePass(root, rules, &recorder);
  }
  recorder.AddNearKeys();
  if (FAILED(hr)) {
    run->exit_code = static_cast<std::uint32_t>(LowWord(hr));
    run->unreadable = FAILED(before_read);
    run->failure = FAILED(before_read) ? u"cannot read '" + failed_path + u"'" + ErrorText(hr)
                                       : u"the rules stop the migration" + ErrorText(hr);
    if (FAILED(before_read) && !reason.empty()) run->failure += u": " + reason;
    return S_OK;
  }
  RETURN_IF_FAILED(before_read);
  RETURN_IF_FAILED(LoadProfile(root, &run->after, &failed_path, &reason));
  RETURN_IF_FAILED(RecordStates(&run->after.tree));
  run->after_read = true;
  return S_OK;
}

bool RunChanges::any() const {
  for (const ChangeCounts* counts : {&summary.keys, &summary.values, &summary.files, &folders}) {
    if (counts->added + counts->removed + counts->changed + counts->moved != 0) return true;
  }
  return false;
}

RunChanges CountChanges(const ProfileComparison& comparison) {
  RunChanges counts;
  counts.summary = Summarize(comparison);
  for (const TreeDifference& difference : comparison.tree) {
    if (!difference.entry->directory) continue;
    ++(difference.kind == TreeDifference::Kind::kAdded     ? counts.folders.added
       : difference.kind == TreeDifference::Kind::kRemoved ? counts.folders.removed
                                                           : counts.folders.moved);
  }
  return counts;
}

}  // namespace orvex
