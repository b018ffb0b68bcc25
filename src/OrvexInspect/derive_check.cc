// Derived rules tried on other users' profiles. A rule that carries the example's data gives every
// profile the example's value or file; where a profile held one of its own the rule replaces the
// user's setting, unless the profile held what the example held there (the change the example
// shows). What a profile would hold there without the example's data is what the migration's own
// run of the other rules leaves (rule_run.h): the rules before a value set or a file create may
// have moved the user's value or file to where it writes.

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "OrvexInspect/derive.h"
#include "OrvexInspect/registry_describe.h"
#include "OrvexInspect/registry_diff.h"
#include "OrvexInspect/rule_check.h"
#include "OrvexInspect/rule_run.h"
#include "platform/text.h"
#include "regfile/path_collation.h"
#include "reports/report_text.h"

namespace orvex {
namespace {

// What the lines name of each finding: the first few profiles.
constexpr std::size_t kShown = 3;

// What a rule that carries data wrote over in one profile: a value of one .reg file, or a file.
struct Replacement {
  std::u16string reg_file;  // empty for a file
  RegistryValueEntry old_value;
  std::uint64_t old_size = 0;  // a file's
  std::uint64_t old_hash = 0;
  std::u16string old_text;
  std::u16string new_text;

  bool SameOld(const Replacement& other) const {
    return EqualsIgnoreCase(reg_file, other.reg_file) && old_value == other.old_value &&
           old_size == other.old_size && old_hash == other.old_hash;
  }
};

// The value that a set of `name` in the key `key` (a normalized path) writes over: the first of
// that name, as the processor finds it.
const RegistryValueRef* ValueAt(const Profile& profile, std::u16string_view reg_file,
                                std::u16string_view key, std::u16string_view name) {
  for (const ProfileRegFile& file : profile.reg_files) {
    if (!EqualsIgnoreCase(file.name, reg_file)) continue;
    const int found = file.document.FindKey(key);
    if (found < 0) return nullptr;
    const RegistryValueList& values = file.document.KeyAt(found).values();
    const int value = values.FindValue(name);
    return value < 0 ? nullptr : &values[value].value;
  }
  return nullptr;
}

// What each rule that carries data wrote over, by rule: where the profile after all the rules
// (`with`) holds another value or other bytes than after the rules without those (`without`).
HRESULT FindReplacements(const RuleRun& with, const RuleRun& without,
                         std::span<const MigrationRule> rules,
                         std::vector<std::vector<Replacement>>* found) {
  found->assign(rules.size(), {});
  if (!with.after_read || !without.after_read) return S_OK;
  for (std::size_t r = 0; r < rules.size(); ++r) {
    const MigrationRule& rule = rules[r];
    if (!CarriesExampleData(rule)) continue;
    if (rule.kind == RuleKind::File) {
      const std::u16string name = TreeName(rule.file.source);
      const auto old_file = without.after.tree.find(name);
      const auto new_file = with.after.tree.find(name);
      if (old_file == without.after.tree.end() || old_file->second.directory ||
          new_file == with.after.tree.end() || new_file->second.directory) {
        continue;
      }
      bool same = false;
      RETURN_IF_FAILED(SameContent(old_file->second.full_path, new_file->second.full_path, &same));
      if (same) continue;
      Replacement replaced{{}, {}, old_file->second.size, 0, {}, {}};
      RETURN_IF_FAILED(HashFileContent(old_file->second.full_path, &replaced.old_hash));
      replaced.old_text = CountText(replaced.old_size, u"byte", u"bytes") + u" of its own";
      replaced.new_text = CountText(new_file->second.size, u"byte", u"bytes");
      (*found)[r].push_back(std::move(replaced));
      continue;
    }
    std::u16string key = rule.value.key;
    if (!NormalizeKeyPath(&key)) continue;
    for (const ProfileRegFile& file : with.after.reg_files) {
      const RegistryValueRef* old_value = ValueAt(without.after, file.name, key, rule.value.source);
      const RegistryValueRef* new_value = ValueAt(with.after, file.name, key, rule.value.source);
      if (old_value == nullptr || new_value == nullptr || *old_value == *new_value) continue;
      (*found)[r].push_back({file.name, old_value->ToEntry(), 0, 0, DescribeValue(*old_value).head,
                             DescribeValue(*new_value).head});
    }
  }
  return S_OK;
}

// --- What a run loses
//
// A value, key, file or folder the profile held before the rules is lost when the profile after
// them holds it neither where it was (the same bytes; a convert keeps them) nor elsewhere (moved
// or renamed: a value's bytes, a key's name, a file's or folder's identity). Losses are named by
// where they were, so that one profile's can be matched with the example's.

struct Loss {
  std::string place;    // what identifies it across profiles: .reg file, key and name, or path
  std::u16string text;  // "value \"A\" of key 'K'", "key 'K'", "file 'Desktop\\a.txt'"
  bool overwritten = false;
  RegistryValueEntry old_value;  // a value's
};

// The value each name of a key stands for, as an import keeps it: the last of the name.
std::map<std::u16string_view, const RegistryValueRef*> ImportedValues(const KeyView* key) {
  std::map<std::u16string_view, const RegistryValueRef*> values;
  if (key == nullptr) return values;
  for (const RegistryValuePair* pair : key->values) values[pair->name] = &pair->value;
  return values;
}

std::string ValuePlace(std::u16string_view reg_file, std::string_view key,
                       std::u16string_view name) {
  return "v" + CollationKey(reg_file) + '\x1F' + std::string(key) + '\x1F' + ToUtf8(name);
}
std::string KeyPlace(std::u16string_view reg_file, std::string_view key) {
  return "k" + CollationKey(reg_file) + '\x1F' + std::string(key);
}
std::string TreePlace(std::u16string_view path) { return "f" + ToUtf8(path); }

void AddValueLosses(std::u16string_view reg_file, const RegistryDocument& before,
                    const RegistryDocument* after, std::vector<Loss>* losses) {
  const DocumentIndex old_index(before);
  const RegistryDocument empty;
  const DocumentIndex new_index(after == nullptr ? empty : *after);
  // The bytes of values that stand where the profile before held no such value: where values
  // moved or were renamed to.
  std::multiset<std::vector<std::uint8_t>> arrived;
  for (const KeyView& key : new_index.keys()) {
    const auto old_values = ImportedValues(old_index.Find(key.collation_key));
    for (const auto& [name, value] : ImportedValues(&key)) {
      const auto old = old_values.find(name);
      if (old == old_values.end() || !std::ranges::equal(old->second->data, value->data)) {
        arrived.emplace(value->data.begin(), value->data.end());
      }
    }
  }
  for (const KeyView& key : old_index.keys()) {
    const auto new_values = ImportedValues(new_index.Find(key.collation_key));
    for (const auto& [name, value] : ImportedValues(&key)) {
      const auto now = new_values.find(name);
      if (now != new_values.end() && std::ranges::equal(now->second->data, value->data)) continue;
      const auto went =
          arrived.find(std::vector<std::uint8_t>(value->data.begin(), value->data.end()));
      if (went != arrived.end()) {
        arrived.erase(went);
        continue;
      }
      losses->push_back(
          {ValuePlace(reg_file, key.collation_key, name),
           u"value " + ValueNameText(name) + u" of key '" + std::u16string(key.path) + u"'",
           now != new_values.end(), value->ToEntry()});
    }
  }
  // An empty key gone, unless a key of its name turned up elsewhere (a tree renamed).
  std::set<std::string> arrived_names;
  for (const KeyView& key : new_index.keys()) {
    if (old_index.Find(key.collation_key) == nullptr) {
      arrived_names.insert(PathCollationKey(KeyComponents(key.path).back()));
    }
  }
  for (const KeyView& key : old_index.keys()) {
    if (!key.values.empty() || new_index.Find(key.collation_key) != nullptr ||
        arrived_names.contains(PathCollationKey(KeyComponents(key.path).back()))) {
      continue;
    }
    losses->push_back({KeyPlace(reg_file, key.collation_key),
                       u"key '" + std::u16string(key.path) + u"'",
                       false,
                       {}});
  }
}

// Whether two entries are the same file or folder unchanged: its identity, and for a file its size
// and last write (a folder's change with what is put into it).
bool SameState(const TreeEntry& a, const TreeEntry& b) {
  return a.directory == b.directory && a.state && b.state &&
         a.state->identity == b.state->identity &&
         (a.directory ||
          (a.state->size == b.state->size && a.state->last_write_time == b.state->last_write_time));
}

// The files and folders lost. A folder is lost only with everything in it; one that lost part of
// what it held is none, its lost files are.
void AddTreeLosses(const FileTree& before, const FileTree& after, std::vector<Loss>* losses) {
  std::set<std::u16string> lost;
  std::set<std::u16string> overwritten;
  for (const auto& [path, entry] : before) {
    const auto now = after.find(path);
    const bool there = now != after.end() && now->second.directory == entry.directory;
    if (there && (entry.directory || SameState(entry, now->second))) continue;
    if (!there && std::any_of(after.begin(), after.end(),
                              [&](const auto& other) { return SameState(entry, other.second); })) {
      continue;  // moved
    }
    lost.insert(path);
    if (there) overwritten.insert(path);
  }
  std::set<std::u16string> whole;
  for (const std::u16string& path : lost) {
    if (!before.at(path).directory) continue;
    const std::u16string prefix = path + u'/';
    bool all = true;
    for (auto it = before.upper_bound(path); it != before.end() && it->first.starts_with(prefix);
         ++it) {
      all = all && lost.contains(it->first);
    }
    if (all) whole.insert(path);
  }
  for (const std::u16string& path : lost) {
    const bool directory = before.at(path).directory;
    if (directory && !whole.contains(path)) continue;
    const auto next = before.upper_bound(path);
    const bool holds = next != before.end() && next->first.starts_with(path + u'/');
    losses->push_back({TreePlace(path),
                       std::u16string(directory ? u"folder '" : u"file '") + RulePath(path) + u"'" +
                           (holds ? u" with everything in it" : u""),
                       overwritten.contains(path),
                       {}});
  }
}

// Every loss of a run whose passes succeeded; a folder comes before what it held.
std::vector<Loss> LossesOf(const RuleRun& run) {
  std::vector<Loss> losses;
  if (!run.after_read) return losses;
  for (const ProfileRegFile& file : run.before.reg_files) {
    const RegistryDocument* after = nullptr;
    for (const ProfileRegFile& other : run.after.reg_files) {
      if (EqualsIgnoreCase(other.name, file.name)) after = &other.document;
    }
    AddValueLosses(file.name, file.document, after, &losses);
  }
  AddTreeLosses(run.before.tree, run.after.tree, &losses);
  return losses;
}

// The places a profile holds: its values and its tree's entries, as Loss names them.
std::set<std::string> PlacesOf(const Profile& profile) {
  std::set<std::string> places;
  for (const ProfileRegFile& file : profile.reg_files) {
    const DocumentIndex index(file.document);
    for (const KeyView& key : index.keys()) {
      places.insert(KeyPlace(file.name, key.collation_key));
      for (const RegistryValuePair* pair : key.values) {
        places.insert(ValuePlace(file.name, key.collation_key, pair->name));
      }
    }
  }
  for (const auto& [path, entry] : profile.tree) places.insert(TreePlace(path));
  return places;
}

// Whether a rule that carries data writes at the place (its overwrites are named by rule).
bool WrittenByDataRule(const Loss& loss, std::span<const MigrationRule> rules) {
  return std::any_of(rules.begin(), rules.end(), [&](const MigrationRule& rule) {
    if (!CarriesExampleData(rule)) return false;
    if (rule.kind == RuleKind::File) return loss.place == TreePlace(TreeName(rule.file.source));
    std::u16string key = rule.value.key;
    return NormalizeKeyPath(&key) && loss.place.ends_with('\x1F' + PathCollationKey(key) + '\x1F' +
                                                          ToUtf8(rule.value.source));
  });
}

// The rules on `archive`, with and without those that carry data, and what those wrote over.
HRESULT RunBoth(std::u16string_view archive, const MigrationRules& rules,
                const MigrationRules& without_data, std::span<const MigrationRule> list,
                RuleRun* with, std::vector<std::vector<Replacement>>* found) {
  RETURN_IF_FAILED(RunRulesOnProfile(archive, rules, with));
  RuleRun without;
  if (!with->unreadable) RETURN_IF_FAILED(RunRulesOnProfile(archive, without_data, &without));
  return FindReplacements(*with, without, list, found);
}

// Profiles that share one outcome of a rule, and what the line names of the first ones.
struct Tally {
  std::size_t profiles = 0;
  std::vector<std::u16string> shown;
  bool more = false;

  void Add(std::u16string text) {
    if (shown.size() < kShown) {
      shown.push_back(std::move(text));
    } else {
      more = true;
    }
  }
  // " in 1 of 2 profiles<where>a.zip, ..."
  std::u16string Text(std::size_t of, std::u16string_view where) const {
    std::u16string text = u" in " + DecimalText(profiles) + u" of " + DecimalText(of) +
                          u" profiles" + std::u16string(where);
    for (std::size_t i = 0; i < shown.size(); ++i) text += (i == 0 ? u"" : u", ") + shown[i];
    return text + (more ? u", ..." : u"");
  }
};

}  // namespace

HRESULT CheckWithProfiles(std::u16string_view example, std::span<const NamedArchive> others,
                          DerivedRules* derived, std::u16string* unreadable) {
  const std::vector<MigrationRule>& list = derived->rules;
  MigrationRules rules;
  MigrationRules without_data;
  for (const MigrationRule& rule : list) {
    if (!rules.Append(rule)) return E_OUTOFMEMORY;
    if (!CarriesExampleData(rule) && !without_data.Append(rule)) return E_OUTOFMEMORY;
  }
  std::vector<std::vector<Replacement>> in_example;
  std::vector<RuleEffect> example_effects;
  std::uint32_t example_exit_code = 0;
  std::map<std::string, Loss> example_losses;
  std::set<std::string> example_places;
  {
    RuleRun run;
    RETURN_IF_FAILED(RunBoth(example, rules, without_data, list, &run, &in_example));
    example_effects = std::move(run.rules);
    example_exit_code = run.exit_code;
    for (Loss& loss : LossesOf(run)) example_losses.emplace(loss.place, std::move(loss));
    example_places = PlacesOf(run.before);
  }
  // Losses that the example does not show, by their line, in the order first met.
  std::vector<std::pair<std::u16string, Tally>> lost;

  std::vector<Tally> replaced(list.size());
  std::vector<std::u16string> new_texts(list.size());
  std::vector<Tally> failed(list.size());
  std::vector<std::u16string> stops;
  for (const NamedArchive& other : others) {
    RuleRun run;
    std::vector<std::vector<Replacement>> found;
    RETURN_IF_FAILED(RunBoth(other.path, rules, without_data, list, &run, &found));
    if (run.unreadable) {
      *unreadable = u"'" + other.name + u"': " + run.failure;
      return S_OK;
    }
    if (run.exit_code != 0 && example_exit_code == 0) {
      stops.push_back(other.name + u": exit code " + DecimalText(run.exit_code) + u", " +
                      run.failure);
    }
    std::set<std::u16string> named;    // once per profile
    std::vector<std::string> folders;  // lost whole here and not so in the example
    for (const Loss& loss : LossesOf(run)) {
      // What lies in such a folder is named with it.
      if (std::any_of(folders.begin(), folders.end(), [&](const std::string& folder) {
            return loss.place.starts_with(folder + '/');
          })) {
        continue;
      }
      if (loss.overwritten && WrittenByDataRule(loss, list)) continue;
      const auto known = example_losses.find(loss.place);
      std::u16string line = (loss.overwritten ? u"overwrites " : u"deletes ") + loss.text;
      if (known == example_losses.end()) {
        line += example_places.contains(loss.place) ? u", which the example kept"
                                                    : u", which the example did not have";
      } else if (loss.overwritten && known->second.overwritten &&
                 !(loss.old_value == known->second.old_value) && loss.place.starts_with('v')) {
        line += u", which held other data in the example";
      } else {
        continue;
      }
      if (!named.insert(line).second) continue;
      if (loss.text.starts_with(u"folder")) folders.push_back(loss.place);
      auto it = std::find_if(lost.begin(), lost.end(),
                             [&](const auto& entry) { return entry.first == line; });
      if (it == lost.end()) it = lost.insert(lost.end(), {line, Tally{}});
      ++it->second.profiles;
      it->second.Add(other.name);
    }
    for (std::size_t r = 0; r < list.size(); ++r) {
      const bool failed_in_example = r < example_effects.size() && example_effects[r].failed != 0;
      if (r < run.rules.size() && run.rules[r].failed != 0 && !failed_in_example) {
        ++failed[r].profiles;
        failed[r].Add(other.name);
      }
      bool counted = false;
      for (Replacement& replacement : found[r]) {
        if (std::any_of(in_example[r].begin(), in_example[r].end(),
                        [&](const Replacement& known) { return known.SameOld(replacement); })) {
          continue;
        }
        if (!counted) ++replaced[r].profiles;
        counted = true;
        new_texts[r] = std::move(replacement.new_text);
        replaced[r].Add(replacement.old_text + u" (" + other.name + u")");
      }
    }
  }

  for (std::size_t r = 0; r < list.size(); ++r) {
    const MigrationRule& rule = list[r];
    if (replaced[r].profiles != 0) {
      derived->elsewhere.push_back(
          rule.kind == RuleKind::File
              ? u"creates file '" + rule.file.source + u"' (" + new_texts[r] + u")" +
                    replaced[r].Text(others.size(), u" where it held ")
              : u"sets value " + ValueNameText(rule.value.source) + u" of key '" + rule.value.key +
                    u"' to " + new_texts[r] + replaced[r].Text(others.size(), u" where it was "));
    }
    if (failed[r].profiles != 0) {
      derived->elsewhere.push_back(RuleText(rule) + u" fails" +
                                   failed[r].Text(others.size(), u": "));
    }
  }
  for (const auto& [line, tally] : lost) {
    derived->elsewhere.push_back(line + u',' + tally.Text(others.size(), u": "));
  }
  derived->elsewhere.insert(derived->elsewhere.end(), stops.begin(), stops.end());
  return S_OK;
}

}  // namespace orvex
