// The key and value rules of a derived migration.
#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <unordered_map>

#include "OrvexInspect/derive.h"
#include "OrvexInspect/registry_describe.h"
#include "OrvexInspect/registry_diff.h"
#include "OrvexInspect/rule_check.h"
#include "platform/text.h"
#include "regfile/path_collation.h"
#include "reports/report_text.h"
#include "transforms/registry/key_rules.h"
#include "transforms/registry/value_rules.h"

namespace orvex {
namespace {

// How far up from two keys rename voting looks for the keys they hang from, and how many keys of
// one name it follows before the name says too little.
constexpr std::size_t kMaxSuffix = 8;
constexpr std::size_t kMaxBucket = 16;

// How many components two key paths share from their start.
std::size_t SharedComponents(std::u16string_view a, std::u16string_view b) {
  const auto left = KeyComponents(a);
  const auto right = KeyComponents(b);
  std::size_t shared = 0;
  while (shared < left.size() && shared < right.size() &&
         EqualsIgnoreCase(left[shared], right[shared])) {
    ++shared;
  }
  return shared;
}

// How many values of `key` (none when null) are named `name`.
std::size_t ValuesNamed(const KeyView* key, std::u16string_view name) {
  if (key == nullptr) return 0;
  return static_cast<std::size_t>(
      std::count_if(key->values.begin(), key->values.end(),
                    [&](const RegistryValuePair* pair) { return pair->name == name; }));
}

bool Overlaps(std::u16string_view a, std::u16string_view b) {
  return IsKeyAtOrBelow(a, b) || IsKeyAtOrBelow(b, a);
}

// A key path that a rule can carry: a root the rules name, and text that XML carries.
bool IsRulePath(std::u16string_view path) {
  std::u16string normalized(path);
  return NormalizeKeyPath(&normalized) && IsXmlText(path);
}

// --- Keys as a tree
// -------------------------------------------------------------------------------

struct KeyNode {
  std::u16string path;  // components joined by single backslashes, as this document writes them
  std::size_t depth = 0;
  bool has_key = false;
  bool kept = false;          // the other document has the key too
  std::size_t keys = 0;       // keys at or below
  std::size_t kept_keys = 0;  // of those, the ones the other document has
  std::map<std::string, std::unique_ptr<KeyNode>> children;  // by collation key of the name
};

template <typename Visit>
void ForEachKey(const KeyNode& node, Visit visit) {
  if (node.has_key) visit(node);
  for (const auto& [name, child] : node.children) ForEachKey(*child, visit);
}

// The keys of a document by component, each marked with whether `other` holds it.
class KeyTree {
 public:
  KeyTree(const DocumentIndex& keys, const DocumentIndex& other) {
    for (const KeyView& key : keys.keys()) {
      KeyNode* node = &root_;
      for (const std::u16string_view part : KeyComponents(key.path)) node = Child(node, part);
      if (node == &root_) continue;
      node->has_key = true;
      node->kept = node->kept || other.Find(key.collation_key) != nullptr;
    }
    Count(root_);
  }

  const KeyNode& root() const { return root_; }

  const KeyNode* Find(std::u16string_view path) const {
    const KeyNode* node = &root_;
    for (const std::u16string_view part : KeyComponents(path)) {
      const auto child = node->children.find(PathCollationKey(part));
      if (child == node->children.end()) return nullptr;
      node = child->second.get();
    }
    return node == &root_ ? nullptr : node;
  }

 private:
  static KeyNode* Child(KeyNode* node, std::u16string_view name) {
    std::unique_ptr<KeyNode>& slot = node->children[PathCollationKey(name)];
    if (!slot) {
      slot = std::make_unique<KeyNode>();
      slot->path =
          node->depth == 0 ? std::u16string(name) : node->path + u'\\' + std::u16string(name);
      slot->depth = node->depth + 1;
    }
    return slot.get();
  }
  static void Count(KeyNode& node) {
    node.keys = node.has_key ? 1 : 0;
    node.kept_keys = node.has_key && node.kept ? 1 : 0;
    for (auto& [name, child] : node.children) {
      Count(*child);
      node.keys += child->keys;
      node.kept_keys += child->kept_keys;
    }
  }

  KeyNode root_;
};

// --- Renames
// --------------------------------------------------------------------------------------

void Vote(std::map<std::string, MoveCandidate>* votes, std::u16string source,
          std::u16string destination, std::size_t depth) {
  std::string key = PathCollationKey(source);
  key += '\0';
  key += PathCollationKey(destination);
  MoveCandidate& candidate = (*votes)[key];
  if (candidate.votes == 0) {
    candidate.source = std::move(source);
    candidate.destination = std::move(destination);
    candidate.depth = depth;
  }
  ++candidate.votes;
}

// A removed key and an added key whose last names agree vote for the keys above them as a rename;
// so do a removed and an added key with the same values.
void VoteRenames(const DocumentIndex& before, const DocumentIndex& after,
                 std::map<std::string, MoveCandidate>* votes) {
  std::unordered_map<std::string, std::vector<std::u16string>> by_suffix;
  std::unordered_map<std::uint64_t, std::vector<const KeyView*>> by_values;
  for (const KeyView& key : after.keys()) {
    if (before.Find(key.collation_key) != nullptr) continue;
    const auto parts = KeyComponents(key.path);
    std::string suffix;
    for (std::size_t s = 1; s <= kMaxSuffix && s + 2 <= parts.size(); ++s) {
      suffix = PathCollationKey(parts[parts.size() - s]) + '\x01' + suffix;
      std::vector<std::u16string>& bucket = by_suffix[suffix];
      if (bucket.size() <= kMaxBucket)
        bucket.push_back(Join(std::span(parts).first(parts.size() - s)));
    }
    if (!key.values.empty()) by_values[ValuesHash(key)].push_back(&key);
  }
  for (const KeyView& key : before.keys()) {
    if (after.Find(key.collation_key) != nullptr) continue;
    const auto parts = KeyComponents(key.path);
    std::string suffix;
    for (std::size_t s = 1; s <= kMaxSuffix && s + 2 <= parts.size(); ++s) {
      suffix = PathCollationKey(parts[parts.size() - s]) + '\x01' + suffix;
      const auto bucket = by_suffix.find(suffix);
      if (bucket == by_suffix.end() || bucket->second.size() > kMaxBucket) continue;
      const std::u16string source = Join(std::span(parts).first(parts.size() - s));
      for (const std::u16string& destination : bucket->second) {
        Vote(votes, source, destination, parts.size() - s);
      }
    }
    if (key.values.empty() || parts.size() < 2) continue;
    const auto same = by_values.find(ValuesHash(key));
    if (same == by_values.end()) continue;
    for (const KeyView* other : same->second) {
      if (SameValues(key, *other))
        Vote(votes, Join(parts), Join(KeyComponents(other->path)), parts.size());
    }
  }
}

// One .reg file while its rules are derived: the document as the rules so far leave it.
struct FileState {
  RegFilePair pair;
  RegistryDocument simulated;
  std::unique_ptr<DocumentIndex> after;
  std::unique_ptr<DocumentIndex> index;  // of `simulated`
  std::unique_ptr<KeyTree> tree;         // of `simulated`, marked against `after`

  void Rebuild() {
    index = std::make_unique<DocumentIndex>(simulated);
    tree = std::make_unique<KeyTree>(*index, *after);
  }
};

// How many keys of the tree at `source` land on a key of `after` when renamed to `destination`.
std::size_t Landed(const KeyNode& source, std::u16string_view destination,
                   const DocumentIndex& after) {
  std::size_t landed = 0;
  ForEachKey(source, [&](const KeyNode& key) {
    const std::u16string target = std::u16string(destination) + key.path.substr(source.path.size());
    if (after.Find(PathCollationKey(target)) != nullptr) ++landed;
  });
  return landed;
}

// Renames that every file agrees with: the source tree is gone from after in every file that has
// it, nothing is at the destination yet, and at least half of the moved keys land on keys of
// after.
std::vector<MoveCandidate> ChooseRenames(std::vector<FileState>& files) {
  std::map<std::string, MoveCandidate> votes;
  for (FileState& file : files) VoteRenames(*file.index, *file.after, &votes);
  std::vector<MoveCandidate> candidates;
  for (auto& [key, candidate] : votes) candidates.push_back(std::move(candidate));
  std::vector<MoveCandidate> chosen;
  for (const MoveCandidate& candidate : RankedMoves(std::move(candidates), IsRulePath, Overlaps)) {
    if (ClashesWithChosen(candidate, chosen, Overlaps)) continue;
    std::size_t total = 0;
    std::size_t landed = 0;
    bool fits = true;
    for (const FileState& file : files) {
      if (const KeyNode* node = file.tree->Find(candidate.source);
          node != nullptr && node->keys > 0) {
        fits = fits && node->kept_keys == 0;
        total += node->keys;
        landed += Landed(*node, candidate.destination, *file.after);
      }
      if (const KeyNode* node = file.tree->Find(candidate.destination)) {
        fits = fits && node->keys == 0;
      }
    }
    if (fits && landed > 0 && 2 * landed >= total) chosen.push_back(candidate);
  }
  return chosen;
}

// --- The rules
// ------------------------------------------------------------------------------------

// Rules by the phase they run in, each kept once.
class RuleList {
 public:
  enum Phase {
    kRenames,
    kValueMoves,
    kDeletes,
    kValueDeletes,
    kValueRenames,
    kConverts,
    kCreates,
    kSets,
    kCount
  };

  void Add(Phase phase, MigrationRule rule) {
    const KeyRule& k = rule.key;
    const ValueRule& v = rule.value;
    const std::u16string identity =
        std::u16string(1, static_cast<char16_t>(rule.kind)) + k.action + u'\x1F' + k.source +
        u'\x1F' + k.destination + u'\x1F' + k.value + u'\x1F' + v.action + u'\x1F' + v.key +
        u'\x1F' + v.source + u'\x1F' + v.destination + u'\x1F' + v.type + u'\x1F' + v.data;
    if (seen_.insert(identity).second) phases_[phase].push_back(std::move(rule));
  }

  void AppendTo(std::vector<MigrationRule>* rules) {
    for (std::vector<MigrationRule>& phase : phases_) {
      for (MigrationRule& rule : phase) rules->push_back(std::move(rule));
    }
  }

 private:
  std::vector<MigrationRule> phases_[kCount];
  std::set<std::u16string> seen_;
};

class RegistryDeriver {
 public:
  RegistryDeriver(std::vector<FileState>& files, std::vector<std::u16string>* inexpressible)
      : files_(files), inexpressible_(*inexpressible) {}

  void Run() {
    for (const MoveCandidate& rename : ChooseRenames(files_)) {
      const MigrationRule rule = KeyRuleOf(KeyAction::kRename, rename.source, rename.destination);
      for (FileState& file : files_) (void)ProcessRegistryKey(file.simulated, rule.key);
      list_.Add(RuleList::kRenames, rule);
    }
    for (FileState& file : files_) file.Rebuild();
    for (std::size_t f = 0; f < files_.size(); ++f) MoveValues(f);
    recreated_.resize(files_.size());
    for (std::size_t f = 0; f < files_.size(); ++f) CollectDeletes(files_[f].tree->root(), f);
    for (std::size_t f = 0; f < files_.size(); ++f) DeriveValues(f);
  }

  void AppendTo(std::vector<MigrationRule>* rules) { list_.AppendTo(rules); }

 private:
  void Note(std::size_t file, std::u16string text) {
    inexpressible_.push_back(std::u16string(files_[file].pair.name) + u": " + std::move(text));
  }

  bool CheckPath(std::size_t file, std::u16string_view path) {
    if (IsRulePath(path)) return true;
    Note(file, u"key '" + std::u16string(path) +
                   (IsXmlText(path) ? u"' has a root that no rule names"
                                    : u"' holds characters that XML cannot carry"));
    return false;
  }

  // A value that leaves its key and turns up under its name in a key that lacked it moves there,
  // so that every profile keeps its own data: the same bytes first, then the same bytes under
  // another type (converted where it lands, as the rest of the values are derived), and among
  // those the source nearest the destination.
  void MoveValues(std::size_t file) {
    FileState& state = files_[file];
    struct Leaving {
      std::u16string_view key;
      const RegistryValueRef* value;
    };
    std::multimap<std::u16string_view, Leaving> leaving;
    for (const KeyView& key : state.index->keys()) {
      const KeyView* stays = state.after->Find(key.collation_key);
      for (const RegistryValuePair* pair : key.values) {
        if (ValuesNamed(stays, pair->name) == 0 && ValuesNamed(&key, pair->name) == 1) {
          leaving.emplace(pair->name, Leaving{key.path, &pair->value});
        }
      }
    }
    std::vector<MigrationRule> moves;
    for (const KeyView& key : state.after->keys()) {
      const KeyView* old = state.index->Find(key.collation_key);
      for (const RegistryValuePair* pair : key.values) {
        if (ValuesNamed(old, pair->name) != 0 || !IsXmlText(pair->name)) continue;
        const auto [first, last] = leaving.equal_range(pair->name);
        auto best = last;
        std::pair<bool, std::size_t> best_fit;
        for (auto it = first; it != last; ++it) {
          if (!std::ranges::equal(it->second.value->data, pair->value.data)) continue;
          const std::pair fit(it->second.value->type == pair->value.type,
                              SharedComponents(it->second.key, key.path));
          if (best == last || fit > best_fit) std::tie(best, best_fit) = std::pair(it, fit);
        }
        if (best == last || !IsRulePath(best->second.key) || !IsRulePath(key.path)) continue;
        MigrationRule rule = KeyRuleOf(KeyAction::kMoveValue, best->second.key, key.path);
        rule.key.value = pair->name;
        moves.push_back(std::move(rule));
        leaving.erase(best);
      }
    }
    if (moves.empty()) return;
    for (MigrationRule& rule : moves) {
      (void)ProcessRegistryKey(state.simulated, rule.key);
      list_.Add(RuleList::kValueMoves, std::move(rule));
    }
    state.Rebuild();
  }

  // A tree whose keys all go is one delete, unless another file keeps keys in it.
  bool SafeEverywhere(std::u16string_view path, std::size_t file) const {
    for (std::size_t g = 0; g < files_.size(); ++g) {
      if (g == file) continue;
      const KeyNode* node = files_[g].tree->Find(path);
      if (node != nullptr && node->kept_keys > 0) return false;
    }
    return true;
  }

  // Roots, the keys just below them (HKEY_CURRENT_USER\Software) and the keys below Software that
  // many programs share hold what every application keeps; their deletes would take that from
  // every profile, so only what lies below them goes.
  void CollectDeletes(const KeyNode& node, std::size_t file) {
    if (node.keys == 0 || node.keys == node.kept_keys) return;
    const bool shared = node.depth == 1 || IsSharedKey(node.path);
    if (!shared && node.kept_keys == 0 && SafeEverywhere(node.path, file)) {
      if (CheckPath(file, node.path))
        list_.Add(RuleList::kDeletes, KeyRuleOf(KeyAction::kDelete, node.path));
      return;
    }
    if (!shared && node.has_key && !node.kept) {
      // No rule deletes a key alone: the tree goes, and the keys below that stay come back.
      if (!CheckPath(file, node.path)) return;
      list_.Add(RuleList::kDeletes, KeyRuleOf(KeyAction::kDelete, node.path));
      ForEachKey(node, [&](const KeyNode& key) {
        if (key.kept) recreated_[file].insert(PathCollationKey(key.path));
      });
      return;
    }
    if (node.depth == 1 && node.has_key && !node.kept) {
      Note(file, u"key '" + node.path + u"' is a root, which no rule deletes");
    } else if (node.has_key && !node.kept) {
      Note(file, u"key '" + node.path +
                     u"' holds the settings of every application; the rules "
                     u"delete only what lies below it");
    }
    for (const auto& [name, child] : node.children) CollectDeletes(*child, file);
  }

  void AddValue(std::size_t file, std::u16string_view key, std::u16string_view name,
                const RegistryValueRef& value) {
    std::vector<MigrationRule> rules;
    if (!IsXmlText(name) || !EncodeValue(key, name, value, &rules)) {
      Note(file, u"value " + ValueNameText(name) + u" of key '" + std::u16string(key) + u"' is " +
                     DescribeValue(value).head + u", which no rule writes");
      return;
    }
    for (MigrationRule& rule : rules) list_.Add(RuleList::kSets, std::move(rule));
  }

  void DeriveValues(std::size_t file) {
    const FileState& state = files_[file];
    std::vector<ValueDifference> differences;
    for (const KeyView& key : state.after->keys()) {
      const KeyView* old = state.index->Find(key.collation_key);
      const bool recreated = recreated_[file].contains(std::string(key.collation_key));
      if (old == nullptr || recreated) {
        if (!CheckPath(file, key.path)) continue;
        if (key.values.empty())
          list_.Add(RuleList::kCreates, KeyRuleOf(KeyAction::kCreate, key.path));
        for (const RegistryValuePair* pair : key.values) {
          AddValue(file, key.path, pair->name, pair->value);
        }
        continue;
      }
      CompareValues(old, &key, &differences);
      if (differences.empty() || !CheckPath(file, key.path)) continue;
      DeriveKeyValues(file, key.path, differences);
    }
  }

  void DeriveKeyValues(std::size_t file, std::u16string_view key,
                       const std::vector<ValueDifference>& differences) {
    std::vector<bool> used(differences.size(), false);
    // A value that left under one name and came back under another is renamed.
    for (std::size_t i = 0; i < differences.size(); ++i) {
      if (differences[i].before != nullptr || !IsXmlText(differences[i].name)) continue;
      for (std::size_t j = 0; j < differences.size(); ++j) {
        if (used[j] || differences[j].after != nullptr ||
            !(*differences[j].before == *differences[i].after) || !IsXmlText(differences[j].name)) {
          continue;
        }
        MigrationRule rule = ValueRuleOf(ValueAction::kRename, key, differences[j].name);
        rule.value.destination = differences[i].name;
        list_.Add(RuleList::kValueRenames, std::move(rule));
        used[i] = used[j] = true;
        break;
      }
    }
    for (std::size_t i = 0; i < differences.size(); ++i) {
      const ValueDifference& difference = differences[i];
      if (used[i]) continue;
      if (difference.after == nullptr) {
        if (IsXmlText(difference.name)) {
          list_.Add(RuleList::kValueDeletes,
                    ValueRuleOf(ValueAction::kDelete, key, difference.name));
        } else {
          Note(file, u"value " + ValueNameText(difference.name) + u" of key '" +
                         std::u16string(key) + u"' has a name that XML cannot carry");
        }
      } else if (difference.before != nullptr &&
                 std::ranges::equal(difference.before->data, difference.after->data) &&
                 !WordOf(kValueTypes, difference.after->type).empty() &&
                 IsXmlText(difference.name)) {
        MigrationRule rule = ValueRuleOf(ValueAction::kConvert, key, difference.name);
        rule.value.type = WordOf(kValueTypes, difference.after->type);
        list_.Add(RuleList::kConverts, std::move(rule));
      } else {
        AddValue(file, key, difference.name, *difference.after);
      }
    }
  }

  std::vector<FileState>& files_;
  std::vector<std::u16string>& inexpressible_;
  RuleList list_;
  std::vector<std::set<std::string, std::less<>>> recreated_;
};

}  // namespace

void DeriveRegistryRules(std::span<const RegFilePair> files, std::vector<MigrationRule>* rules,
                         std::vector<std::u16string>* inexpressible) {
  std::vector<FileState> states(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    FileState& state = states[i];
    state.pair = files[i];
    state.simulated.ReserveKeys(files[i].before->keys().size());
    for (const RegistryKeyEntry& key : files[i].before->keys()) state.simulated.AddKey(key);
    state.after = std::make_unique<DocumentIndex>(*files[i].after);
    state.Rebuild();
  }
  RegistryDeriver deriver(states, inexpressible);
  deriver.Run();
  deriver.AppendTo(rules);
}

}  // namespace orvex
