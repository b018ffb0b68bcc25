// The directory and file rules of a derived migration.
#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "OrvexInspect/derive.h"
#include "OrvexInspect/inspect_text.h"
#include "transforms/files/folder_tokens.h"

namespace orvex {
namespace {

// How far up from two files move voting looks for the folders they lie in, and how many folders
// one file name and content lead to before they say too little.
constexpr std::size_t kMaxSuffix = 8;
constexpr std::size_t kMaxBucket = 16;

// A tree entry with what its content is, for telling moved and copied files by content.
struct PlanEntry {
  bool directory = false;
  std::uint64_t size = 0;
  std::uint64_t hash = 0;
};
using PlanTree = std::map<std::u16string, PlanEntry>;

HRESULT PlanOf(const FileTree& tree, PlanTree* plan) {
  for (const auto& [path, entry] : tree) {
    PlanEntry& planned = (*plan)[path];
    planned.directory = entry.directory;
    planned.size = entry.size;
    if (!entry.directory && entry.size > 0) {
      RETURN_IF_FAILED(HashFileContent(entry.full_path, &planned.hash));
    }
  }
  return S_OK;
}

bool IsAtOrBelow(std::u16string_view path, std::u16string_view root) {
  return path == root || (path.size() > root.size() && path.starts_with(root) &&
                          path[root.size()] == u'/');
}

bool Overlaps(std::u16string_view a, std::u16string_view b) {
  return IsAtOrBelow(a, b) || IsAtOrBelow(b, a);
}

std::vector<std::u16string_view> Components(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  std::size_t start = 0;
  for (std::size_t slash = path.find(u'/'); slash != std::u16string_view::npos;
       slash = path.find(u'/', start)) {
    parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  parts.push_back(path.substr(start));
  return parts;
}

std::u16string Prefix(std::span<const std::u16string_view> parts, std::size_t count) {
  std::u16string path;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) path += u'/';
    path += parts[i];
  }
  return path;
}

std::u16string RulePath(std::u16string_view path) {
  std::u16string rule(path);
  std::replace(rule.begin(), rule.end(), u'/', u'\\');
  return rule;
}

// Whether a rule can name the path: its first folder is a folder token, and XML carries it.
bool IsReachable(std::u16string_view path) {
  return IsXmlText(path) && IsFolderTokenPath(RulePath(path));
}

bool SameFile(const PlanEntry& a, const PlanEntry& b) {
  return !a.directory && !b.directory && a.size == b.size && a.hash == b.hash;
}

// Entries at or below `root`: the root itself and the names after "root/".
template <typename Visit>
void ForEachBelow(const PlanTree& tree, const std::u16string& root, Visit visit) {
  if (const auto self = tree.find(root); self != tree.end()) visit(self->first, self->second);
  const std::u16string prefix = root + u'/';
  for (auto it = tree.lower_bound(prefix); it != tree.end() && it->first.starts_with(prefix); ++it) {
    visit(it->first, it->second);
  }
}

// Moves everything at or below `from` to `to`, and gives `to` the folders above it that a move
// creates.
void MoveInPlan(PlanTree* plan, const std::u16string& from, const std::u16string& to) {
  std::vector<std::pair<std::u16string, PlanEntry>> moved;
  ForEachBelow(*plan, from, [&](const std::u16string& path, const PlanEntry& entry) {
    moved.emplace_back(path, entry);
  });
  for (const auto& [path, entry] : moved) plan->erase(path);
  for (auto& [path, entry] : moved) (*plan)[to + path.substr(from.size())] = entry;
  for (std::size_t slash = to.find(u'/'); slash != std::u16string::npos;
       slash = to.find(u'/', slash + 1)) {
    (*plan)[to.substr(0, slash)].directory = true;
  }
}

class FileDeriver {
 public:
  FileDeriver(const Profile& after, std::vector<std::u16string>* inexpressible)
      : after_(after), inexpressible_(*inexpressible) {}

  HRESULT Run(const Profile& before, std::vector<MigrationRule>* rules) {
    RETURN_IF_FAILED(PlanOf(before.tree, &plan_));
    RETURN_IF_FAILED(PlanOf(after_.tree, &target_));
    MoveDirectories();
    MoveFiles();
    CopyFiles();
    RETURN_IF_FAILED(DeleteAndCreate());
    for (std::vector<MigrationRule>* phase :
         {&early_deletes_, &directory_moves_, &file_moves_, &copies_, &late_deletes_,
          &directory_creates_, &file_creates_}) {
      for (MigrationRule& rule : *phase) rules->push_back(std::move(rule));
    }
    return S_OK;
  }

 private:
  bool Removed(const std::u16string& path, const PlanEntry& entry) const {
    const auto other = target_.find(path);
    return other == target_.end() || other->second.directory != entry.directory;
  }
  bool Added(const std::u16string& path, const PlanEntry& entry) const {
    const auto other = plan_.find(path);
    return other == plan_.end() || other->second.directory != entry.directory;
  }
  bool Unreachable(const std::u16string& path) {
    if (IsReachable(path)) return false;
    inexpressible_.push_back(path + u": outside the folder-token folders, which are all that rules "
                                    u"reach");
    return true;
  }

  static MigrationRule PathRule(bool directory, std::u16string_view action,
                                std::u16string_view source, std::u16string_view destination = {}) {
    MigrationRule rule;
    rule.kind = directory ? RuleKind::Directory : RuleKind::File;
    if (directory) {
      rule.directory = {std::u16string(action), RulePath(destination), RulePath(source)};
    } else {
      rule.file = {std::u16string(action), RulePath(destination), RulePath(source), {}};
    }
    return rule;
  }

  // Calls `visit(suffix, folder, depth)` for the folders above a file, nearest first, up to
  // kMaxSuffix of them: `suffix` is the file's content hash and the names below `folder`, which
  // has `depth` components.
  template <typename Visit>
  static void ForEachFolderAbove(const std::u16string& path, const PlanEntry& entry, Visit visit) {
    const auto parts = Components(path);
    std::u16string suffix = DecimalText(entry.hash);
    for (std::size_t s = 1; s <= kMaxSuffix && s < parts.size(); ++s) {
      suffix += u'/';
      suffix += parts[parts.size() - s];
      visit(suffix, Prefix(parts, parts.size() - s), parts.size() - s);
    }
  }

  // A removed file and an added file with the same content and the same last names vote for the
  // folders above them as a move; the best-voted moves that land at least half their files on
  // after's files are taken.
  void MoveDirectories() {
    std::unordered_map<std::u16string, std::vector<std::u16string>> by_suffix;
    for (const auto& [path, entry] : target_) {
      if (entry.directory || entry.size == 0 || !Added(path, entry)) continue;
      ForEachFolderAbove(path, entry, [&](const std::u16string& suffix, std::u16string folder,
                                          std::size_t /*depth*/) {
        if (plan_.contains(folder)) return;  // a move needs a destination that is not there
        std::vector<std::u16string>& bucket = by_suffix[suffix];
        if (bucket.size() <= kMaxBucket) bucket.push_back(std::move(folder));
      });
    }
    std::map<std::u16string, MoveCandidate> votes;
    for (const auto& [path, entry] : plan_) {
      if (entry.directory || entry.size == 0 || !Removed(path, entry)) continue;
      ForEachFolderAbove(path, entry, [&](const std::u16string& suffix, std::u16string folder,
                                          std::size_t depth) {
        if (target_.contains(folder)) return;  // a folder that stays is not moved
        const auto bucket = by_suffix.find(suffix);
        if (bucket == by_suffix.end() || bucket->second.size() > kMaxBucket) return;
        for (const std::u16string& destination : bucket->second) {
          MoveCandidate& candidate = votes[folder + u'\0' + destination];
          candidate.source = folder;
          candidate.destination = destination;
          candidate.depth = depth;
          ++candidate.votes;
        }
      });
    }
    std::vector<MoveCandidate> candidates;
    for (auto& [key, candidate] : votes) candidates.push_back(std::move(candidate));
    std::vector<MoveCandidate> chosen;
    for (const MoveCandidate& candidate : RankedMoves(std::move(candidates), IsReachable, Overlaps)) {
      if (ClashesWithChosen(candidate, chosen, Overlaps)) continue;
      std::size_t files = 0;
      std::size_t landed = 0;
      ForEachBelow(plan_, candidate.source, [&](const std::u16string& path, const PlanEntry& entry) {
        if (entry.directory) return;
        ++files;
        const auto target = target_.find(candidate.destination + path.substr(candidate.source.size()));
        if (target != target_.end() && SameFile(target->second, entry)) ++landed;
      });
      if (landed == 0 || 2 * landed < files) continue;
      chosen.push_back(candidate);
      MoveInPlan(&plan_, candidate.source, candidate.destination);
      directory_moves_.push_back(PathRule(true, u"move", candidate.source, candidate.destination));
    }
  }

  // A removed file whose content an added file has moved there; a file of the same name first.
  void MoveFiles() {
    std::multimap<std::pair<std::uint64_t, std::uint64_t>, std::u16string> removed;
    for (const auto& [path, entry] : plan_) {
      if (!entry.directory && entry.size > 0 && Removed(path, entry) && IsReachable(path)) {
        removed.emplace(std::pair(entry.size, entry.hash), path);
      }
    }
    std::vector<std::pair<std::u16string, std::u16string>> moves;
    for (const auto& [path, entry] : target_) {
      if (entry.directory || entry.size == 0 || !Added(path, entry) || !IsReachable(path)) continue;
      const auto [first, last] = removed.equal_range(std::pair(entry.size, entry.hash));
      if (first == last) continue;
      auto pick = first;
      const std::u16string_view name = Components(path).back();
      for (auto it = first; it != last; ++it) {
        if (Components(it->second).back() == name) {
          pick = it;
          break;
        }
      }
      moves.emplace_back(pick->second, path);
      removed.erase(pick);
    }
    for (const auto& [from, to] : moves) {
      MoveInPlan(&plan_, from, to);
      file_moves_.push_back(PathRule(false, u"move", from, to));
    }
  }

  // An added file whose content a file of the tree holds is copied from there.
  void CopyFiles() {
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::u16string> contents;
    for (const auto& [path, entry] : plan_) {
      if (!entry.directory && entry.size > 0 && IsReachable(path)) {
        contents.emplace(std::pair(entry.size, entry.hash), path);
      }
    }
    std::vector<std::pair<std::u16string, std::u16string>> copies;
    for (const auto& [path, entry] : target_) {
      if (entry.directory || entry.size == 0 || !Added(path, entry) || !IsReachable(path)) continue;
      const auto source = contents.find(std::pair(entry.size, entry.hash));
      if (source != contents.end()) copies.emplace_back(source->second, path);
    }
    for (const auto& [from, to] : copies) {
      sources_.insert(from);
      plan_[to] = plan_[from];
      for (std::size_t slash = to.find(u'/'); slash != std::u16string::npos;
           slash = to.find(u'/', slash + 1)) {
        plan_[to.substr(0, slash)].directory = true;
      }
      copies_.push_back(PathRule(false, u"copy", from, to));
    }
  }

  // What the moves and copies leave: entries that must go, and entries to make.
  HRESULT DeleteAndCreate() {
    std::set<std::u16string> deleted;
    for (const auto& [path, entry] : plan_) {
      if (!Removed(path, entry)) continue;
      bool under_deleted = false;
      for (std::size_t slash = path.find(u'/'); slash != std::u16string::npos && !under_deleted;
           slash = path.find(u'/', slash + 1)) {
        under_deleted = deleted.contains(path.substr(0, slash));
      }
      if (under_deleted || Unreachable(path)) continue;
      deleted.insert(path);
      // A file where after has a folder is in the way of what goes into that folder; it goes
      // first, unless a copy still reads it.
      const bool early = !entry.directory && target_.contains(path) && !sources_.contains(path);
      (early ? early_deletes_ : late_deletes_).push_back(PathRule(entry.directory, u"delete", path));
    }
    for (const auto& [path, entry] : target_) {
      const auto present = plan_.find(path);
      const bool kept = present != plan_.end() && present->second.directory == entry.directory &&
                        (entry.directory || SameFile(present->second, entry));
      if (kept) continue;
      if (entry.directory) {
        const auto next = target_.upper_bound(path);
        const bool empty = next == target_.end() || !next->first.starts_with(path + u'/');
        if (empty && (present == plan_.end() || !present->second.directory) && !Unreachable(path)) {
          directory_creates_.push_back(PathRule(true, u"create", path));
        }
        continue;
      }
      if (Unreachable(path)) continue;
      if (entry.size > kMaxInlineBytes) {
        inexpressible_.push_back(path + u": " + DecimalText(entry.size) + u" bytes, over the " +
                                 DecimalText(kMaxInlineBytes) +
                                 u" bytes that a rule carries as Base64");
        continue;
      }
      MigrationRule rule = PathRule(false, u"create", path);
      std::string bytes;
      RETURN_IF_FAILED(ReadFileBytes(after_.tree.at(path).full_path, kMaxInlineBytes, &bytes));
      rule.file.content = Base64Encode(std::span(
          reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
      file_creates_.push_back(std::move(rule));
    }
    return S_OK;
  }

  const Profile& after_;
  std::vector<std::u16string>& inexpressible_;
  PlanTree plan_;      // before's tree as the rules so far leave it
  PlanTree target_;    // after's tree
  std::set<std::u16string> sources_;  // copy sources
  std::vector<MigrationRule> early_deletes_, directory_moves_, file_moves_, copies_, late_deletes_,
      directory_creates_, file_creates_;
};

}  // namespace

HRESULT DeriveFileRules(const Profile& before, const Profile& after,
                        std::vector<MigrationRule>* rules,
                        std::vector<std::u16string>* inexpressible) {
  FileDeriver deriver(after, inexpressible);
  return deriver.Run(before, rules);
}

}  // namespace orvex
