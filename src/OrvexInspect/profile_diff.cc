#include "OrvexInspect/profile_diff.h"

#include <algorithm>
#include <set>

#include "OrvexInspect/inspect_text.h"
#include "platform/text.h"

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

std::size_t FilesInside(const FileTree& tree, const std::u16string& directory) {
  const std::u16string prefix = directory + u'/';
  std::size_t files = 0;
  for (auto it = tree.lower_bound(prefix); it != tree.end() && it->first.starts_with(prefix);
       ++it) {
    if (!it->second.directory) ++files;
  }
  return files;
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
HRESULT LineDiff(const TreeEntry& before, const TreeEntry& after, std::vector<std::u16string>* out) {
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

TreeDifference OneSide(TreeDifference::Kind kind, const std::u16string& path,
                       const TreeEntry& entry, const FileTree& tree,
                       std::set<std::u16string, std::less<>>* collapsed) {
  TreeDifference difference;
  difference.kind = kind;
  difference.path = path;
  difference.entry = &entry;
  if (entry.directory) {
    difference.files_inside = FilesInside(tree, path);
    collapsed->insert(path);
  }
  return difference;
}

HRESULT CompareTrees(const FileTree& before, const FileTree& after,
                     std::vector<TreeDifference>* differences) {
  std::set<std::u16string, std::less<>> removed;
  std::set<std::u16string, std::less<>> added;
  for (const auto& [path, entry] : before) {
    if (UnderAny(path, removed)) continue;
    const auto other = after.find(path);
    if (other == after.end() || other->second.directory != entry.directory) {
      differences->push_back(OneSide(TreeDifference::Kind::kRemoved, path, entry, before, &removed));
      continue;
    }
    if (entry.directory) continue;
    // Files listed from their archives compare by the CRC-32 recorded there, unpacked ones by
    // their bytes.
    bool same = entry.size == other->second.size;
    if (same && entry.crc && other->second.crc) {
      same = entry.crc == other->second.crc;
    } else if (same) {
      RETURN_IF_FAILED(SameContent(entry.full_path, other->second.full_path, &same));
    }
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
    if (UnderAny(path, added)) continue;
    const auto other = before.find(path);
    if (other != before.end() && other->second.directory == entry.directory) continue;
    differences->push_back(OneSide(TreeDifference::Kind::kAdded, path, entry, after, &added));
  }
  std::stable_sort(differences->begin(), differences->end(),
                   [](const TreeDifference& a, const TreeDifference& b) { return a.path < b.path; });
  return S_OK;
}

const RegistryDocument& EmptyDocument() {
  static const RegistryDocument empty;
  return empty;
}

char16_t Marker(bool in_before, bool in_after) {
  return !in_before ? u'+' : !in_after ? u'-' : u'~';
}

void AppendLine(std::u16string* out, std::u16string_view indent, std::u16string_view line) {
  *out += indent;
  *out += line;
  *out += u'\n';
}

// `count` is how many values of the name the key holds; an import keeps the last, which is the
// one shown.
void AppendValueLines(std::u16string* out, std::u16string_view indent, char16_t marker,
                      std::u16string_view name, const RegistryValueRef& value, std::size_t count) {
  const ValueDescription description = DescribeValue(value);
  const std::u16string lead = {u' ', u' ', marker, u' ', u' ', u' ', u' ', u' '};
  std::u16string head = lead + ValueNameText(name) + u" = " + description.head;
  if (count > 1) {
    head += u" (the key holds this name " +
            (count == 2 ? u"twice" : DecimalText(count) + u" times") +
            u"; an import keeps this last value)";
  }
  AppendLine(out, indent, head);
  for (const std::u16string& more : description.more) {
    AppendLine(out, indent, lead + u"    " + more);
  }
}

void AppendRegFileText(const RegFileComparison& file, std::u16string_view indent,
                       std::u16string* out) {
  AppendLine(out, indent, std::u16string{Marker(file.in_before, file.in_after), u' '} + file.name);
  for (const KeyDifference& key : file.keys) {
    const char16_t marker = key.kind == KeyDifference::Kind::kAdded     ? u'+'
                            : key.kind == KeyDifference::Kind::kRemoved ? u'-'
                                                                        : u' ';
    AppendLine(out, indent,
               std::u16string{u' ', u' ', marker, u' ', u'['}.append(key.key->path) + u']');
    for (const ValueDifference& value : key.values) {
      if (value.before != nullptr) {
        AppendValueLines(out, indent, u'-', value.name, *value.before, value.before_count);
      }
      if (value.after != nullptr) {
        AppendValueLines(out, indent, u'+', value.name, *value.after, value.after_count);
      }
    }
  }
}

void AppendTreeText(const TreeDifference& difference, std::u16string_view indent,
                    std::u16string* out) {
  const char16_t marker = difference.kind == TreeDifference::Kind::kAdded     ? u'+'
                          : difference.kind == TreeDifference::Kind::kRemoved ? u'-'
                                                                              : u'~';
  std::u16string line = {marker, u' '};
  line += difference.path;
  if (difference.entry->directory) {
    line += difference.files_inside == 0
                ? u"/ (directory)"
                : u"/ (directory, " + DecimalText(difference.files_inside) +
                      (difference.files_inside == 1 ? u" file)" : u" files)");
  } else if (difference.kind != TreeDifference::Kind::kChanged) {
    line += u" (" + DecimalText(difference.entry->size) + u" bytes)";
  } else if (difference.old_size != difference.entry->size) {
    line += u" (" + DecimalText(difference.old_size) + u" -> " +
            DecimalText(difference.entry->size) + u" bytes)";
  } else {
    line += u" (" + DecimalText(difference.entry->size) + u" bytes, other content)";
  }
  AppendLine(out, indent, line);
  for (const std::u16string& text : difference.lines) AppendLine(out, indent, u"  " + text);
}

std::u16string_view KindWord(bool added, bool removed) {
  return added ? u"added" : removed ? u"removed" : u"changed";
}

void BeginObject(std::u16string* out, bool* first, std::u16string_view what,
                 std::u16string_view change) {
  *out += *first ? u"\n  {\"what\": " : u",\n  {\"what\": ";
  *first = false;
  AppendJsonString(out, what);
  *out += u", \"change\": ";
  AppendJsonString(out, change);
}

void AppendField(std::u16string* out, std::u16string_view name, std::u16string_view value) {
  *out += u", \"";
  *out += name;
  *out += u"\": ";
  AppendJsonString(out, value);
}

}  // namespace

HRESULT CompareProfiles(std::span<const RegDocumentRef> before, const FileTree& before_tree,
                        std::span<const RegDocumentRef> after, const FileTree& after_tree,
                        ProfileComparison* comparison) {
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
    if (!file.keys.empty() || !file.in_before || !file.in_after) {
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
  return CompareTrees(before_tree, after_tree, &comparison->tree);
}

HRESULT CompareProfiles(const Profile& before, const Profile& after,
                        ProfileComparison* comparison) {
  std::vector<RegDocumentRef> old_files;
  for (const ProfileRegFile& file : before.reg_files) old_files.push_back({file.name, &file.document});
  std::vector<RegDocumentRef> new_files;
  for (const ProfileRegFile& file : after.reg_files) new_files.push_back({file.name, &file.document});
  return CompareProfiles(old_files, before.tree, new_files, after.tree, comparison);
}

void AppendDifferenceText(const ProfileComparison& comparison, std::u16string_view indent,
                          std::u16string* out) {
  // .reg files and tree entries in one order of names.
  std::size_t reg = 0;
  std::size_t tree = 0;
  while (reg < comparison.reg_files.size() || tree < comparison.tree.size()) {
    if (tree == comparison.tree.size() ||
        (reg < comparison.reg_files.size() &&
         comparison.reg_files[reg].name < comparison.tree[tree].path)) {
      AppendRegFileText(comparison.reg_files[reg++], indent, out);
    } else {
      AppendTreeText(comparison.tree[tree++], indent, out);
    }
  }
}

void AppendDifferenceJson(const ProfileComparison& comparison, std::u16string* out) {
  *out += u'[';
  bool first = true;
  for (const RegFileComparison& file : comparison.reg_files) {
    if (!file.in_before || !file.in_after) {
      BeginObject(out, &first, u"registry file", KindWord(!file.in_before, !file.in_after));
      AppendField(out, u"file", file.name);
      *out += u'}';
    }
    for (const KeyDifference& key : file.keys) {
      const bool added = key.kind == KeyDifference::Kind::kAdded;
      const bool removed = key.kind == KeyDifference::Kind::kRemoved;
      if (added || removed) {
        BeginObject(out, &first, u"key", KindWord(added, removed));
        AppendField(out, u"file", file.name);
        AppendField(out, u"key", key.key->path);
        *out += u'}';
      }
      for (const ValueDifference& value : key.values) {
        BeginObject(out, &first, u"value",
                    KindWord(value.before == nullptr, value.after == nullptr));
        AppendField(out, u"file", file.name);
        AppendField(out, u"key", key.key->path);
        AppendField(out, u"name", value.name);
        if (value.before != nullptr) {
          *out += u", \"before\": ";
          AppendValueJson(out, *value.before, value.before_count);
        }
        if (value.after != nullptr) {
          *out += u", \"after\": ";
          AppendValueJson(out, *value.after, value.after_count);
        }
        *out += u'}';
      }
    }
  }
  for (const TreeDifference& difference : comparison.tree) {
    BeginObject(out, &first, difference.entry->directory ? u"directory" : u"file",
                KindWord(difference.kind == TreeDifference::Kind::kAdded,
                         difference.kind == TreeDifference::Kind::kRemoved));
    AppendField(out, u"path", difference.path);
    if (difference.entry->directory) {
      *out += u", \"files\": " + DecimalText(difference.files_inside);
    } else {
      if (difference.kind == TreeDifference::Kind::kChanged) {
        *out += u", \"size_before\": " + DecimalText(difference.old_size);
      }
      *out += u", \"size\": " + DecimalText(difference.entry->size);
    }
    *out += u'}';
  }
  *out += first ? u"]\n" : u"\n]\n";
}

}  // namespace orvex
