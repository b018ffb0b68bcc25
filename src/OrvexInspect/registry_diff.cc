#include "OrvexInspect/registry_diff.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "platform/text.h"
#include "regfile/path_collation.h"

namespace orvex {
namespace {

// The values of a key as an import leaves them, in name order: of the values of one name the
// last, with how many the key holds.
struct NamedValue {
  std::u16string_view name;
  std::size_t count;
  const RegistryValueRef* value;
};

std::vector<NamedValue> ByName(const KeyView& key) {
  std::vector<NamedValue> values;
  for (const RegistryValuePair* pair : key.values) values.push_back({pair->name, 1, &pair->value});
  std::stable_sort(values.begin(), values.end(),
                   [](const NamedValue& a, const NamedValue& b) { return a.name < b.name; });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (kept > 0 && values[kept - 1].name == values[i].name) {
      values[kept - 1] = {values[i].name, values[kept - 1].count + 1, values[i].value};
    } else {
      values[kept++] = values[i];
    }
  }
  values.resize(kept);
  return values;
}

std::vector<std::pair<std::u16string_view, const RegistryValueRef*>> SortedValues(
    const KeyView& key) {
  std::vector<std::pair<std::u16string_view, const RegistryValueRef*>> values;
  for (const RegistryValuePair* pair : key.values) values.emplace_back(pair->name, &pair->value);
  std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    if (a.second->type != b.second->type) return a.second->type < b.second->type;
    return std::ranges::lexicographical_compare(a.second->data, b.second->data);
  });
  return values;
}

}  // namespace

std::uint64_t DataHash(const RegistryValueRef& value) {
  std::uint64_t hash = 14695981039346656037ull;
  auto mix = [&](std::uint64_t part) { hash = (hash ^ part) * 1099511628211ull; };
  mix(0x10000 + value.type);
  for (const std::uint8_t byte : value.data) mix(byte);
  return hash;
}

std::vector<std::u16string_view> KeyComponents(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == u'\\') {
      if (i > start) parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

std::u16string Join(std::span<const std::u16string_view> parts) {
  std::u16string path;
  for (const std::u16string_view part : parts) {
    if (!path.empty()) path += u'\\';
    path += part;
  }
  return path;
}

std::uint64_t ValuesHash(const KeyView& key) {
  std::uint64_t hash = 14695981039346656037ull;
  auto mix = [&](std::uint64_t part) { hash = (hash ^ part) * 1099511628211ull; };
  for (const auto& [name, value] : SortedValues(key)) {
    for (const char16_t unit : name) mix(unit);
    mix(0x10000 + value->type);
    for (const std::uint8_t byte : value->data) mix(byte);
    mix(0x20000);
  }
  return hash;
}

bool SameValues(const KeyView& a, const KeyView& b) {
  const auto left = SortedValues(a);
  const auto right = SortedValues(b);
  return std::equal(
      left.begin(), left.end(), right.begin(), right.end(),
      [](const auto& x, const auto& y) { return x.first == y.first && *x.second == *y.second; });
}

DocumentIndex::DocumentIndex(const RegistryDocument& document)
    : document_(document), view_of_(static_cast<std::size_t>(document.size())) {
  for (int i = 0; i < document.size(); ++i) {
    const RegistryKeyEntry& entry = document.KeyAt(i);
    const std::string_view key = document.CollationKeyAt(i);
    // Sections of one path are one key, as the reader merges them: the document's index answers
    // with the first of them.
    const int first = document.FindCollationKey(key);
    const std::size_t at = static_cast<std::size_t>(i);
    if (first == i) {
      keys_.push_back({entry.path(), key, {}});
      view_of_[at] = keys_.size() - 1;
    } else {
      view_of_[at] = view_of_[static_cast<std::size_t>(first)];
    }
    for (const RegistryValuePair& pair : entry.values())
      keys_[view_of_[at]].values.push_back(&pair);
  }
}

const KeyView* DocumentIndex::Find(std::string_view collation_key) const {
  // An empty document (one shared by threads) is never asked: it would build its index.
  if (keys_.empty()) return nullptr;
  const int index = document_.FindCollationKey(collation_key);
  return index < 0 ? nullptr : &keys_[view_of_[static_cast<std::size_t>(index)]];
}

void CompareValues(const KeyView* before, const KeyView* after,
                   std::vector<ValueDifference>* differences) {
  differences->clear();
  const std::size_t before_count = before == nullptr ? 0 : before->values.size();
  const std::size_t after_count = after == nullptr ? 0 : after->values.size();
  if (before_count == after_count) {
    bool equal = true;
    for (std::size_t i = 0; equal && i < before_count; ++i) {
      equal = *before->values[i] == *after->values[i];
    }
    if (equal) return;
  }
  if (before_count == 0 || after_count == 0) {
    // A key that one side lacks lists its values in their own order, each name where its last
    // value stands.
    const KeyView* present = before_count == 0 ? after : before;
    const std::vector<NamedValue> kept = ByName(*present);
    for (const RegistryValuePair* pair : present->values) {
      const auto last = std::lower_bound(
          kept.begin(), kept.end(), pair->name,
          [](const NamedValue& value, std::u16string_view name) { return value.name < name; });
      if (last->value != &pair->value) continue;
      ValueDifference& difference = differences->emplace_back();
      difference.name = pair->name;
      (before_count == 0 ? difference.after : difference.before) = last->value;
      (before_count == 0 ? difference.after_count : difference.before_count) = last->count;
    }
    return;
  }
  const std::vector<NamedValue> old_values = ByName(*before);
  const std::vector<NamedValue> new_values = ByName(*after);
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < old_values.size() || j < new_values.size()) {
    const bool take_old = j == new_values.size() ||
                          (i < old_values.size() && old_values[i].name < new_values[j].name);
    const bool take_new = i == old_values.size() ||
                          (j < new_values.size() && new_values[j].name < old_values[i].name);
    if (take_old) {
      differences->push_back(
          {old_values[i].name, old_values[i].value, nullptr, old_values[i].count, 0});
      ++i;
    } else if (take_new) {
      differences->push_back(
          {new_values[j].name, nullptr, new_values[j].value, 0, new_values[j].count});
      ++j;
    } else {
      if (!(*old_values[i].value == *new_values[j].value)) {
        differences->push_back({old_values[i].name, old_values[i].value, new_values[j].value,
                                old_values[i].count, new_values[j].count});
      }
      ++i;
      ++j;
    }
  }
}

std::vector<KeyDifference> CompareDocuments(const DocumentIndex& before,
                                            const DocumentIndex& after) {
  std::vector<KeyDifference> differences;
  std::vector<ValueDifference> values;
  for (const KeyView& key : before.keys()) {
    const KeyView* other = after.Find(key.collation_key);
    CompareValues(&key, other, &values);
    if (other == nullptr) {
      differences.push_back({KeyDifference::Kind::kRemoved, &key, values});
    } else if (!values.empty()) {
      PairRenamedValues(&values);
      differences.push_back({KeyDifference::Kind::kChanged, other, values});
    }
  }
  for (const KeyView& key : after.keys()) {
    if (before.Find(key.collation_key) != nullptr) continue;
    CompareValues(nullptr, &key, &values);
    differences.push_back({KeyDifference::Kind::kAdded, &key, values});
  }
  std::sort(differences.begin(), differences.end(),
            [](const KeyDifference& a, const KeyDifference& b) {
              return a.key->collation_key < b.key->collation_key;
            });
  return differences;
}

std::vector<KeyTreeMove> FindKeyTreeMoves(const DocumentIndex& before, const DocumentIndex& after,
                                          std::vector<KeyDifference>* differences) {
  using Kind = KeyDifference::Kind;
  std::unordered_map<std::uint64_t, std::vector<const KeyView*>> added_by_values;
  for (const KeyDifference& difference : *differences) {
    if (difference.kind == Kind::kAdded && !difference.key->values.empty()) {
      added_by_values[ValuesHash(*difference.key)].push_back(difference.key);
    }
  }
  // Candidates by their source's depth, then by the collation of their paths.
  std::map<std::pair<std::size_t, std::string>, KeyTreeMove> candidates;
  for (const KeyDifference& difference : *differences) {
    if (difference.kind != Kind::kRemoved || difference.key->values.empty()) continue;
    const auto same = added_by_values.find(ValuesHash(*difference.key));
    if (same == added_by_values.end()) continue;
    for (const KeyView* other : same->second) {
      if (!SameValues(*difference.key, *other)) continue;
      std::vector<std::u16string_view> from = KeyComponents(difference.key->path);
      std::vector<std::u16string_view> to = KeyComponents(other->path);
      while (from.size() > 1 && to.size() > 1 && EqualsIgnoreCase(from.back(), to.back())) {
        from.pop_back();
        to.pop_back();
      }
      KeyTreeMove move{Join(from), Join(to)};
      candidates.try_emplace(
          {from.size(), PathCollationKey(move.from) + '\0' + PathCollationKey(move.to)},
          std::move(move));
      break;
    }
  }

  // The removed keys at or below each candidate's source.
  std::unordered_map<std::string, std::vector<const KeyView*>> below;
  for (const auto& [order, move] : candidates) below.try_emplace(PathCollationKey(move.from));
  for (const KeyDifference& difference : *differences) {
    if (below.empty() || difference.kind != Kind::kRemoved) continue;
    for (std::vector<std::u16string_view> parts = KeyComponents(difference.key->path);
         !parts.empty(); parts.pop_back()) {
      const auto found = below.find(PathCollationKey(Join(parts)));
      if (found != below.end()) found->second.push_back(difference.key);
    }
  }

  std::vector<KeyTreeMove> moves;
  std::set<const KeyView*> moved;  // removed keys taken by a move, and added keys left equal
  std::map<const KeyView*, std::vector<ValueDifference>> changed;  // added keys left changed
  std::vector<ValueDifference> values;
  for (auto& [order, move] : candidates) {
    const bool clashes = std::any_of(moves.begin(), moves.end(), [&](const KeyTreeMove& taken) {
      return IsKeyAtOrBelow(move.from, taken.from) || IsKeyAtOrBelow(taken.from, move.from) ||
             IsKeyAtOrBelow(move.to, taken.to) || IsKeyAtOrBelow(taken.to, move.to);
    });
    if (clashes || after.Find(PathCollationKey(move.from)) != nullptr ||
        before.Find(PathCollationKey(move.to)) != nullptr) {
      continue;
    }
    const std::size_t depth = order.first;
    for (const KeyView* key : below[PathCollationKey(move.from)]) {
      std::vector<std::u16string_view> path = KeyComponents(move.to);
      const std::vector<std::u16string_view> source = KeyComponents(key->path);
      if (source.size() < depth) continue;
      path.insert(path.end(), source.begin() + static_cast<std::ptrdiff_t>(depth), source.end());
      const KeyView* target = after.Find(PathCollationKey(Join(path)));
      if (target == nullptr || before.Find(target->collation_key) != nullptr ||
          moved.contains(target) || changed.contains(target)) {
        continue;
      }
      CompareValues(key, target, &values);
      PairRenamedValues(&values);
      moved.insert(key);
      if (values.empty()) {
        moved.insert(target);
      } else {
        changed[target] = values;
      }
      ++move.keys;
    }
    if (move.keys > 0) moves.push_back(std::move(move));
  }

  std::erase_if(*differences,
                [&](const KeyDifference& difference) { return moved.contains(difference.key); });
  for (KeyDifference& difference : *differences) {
    const auto found = changed.find(difference.key);
    if (found == changed.end()) continue;
    difference.kind = Kind::kChanged;
    difference.values = std::move(found->second);
  }
  std::sort(moves.begin(), moves.end(), [](const KeyTreeMove& a, const KeyTreeMove& b) {
    return PathCollationKey(a.from) < PathCollationKey(b.from);
  });
  return moves;
}

void PairRenamedValues(std::vector<ValueDifference>* differences) {
  std::unordered_multimap<std::uint64_t, std::size_t> added;
  for (std::size_t i = 0; i < differences->size(); ++i) {
    const ValueDifference& difference = (*differences)[i];
    if (difference.before == nullptr) added.emplace(DataHash(*difference.after), i);
  }
  std::vector<bool> paired(differences->size(), false);
  for (std::size_t i = 0; i < differences->size(); ++i) {
    const ValueDifference& removed = (*differences)[i];
    if (removed.after != nullptr) continue;
    auto [it, end] = added.equal_range(DataHash(*removed.before));
    for (; it != end; ++it) {
      ValueDifference& match = (*differences)[it->second];
      if (match.renamed || !(*match.after == *removed.before)) continue;
      match.before = removed.before;
      match.before_count = removed.before_count;
      match.renamed = true;
      match.old_name = removed.name;
      paired[i] = true;
      break;
    }
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < differences->size(); ++i) {
    if (!paired[i]) (*differences)[kept++] = (*differences)[i];
  }
  differences->resize(kept);
}

}  // namespace orvex
