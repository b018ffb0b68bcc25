#include "OrvexInspect/profile_diff.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/text.h"
#include "reports/report_text.h"

namespace orvex {
namespace {

// Text files up to this size get a line diff; it shows this many lines of each side.
constexpr std::uint64_t kMaxLineDiffBytes = 256 * 1024;
constexpr std::size_t kMaxLineDiffLines = 5;
constexpr std::size_t kMaxLineLength = 200;

// Whether an ancestor directory of `path` is in `directories`.
bool UnderAny(std::u16string_view path, const std::set<std::u16string, std::less<>>& directories) {
  for (std::size_t slash = path.find(u'/'); slash != std::u16string_view::npos;
       slash = path.find(u'/', slash + 1)) {
    if (directories.contains(path.substr(0, slash))) return true;
  }
  return false;
}

std::vector<std::u16string_view> Lines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find(u'\n');
    std::u16string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    lines.push_back(line);
    text = end == std::u16string_view::npos ? std::u16string_view() : text.substr(end + 1);
  }
  return lines;
}

void AddLines(char16_t marker, std::span<const std::u16string_view> lines,
              std::vector<std::u16string>* out) {
  for (std::size_t i = 0; i < lines.size() && i < kMaxLineDiffLines; ++i) {
    std::u16string line = {marker, u' '};
    line += lines[i].substr(0, kMaxLineLength);
    out->push_back(std::move(line));
  }
  if (lines.size() > kMaxLineDiffLines) {
    out->push_back(std::u16string{marker, u' '} + u"... " +
                   DecimalText(lines.size() - kMaxLineDiffLines) + u" more lines");
  }
}

// The lines between the common first and last lines of two text files; nothing for files that are
// not text (a NUL byte) or too large.
HRESULT LineDiff(const TreeEntry& before, const TreeEntry& after,
                 std::vector<std::u16string>* out) {
  // A file changed in place has no bytes before left to show.
  if (before.state) return S_OK;
  if (before.size > kMaxLineDiffBytes || after.size > kMaxLineDiffBytes) return S_OK;
  std::string old_bytes;
  std::string new_bytes;
  RETURN_IF_FAILED(ReadFileBytes(before.full_path, kMaxLineDiffBytes, &old_bytes));
  RETURN_IF_FAILED(ReadFileBytes(after.full_path, kMaxLineDiffBytes, &new_bytes));
  if (old_bytes.find('\0') != std::string::npos || new_bytes.find('\0') != std::string::npos) {
    return S_OK;
  }
  const std::u16string old_text = ToUtf16(old_bytes);
  const std::u16string new_text = ToUtf16(new_bytes);
  std::vector<std::u16string_view> old_lines = Lines(old_text);
  std::vector<std::u16string_view> new_lines = Lines(new_text);
  std::size_t first = 0;
  while (first < old_lines.size() && first < new_lines.size() &&
         old_lines[first] == new_lines[first]) {
    ++first;
  }
  std::size_t old_end = old_lines.size();
  std::size_t new_end = new_lines.size();
  while (old_end > first && new_end > first && old_lines[old_end - 1] == new_lines[new_end - 1]) {
    --old_end;
    --new_end;
  }
  AddLines(u'-', std::span(old_lines).subspan(first, old_end - first), out);
  AddLines(u'+', std::span(new_lines).subspan(first, new_end - first), out);
  return S_OK;
}

// Tree entries that one side lacks or holds as another kind, by path.
using EntrySet = std::map<std::u16string, const TreeEntry*, std::less<>>;

bool IsAtOrBelow(std::u16string_view path, std::u16string_view root) {
  return path.starts_with(root) && (path.size() == root.size() || path[root.size()] == u'/');
}

// The entries of `entries` below the folder `directory`.
template <typename Map>
auto Below(Map& entries, const std::u16string& directory) {
  const std::u16string prefix = directory + u'/';
  const auto first = entries.lower_bound(prefix);
  auto end = first;
  while (end != entries.end() && end->first.starts_with(prefix)) ++end;
  return std::pair(first, end);
}

std::u16string_view LastName(std::u16string_view path) { return path.substr(path.rfind(u'/') + 1); }

// Whether two files hold the same bytes: files listed from their archives by the sizes and CRC-32
// recorded there, a file of a tree changed in place by its whole state (a rule that rewrote it
// changed its state), unpacked ones by their bytes.
HRESULT SameFile(const TreeEntry& a, const TreeEntry& b, bool* same) {
  if (a.crc && b.crc) {
    *same = RecordedSame(a, b);
    return S_OK;
  }
  if (a.state && b.state) {
    *same = *a.state == *b.state;
    return S_OK;
  }
  *same = a.size == b.size;
  if (*same) RETURN_IF_FAILED(SameContent(a.full_path, b.full_path, same));
  return S_OK;
}

// Pairs each removed file with an added file of the same content, one of the same name first; a
// file of no bytes pairs only by name, since any two such files are equal. Unpacked files are
// told apart by a hash of their bytes before they are compared.
HRESULT PairMovedFiles(const EntrySet& removed, const EntrySet& added,
                       std::map<std::u16string, std::u16string, std::less<>>* pairs) {
  std::multimap<std::uint64_t, const std::u16string*> added_by_size;
  for (const auto& [path, entry] : added) {
    if (!entry->directory) added_by_size.emplace(entry->size, &path);
  }
  std::map<std::u16string_view, std::uint64_t> hashes;
  auto hash_of = [&](std::u16string_view path, const TreeEntry& entry,
                     std::uint64_t* hash) -> HRESULT {
    const auto [it, fresh] = hashes.try_emplace(path, 0);
    if (fresh) RETURN_IF_FAILED(HashFileContent(entry.full_path, &it->second));
    *hash = it->second;
    return S_OK;
  };
  std::set<std::u16string_view> taken;
  for (const auto& [path, entry] : removed) {
    if (entry->directory) continue;
    const auto [first, last] = added_by_size.equal_range(entry->size);
    if (first == last) continue;
    std::vector<const std::u16string*> candidates;
    for (const bool same_name : {true, false}) {
      for (auto it = first; it != last; ++it) {
        if (EqualsIgnoreCase(LastName(*it->second), LastName(path)) == same_name &&
            (same_name || entry->size > 0) && !taken.contains(*it->second)) {
          candidates.push_back(it->second);
        }
      }
    }
    for (const std::u16string* candidate : candidates) {
      const TreeEntry& other = *added.find(*candidate)->second;
      bool same = true;
      if (entry->state && other.state) {
        // In a tree changed in place only the file a rule moved is the same: a rename keeps its
        // identity, size and last-write time, and changes its change time.
        const platform::FileState &a = *entry->state, &b = *other.state;
        same =
            a.identity == b.identity && a.size == b.size && a.last_write_time == b.last_write_time;
      } else {
        if (!entry->crc || !other.crc) {
          std::uint64_t hash = 0, other_hash = 0;
          RETURN_IF_FAILED(hash_of(path, *entry, &hash));
          RETURN_IF_FAILED(hash_of(*candidate, other, &other_hash));
          same = hash == other_hash;
        }
        if (same) RETURN_IF_FAILED(SameFile(*entry, other, &same));
      }
      if (!same) continue;
      pairs->emplace(path, *candidate);
      taken.insert(*candidate);
      break;
    }
  }
  return S_OK;
}

// Tree moves and what they take from both sides.
struct Moves {
  std::vector<TreeDifference> found;
  std::set<std::u16string, std::less<>> before;  // paths that moved away
  std::set<std::u16string, std::less<>> after;   // paths that moved here
};

// A removed folder moved when at least half its files went to the same places under one added
// folder; the shallowest such folder is the move, and what went elsewhere stays removed.
void FindFolderMoves(const EntrySet& removed, const EntrySet& added,
                     const std::map<std::u16string, std::u16string, std::less<>>& pairs,
                     Moves* moves) {
  for (const auto& [directory, entry] : removed) {
    if (!entry->directory || moves->before.contains(directory)) continue;
    std::map<std::u16string_view, std::size_t> votes;
    std::size_t files = 0;
    const auto [first, last] = Below(removed, directory);
    for (auto it = first; it != last; ++it) {
      if (it->second->directory) continue;
      ++files;
      const auto pair = pairs.find(it->first);
      const std::u16string_view below = std::u16string_view(it->first).substr(directory.size());
      if (pair != pairs.end() && pair->second.ends_with(below)) {
        ++votes[std::u16string_view(pair->second).substr(0, pair->second.size() - below.size())];
      }
    }
    const auto best =
        std::max_element(votes.begin(), votes.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    if (best == votes.end() || 2 * best->second < files) continue;
    const std::u16string target(best->first);
    const auto folder = added.find(target);
    if (folder == added.end() || !folder->second->directory || IsAtOrBelow(target, directory) ||
        IsAtOrBelow(directory, target) || moves->after.contains(target)) {
      continue;
    }
    TreeDifference move;
    move.kind = TreeDifference::Kind::kMoved;
    move.from = directory;
    move.path = target;
    move.entry = folder->second;
    moves->before.insert(directory);
    moves->after.insert(target);
    for (auto it = first; it != last; ++it) {
      const std::u16string there = target + it->first.substr(directory.size());
      const auto other = added.find(there);
      if (other == added.end() || other->second->directory != it->second->directory ||
          moves->after.contains(there)) {
        continue;
      }
      if (!it->second->directory) {
        const auto pair = pairs.find(it->first);
        if (pair == pairs.end() || pair->second != there) continue;
        ++move.files_inside;
      }
      moves->before.insert(it->first);
      moves->after.insert(there);
    }
    moves->found.push_back(std::move(move));
  }
}

// Whether anything below the folder `path` is in `moved`.
bool HoldsMoved(const std::set<std::u16string, std::less<>>& moved, const std::u16string& path) {
  const std::u16string prefix = path + u'/';
  const auto it = moved.lower_bound(prefix);
  return it != moved.end() && it->starts_with(prefix);
}

// The entries of one side that neither moved nor lie in a directory shown whole.
void AddOneSided(TreeDifference::Kind kind, const EntrySet& entries,
                 const std::set<std::u16string, std::less<>>& moved, bool expand,
                 std::vector<TreeDifference>* differences) {
  std::set<std::u16string, std::less<>> whole;
  for (const auto& [path, entry] : entries) {
    if (moved.contains(path) || UnderAny(path, whole)) continue;
    TreeDifference difference;
    difference.kind = kind;
    difference.path = path;
    difference.entry = entry;
    if (entry->directory && !expand && !HoldsMoved(moved, path)) {
      const auto [first, last] = Below(entries, path);
      difference.files_inside = static_cast<std::size_t>(
          std::count_if(first, last, [](const auto& below) { return !below.second->directory; }));
      whole.insert(path);
    }
    differences->push_back(std::move(difference));
  }
}

HRESULT CompareTrees(const FileTree& before, const FileTree& after, bool expand,
                     std::vector<TreeDifference>* differences) {
  EntrySet removed;
  EntrySet added;
  for (const auto& [path, entry] : before) {
    const auto other = after.find(path);
    if (other == after.end() || other->second.directory != entry.directory) {
      removed.emplace(path, &entry);
      continue;
    }
    if (entry.directory) continue;
    bool same = false;
    RETURN_IF_FAILED(SameFile(entry, other->second, &same));
    if (same) continue;
    TreeDifference difference;
    difference.kind = TreeDifference::Kind::kChanged;
    difference.path = path;
    difference.entry = &other->second;
    difference.old_size = entry.size;
    RETURN_IF_FAILED(LineDiff(entry, other->second, &difference.lines));
    differences->push_back(std::move(difference));
  }
  for (const auto& [path, entry] : after) {
    const auto other = before.find(path);
    if (other == before.end() || other->second.directory != entry.directory) {
      added.emplace(path, &entry);
    }
  }

  std::map<std::u16string, std::u16string, std::less<>> pairs;
  RETURN_IF_FAILED(PairMovedFiles(removed, added, &pairs));
  Moves moves;
  FindFolderMoves(removed, added, pairs, &moves);
  for (const auto& [from, to] : pairs) {
    if (moves.before.contains(from) || moves.after.contains(to)) continue;
    TreeDifference move;
    move.kind = TreeDifference::Kind::kMoved;
    move.from = from;
    move.path = to;
    move.entry = added.at(to);
    moves.before.insert(from);
    moves.after.insert(to);
    moves.found.push_back(std::move(move));
  }
  differences->insert(differences->end(), std::make_move_iterator(moves.found.begin()),
                      std::make_move_iterator(moves.found.end()));
  AddOneSided(TreeDifference::Kind::kRemoved, removed, moves.before, expand, differences);
  AddOneSided(TreeDifference::Kind::kAdded, added, moves.after, expand, differences);
  std::stable_sort(differences->begin(), differences->end(),
                   [](const TreeDifference& a, const TreeDifference& b) {
                     const bool a_moved = a.kind == TreeDifference::Kind::kMoved;
                     const bool b_moved = b.kind == TreeDifference::Kind::kMoved;
                     return (a_moved ? a.from : a.path) < (b_moved ? b.from : b.path);
                   });
  return S_OK;
}

// A value that one key lost and another gained under the same name, with the same type and data,
// moved: it shows once, where it went, and the key it left lists it no more (nor, when that was
// all that changed there, itself).
void PairMovedValues(std::vector<KeyDifference>* keys) {
  std::map<std::pair<std::u16string_view, std::uint64_t>, std::vector<ValueDifference*>> added;
  for (KeyDifference& key : *keys) {
    for (ValueDifference& value : key.values) {
      if (value.before == nullptr) {
        added[{value.name, DataHash(*value.after)}].push_back(&value);
      }
    }
  }
  std::set<const ValueDifference*> moved;
  for (KeyDifference& key : *keys) {
    for (ValueDifference& value : key.values) {
      if (value.after != nullptr) continue;
      const auto found = added.find({value.name, DataHash(*value.before)});
      if (found == added.end()) continue;
      for (ValueDifference*& match : found->second) {
        if (match == nullptr || !(*match->after == *value.before)) continue;
        match->before = value.before;
        match->before_count = value.before_count;
        match->renamed = true;
        match->old_name = value.name;
        match->old_key = key.key->path;
        moved.insert(&value);
        match = nullptr;
        break;
      }
    }
  }
  if (moved.empty()) return;
  for (KeyDifference& key : *keys) {
    std::erase_if(key.values, [&](const ValueDifference& value) { return moved.contains(&value); });
  }
  std::erase_if(*keys, [](const KeyDifference& key) {
    return key.kind == KeyDifference::Kind::kChanged && key.values.empty();
  });
}

const RegistryDocument& EmptyDocument() {
  static const RegistryDocument empty;
  return empty;
}

}  // namespace

HRESULT CompareProfiles(std::span<const RegDocumentRef> before, const FileTree& before_tree,
                        std::span<const RegDocumentRef> after, const FileTree& after_tree,
                        bool expand, ProfileComparison* comparison) {
  comparison->reg_files.clear();
  comparison->tree.clear();
  std::vector<bool> paired(after.size(), false);
  auto compare = [&](std::u16string_view name, const RegistryDocument* old_document,
                     const RegistryDocument* new_document) {
    RegFileComparison file;
    file.name = name;
    file.in_before = old_document != nullptr;
    file.in_after = new_document != nullptr;
    file.before = std::make_unique<DocumentIndex>(file.in_before ? *old_document : EmptyDocument());
    file.after = std::make_unique<DocumentIndex>(file.in_after ? *new_document : EmptyDocument());
    file.keys = CompareDocuments(*file.before, *file.after);
    file.moves = FindKeyTreeMoves(*file.before, *file.after, &file.keys);
    PairMovedValues(&file.keys);
    if (!file.keys.empty() || !file.moves.empty() || !file.in_before || !file.in_after) {
      comparison->reg_files.push_back(std::move(file));
    }
  };
  for (const RegDocumentRef& old_file : before) {
    const RegistryDocument* match = nullptr;
    for (std::size_t i = 0; i < after.size() && match == nullptr; ++i) {
      if (!paired[i] && EqualsIgnoreCase(old_file.name, after[i].name)) {
        paired[i] = true;
        match = after[i].document;
      }
    }
    compare(old_file.name, old_file.document, match);
  }
  for (std::size_t i = 0; i < after.size(); ++i) {
    if (!paired[i]) compare(after[i].name, nullptr, after[i].document);
  }
  std::sort(comparison->reg_files.begin(), comparison->reg_files.end(),
            [](const RegFileComparison& a, const RegFileComparison& b) { return a.name < b.name; });
  return CompareTrees(before_tree, after_tree, expand, &comparison->tree);
}

HRESULT CompareProfiles(const Profile& before, const Profile& after, bool expand,
                        ProfileComparison* comparison) {
  std::vector<RegDocumentRef> old_files;
  for (const ProfileRegFile& file : before.reg_files)
    old_files.push_back({file.name, &file.document});
  std::vector<RegDocumentRef> new_files;
  for (const ProfileRegFile& file : after.reg_files)
    new_files.push_back({file.name, &file.document});
  return CompareProfiles(old_files, before.tree, new_files, after.tree, expand, comparison);
}

}  // namespace orvex
