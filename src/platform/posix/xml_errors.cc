// Linux only: libxml2's faults and the XmlLite codes for the same faults.
#include "platform/posix/xml_errors.h"

#include <libxml/parserInternals.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

namespace orvex::platform::posix {
namespace {

struct ParserErrorCode {
  int libxml;
  HRESULT xmllite;
};

// libxml2's error numbers and the XmlLite code for the same fault. Numbers missing here are
// decided in MapParserError or fall back to WC_E_SYNTAX.
constexpr ParserErrorCode kParserErrorCodes[] = {
    {XML_ERR_INVALID_HEX_CHARREF, XML_E_INVALID_HEXIDECIMAL},
    {XML_ERR_INVALID_DEC_CHARREF, XML_E_INVALID_DECIMAL},
    {XML_ERR_INVALID_CHARREF, XML_E_INVALID_UNICODE},
    {XML_ERR_CHARREF_AT_EOF, MX_E_INPUTEND},
    {XML_ERR_ENTITYREF_AT_EOF, MX_E_INPUTEND},
    {XML_ERR_TAG_NOT_FINISHED, MX_E_INPUTEND},
    {XML_ERR_ENTITYREF_NO_NAME, WC_E_NAME},
    {XML_ERR_ENTITYREF_SEMICOL_MISSING, WC_E_SEMICOLON},
    {XML_ERR_UNDECLARED_ENTITY, WC_E_UNDECLAREDENTITY},
    {XML_ERR_UNPARSED_ENTITY, WC_E_PARSEDENTITY},
    {XML_ERR_ENTITY_IS_EXTERNAL, WC_E_NOEXTERNALENTITYREF},
    {XML_ERR_ENTITY_LOOP, WC_E_NORECURSION},
    {XML_ERR_NOT_WELL_BALANCED, WC_E_ENTITYCONTENT},
    {XML_ERR_ENTITY_BOUNDARY, WC_E_ENTITYCONTENT},
    {XML_ERR_UNKNOWN_ENCODING, MX_E_ENCODING},
    {XML_ERR_UNSUPPORTED_ENCODING, MX_E_ENCODING},
    {XML_ERR_INVALID_ENCODING, MX_E_ENCODINGSWITCH},
    {XML_ERR_STRING_NOT_STARTED, WC_E_QUOTE},
    {XML_ERR_STRING_NOT_CLOSED, WC_E_QUOTE},
    {XML_ERR_ATTRIBUTE_NOT_STARTED, WC_E_QUOTE},
    {XML_ERR_ATTRIBUTE_NOT_FINISHED, WC_E_QUOTE},
    {XML_ERR_LITERAL_NOT_STARTED, WC_E_QUOTE},
    {XML_ERR_LITERAL_NOT_FINISHED, WC_E_QUOTE},
    {XML_ERR_LT_IN_ATTRIBUTE, WC_E_LESSTHAN},
    {XML_ERR_ATTRIBUTE_WITHOUT_VALUE, WC_E_EQUAL},
    {XML_ERR_EQUAL_REQUIRED, WC_E_EQUAL},
    {XML_ERR_ATTRIBUTE_REDEFINED, WC_E_UNIQUEATTRIBUTE},
    {XML_NS_ERR_ATTRIBUTE_REDEFINED, WC_E_UNIQUEATTRIBUTE},
    {XML_ERR_COMMENT_NOT_FINISHED, WC_E_COMMENT},
    {XML_ERR_HYPHEN_IN_COMMENT, WC_E_COMMENT},
    {XML_ERR_PI_NOT_STARTED, WC_E_PI},
    {XML_ERR_PI_NOT_FINISHED, WC_E_PI},
    {XML_ERR_XMLDECL_NOT_STARTED, WC_E_XMLDECL},
    {XML_ERR_XMLDECL_NOT_FINISHED, WC_E_XMLDECL},
    {XML_ERR_VERSION_MISSING, WC_E_XMLDECL},
    {XML_ERR_UNKNOWN_VERSION, WC_E_XMLDECL},
    {XML_ERR_STANDALONE_VALUE, WC_E_XMLDECL},
    {XML_ERR_ENCODING_NAME, WC_E_ENCNAME},
    {XML_ERR_MISPLACED_CDATA_END, WC_E_CDSECTEND},
    {XML_ERR_CDATA_NOT_FINISHED, WC_E_CDSECT},
    {XML_ERR_SPACE_REQUIRED, WC_E_WHITESPACE},
    {XML_ERR_SEPARATOR_REQUIRED, WC_E_WHITESPACE},
    {XML_ERR_NAME_REQUIRED, WC_E_NAME},
    {XML_ERR_NMTOKEN_REQUIRED, WC_E_NAME},
    {XML_ERR_GT_REQUIRED, WC_E_GREATERTHAN},
    {XML_ERR_TAG_NAME_MISMATCH, WC_E_ELEMENTMATCH},
    {XML_ERR_INVALID_CHAR, WC_E_XMLCHARACTER},
    {XML_NS_ERR_UNDEFINED_NAMESPACE, NC_E_UNDECLAREDPREFIX},
    {XML_NS_ERR_QNAME, NC_E_QNAMECOLON},
    {XML_NS_ERR_EMPTY, NC_E_EMPTYURI},
    {XML_NS_ERR_COLON, NC_E_NAMECOLON},
    {XML_WAR_SPACE_VALUE, WC_E_INVALIDXMLSPACE},
    {XML_ERR_NO_MEMORY, E_OUTOFMEMORY},
};

// Faults that, found only when the input has ended, mean that the document stops in the middle of
// a construct: XmlLite reports those as the end of input.
constexpr int kUnfinishedConstructCodes[] = {
    XML_ERR_INVALID_HEX_CHARREF,
    XML_ERR_INVALID_DEC_CHARREF,
    XML_ERR_ENTITYREF_NO_NAME,
    XML_ERR_ENTITYREF_SEMICOL_MISSING,
    XML_ERR_STRING_NOT_STARTED,
    XML_ERR_STRING_NOT_CLOSED,
    XML_ERR_ATTRIBUTE_NOT_STARTED,
    XML_ERR_ATTRIBUTE_NOT_FINISHED,
    XML_ERR_ATTRIBUTE_WITHOUT_VALUE,
    XML_ERR_LITERAL_NOT_STARTED,
    XML_ERR_LITERAL_NOT_FINISHED,
    XML_ERR_COMMENT_NOT_FINISHED,
    XML_ERR_HYPHEN_IN_COMMENT,
    XML_ERR_PI_NOT_STARTED,
    XML_ERR_PI_NOT_FINISHED,
    XML_ERR_XMLDECL_NOT_STARTED,
    XML_ERR_XMLDECL_NOT_FINISHED,
    XML_ERR_VERSION_MISSING,
    XML_ERR_ENCODING_NAME,
    XML_ERR_CDATA_NOT_FINISHED,
    XML_ERR_RESERVED_XML_NAME,
    XML_ERR_SPACE_REQUIRED,
    XML_ERR_NAME_REQUIRED,
    XML_ERR_LTSLASH_REQUIRED,
    XML_ERR_GT_REQUIRED,
    XML_ERR_EQUAL_REQUIRED,
    XML_NS_ERR_QNAME,
};

bool Contains(const char* text, const char* part) {
  return text != nullptr && std::strstr(text, part) != nullptr;
}

bool IsNameStartByte(xmlChar c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

// Whether what the parser left unread is the opening of markup cut off by the end of the input.
bool IsCutOffOpening(std::string_view rest) {
  if (rest == "<") return true;
  for (const std::string_view opening : {"<!--", "<![CDATA[", "<!DOCTYPE"}) {
    if (rest.size() < opening.size() && opening.starts_with(rest)) return true;
  }
  return false;
}

}  // namespace

HRESULT MapParserError(const xmlError& error, const xmlParserCtxt& parser, bool input_ended) {
  // Whatever goes wrong inside a document type declaration, the declaration itself is refused.
  if (parser.inSubset != 0) return WC_E_DTDPROHIBITED;
  const xmlParserInput* input = parser.input;
  const bool at_end = input == nullptr || input->cur >= input->end;
  const std::string_view rest =
      at_end ? std::string_view()
             : std::string_view(reinterpret_cast<const char*>(input->cur), input->end - input->cur);
  switch (error.code) {
    case XML_ERR_DOCUMENT_END:
      // The parser gives up with this wherever it cannot go on: before the root element ends it
      // was waiting for more input, unless it stopped at markup it does not know.
      if (at_end) return MX_E_INPUTEND;
      if (parser.instate != XML_PARSER_EPILOG) {
        return !rest.starts_with("<!") || IsCutOffOpening(rest) ? MX_E_INPUTEND : WC_E_SYNTAX;
      }
      if (rest.size() > 1 && rest[0] == '<' && IsNameStartByte(rest[1])) return WC_E_ROOTELEMENT;
      return IsCutOffOpening(rest) ? MX_E_INPUTEND : WC_E_SYNTAX;
    case XML_ERR_DOCUMENT_EMPTY:
      return at_end ? MX_E_INPUTEND : WC_E_SYNTAX;
    case XML_ERR_INVALID_CHAR:
      // The same number serves character references to characters XML does not allow.
      if (Contains(error.message, "CharRef")) return XML_E_INVALID_UNICODE;
      return WC_E_XMLCHARACTER;
    case XML_NS_ERR_XML_NAMESPACE:
      if (Contains(error.message, "Empty XML namespace")) return NC_E_EMPTYURI;
      if (Contains(error.message, "xml namespace prefix")) return NC_E_XMLPREFIXRESERVED;
      if (Contains(error.message, "xmlns prefix")) return NC_E_XMLNSPREFIXRESERVED;
      if (Contains(error.message, "xml namespace URI")) return NC_E_XMLURIRESERVED;
      if (Contains(error.message, "xmlns namespace")) return NC_E_XMLNSURIRESERVED;
      return WC_E_SYNTAX;
    case XML_ERR_INTERNAL_ERROR:
      // Also what the parser says about markup in content that it cannot classify.
      if (Contains(error.message, "Excessive depth")) return SC_E_MAXELEMENTDEPTH;
      return WC_E_SYNTAX;
    default:
      break;
  }
  if (input_ended && std::ranges::find(kUnfinishedConstructCodes, error.code) !=
                         std::end(kUnfinishedConstructCodes)) {
    return MX_E_INPUTEND;
  }
  if (error.code == XML_ERR_RESERVED_XML_NAME) {
    return Contains(error.message, "XML declaration allowed") ? WC_E_TEXTXMLDECL : WC_E_LEADINGXML;
  }
  const auto found = std::ranges::find(kParserErrorCodes, error.code, &ParserErrorCode::libxml);
  return found != std::end(kParserErrorCodes) ? found->xmllite : WC_E_SYNTAX;
}

}  // namespace orvex::platform::posix
