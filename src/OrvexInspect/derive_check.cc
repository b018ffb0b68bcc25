// Derived rules tried on other users' profiles. A rule that carries the example's data gives every
// profile the example's value or file; where a profile held one of its own the rule replaces the
// user's setting, unless the profile held what the example held there (the change the example
// shows). The runs are the migration's own (rule_run.h); what a rule wrote over is read from the
// comparison of each profile before and after the rules, as diff compares them.

#include <algorithm>
#include <utility>

#include "OrvexInspect/derive.h"
#include "OrvexInspect/inspect_text.h"
#include "OrvexInspect/rule_check.h"
#include "OrvexInspect/rule_run.h"
#include "platform/text.h"

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

// The name of a derived file rule's path in a profile's tree.
std::u16string TreeName(std::u16string path) {
  std::replace(path.begin(), path.end(), u'\\', u'/');
  return path;
}

// What each rule that carries data wrote over in `run`, by rule: the values that the comparison of
// its .reg files finds changed under the rule's key and name (a key tree that the rules moved
// pairs up with where it went), and the files that held other bytes.
HRESULT FindReplacements(const RuleRun& run, std::span<const MigrationRule> rules,
                         std::vector<std::vector<Replacement>>* found) {
  found->assign(rules.size(), {});
  ProfileComparison comparison;
  RETURN_IF_FAILED(CompareRegFiles(run, &comparison));
  for (std::size_t r = 0; r < rules.size(); ++r) {
    const MigrationRule& rule = rules[r];
    if (!CarriesExampleData(rule)) continue;
    if (rule.kind == RuleKind::File) {
      const std::u16string name = TreeName(rule.file.source);
      const auto old_hash = run.before_hashes.find(name);
      const auto after = run.after.tree.find(name);
      if (old_hash == run.before_hashes.end() || after == run.after.tree.end() ||
          after->second.directory) {
        continue;
      }
      Replacement replaced{{}, {}, run.before.tree.at(name).size, old_hash->second};
      std::uint64_t new_hash = 0;
      RETURN_IF_FAILED(HashFileContent(after->second.full_path, &new_hash));
      if (replaced.old_size == after->second.size && replaced.old_hash == new_hash) continue;
      replaced.old_text = CountText(replaced.old_size, u"byte", u"bytes") + u" of its own";
      replaced.new_text = CountText(after->second.size, u"byte", u"bytes");
      (*found)[r].push_back(std::move(replaced));
      continue;
    }
    std::u16string key = rule.value.key;
    if (!NormalizeKeyPath(&key)) continue;
    for (const RegFileComparison& file : comparison.reg_files) {
      for (const KeyDifference& difference : file.keys) {
        if (!EqualsIgnoreCase(difference.key->path, key)) continue;
        for (const ValueDifference& value : difference.values) {
          if (value.name != rule.value.source || value.before == nullptr ||
              value.after == nullptr || value.renamed) {
            continue;
          }
          (*found)[r].push_back({file.name, value.before->ToEntry(), 0, 0,
                                 DescribeValue(*value.before).head,
                                 DescribeValue(*value.after).head});
        }
      }
    }
  }
  return S_OK;
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
  std::vector<std::u16string> hashed;  // the files the rules create
  for (const MigrationRule& rule : list) {
    if (!rules.Append(rule)) return E_OUTOFMEMORY;
    if (rule.kind == RuleKind::File && CarriesExampleData(rule)) {
      hashed.push_back(TreeName(rule.file.source));
    }
  }
  std::vector<std::vector<Replacement>> in_example;
  std::vector<RuleEffect> example_effects;
  std::uint32_t example_exit_code = 0;
  {
    RuleRun run;
    RETURN_IF_FAILED(RunRulesOnProfile(example, rules, &run, hashed));
    RETURN_IF_FAILED(FindReplacements(run, list, &in_example));
    example_effects = std::move(run.rules);
    example_exit_code = run.exit_code;
  }

  std::vector<Tally> replaced(list.size());
  std::vector<std::u16string> new_texts(list.size());
  std::vector<Tally> failed(list.size());
  std::vector<std::u16string> stops;
  for (const NamedArchive& other : others) {
    RuleRun run;
    RETURN_IF_FAILED(RunRulesOnProfile(other.path, rules, &run, hashed));
    if (run.unreadable) {
      *unreadable = u"'" + other.name + u"': " + run.failure;
      return S_OK;
    }
    if (run.exit_code != 0 && example_exit_code == 0) {
      stops.push_back(other.name + u": exit code " + DecimalText(run.exit_code) + u", " +
                      run.failure);
    }
    std::vector<std::vector<Replacement>> found;
    RETURN_IF_FAILED(FindReplacements(run, list, &found));
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
  derived->elsewhere.insert(derived->elsewhere.end(), stops.begin(), stops.end());
  return S_OK;
}

}  // namespace orvex
