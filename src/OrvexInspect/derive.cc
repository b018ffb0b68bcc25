#include "OrvexInspect/derive.h"

#include <algorithm>
#include <utility>

#include "OrvexInspect/profile_diff.h"
#include "OrvexInspect/registry_describe.h"
#include "OrvexInspect/rule_check.h"
#include "platform/com.h"
#include "platform/images.h"
#include "platform/text.h"
#include "regfile/key_order.h"
#include "reports/report_text.h"
#include "rules/xml_config.h"
#include "transforms/files/directory_rules.h"
#include "transforms/files/file_rules.h"
#include "transforms/registry/key_rules.h"
#include "transforms/registry/value_rules.h"

namespace orvex {
namespace {

// Base64 content is written in lines of this many characters.
constexpr std::size_t kBase64Line = 76;

// Above a rule that writes what the example holds: in other profiles it replaces the user's own.
constexpr std::u16string_view kExampleData =
    u"    <!-- Carries the example's data: every profile gets it, whatever it held. -->\n";

const ProfileRegFile* FindRegFile(const Profile& profile, std::u16string_view name) {
  for (const ProfileRegFile& file : profile.reg_files) {
    if (EqualsIgnoreCase(file.name, name)) return &file;
  }
  return nullptr;
}

// Whether the keys stand in the order the migration writes them: sorted, the import-marker
// sections aside (they open and close the file).
bool InWrittenOrder(const RegistryDocument& document) {
  std::string_view last;  // the empty key sorts first
  for (int i = 0; i < document.size(); ++i) {
    if (EqualsIgnoreCase(document.KeyAt(i).path(), kImportMarkerKeyPath)) continue;
    const std::string_view key = document.CollationKeyAt(i);
    if (key < last) return false;
    last = key;
  }
  return true;
}

std::u16string StopNote(const MigrationRule& rule, HRESULT hr) {
  return u"the rules stop the migration at the " + RuleText(rule) + u" (error " +
         DecimalText(static_cast<std::uint32_t>(LowWord(hr))) + u")";
}

// Runs the rules as the two passes of a migration do: the key and value rules on copies of
// before's documents (sorted and with their import markers placed, as they are written), the
// directory and file rules on before's unpacked tree.
HRESULT TryRules(Profile& before, const std::vector<MigrationRule>& rules,
                 std::vector<RegistryDocument>* migrated, std::vector<std::u16string>* notes) {
  for (const ProfileRegFile& file : before.reg_files) {
    RegistryDocument& document = migrated->emplace_back();
    for (const RegistryKeyEntry& key : file.document.keys()) document.AddKey(key);
    for (const MigrationRule& rule : rules) {
      HRESULT hr = S_OK;
      if (rule.kind == RuleKind::Key) hr = ProcessRegistryKey(document, rule.key);
      if (rule.kind == RuleKind::Value) hr = ProcessRegistryValue(document, rule.value);
      if (FAILED(hr)) {
        notes->push_back(file.name + u": " + StopNote(rule, hr));
        break;
      }
    }
    SortKeys(document);
    PlaceImportMarkers(document);
  }
  for (const MigrationRule& rule : rules) {
    HRESULT hr = S_OK;
    if (rule.kind == RuleKind::Directory) hr = ProcessDirectory(before.root, rule.directory);
    if (rule.kind == RuleKind::File) hr = ProcessFile(before.root, rule.file);
    if (FAILED(hr)) {
      notes->push_back(StopNote(rule, hr));
      break;
    }
  }
  std::u16string failed_path;
  return ReloadTree(&before, &failed_path);
}

// A tree entry as the lines below name it: "file 'x' (3 bytes)", "folder 'y' (2 files)".
std::u16string EntryText(const TreeDifference& difference) {
  if (!difference.entry->directory) {
    return u"file '" + difference.path + u"' (" +
           CountText(difference.entry->size, u"byte", u"bytes") + u")";
  }
  const std::size_t files = difference.files_inside;
  return u"folder '" + difference.path + u"' (" +
         (files == 0 ? u"empty" : CountText(files, u"file", u"files")) + u")";
}

// How the example's file changed where the rules keep the user's own, in words: "gained a line",
// "lost 2 lines", "gained a line and lost 2 lines"; for files that are not text, its sizes.
HRESULT ChangeText(const TreeEntry& kept, const TreeEntry& example, std::u16string* text) {
  LineComparison lines;
  RETURN_IF_FAILED(CompareLines(kept.full_path, example.full_path, &lines));
  if (!lines.text || kept.size > kMaxInlineBytes || example.size > kMaxInlineBytes) {
    *text = u"holds " + CountText(example.size, u"byte", u"bytes") + u" where the user's held " +
            DecimalText(kept.size);
    return S_OK;
  }
  const std::size_t gained = lines.only_second;
  const std::size_t lost = lines.only_first;
  const auto count = [](std::size_t n) {
    return n == 1 ? std::u16string(u"a line") : DecimalText(n) + u" lines";
  };
  if (gained == 0 && lost == 0) {
    *text = u"has its lines in another order";
  } else if (lost == 0) {
    *text = u"gained " + count(gained);
  } else if (gained == 0) {
    *text = u"lost " + count(lost);
  } else {
    *text = u"gained " + count(gained) + u" and lost " + count(lost);
  }
  return S_OK;
}

// What differs between the rules' result (the comparison's before) and the after profile, in
// words: which of the two has what the other lacks. A file that the rules keep but the example
// changed is said in words about the change.
HRESULT RemainingLines(const ProfileComparison& comparison, const FileTree& kept,
                       std::vector<std::u16string>* remaining) {
  constexpr std::u16string_view kLacks = u", which the after profile lacks";
  constexpr std::u16string_view kNotMade = u", which the rules do not make";
  std::vector<std::u16string>& lines = *remaining;
  for (const RegFileComparison& file : comparison.reg_files) {
    const std::u16string head = file.name + u": ";
    if (!file.in_after) {
      lines.push_back(head + u"the rules leave this .reg file" + std::u16string(kLacks));
      continue;
    }
    if (!file.in_before) {
      lines.push_back(head + u"the after profile has this .reg file" + std::u16string(kNotMade));
      continue;
    }
    for (const KeyTreeMove& move : file.moves) {
      lines.push_back(head + u"the rules leave key '" + move.from +
                      u"' where the after profile has it as '" + move.to + u"'");
    }
    for (const KeyDifference& key : file.keys) {
      const std::u16string path = u"'" + std::u16string(key.key->path) + u"'";
      if (key.kind == KeyDifference::Kind::kRemoved) {
        lines.push_back(head + u"the rules leave key " + path + std::u16string(kLacks));
        continue;
      }
      if (key.kind == KeyDifference::Kind::kAdded) {
        lines.push_back(head + u"the after profile has key " + path + std::u16string(kNotMade));
        continue;
      }
      for (const ValueDifference& value : key.values) {
        const std::u16string name = ValueNameText(value.name);
        if (!value.old_key.empty()) {
          lines.push_back(head + u"the rules leave value " + name + u" in key '" +
                          std::u16string(value.old_key) + u"' where the after profile has it in " +
                          path);
        } else if (value.renamed) {
          lines.push_back(head + u"the rules leave value " + ValueNameText(value.old_name) +
                          u" of key " + path + u" where the after profile names it " + name);
        } else if (value.after == nullptr) {
          lines.push_back(head + u"the rules leave value " + name + u" = " +
                          DescribeValue(*value.before).head + u" in key " + path +
                          std::u16string(kLacks));
        } else if (value.before == nullptr) {
          lines.push_back(head + u"the after profile has value " + name + u" = " +
                          DescribeValue(*value.after).head + u" in key " + path +
                          std::u16string(kNotMade));
        } else {
          lines.push_back(head + u"value " + name + u" of key " + path + u" is " +
                          DescribeValue(*value.before).head + u" after the rules and " +
                          DescribeValue(*value.after).head + u" in the after profile");
        }
      }
    }
  }
  for (const TreeDifference& difference : comparison.tree) {
    switch (difference.kind) {
      case TreeDifference::Kind::kRemoved:
        lines.push_back(u"the rules leave " + EntryText(difference) + std::u16string(kLacks));
        break;
      case TreeDifference::Kind::kAdded:
        lines.push_back(u"the after profile has " + EntryText(difference) +
                        std::u16string(kNotMade));
        break;
      case TreeDifference::Kind::kMoved:
        lines.push_back(u"the rules leave '" + difference.from +
                        u"' where the after profile has it as '" + difference.path + u"'");
        break;
      case TreeDifference::Kind::kChanged: {
        std::u16string change;
        RETURN_IF_FAILED(ChangeText(kept.at(difference.path), *difference.entry, &change));
        lines.push_back(u"the example's file '" + difference.path + u"' " + change +
                        u"; the rules keep each user's own content");
        break;
      }
    }
  }
  return S_OK;
}

// The picture conversions that derive tries and the rules it runs need the imaging library and
// COM, as a migration run has them.
class ImagingScope {
 public:
  ImagingScope() {
    const platform::GdiplusStartupInput input;
    if (platform::GdiplusStartup(&token_, &input, nullptr) != platform::GDIPLUS_OK) {
      throw ResultException(E_FAIL);
    }
    const HRESULT hr = platform::CoInitializeEx(nullptr, platform::COINIT_APARTMENTTHREADED);
    com_ = SUCCEEDED(hr);
  }
  ~ImagingScope() {
    if (com_) platform::CoUninitialize();
    platform::GdiplusShutdown(token_);
  }
  ImagingScope(const ImagingScope&) = delete;
  ImagingScope& operator=(const ImagingScope&) = delete;

 private:
  std::uintptr_t token_ = 0;
  bool com_ = false;
};

void AppendAttribute(std::u16string* out, std::u16string_view name, std::u16string_view value) {
  *out += u' ';
  *out += name;
  *out += u"=\"";
  *out += XmlEscape(value);
  *out += u'"';
}

void AppendRule(std::u16string* out, const MigrationRule& rule) {
  switch (rule.kind) {
    case RuleKind::Key:
      *out += u"    <key";
      AppendAttribute(out, AttributeName(RuleAttribute::kAction), rule.key.action);
      AppendAttribute(out, AttributeName(RuleAttribute::kSource), rule.key.source);
      if (!rule.key.destination.empty())
        AppendAttribute(out, AttributeName(RuleAttribute::kDestination), rule.key.destination);
      if (FindAction(kKeyActions, rule.key.action) == KeyAction::kMoveValue)
        AppendAttribute(out, u"value", rule.key.value);
      *out += u"/>\n";
      return;
    case RuleKind::Value:
      if (CarriesExampleData(rule)) *out += kExampleData;
      *out += u"    <value";
      AppendAttribute(out, AttributeName(RuleAttribute::kAction), rule.value.action);
      AppendAttribute(out, u"key", rule.value.key);
      AppendAttribute(out, AttributeName(RuleAttribute::kSource), rule.value.source);
      if (FindAction(kValueActions, rule.value.action) == ValueAction::kRename) {
        AppendAttribute(out, AttributeName(RuleAttribute::kDestination), rule.value.destination);
      }
      if (!rule.value.type.empty())
        AppendAttribute(out, AttributeName(RuleAttribute::kType), rule.value.type);
      if (FindAction(kValueActions, rule.value.action) != ValueAction::kSet) {
        *out += u"/>\n";
        return;
      }
      *out += u'>';
      *out += XmlEscape(rule.value.data, false);
      *out += u"</value>\n";
      return;
    case RuleKind::Directory:
      *out += u"    <directory";
      AppendAttribute(out, AttributeName(RuleAttribute::kAction), rule.directory.action);
      AppendAttribute(out, AttributeName(RuleAttribute::kSource), rule.directory.source);
      if (!rule.directory.destination.empty()) {
        AppendAttribute(out, AttributeName(RuleAttribute::kDestination),
                        rule.directory.destination);
      }
      *out += u"/>\n";
      return;
    case RuleKind::File:
      if (CarriesExampleData(rule)) *out += kExampleData;
      *out += u"    <file";
      AppendAttribute(out, AttributeName(RuleAttribute::kAction), rule.file.action);
      AppendAttribute(out, AttributeName(RuleAttribute::kSource), rule.file.source);
      if (!rule.file.destination.empty())
        AppendAttribute(out, AttributeName(RuleAttribute::kDestination), rule.file.destination);
      if (rule.file.content.empty()) {
        *out += u"/>\n";
        return;
      }
      *out += u">\n";
      for (std::size_t at = 0; at < rule.file.content.size(); at += kBase64Line) {
        *out += u"      ";
        *out += std::u16string_view(rule.file.content).substr(at, kBase64Line);
        *out += u'\n';
      }
      *out += u"    </file>\n";
      return;
  }
}

// Text that may stand in an XML comment: no "--" and no '-' before the comment's end.
std::u16string CommentText(std::u16string text) {
  for (std::size_t at = text.find(u"--"); at != std::u16string::npos; at = text.find(u"--", at)) {
    text.insert(at + 1, 1, u' ');
  }
  return text;
}

}  // namespace

std::vector<MoveCandidate> RankedMoves(std::vector<MoveCandidate> candidates,
                                       bool (*writable)(std::u16string_view),
                                       PathsOverlap overlaps) {
  std::erase_if(candidates, [&](const MoveCandidate& c) {
    return !writable(c.source) || !writable(c.destination) || overlaps(c.source, c.destination);
  });
  std::sort(candidates.begin(), candidates.end(),
            [](const MoveCandidate& a, const MoveCandidate& b) {
              if (a.votes != b.votes) return a.votes > b.votes;
              if (a.depth != b.depth) return a.depth < b.depth;
              return std::pair(a.source, a.destination) < std::pair(b.source, b.destination);
            });
  return candidates;
}

bool ClashesWithChosen(const MoveCandidate& candidate, std::span<const MoveCandidate> chosen,
                       PathsOverlap overlaps) {
  return std::any_of(chosen.begin(), chosen.end(), [&](const MoveCandidate& other) {
    return overlaps(candidate.source, other.source) ||
           overlaps(candidate.destination, other.destination) ||
           overlaps(candidate.source, other.destination) ||
           overlaps(candidate.destination, other.source);
  });
}

bool CarriesExampleData(const MigrationRule& rule) {
  return (rule.kind == RuleKind::Value &&
          FindAction(kValueActions, rule.value.action) == ValueAction::kSet) ||
         (rule.kind == RuleKind::File &&
          FindAction(kFileActions, rule.file.action) == FileAction::kCreate);
}

HRESULT DeriveRules(Profile& before, const Profile& after, std::u16string_view scratch,
                    DerivedRules* derived) {
  const ImagingScope imaging;
  std::vector<RegFilePair> pairs;
  for (const ProfileRegFile& file : before.reg_files) {
    if (const ProfileRegFile* other = FindRegFile(after, file.name)) {
      pairs.push_back({file.name, &file.document, &other->document});
    } else {
      derived->inexpressible.push_back(file.name +
                                       u": only in the first archive; no rule removes "
                                       u"a .reg file");
    }
  }
  for (const ProfileRegFile& file : after.reg_files) {
    if (FindRegFile(before, file.name) == nullptr) {
      derived->inexpressible.push_back(file.name +
                                       u": only in the second archive; no rule adds a "
                                       u".reg file");
    } else if (!InWrittenOrder(file.document)) {
      derived->inexpressible.push_back(file.name +
                                       u": the keys are not in the sorted order that "
                                       u"every migrated .reg file has");
    }
  }
  DeriveRegistryRules(pairs, &derived->rules, &derived->inexpressible);
  RETURN_IF_FAILED(
      DeriveFileRules(before, after, scratch, &derived->rules, &derived->inexpressible));

  std::vector<RegistryDocument> migrated;
  migrated.reserve(before.reg_files.size());
  RETURN_IF_FAILED(TryRules(before, derived->rules, &migrated, &derived->inexpressible));
  std::vector<RegDocumentRef> old_files;
  for (std::size_t i = 0; i < migrated.size(); ++i) {
    old_files.push_back({before.reg_files[i].name, &migrated[i]});
  }
  std::vector<RegDocumentRef> new_files;
  for (const ProfileRegFile& file : after.reg_files)
    new_files.push_back({file.name, &file.document});
  ProfileComparison comparison;
  RETURN_IF_FAILED(
      CompareProfiles(old_files, before.tree, new_files, after.tree, false, &comparison));
  return RemainingLines(comparison, before.tree, &derived->remaining);
}

std::u16string MigrationXmlText(const DerivedRules& derived, std::u16string_view before_name,
                                std::u16string_view after_name) {
  std::u16string comment = u"Derived by OrvexInspect: these rules turn '" +
                           std::u16string(before_name) + u"' into '" + std::u16string(after_name) +
                           u"'.\n";
  if (!derived.inexpressible.empty()) {
    comment += u"     What they cannot express:\n";
    for (const std::u16string& line : derived.inexpressible) comment += u"       " + line + u'\n';
  }
  if (!derived.remaining.empty()) {
    comment += u"     What still differs after them:\n";
    for (const std::u16string& line : derived.remaining) comment += u"       " + line + u'\n';
  }
  if (!derived.elsewhere.empty()) {
    comment += u"     What they would do in the other profiles that they do not in the example:\n";
    for (const std::u16string& line : derived.elsewhere) comment += u"       " + line + u'\n';
  }
  std::u16string out = u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- ";
  out += CommentText(std::move(comment));
  out += u"-->\n<migration>\n";
  bool registry = false;
  bool files = false;
  for (const MigrationRule& rule : derived.rules) {
    const bool is_registry = rule.kind == RuleKind::Key || rule.kind == RuleKind::Value;
    if (is_registry && !registry) {
      out += u"  <registry>\n";
      registry = true;
    }
    if (!is_registry && !files) {
      if (registry) out += u"  </registry>\n";
      out += u"  <files>\n";
      files = true;
    }
    AppendRule(&out, rule);
  }
  if (files) {
    out += u"  </files>\n";
  } else if (registry) {
    out += u"  </registry>\n";
  }
  out += u"</migration>\n";
  return out;
}

}  // namespace orvex
