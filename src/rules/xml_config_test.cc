#include "rules/xml_config.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/streams.h"
#include "platform/text.h"
#include "platform/xml_reader.h"
#include "testing/capture_logger.h"
#include "testing/matchers.h"

namespace orvex {
namespace {

// "kind field=value ..." with the fields of the rule's record that are not empty.
std::string Describe(const MigrationRule& rule) {
  using Fields = std::vector<std::pair<const char*, const std::u16string*>>;
  const DirectoryRule& d = rule.directory;
  const FileRule& f = rule.file;
  const KeyRule& k = rule.key;
  const ValueRule& v = rule.value;
  const std::pair<std::string, Fields> records[] = {
      {"directory",
       {{"action", &d.action}, {"destination", &d.destination}, {"source", &d.source}}},
      {"file",
       {{"action", &f.action},
        {"destination", &f.destination},
        {"source", &f.source},
        {"content", &f.content}}},
      {"key",
       {{"action", &k.action},
        {"destination", &k.destination},
        {"source", &k.source},
        {"value", &k.value}}},
      {"value",
       {{"action", &v.action},
        {"destination", &v.destination},
        {"source", &v.source},
        {"data", &v.data},
        {"key", &v.key},
        {"flags", &v.flags},
        {"type", &v.type}}},
  };
  const auto& [text_kind, fields] = records[static_cast<int>(rule.kind) - 1];
  std::string text = text_kind;
  for (const auto& [name, value] : fields) {
    if (!value->empty()) text += std::string(" ") + name + "=" + ToUtf8(*value);
  }
  return text;
}

class XmlConfigTest : public ::testing::Test {
 protected:
  // Parses `document` as the migration run does and returns whether it was read.
  bool Parse(const std::string& document) {
    platform::IMalloc* malloc = nullptr;
    EXPECT_HR(S_OK, platform::CoGetMalloc(platform::MEMCTX_TASK, &malloc));
    std::unique_ptr<platform::IXmlReader> reader;
    EXPECT_HR(S_OK, platform::CreateXmlReader(&reader, malloc));
    const XmlReaderContext context{malloc, reader.get(), &config_};
    config_.Attach(&context);
    platform::Stream stream;
    EXPECT_HR(S_OK,
              platform::SHCreateMemStream(reinterpret_cast<const std::uint8_t*>(document.data()),
                                          static_cast<std::uint32_t>(document.size()), &stream));
    return ParseXmlStream(context, std::move(stream));
  }

  std::vector<std::string> Rules() const {
    std::vector<std::string> rules;
    for (std::int32_t i = 0; i < config_.rules().Count(); ++i) {
      rules.push_back(Describe(config_.rules().At(i)));
    }
    return rules;
  }

  testing::ScopedCaptureLogger log_;
  CXmlConfig config_;
};

TEST_F(XmlConfigTest, MakesOneRulePerRuleElementInDocumentOrder) {
  ASSERT_TRUE(Parse(R"(<?xml version="1.0"?>
<anything>
  <group><deeper>
    <key action="delete" source="HKCU\Software\Old" type="ignored"/>
  </deeper></group>
  <directory action="create" source="AppData\New" destination="D" extra="x"/>
  <value action="set" key="HKCU\Software\New" source="Count" type="integer" flags="1">42</value>
  <m:file xmlns:m="urn:m" m:action="copy" source="a.txt" destination="b.txt"/>
  <key xmlns:source="urn:declared"/>
  <key action="move_value" source="HKCU\A" destination="HKCU\B" value="V"></key>
  <Key action="delete" source="A"/><KEY action="delete" source="B"/>
  <key Action="delete" source="C"/>
  <key unlisted="x"/>
  <key/><file>not stored</file><value></value>
</anything>)"));
  // Element and attribute names match exactly; a rule element needs an attribute, but any
  // attribute will do.
  const std::vector<std::string> expected = {
      R"(key action=delete source=HKCU\Software\Old)",
      "directory action=create destination=D source=AppData\\New",
      R"(value action=set source=Count data=42 key=HKCU\Software\New flags=1 type=integer)",
      "file action=copy destination=b.txt source=a.txt",
      "key source=urn:declared",
      R"(key action=move_value destination=HKCU\B source=HKCU\A value=V)",
      "key source=C",
      "key",
  };
  EXPECT_EQ(Rules(), expected);
  EXPECT_TRUE(log_.Take().empty());
}

TEST_F(XmlConfigTest, ReadsAtMostFortyAttributes) {
  const auto element = [](int junk, const std::string& more) {
    std::string text = "<key";
    for (int i = 0; i < junk; ++i) text += " a" + std::to_string(i) + "=\"\"";
    return text + more + "/>";
  };
  ASSERT_TRUE(Parse("<r>" + element(39, " source=\"40th\"") + element(40, " source=\"41st\"") +
                    element(39, " xmlns:n=\"urn:n\" source=\"41st after a declaration\"") +
                    "</r>"));
  const std::vector<std::string> expected = {"key source=40th", "key", "key"};
  EXPECT_EQ(Rules(), expected);
}

TEST_F(XmlConfigTest, CapturesTheLastTextBeforeAnyTag) {
  const struct {
    const char* name;
    std::string body;
    std::string rule;
  } cases[] = {
      {"multi-line text keeps its indentation and gets line feeds",
       "<value key=\"k\">\r\n    one\r\n    two\n  </value>",
       "value data=\n    one\n    two\n   key=k"},
      {"a comment splits the text, the last piece counts",
       "<value key=\"k\">first<!--c-->second<?pi?>third</value>", "value data=third key=k"},
      {"CDATA is not captured", "<value key=\"k\"><![CDATA[42]]></value>", "value key=k"},
      {"white space around CDATA: the last stretch counts",
       "<value key=\"k\">  <![CDATA[42]]>\n   </value>", "value data=\n    key=k"},
      {"an empty-element tag captures nothing, not even what follows it",
       "<file action=\"create\" source=\"s\"/>\n    ", "file action=create source=s"},
      {"a child element ends the capture",
       "<file action=\"create\" source=\"s\">before<child>inner</child>after</file>",
       "file action=create source=s content=before"},
  };
  for (const auto& c : cases) {
    config_.rules().Clear();
    ASSERT_TRUE(Parse("<r>" + c.body + "</r>")) << c.name;
    const std::vector<std::string> expected = {c.rule};
    EXPECT_EQ(Rules(), expected) << c.name;
  }
}

// The reader's message and code at debug level, then the position as an error.
TEST_F(XmlConfigTest, ParseErrorsAreLoggedWithTextCodeAndPosition) {
  EXPECT_FALSE(Parse("<r>\n  <key action=\"delete\" source=\"A\"/>\n  <value key=x/>"));
  const std::vector<std::string> expected = {
      "[DEBUG] CXmlConfig::OnParseError: quote expected (0XC00CEE24)",
      "[ERROR] Error parsing XML: line 3, col 14"};
  EXPECT_EQ(log_.Take(), expected);
  // Rules read before the error stay until the run clears them.
  EXPECT_EQ(config_.rules().Count(), 1);

  config_.OnParseError(HResultFromWin32(ERROR_IO_DEVICE), 0, 0);
  const std::vector<std::string> unknown = {
      "[DEBUG] CXmlConfig::OnParseError: unspecified error (0X8007045D)",
      "[ERROR] Error parsing XML: line 0, col 0"};
  EXPECT_EQ(log_.Take(), unknown);
}

TEST(ParseXmlStreamTest, WorksWithoutHandler) {
  std::unique_ptr<platform::IXmlReader> reader;
  ASSERT_HR(S_OK, platform::CreateXmlReader(&reader, nullptr));
  const XmlReaderContext context{nullptr, reader.get(), nullptr};
  for (const std::string document : {"<r><key action='x'/></r>", "<r>"}) {
    platform::Stream stream;
    ASSERT_HR(S_OK,
              platform::SHCreateMemStream(reinterpret_cast<const std::uint8_t*>(document.data()),
                                          static_cast<std::uint32_t>(document.size()), &stream));
    EXPECT_EQ(ParseXmlStream(context, stream), document.size() > 3) << document;
  }
}

}  // namespace
}  // namespace orvex
