// The directory and file rules of a derived migration.
#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "OrvexInspect/derive.h"
#include "paths/folder_tokens.h"
#include "paths/paths.h"
#include "platform/text.h"
#include "reports/report_text.h"
#include "transforms/files/directory_rules.h"
#include "transforms/files/file_rules.h"
#include "transforms/files/file_system.h"
#include "transforms/files/image_conversion.h"

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
  const std::u16string* full_path = nullptr;  ///< of the file in its unpacked tree
};
using PlanTree = std::map<std::u16string, PlanEntry>;

HRESULT PlanOf(const FileTree& tree, PlanTree* plan) {
  for (const auto& [path, entry] : tree) {
    PlanEntry& planned = (*plan)[path];
    planned.directory = entry.directory;
    planned.size = entry.size;
    planned.full_path = &entry.full_path;
    if (!entry.directory && entry.size > 0) {
      RETURN_IF_FAILED(HashFileContent(entry.full_path, &planned.hash));
    }
  }
  return S_OK;
}

bool IsAtOrBelow(std::u16string_view path, std::u16string_view root) {
  return path == root ||
         (path.size() > root.size() && path.starts_with(root) && path[root.size()] == u'/');
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

// Whether a rule can name the path: its first folder is a folder token, and XML carries it.
bool IsReachable(std::u16string_view path) {
  return IsXmlText(path) && IsFolderTokenPath(RulePath(path));
}

// The folder of a folder token holds what every application keeps there; no derived rule deletes
// or moves it.
bool IsTokenRoot(std::u16string_view path) { return path.find(u'/') == std::u16string_view::npos; }

// The file's name without its extension.
std::u16string_view Stem(std::u16string_view path) {
  const std::u16string_view name = path.substr(path.rfind(u'/') + 1);
  return name.substr(0, name.rfind(u'.'));
}

std::u16string_view Folder(std::u16string_view path) { return path.substr(0, path.rfind(u'/')); }

// Whether some converter takes (`source`) or makes files of the path's extension.
bool IsPicture(std::u16string_view path, bool source) {
  const std::u16string_view extension = path.substr(FindExtension(path));
  return !extension.empty() &&
         std::any_of(ConverterTable.begin(), ConverterTable.end(),
                     [&](const ImageConverterRow& row) {
                       const std::u16string_view key = row.key;
                       return key.size() > extension.size() &&
                              EqualsIgnoreCase(source ? key.substr(0, extension.size())
                                                      : key.substr(key.size() - extension.size()),
                                               extension);
                     });
}

bool SameFile(const PlanEntry& a, const PlanEntry& b) {
  return !a.directory && !b.directory && a.size == b.size && a.hash == b.hash;
}

// Entries at or below `root`: the root itself and the names after "root/".
template <typename Visit>
void ForEachBelow(const PlanTree& tree, const std::u16string& root, Visit visit) {
  if (const auto self = tree.find(root); self != tree.end()) visit(self->first, self->second);
  const std::u16string prefix = root + u'/';
  for (auto it = tree.lower_bound(prefix); it != tree.end() && it->first.starts_with(prefix);
       ++it) {
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
  FileDeriver(const Profile& after, std::u16string_view scratch,
              std::vector<std::u16string>* inexpressible)
      : after_(after), scratch_(scratch), inexpressible_(*inexpressible) {}

  HRESULT Run(const Profile& before, std::vector<MigrationRule>* rules) {
    RETURN_IF_FAILED(PlanOf(before.tree, &plan_));
    RETURN_IF_FAILED(PlanOf(after_.tree, &target_));
    MoveDirectories();
    MoveFiles();
    RETURN_IF_FAILED(MoveChangedFiles());
    CopyFiles();
    RETURN_IF_FAILED(ConvertPictures());
    RETURN_IF_FAILED(DeleteAndCreate());
    for (std::vector<MigrationRule>* phase :
         {&early_deletes_, &directory_moves_, &file_moves_, &copies_, &converts_, &late_deletes_,
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
  // Whether the tree as the rules so far leave it holds after's entry at `path`.
  bool Kept(const std::u16string& path, const PlanEntry& entry) const {
    const auto present = plan_.find(path);
    return present != plan_.end() && present->second.directory == entry.directory &&
           (entry.directory || SameFile(present->second, entry));
  }
  bool Unreachable(const std::u16string& path) {
    if (IsReachable(path)) return false;
    inexpressible_.push_back(path +
                             u": outside the folder-token folders, which are all that rules "
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
  // kMaxSuffix of them and short of the token's folder: `suffix` is the file's content hash and
  // the names below `folder`, which has `depth` components.
  template <typename Visit>
  static void ForEachFolderAbove(const std::u16string& path, const PlanEntry& entry, Visit visit) {
    const auto parts = Components(path);
    std::u16string suffix = DecimalText(entry.hash);
    for (std::size_t s = 1; s <= kMaxSuffix && s + 1 < parts.size(); ++s) {
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
      ForEachFolderAbove(
          path, entry,
          [&](const std::u16string& suffix, std::u16string folder, std::size_t /*depth*/) {
            if (plan_.contains(folder)) return;  // a move needs a destination that is not there
            std::vector<std::u16string>& bucket = by_suffix[suffix];
            if (bucket.size() <= kMaxBucket) bucket.push_back(std::move(folder));
          });
    }
    std::map<std::u16string, MoveCandidate> votes;
    for (const auto& [path, entry] : plan_) {
      if (entry.directory || entry.size == 0 || !Removed(path, entry)) continue;
      ForEachFolderAbove(
          path, entry, [&](const std::u16string& suffix, std::u16string folder, std::size_t depth) {
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
    for (const MoveCandidate& candidate :
         RankedMoves(std::move(candidates), IsReachable, Overlaps)) {
      if (ClashesWithChosen(candidate, chosen, Overlaps)) continue;
      std::size_t files = 0;
      std::size_t landed = 0;
      ForEachBelow(plan_, candidate.source,
                   [&](const std::u16string& path, const PlanEntry& entry) {
                     if (entry.directory) return;
                     ++files;
                     const auto target =
                         target_.find(candidate.destination + path.substr(candidate.source.size()));
                     if (target != target_.end() && SameFile(target->second, entry)) ++landed;
                   });
      if (landed == 0 || 2 * landed < files) continue;
      chosen.push_back(candidate);
      MoveInPlan(&plan_, candidate.source, candidate.destination);
      directory_moves_.push_back(PathRule(true, ActionWord(DirectoryAction::kMove),
                                          candidate.source, candidate.destination));
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
      file_moves_.push_back(PathRule(false, ActionWord(FileAction::kMove), from, to));
    }
  }

  // A removed file and an added file of the same name but for its extension, whose text is for
  // the most part the same, are one file moved or renamed, its content changed too: it moves, so
  // that every user keeps their own content, and the change stays a difference of the example.
  HRESULT MoveChangedFiles() {
    std::vector<std::u16string> removed;
    for (const auto& [path, entry] : plan_) {
      if (!entry.directory && entry.size > 0 && entry.size <= kMaxInlineBytes &&
          Removed(path, entry) && IsReachable(path)) {
        removed.push_back(path);
      }
    }
    std::vector<std::pair<std::u16string, std::u16string>> moves;
    for (const auto& [path, entry] : target_) {
      if (entry.directory || entry.size == 0 || entry.size > kMaxInlineBytes ||
          !Added(path, entry) || !IsReachable(path)) {
        continue;
      }
      for (auto it = removed.begin(); it != removed.end(); ++it) {
        if (!EqualsIgnoreCase(Stem(*it), Stem(path))) continue;
        // Most of the shorter file's lines are the other's.
        LineComparison lines;
        RETURN_IF_FAILED(CompareLines(*plan_.at(*it).full_path, *entry.full_path, &lines));
        const std::size_t shorter = lines.shared + std::min(lines.only_first, lines.only_second);
        if (!lines.text || lines.shared == 0 || 2 * lines.shared < shorter) continue;
        moves.emplace_back(*it, path);
        removed.erase(it);
        break;
      }
    }
    for (const auto& [from, to] : moves) {
      MoveInPlan(&plan_, from, to);
      // The file at `to` is the user's own, and stays so.
      plan_[to] = target_.at(to);
      file_moves_.push_back(PathRule(false, ActionWord(FileAction::kMove), from, to));
    }
    return S_OK;
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
      AddToPlan(to, plan_[from]);
      copies_.push_back(PathRule(false, ActionWord(FileAction::kCopy), from, to));
    }
  }

  // A file that a rule makes, with the folders above it that the rule creates.
  void AddToPlan(const std::u16string& path, const PlanEntry& entry) {
    plan_[path] = entry;
    for (std::size_t slash = path.find(u'/'); slash != std::u16string::npos;
         slash = path.find(u'/', slash + 1)) {
      plan_[path.substr(0, slash)].directory = true;
    }
  }

  // Whether the tool's own conversion of `source` gives the bytes of after's `picture`. Each
  // source is converted once per converter, into a file of the scratch folder.
  HRESULT ConvertsTo(const PlanEntry& source, ImageConverter converter, const PlanEntry& picture,
                     bool* same) {
    *same = false;
    const auto key = std::pair(*source.full_path, converter);
    auto known = conversions_.find(key);
    if (known == conversions_.end()) {
      std::u16string converted;
      RETURN_IF_FAILED(CombinePath(scratch_, DecimalText(conversions_.size()), &converted));
      RETURN_IF_FAILED(CreateDirectoryPath(scratch_));
      // A source that is no picture of its kind has no conversion.
      if (FAILED(converter(*source.full_path, converted))) converted.clear();
      known = conversions_.emplace(key, std::move(converted)).first;
    }
    if (known->second.empty()) return S_OK;
    return SameContent(known->second, *picture.full_path, same);
  }

  // A picture of after that the tool's own conversion makes of a picture of the tree, one of the
  // same name first, then the others of its folder, is converted from it: every profile then
  // gets its own picture converted, not the example's.
  HRESULT ConvertPictures() {
    std::vector<std::u16string> pictures;
    for (const auto& [path, entry] : plan_) {
      if (!entry.directory && IsPicture(path, true) && IsReachable(path)) pictures.push_back(path);
    }
    for (const auto& [path, entry] : target_) {
      if (entry.directory || !IsPicture(path, false) || Kept(path, entry) || !IsReachable(path)) {
        continue;
      }
      std::vector<std::pair<bool, const std::u16string*>> sources;
      for (const std::u16string& source : pictures) {
        const bool same_name = Stem(source) == Stem(path);
        if ((same_name || Folder(source) == Folder(path)) &&
            FindImageConverter(source, path) != nullptr) {
          sources.emplace_back(!same_name, &source);
        }
      }
      std::sort(sources.begin(), sources.end());
      for (const auto& [other_name, source] : sources) {
        bool same = false;
        RETURN_IF_FAILED(
            ConvertsTo(plan_.at(*source), FindImageConverter(*source, path), entry, &same));
        if (!same) continue;
        sources_.insert(*source);
        AddToPlan(path, entry);
        converts_.push_back(PathRule(false, ActionWord(FileAction::kConvert), *source, path));
        break;
      }
    }
    return S_OK;
  }

  // What the moves, copies and conversions leave: entries that must go, and entries to make.
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
      if (IsTokenRoot(path)) {
        inexpressible_.push_back(path +
                                 u": the folder of a folder token, which holds what every "
                                 u"application keeps there; the rules delete only what "
                                 u"lies in it");
        continue;
      }
      deleted.insert(path);
      // A file where after has a folder is in the way of what goes into that folder; it goes
      // first, unless a copy still reads it.
      const bool early = !entry.directory && target_.contains(path) && !sources_.contains(path);
      (early ? early_deletes_ : late_deletes_)
          .push_back(PathRule(entry.directory,
                              entry.directory ? ActionWord(DirectoryAction::kDelete)
                                              : ActionWord(FileAction::kDelete),
                              path));
    }
    for (const auto& [path, entry] : target_) {
      if (Kept(path, entry)) continue;
      const auto present = plan_.find(path);
      if (entry.directory) {
        const auto next = target_.upper_bound(path);
        const bool empty = next == target_.end() || !next->first.starts_with(path + u'/');
        if (empty && (present == plan_.end() || !present->second.directory) && !Unreachable(path)) {
          directory_creates_.push_back(PathRule(true, ActionWord(DirectoryAction::kCreate), path));
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
      MigrationRule rule = PathRule(false, ActionWord(FileAction::kCreate), path);
      std::string bytes;
      RETURN_IF_FAILED(ReadFileBytes(after_.tree.at(path).full_path, kMaxInlineBytes, &bytes));
      rule.file.content = Base64Encode(
          std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
      file_creates_.push_back(std::move(rule));
    }
    return S_OK;
  }

  const Profile& after_;
  const std::u16string scratch_;  // where trial conversions write
  std::vector<std::u16string>& inexpressible_;
  // Converted pictures by source and converter; empty when the conversion failed.
  std::map<std::pair<std::u16string, ImageConverter>, std::u16string> conversions_;
  PlanTree plan_;                     // before's tree as the rules so far leave it
  PlanTree target_;                   // after's tree
  std::set<std::u16string> sources_;  // files that copies and conversions read
  std::vector<MigrationRule> early_deletes_, directory_moves_, file_moves_, copies_, converts_,
      late_deletes_, directory_creates_, file_creates_;
};

}  // namespace

HRESULT CompareLines(std::u16string_view first, std::u16string_view second,
                     LineComparison* comparison) {
  std::string bytes[2];
  RETURN_IF_FAILED(ReadFileBytes(first, kMaxInlineBytes, &bytes[0]));
  RETURN_IF_FAILED(ReadFileBytes(second, kMaxInlineBytes, &bytes[1]));
  *comparison = {};
  comparison->text =
      bytes[0].find('\0') == std::string::npos && bytes[1].find('\0') == std::string::npos;
  std::multiset<std::string_view> lines[2];
  for (int side = 0; side < 2; ++side) {
    std::string_view rest = bytes[side];
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      lines[side].insert(rest.substr(0, end));
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
  }
  for (const std::string_view line : lines[0]) {
    const auto other = lines[1].find(line);
    if (other == lines[1].end()) {
      ++comparison->only_first;
    } else {
      lines[1].erase(other);
      ++comparison->shared;
    }
  }
  comparison->only_second = lines[1].size();
  return S_OK;
}

std::u16string RulePath(std::u16string_view tree_name) {
  std::u16string rule(tree_name);
  std::replace(rule.begin(), rule.end(), u'/', u'\\');
  return rule;
}

std::u16string TreeName(std::u16string_view rule_path) {
  std::u16string name(rule_path);
  std::replace(name.begin(), name.end(), u'\\', u'/');
  return name;
}

HRESULT DeriveFileRules(const Profile& before, const Profile& after, std::u16string_view scratch,
                        std::vector<MigrationRule>* rules,
                        std::vector<std::u16string>* inexpressible) {
  FileDeriver deriver(after, scratch, inexpressible);
  return deriver.Run(before, rules);
}

}  // namespace orvex
