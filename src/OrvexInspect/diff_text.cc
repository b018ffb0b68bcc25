// What diff writes: the summary and the differences, as lines for a person or as JSON.
#include <algorithm>

#include "OrvexInspect/profile_diff.h"
#include "OrvexInspect/registry_describe.h"
#include "reports/report_text.h"

namespace orvex {
namespace {

using Kind = TreeDifference::Kind;

char16_t Marker(bool in_before, bool in_after) {
  return !in_before ? u'+' : !in_after ? u'-' : u'~';
}

void AppendLine(std::u16string* out, std::u16string_view indent, std::u16string_view line) {
  *out += indent;
  *out += line;
  *out += u'\n';
}

std::u16string Counted(std::size_t count, std::u16string_view one, std::u16string_view many) {
  return DecimalText(count) + u' ' + std::u16string(count == 1 ? one : many);
}

// `count` is how many values of the name the key holds; an import keeps the last, which is the
// one shown.
void AppendValueLines(std::u16string* out, std::u16string_view indent, char16_t marker,
                      std::u16string_view name, const RegistryValueRef& value, std::size_t count) {
  const ValueDescription description = DescribeValue(value);
  const std::u16string lead = {u' ', u' ', marker, u' ', u' ', u' ', u' ', u' '};
  std::u16string head = lead + std::u16string(name) + u" = " + description.head;
  if (count > 1) head += u' ' + NameCountText(count);
  AppendLine(out, indent, head);
  for (const std::u16string& more : description.more) {
    AppendLine(out, indent, lead + u"    " + more);
  }
}

void AppendRegFileText(const RegFileComparison& file, std::u16string_view indent,
                       std::u16string* out) {
  AppendLine(out, indent, std::u16string{Marker(file.in_before, file.in_after), u' '} + file.name);
  for (const KeyTreeMove& move : file.moves) {
    AppendLine(out, indent, u"  " + KeyTreeMoveLine(move));
  }
  for (const KeyDifference& key : file.keys) {
    const char16_t marker = key.kind == KeyDifference::Kind::kAdded     ? u'+'
                            : key.kind == KeyDifference::Kind::kRemoved ? u'-'
                                                                        : u' ';
    AppendLine(out, indent,
               std::u16string{u' ', u' ', marker, u' ', u'['}.append(key.key->path) + u']');
    for (const ValueDifference& value : key.values) {
      const std::u16string names = ValueNamesText(value);
      if (value.renamed) {
        AppendValueLines(out, indent, u'>', names, *value.after, value.after_count);
        continue;
      }
      if (value.before != nullptr) {
        AppendValueLines(out, indent, u'-', names, *value.before, value.before_count);
      }
      if (value.after != nullptr) {
        AppendValueLines(out, indent, u'+', names, *value.after, value.after_count);
      }
    }
  }
}

void AppendTreeText(const TreeDifference& difference, std::u16string_view indent,
                    std::u16string* out) {
  AppendLine(out, indent, TreeDifferenceLine(difference));
  for (const std::u16string& text : difference.lines) AppendLine(out, indent, u"  " + text);
}

void CountValues(const KeyDifference& key, ChangeCounts* values) {
  for (const ValueDifference& value : key.values) {
    if (value.renamed) {
      ++values->moved;
    } else if (value.before == nullptr) {
      ++values->added;
    } else if (value.after == nullptr) {
      ++values->removed;
    } else {
      ++values->changed;
    }
  }
}

void AppendCountsJson(std::u16string_view what, const ChangeCounts& counts, std::u16string* out) {
  *out += u'"';
  *out += what;
  *out += u"\": {\"added\": " + DecimalText(counts.added) + u", \"removed\": " +
          DecimalText(counts.removed) + u", \"changed\": " + DecimalText(counts.changed) +
          u", \"moved\": " + DecimalText(counts.moved) + u'}';
}

std::u16string_view KindWord(bool added, bool removed) {
  return added ? u"added" : removed ? u"removed" : u"changed";
}

// JSON objects, one a line, each line begun with the caller's indent.
class JsonLines {
 public:
  JsonLines(std::u16string_view indent, std::u16string* out) : indent_(indent), out_(out) {
    *out_ += u'[';
  }
  void Begin(std::u16string_view what, std::u16string_view change) {
    *out_ += first_ ? u"\n" : u",\n";
    *out_ += indent_;
    *out_ += u"  {\"what\": ";
    first_ = false;
    AppendJsonString(out_, what);
    *out_ += u", \"change\": ";
    AppendJsonString(out_, change);
  }
  void Field(std::u16string_view name, std::u16string_view value) {
    *out_ += u", \"";
    *out_ += name;
    *out_ += u"\": ";
    AppendJsonString(out_, value);
  }
  void Raw(std::u16string_view text) { *out_ += text; }
  void End() { *out_ += u'}'; }
  void Close() {
    if (!first_) {
      *out_ += u'\n';
      *out_ += indent_;
    }
    *out_ += u']';
  }

 private:
  std::u16string_view indent_;
  std::u16string* out_;
  bool first_ = true;
};

}  // namespace

std::u16string TreeDifferenceLine(const TreeDifference& difference) {
  const char16_t marker = difference.kind == Kind::kAdded     ? u'+'
                          : difference.kind == Kind::kRemoved ? u'-'
                          : difference.kind == Kind::kMoved   ? u'>'
                                                              : u'~';
  const std::u16string_view slash = difference.entry->directory ? u"/" : u"";
  std::u16string line = {marker, u' '};
  if (difference.kind == Kind::kMoved) line += difference.from + std::u16string(slash) + u" -> ";
  line += difference.path + std::u16string(slash) + u" (";
  if (difference.entry->directory) {
    line += u"directory";
    if (difference.files_inside > 0)
      line += u", " + Counted(difference.files_inside, u"file", u"files");
  } else if (difference.kind != Kind::kChanged) {
    line += DecimalText(difference.entry->size) + u" bytes";
  } else if (difference.old_size != difference.entry->size) {
    line += DecimalText(difference.old_size) + u" -> " + DecimalText(difference.entry->size) +
            u" bytes";
  } else {
    line += DecimalText(difference.entry->size) + u" bytes, other content";
  }
  if (difference.kind == Kind::kMoved && LetterCaseOnly(difference.from, difference.path)) {
    line += u"; letter case only";
  }
  return line + u')';
}

std::u16string KeyTreeMoveLine(const KeyTreeMove& move) {
  return u"> [" + move.from + u"] -> [" + move.to + u"] (" + Counted(move.keys, u"key", u"keys") +
         u')';
}

DifferenceSummary Summarize(const ProfileComparison& comparison) {
  DifferenceSummary summary;
  for (const RegFileComparison& file : comparison.reg_files) {
    for (const KeyTreeMove& move : file.moves) summary.keys.moved += move.keys;
    for (const KeyDifference& key : file.keys) {
      switch (key.kind) {
        case KeyDifference::Kind::kAdded:
          ++summary.keys.added;
          break;
        case KeyDifference::Kind::kRemoved:
          ++summary.keys.removed;
          break;
        default:
          ++summary.keys.changed;
      }
      CountValues(key, &summary.values);
    }
  }
  for (const TreeDifference& difference : comparison.tree) {
    const std::size_t files = difference.entry->directory ? difference.files_inside : 1;
    switch (difference.kind) {
      case Kind::kAdded:
        summary.files.added += files;
        break;
      case Kind::kRemoved:
        summary.files.removed += files;
        break;
      case Kind::kChanged:
        summary.files.changed += files;
        break;
      case Kind::kMoved:
        summary.files.moved += files;
    }
  }
  return summary;
}

std::u16string CountsText(std::u16string_view what, const ChangeCounts& counts) {
  return std::u16string(what) + u": " + DecimalText(counts.added) + u" added, " +
         DecimalText(counts.removed) + u" removed, " + DecimalText(counts.changed) + u" changed, " +
         DecimalText(counts.moved) + u" moved";
}

void AppendSummaryText(const DifferenceSummary& summary, std::u16string* out) {
  *out += CountsText(u"keys", summary.keys) + u'\n';
  *out += CountsText(u"values", summary.values) + u'\n';
  *out += CountsText(u"files", summary.files) + u'\n';
}

void AppendSummaryJson(const DifferenceSummary& summary, std::u16string* out) {
  *out += u'{';
  AppendCountsJson(u"keys", summary.keys, out);
  *out += u", ";
  AppendCountsJson(u"values", summary.values, out);
  *out += u", ";
  AppendCountsJson(u"files", summary.files, out);
  *out += u'}';
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

void AppendDifferenceJson(const ProfileComparison& comparison, std::u16string_view indent,
                          std::u16string* out) {
  JsonLines json(indent, out);
  for (const RegFileComparison& file : comparison.reg_files) {
    if (!file.in_before || !file.in_after) {
      json.Begin(u"registry file", KindWord(!file.in_before, !file.in_after));
      json.Field(u"file", file.name);
      json.End();
    }
    for (const KeyTreeMove& move : file.moves) {
      json.Begin(u"key", u"moved");
      json.Field(u"file", file.name);
      json.Field(u"key", move.to);
      json.Field(u"from", move.from);
      json.Raw(u", \"keys\": " + DecimalText(move.keys));
      json.End();
    }
    for (const KeyDifference& key : file.keys) {
      const bool added = key.kind == KeyDifference::Kind::kAdded;
      const bool removed = key.kind == KeyDifference::Kind::kRemoved;
      if (added || removed) {
        json.Begin(u"key", KindWord(added, removed));
        json.Field(u"file", file.name);
        json.Field(u"key", key.key->path);
        json.End();
      }
      for (const ValueDifference& value : key.values) {
        json.Begin(u"value", value.renamed
                                 ? u"moved"
                                 : KindWord(value.before == nullptr, value.after == nullptr));
        json.Field(u"file", file.name);
        json.Field(u"key", key.key->path);
        json.Field(u"name", value.name);
        if (value.renamed) json.Field(u"from", value.old_name);
        if (!value.old_key.empty()) json.Field(u"from_key", value.old_key);
        if (value.before != nullptr && !value.renamed) {
          json.Raw(u", \"before\": ");
          AppendValueJson(out, *value.before, value.before_count);
        }
        if (value.after != nullptr) {
          json.Raw(u", \"after\": ");
          AppendValueJson(out, *value.after, value.after_count);
        }
        json.End();
      }
    }
  }
  for (const TreeDifference& difference : comparison.tree) {
    json.Begin(difference.entry->directory ? u"directory" : u"file",
               difference.kind == Kind::kMoved
                   ? u"moved"
                   : KindWord(difference.kind == Kind::kAdded, difference.kind == Kind::kRemoved));
    json.Field(u"path", difference.path);
    if (difference.kind == Kind::kMoved) json.Field(u"from", difference.from);
    if (difference.entry->directory) {
      json.Raw(u", \"files\": " + DecimalText(difference.files_inside));
    } else {
      if (difference.kind == Kind::kChanged) {
        json.Raw(u", \"size_before\": " + DecimalText(difference.old_size));
      }
      json.Raw(u", \"size\": " + DecimalText(difference.entry->size));
    }
    json.End();
  }
  json.Close();
}

}  // namespace orvex
