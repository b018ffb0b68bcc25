#include "OrvexInspect/rule_check.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "OrvexInspect/rule_checkers.h"
#include "common/path_text.h"
#include "paths/folder_tokens.h"
#include "platform/environment.h"
#include "platform/shell_folders.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "platform/xml_reader.h"
#include "profiles/profile.h"
#include "reports/report_text.h"
#include "resources/string_table.h"
#include "rules/xml_config.h"

namespace orvex {

namespace {

constexpr std::uint64_t kMaxRulesFileBytes = 256ull * 1024 * 1024;

// --- Where elements start ------------------------------------------------------------------------

// The rule file's text, for turning the reader's positions into those of an element's '<' and of
// its attributes.
// Readers report an element at different places (after its start tag, at its name or at its last
// attribute); the last '<' before any of them is the tag's own, as '<' cannot stand inside a tag.
class SourceText {
 public:
  explicit SourceText(const std::string& bytes) {
    if (bytes.size() >= 2 && (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))) {
      const bool little = bytes[0] == '\xFF';
      for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto low = static_cast<std::uint8_t>(bytes[little ? i : i + 1]);
        const auto high = static_cast<std::uint8_t>(bytes[little ? i + 1 : i]);
        text_ += static_cast<char16_t>(low | high << 8);
      }
    } else {
      text_ = ToUtf16(bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes);
    }
    line_starts_.push_back(0);
    for (std::size_t i = 0; i < text_.size(); ++i) {
      if (text_[i] == u'\n' ||
          (text_[i] == u'\r' && (i + 1 == text_.size() || text_[i + 1] != u'\n'))) {
        line_starts_.push_back(i + 1);
      }
    }
  }

  // Where the element that the reader reported at `line`:`column` opens: the last '<' before that
  // position. Columns count characters, so a tab is one column, as it is one character.
  Site ElementStart(std::uint32_t line, std::uint32_t column) const {
    if (line == 0 || line > line_starts_.size() || text_.empty()) return {line, column};
    std::size_t offset =
        std::min(line_starts_[line - 1] + (column > 0 ? column - 1 : 0), text_.size());
    const std::size_t open = text_.rfind(u'<', offset == 0 ? 0 : offset - 1);
    if (open == std::u16string::npos) return {line, column};
    return SiteOf(open);
  }

  // Where each attribute of the tag that opens at `element` stands, in the order written.
  std::vector<std::pair<std::u16string, Site>> Attributes(Site element) const {
    std::vector<std::pair<std::u16string, Site>> attributes;
    if (element.line == 0 || element.line > line_starts_.size()) return attributes;
    std::size_t i = line_starts_[element.line - 1] + element.column;  // after the '<'
    const auto is_name = [&](std::size_t at) {
      return at < text_.size() && !IsWhiteSpace(text_[at]) && text_[at] != u'=' &&
             text_[at] != u'>' && text_[at] != u'/';
    };
    while (is_name(i)) ++i;  // the element's name
    for (;;) {
      while (i < text_.size() && IsWhiteSpace(text_[i])) ++i;
      if (!is_name(i)) return attributes;
      const std::size_t name_start = i;
      while (is_name(i)) ++i;
      attributes.emplace_back(text_.substr(name_start, i - name_start), SiteOf(name_start));
      while (i < text_.size() && (IsWhiteSpace(text_[i]) || text_[i] == u'=')) ++i;
      if (i == text_.size() || (text_[i] != u'"' && text_[i] != u'\'')) return attributes;
      const std::size_t close = text_.find(text_[i], i + 1);
      if (close == std::u16string::npos) return attributes;
      i = close + 1;
    }
  }

 private:
  Site SiteOf(std::size_t offset) const {
    const auto next = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
    return {static_cast<std::uint32_t>(next - line_starts_.begin()),
            static_cast<std::uint32_t>(offset - *(next - 1) + 1)};
  }

  std::u16string text_;
  std::vector<std::size_t> line_starts_;
};

// --- What the reader reported -------------------------------------------------------------------

// Lets CXmlConfig build the rules and notes where each rule element and its attributes stand,
// and elements that make no rule though they look like one.
class SiteRecorder final : public CXmlElementHandler {
 public:
  explicit SiteRecorder(const SourceText& text) : text_(text) {}
  ~SiteRecorder() = default;

  void Attach(const XmlReaderContext* context) override {
    context_ = context;
    config_.Attach(context);
  }

  void OnStartElement(std::u16string_view name, std::span<const XmlAttribute> attributes) override {
    const std::int32_t count = config_.rules().Count();
    config_.OnStartElement(name, attributes);
    const Site site = Position();
    if (config_.rules().Count() > count) {
      sites_.push_back({site, text_.Attributes(site)});
      return;
    }
    bool rule_like = false;
    for (const RuleElement& element : kRuleElements) {
      if (name == element.name) {
        return Note(site, u"empty-rule-element",
                    Quoted(name) + u" element without attributes makes no rule");
      }
      if (EqualsIgnoreCase(name, element.name)) {
        return Note(site, u"unknown-element",
                    u"element " + Quoted(name) +
                        u" is not a rule: rule elements are written in lower case (" +
                        Quoted(element.name) + u")");
      }
      for (const XmlAttribute& attribute : attributes) {
        rule_like |= IsRuleAttribute(element.kind, attribute.name);
      }
    }
    // Elements that only group rules have no attributes of a rule.
    if (rule_like) {
      std::vector<std::u16string_view> names;
      for (const RuleElement& element : kRuleElements) names.push_back(element.name);
      Note(site, u"unknown-element",
           u"element " + Quoted(name) + u" is not a rule element (" + Alternatives(names) +
               u"): it is ignored with all it says" + DidYouMean(name, names));
    }
  }
  void OnEndElement(std::u16string_view name) override { config_.OnEndElement(name); }
  void OnText(const char16_t* text, std::uint32_t length) override { config_.OnText(text, length); }
  void OnParseError(HRESULT result, std::uint32_t line, std::uint32_t column) override {
    config_.OnParseError(result, line, column);
    std::u16string_view text = LoadStringResource(static_cast<std::uint32_t>(LowWord(result)));
    if (text.empty()) text = u"unspecified error";
    parse_error_ = RuleFinding{
        line, column, true, u"unreadable-xml",
        u"the XML cannot be read: " + std::u16string(text) + u"; the migration stops here"};
  }

  MigrationRules& rules() { return config_.rules(); }
  const std::vector<RuleSite>& sites() const { return sites_; }
  std::vector<RuleFinding>& notes() { return notes_; }
  const std::optional<RuleFinding>& parse_error() const { return parse_error_; }

 private:
  Site Position() const {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    (void)context_->reader->GetLineNumber(&line);
    (void)context_->reader->GetLinePosition(&column);
    return text_.ElementStart(line, column);
  }
  void Note(Site site, std::u16string_view code, std::u16string message) {
    notes_.push_back({site.line, site.column, false, code, std::move(message)});
  }

  const SourceText& text_;
  const XmlReaderContext* context_ = nullptr;
  CXmlConfig config_;
  std::vector<RuleSite> sites_;
  std::vector<RuleFinding> notes_;
  std::optional<RuleFinding> parse_error_;
};

// --- The checks ---------------------------------------------------------------------------------

// Judges each rule with the checker of its kind; the attributes of every kind are judged here.
class RuleChecker {
 public:
  RuleChecker(std::vector<RuleFinding>* findings, std::u16string archive_standin)
      : sink_(findings), registry_(&sink_), paths_(&sink_, std::move(archive_standin)) {}

  void Check(const MigrationRule& rule, const RuleSite& site) {
    sink_.Begin(site);
    CheckAttributes(rule.kind);
    switch (rule.kind) {
      case RuleKind::Directory:
        return paths_.CheckDirectory(rule.directory);
      case RuleKind::File:
        return paths_.CheckFile(rule.file);
      case RuleKind::Key:
        return registry_.CheckKey(rule.key);
      case RuleKind::Value:
        return registry_.CheckValue(rule.value);
    }
  }

 private:
  void CheckAttributes(RuleKind kind) {
    const auto kept = RuleAttributeNames(kind);
    for (const auto& [name, site] : sink_.rule().attributes) {
      if (IsRuleAttribute(kind, name)) continue;
      sink_.Warn(u"unknown-attribute", name,
                 u"attribute " + Quoted(name) + u" is not read on a '" +
                     std::u16string(RuleElementName(kind)) + u"' element" + DidYouMean(name, kept));
    }
  }

  FindingSink sink_;
  RegistryRuleChecker registry_;
  PathRuleChecker paths_;
};

// A directory that every rule path can be rebased against, as the real archive directory will be:
// resolving and containment are text operations, but resolving visits the directory.
HRESULT ArchiveStandIn(std::u16string* directory) {
  if (const std::uint32_t error = platform::GetTempPath(directory)) return HResultFromWin32(error);
  directory->resize(WithoutFinalSeparators(*directory).size());
  return S_OK;
}

}  // namespace

std::u16string Alternatives(std::span<const std::u16string_view> words) {
  std::u16string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? u" or " : u", ";
    text += words[i];
  }
  return text;
}

std::vector<std::u16string_view> TokenNames() {
  std::vector<std::u16string_view> names;
  for (const platform::ShellFolder& token : FolderTokenTable) names.push_back(token.name);
  return names;
}

std::u16string FolderTokens() { return Alternatives(TokenNames()); }

void ReportUnknownAction(FindingSink& sink, std::u16string_view element,
                         std::span<const std::u16string_view> words, std::u16string_view action) {
  sink.Error(u"unknown-action", AttributeName(RuleAttribute::kAction),
             u"unknown " + std::u16string(element) + u" action " + Quoted(action) + u"; expected " +
                 Alternatives(words) + DidYouMean(action, words));
}

namespace {

char16_t Folded(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

// Edits between two words, ignoring ASCII case: a character put in, left out, changed, or two
// neighbours swapped.
std::size_t EditDistance(std::u16string_view a, std::u16string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = Folded(a[i - 1]) == Folded(b[j - 1]);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && Folded(a[i - 1]) == Folded(b[j - 2]) &&
          Folded(a[i - 2]) == Folded(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::u16string DidYouMean(std::u16string_view written, std::span<const std::u16string_view> words) {
  // Words longer than this are no slip of the pen; they would only cost time.
  constexpr std::size_t kLongest = 64;
  if (written.empty() || written.size() > kLongest) return {};
  std::optional<std::u16string_view> best;
  std::size_t best_distance = 0;
  for (const std::u16string_view word : words) {
    const std::size_t distance = EditDistance(written, word);
    // One slip in a short word, two in a longer one; another letter case counts as none.
    if (distance > (word.size() > 5 ? 2u : 1u) || (best && distance >= best_distance)) continue;
    best = word;
    best_distance = distance;
  }
  return best && *best != written ? u" (did you mean " + Quoted(*best) + u"?)" : std::u16string();
}

std::u16string SiteText(Site site) {
  return DecimalText(site.line) + u':' + DecimalText(site.column);
}

bool HasContent(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), [](char16_t c) { return !IsWhiteSpace(c); });
}

void CheckIgnored(FindingSink& sink, std::u16string_view attribute, std::u16string_view action,
                  bool read) {
  if (!read && sink.rule().Has(attribute)) {
    sink.Warn(u"attribute-not-read", attribute,
              std::u16string(attribute) + u" is not read by " + Quoted(action));
  }
}

namespace {

// Reads the migration XML at `path` with the tool's own reader into `recorder`.
HRESULT Record(std::u16string_view path, SiteRecorder* recorder) {
  platform::IMalloc* malloc = nullptr;
  std::unique_ptr<platform::IXmlReader> reader;
  RETURN_IF_FAILED(platform::CoGetMalloc(platform::MEMCTX_TASK, &malloc));
  RETURN_IF_FAILED(platform::CreateXmlReader(&reader, malloc));
  const XmlReaderContext context{malloc, reader.get(), recorder};
  recorder->Attach(&context);
  platform::Stream stream;
  RETURN_IF_FAILED(platform::SHCreateStreamOnFile(path, platform::STGM_READ, &stream));
  (void)ParseXmlStream(context, std::move(stream));
  return S_OK;
}

}  // namespace

HRESULT CheckMigrationXml(std::u16string_view path, std::vector<RuleFinding>* findings) {
  findings->clear();
  std::string bytes;
  RETURN_IF_FAILED(ReadFileBytes(path, kMaxRulesFileBytes, &bytes));
  const SourceText text(bytes);
  std::u16string archive;
  RETURN_IF_FAILED(ArchiveStandIn(&archive));
  SiteRecorder recorder(text);
  RETURN_IF_FAILED(Record(path, &recorder));

  *findings = std::move(recorder.notes());
  RuleChecker checker(findings, archive);
  for (std::int32_t i = 0; i < recorder.rules().Count(); ++i) {
    checker.Check(recorder.rules().At(i), recorder.sites()[static_cast<std::size_t>(i)]);
  }
  if (recorder.parse_error()) findings->push_back(*recorder.parse_error());
  std::stable_sort(findings->begin(), findings->end(),
                   [](const RuleFinding& a, const RuleFinding& b) {
                     return std::pair(a.line, a.column) < std::pair(b.line, b.column);
                   });
  return S_OK;
}

void AppendFindingsText(std::u16string_view file_name, const std::vector<RuleFinding>& findings,
                        std::u16string* out) {
  for (const RuleFinding& finding : findings) {
    *out += file_name;
    *out += u':' + DecimalText(finding.line) + u':' + DecimalText(finding.column) +
            (finding.error ? u": error: " : u": warning: ") + finding.message + u'\n';
  }
}

void AppendFindingsJson(std::u16string_view file_name, const std::vector<RuleFinding>& findings,
                        std::u16string* out) {
  const auto errors = std::count_if(findings.begin(), findings.end(),
                                    [](const RuleFinding& finding) { return finding.error; });
  *out += u"{\n  \"version\": 1,\n  \"command\": \"check\",\n  \"file\": ";
  AppendJsonString(out, file_name);
  *out += u",\n  \"summary\": {\"errors\": " + DecimalText(static_cast<std::size_t>(errors)) +
          u", \"warnings\": " + DecimalText(findings.size() - static_cast<std::size_t>(errors)) +
          u"},\n  \"findings\": [";
  for (std::size_t i = 0; i < findings.size(); ++i) {
    const RuleFinding& finding = findings[i];
    *out += i == 0 ? u"\n    {\"file\": " : u",\n    {\"file\": ";
    AppendJsonString(out, file_name);
    *out += u", \"line\": " + DecimalText(finding.line) + u", \"column\": " +
            DecimalText(finding.column) + u", \"severity\": ";
    AppendJsonString(out, finding.error ? u"error" : u"warning");
    *out += u", \"code\": ";
    AppendJsonString(out, finding.code);
    *out += u", \"message\": ";
    AppendJsonString(out, finding.message);
    *out += u'}';
  }
  *out += findings.empty() ? u"]\n}\n" : u"\n  ]\n}\n";
}

HRESULT ReadRulesWithLines(std::u16string_view path, MigrationRules* rules,
                           std::vector<std::uint32_t>* lines, RuleFinding* parse_error) {
  std::string bytes;
  RETURN_IF_FAILED(ReadFileBytes(path, kMaxRulesFileBytes, &bytes));
  const SourceText text(bytes);
  SiteRecorder recorder(text);
  RETURN_IF_FAILED(Record(path, &recorder));
  if (recorder.parse_error()) {
    *parse_error = *recorder.parse_error();
    return S_FALSE;
  }
  lines->clear();
  for (const RuleSite& site : recorder.sites()) lines->push_back(site.site.line);
  *rules = std::move(recorder.rules());
  return S_OK;
}

std::u16string RuleText(const MigrationRule& rule) {
  switch (rule.kind) {
    case RuleKind::Directory:
      return u"directory " + rule.directory.action + u" '" + rule.directory.source + u"'";
    case RuleKind::File:
      return u"file " + rule.file.action + u" '" + rule.file.source + u"'";
    case RuleKind::Key:
      return u"key " + rule.key.action + u" '" + rule.key.source + u"'";
    case RuleKind::Value:
      return u"value " + rule.value.action + u" '" + rule.value.source + u"' of '" +
             rule.value.key + u"'";
  }
  return {};
}

}  // namespace orvex
