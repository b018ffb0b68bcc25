#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/file_handles.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "platform/xml_reader.h"
#include "resources/string_table.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"
#include "testing/utf16_bytes.h"

namespace orvex::platform {
namespace {

using namespace std::string_literals;

std::string NodeKind(XmlNodeType type) {
  static const std::map<XmlNodeType, std::string> kKinds = {
      {XmlNodeType_Element, "Element"},       {XmlNodeType_Text, "Text"},
      {XmlNodeType_CDATA, "CDATA"},           {XmlNodeType_ProcessingInstruction, "PI"},
      {XmlNodeType_Comment, "Comment"},       {XmlNodeType_Whitespace, "Whitespace"},
      {XmlNodeType_EndElement, "EndElement"}, {XmlNodeType_XmlDeclaration, "XmlDeclaration"}};
  const auto found = kKinds.find(type);
  return found != kKinds.end() ? found->second : "Other" + std::to_string(type);
}

// "Kind name=value [attribute=value ...] empty", with empty parts left out.
std::string Describe(IXmlReader& reader, XmlNodeType type) {
  std::u16string_view name;
  std::u16string_view value;
  EXPECT_HR(S_OK, reader.GetLocalName(&name));
  EXPECT_HR(S_OK, reader.GetValue(&value));
  std::string text = NodeKind(type);
  if (!name.empty()) text += " " + ToUtf8(name);
  if (!value.empty()) text += "=" + ToUtf8(value);
  if (reader.MoveToFirstAttribute() == S_OK) {
    text += " [";
    do {
      EXPECT_FALSE(reader.IsDefault());
      EXPECT_HR(S_OK, reader.GetLocalName(&name));
      EXPECT_HR(S_OK, reader.GetValue(&value));
      text += ToUtf8(name) + "=" + ToUtf8(value) + " ";
    } while (reader.MoveToNextAttribute() == S_OK);
    text.back() = ']';
  }
  if (reader.IsEmptyElement()) text += " empty";
  return text;
}

struct Outcome {
  std::vector<std::string> nodes;
  HRESULT result = S_OK;  ///< what ended the reading: S_FALSE or the error
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

Outcome ReadStream(Stream stream) {
  Outcome outcome;
  std::unique_ptr<IXmlReader> reader;
  EXPECT_HR(S_OK, CreateXmlReader(&reader, nullptr));
  EXPECT_HR(S_OK, reader->SetInput(std::move(stream)));
  XmlNodeType type;
  while ((outcome.result = reader->Read(&type)) == S_OK) {
    outcome.nodes.push_back(Describe(*reader, type));
  }
  EXPECT_HR(S_OK, reader->GetLineNumber(&outcome.line));
  EXPECT_HR(S_OK, reader->GetLinePosition(&outcome.column));
  // A fault stays: the reader does not go on past it.
  EXPECT_HR(outcome.result, reader->Read(&type));
  return outcome;
}

Stream MemStream(std::string_view bytes) {
  Stream stream;
  EXPECT_HR(S_OK, SHCreateMemStream(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                    static_cast<std::uint32_t>(bytes.size()), &stream));
  return stream;
}

Outcome ReadDocument(std::string_view bytes) { return ReadStream(MemStream(bytes)); }

TEST(XmlReaderTest, ReportsNodesInDocumentOrder) {
  const Outcome outcome = ReadDocument(
      "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n"
      "<!-- note -->\n"
      "<?target some data?>\n"
      "<rules id=\"7\">\n"
      "  <key action=\"delete\"/>\n"
      "  <value>t&amp;x<![CDATA[<raw>]]>&#65;<!--c--><?p?>\n"
      "  </value><x></x>\n"
      "</rules>\n");
  EXPECT_HR(S_FALSE, outcome.result);
  const std::vector<std::string> expected = {
      "XmlDeclaration xml [version=1.0 encoding=utf-8 standalone=yes]",
      "Comment= note ",
      "PI target=some data",
      "Element rules [id=7]",
      "Whitespace=\n  ",
      "Element key [action=delete] empty",
      "Whitespace=\n  ",
      "Element value",
      "Text=t&x",
      "CDATA=<raw>",
      "Text=A",
      "Comment=c",
      "PI p",
      "Whitespace=\n  ",
      "EndElement value",
      "Element x",
      "EndElement x",
      "Whitespace=\n",
      "EndElement rules"};
  EXPECT_EQ(outcome.nodes, expected);
}

TEST(XmlReaderTest, NamespaceDeclarationsAreAttributesByLocalName) {
  const Outcome outcome = ReadDocument(
      "<m:value xmlns:m=\"urn:m\" m:action=\"set\" xmlns:source=\"urn:s&amp;t\" xmlns=\"urn:d\""
      " plain=\"p\"/>");
  EXPECT_HR(S_FALSE, outcome.result);
  // libxml2 keeps declarations apart from attributes, so they come first.
  const std::vector<std::string> expected = {
      "Element value [m=urn:m source=urn:s&t xmlns=urn:d action=set plain=p] empty"};
  EXPECT_EQ(outcome.nodes, expected);
}

TEST(XmlReaderTest, FaultsCarryXmlLiteCodesTextsAndPositions) {
  const struct {
    std::string document;
    std::uint32_t code;  // low 16 bits of 0xC00Cxxxx
    const char16_t* text;
    std::uint32_t line;
    std::uint32_t column;
  } cases[] = {
      {"<r>\n  <a>", 0xEE01, u"unexpected end of input", 2, 6},
      {"", 0xEE01, u"unexpected end of input", 1, 1},
      {"<r>\n  <a></b>\n</r>", 0xEE3B, u"well-formedness constraint: element type match", 2, 10},
      {"<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY e \"x\">]>\n<r>&e;</r>", 0xEE4F,
       u"DTD was found but is prohibited", 2, 13},
      {"<r>&#1;</r>", 0xE01F, u"character entity has invalid Unicode value", 1, 8},
      {"<r>&#x1G;</r>", 0xE01E,
       u"character in character entity is not a hexadecimal digit as was expected", 1, 8},
      {"<r>\n <p:a/></r>", 0xEE65, u"undeclared prefix", 2, 6},
      {"<r a=\"1\" a=\"2\"/>", 0xEE3C, u"well-formedness constraint: unique attribute spec", 1, 15},
      {"<r p:a=\"1\" q:a=\"2\" xmlns:p=\"u\" xmlns:q=\"u\"/>", 0xEE3C,
       u"well-formedness constraint: unique attribute spec", 1, 43},
      {"<r>a\x01</r>", 0xEE2B, u"illegal xml character", 1, 5},
      {"<r/>\n<s/>", 0xEE3A, u"one root element", 2, 1},
      {"<r/>text", 0xEE2D, u"incorrect document syntax", 1, 5},
      {"<r>&undeclared;</r>", 0xEE47, u"well-formedness constraint: undeclared entity", 1, 16},
      {"<r xml:space=\"wide\"/>", 0xEE50, u"xml:space attribute with invalid value", 1, 20},
      {"<r xmlns:xml=\"urn:x\"/>", 0xEE67,
       u"the xml prefix is reserved and must be bound to http://www.w3.org/XML/1998/namespace", 1,
       21},
      {"<r><?xml version=\"1.0\"?></r>", 0xEE3D, u"text/xmldecl not at the beginning of input", 1,
       9},
      // Encodings: an unknown name, a name the signature contradicts, an unknown signature, and
      // bytes that are not text in the encoding.
      {"<?xml version=\"1.0\" encoding=\"klingon\"?><r/>", 0xEE02, u"unrecognized encoding", 1, 39},
      {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><r/>", 0xEE03, u"unable to switch the encoding",
       1, 31},
      {"\xFF\xFE" + testing::Utf16Bytes(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>"), 0xEE03,
       u"unable to switch the encoding", 1, 31},
      {"\0\0\xFE\xFF\0\0\0<"s, 0xEE04, u"unrecognized input signature", 1, 1},
      {"\xFF\xFE" + testing::Utf16Bytes(u"<r>a\xD800</r>"), 0xEE2B, u"illegal xml character", 1, 4},
  };
  for (const auto& c : cases) {
    const Outcome outcome = ReadDocument(c.document);
    const HRESULT expected = static_cast<HRESULT>(0xC00C0000u | c.code);
    EXPECT_HR(expected, outcome.result) << c.document;
    EXPECT_EQ(LoadStringResource(c.code), std::u16string_view(c.text)) << c.document;
    EXPECT_EQ(outcome.line, c.line) << c.document;
    EXPECT_EQ(outcome.column, c.column) << c.document;
  }
  // Nodes before a fault are still delivered.
  const std::vector<std::string> before = {"Element r", "Element a empty", "Text=text",
                                           "Element b"};
  EXPECT_EQ(ReadDocument("<r><a/>text<b>&#1;</b></r>").nodes, before);
}

TEST(XmlReaderTest, ReadsEncodingsFromSignatureOrDeclaration) {
  const std::u16string document = u"<r a=\"\u00E9\">x\u20AC</r>";
  const std::u16string declared = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + document;
  const struct {
    const char* name;
    std::string bytes;
    std::string text;
  } cases[] = {
      {"UTF-8 with signature", "\xEF\xBB\xBF" + ToUtf8(document), "x\u20AC"},
      {"UTF-16LE with signature", "\xFF\xFE" + testing::Utf16Bytes(document), "x\u20AC"},
      {"UTF-16BE with signature", "\xFE\xFF" + testing::Utf16Bytes(document, true), "x\u20AC"},
      {"UTF-16LE declared", testing::Utf16Bytes(declared), "x\u20AC"},
      {"Windows-1252 declared",
       "<?xml version='1.0' encoding='windows-1252'?><r a='\xE9'>x\x80</r>", "x\u20AC"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = ReadDocument(c.bytes);
    EXPECT_HR(S_FALSE, outcome.result) << c.name;
    ASSERT_GE(outcome.nodes.size(), 3u) << c.name;
    const std::size_t first = outcome.nodes.size() - 3;
    EXPECT_EQ(outcome.nodes[first], "Element r [a=\u00E9]") << c.name;
    EXPECT_EQ(outcome.nodes[first + 1], "Text=" + c.text) << c.name;
  }
}

TEST(XmlReaderTest, CharacterDataComesWholeAcrossInputPieces) {
  // Longer than the pieces the input is read in, with references on the piece boundaries.
  std::string text;
  std::string expected = "Text=";
  for (int i = 0; i < 3000; ++i) {
    text += "ab&amp;";
    expected += "ab&";
  }
  const Outcome outcome = ReadDocument("<r>" + text + "</r><!--" + std::string(9000, 'c') + "-->");
  ASSERT_EQ(outcome.nodes.size(), 4u);
  EXPECT_EQ(outcome.nodes[1], expected);

  const Outcome cdata = ReadDocument("<r><![CDATA[" + std::string(10000, 'c') + "]]></r>");
  ASSERT_EQ(cdata.nodes.size(), 3u);
  EXPECT_EQ(cdata.nodes[1], "CDATA=" + std::string(10000, 'c'));
}

TEST(XmlReaderTest, LimitsElementDepth) {
  const auto nested = [](int depth) {
    std::string document;
    for (int i = 0; i < depth; ++i) document += "<e>";
    for (int i = 0; i < depth; ++i) document += "</e>";
    return document;
  };
  EXPECT_HR(S_FALSE, ReadDocument(nested(256)).result);
  const Outcome deep = ReadDocument(nested(257));
  EXPECT_HR(static_cast<HRESULT>(0xC00CEE81), deep.result);
  EXPECT_EQ(LoadStringResource(0xEE81),
            u"element depth exceeds limit in XmlReaderProperty_MaxElementDepth");
}

TEST(XmlReaderTest, StreamsAndTheirFailures) {
  testing::ScopedTempDir dir;
  testing::WriteFile(dir.path() / "rules.xml", "<r>from a file</r>");
  Stream stream;
  ASSERT_HR(S_OK, SHCreateStreamOnFile(dir.wide("rules.xml"), STGM_READ, &stream));
  const std::vector<std::string> expected = {"Element r", "Text=from a file", "EndElement r"};
  EXPECT_EQ(ReadStream(stream).nodes, expected);

  EXPECT_HR(HResultFromWin32(ERROR_FILE_NOT_FOUND),
            SHCreateStreamOnFile(dir.wide("missing.xml"), STGM_READ, &stream));
}

TEST(XmlReaderTest, EachInputStartsOver) {
  std::unique_ptr<IXmlReader> reader;
  ASSERT_HR(S_OK, CreateXmlReader(&reader, nullptr));
  XmlNodeType type;
  EXPECT_HR(E_UNEXPECTED, reader->Read(&type));
  ASSERT_HR(S_OK, reader->SetInput(MemStream("<a>")));
  EXPECT_HR(S_OK, reader->Read(&type));
  EXPECT_HR(static_cast<HRESULT>(0xC00CEE01), reader->Read(&type));
  ASSERT_HR(S_OK, reader->SetInput(MemStream("<b/>")));
  ASSERT_HR(S_OK, reader->Read(&type));
  EXPECT_EQ(Describe(*reader, type), "Element b empty");
  EXPECT_HR(S_FALSE, reader->Read(&type));
  EXPECT_HR(S_OK, reader->SetInput(nullptr));
  EXPECT_HR(E_UNEXPECTED, reader->Read(&type));
}

}  // namespace
}  // namespace orvex::platform
