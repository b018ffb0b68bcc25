#pragma once
// Linux only: XmlLite's error codes, and the one translation of libxml2's faults into them.

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <cstdint>

#include "common/result.h"
#include "platform/xml_reader.h"

namespace orvex::platform::posix {

/// XmlLite's codes all lie in one range; MX_E_INPUTEND, which the Windows build needs too, is in
/// xml_reader.h.
constexpr HRESULT XmlLiteError(std::uint32_t code) {
  return static_cast<HRESULT>(0xC00C0000u | code);
}

constexpr HRESULT XML_E_INVALID_DECIMAL = XmlLiteError(0xE01D);
constexpr HRESULT XML_E_INVALID_HEXIDECIMAL = XmlLiteError(0xE01E);
constexpr HRESULT XML_E_INVALID_UNICODE = XmlLiteError(0xE01F);
constexpr HRESULT MX_E_ENCODING = XmlLiteError(0xEE02);
constexpr HRESULT MX_E_ENCODINGSWITCH = XmlLiteError(0xEE03);
constexpr HRESULT MX_E_ENCODINGSIGNATURE = XmlLiteError(0xEE04);
constexpr HRESULT WC_E_WHITESPACE = XmlLiteError(0xEE21);
constexpr HRESULT WC_E_SEMICOLON = XmlLiteError(0xEE22);
constexpr HRESULT WC_E_GREATERTHAN = XmlLiteError(0xEE23);
constexpr HRESULT WC_E_QUOTE = XmlLiteError(0xEE24);
constexpr HRESULT WC_E_EQUAL = XmlLiteError(0xEE25);
constexpr HRESULT WC_E_LESSTHAN = XmlLiteError(0xEE26);
constexpr HRESULT WC_E_XMLCHARACTER = XmlLiteError(0xEE2B);
constexpr HRESULT WC_E_SYNTAX = XmlLiteError(0xEE2D);
constexpr HRESULT WC_E_CDSECT = XmlLiteError(0xEE2E);
constexpr HRESULT WC_E_COMMENT = XmlLiteError(0xEE2F);
constexpr HRESULT WC_E_NAME = XmlLiteError(0xEE39);
constexpr HRESULT WC_E_ROOTELEMENT = XmlLiteError(0xEE3A);
constexpr HRESULT WC_E_ELEMENTMATCH = XmlLiteError(0xEE3B);
constexpr HRESULT WC_E_UNIQUEATTRIBUTE = XmlLiteError(0xEE3C);
constexpr HRESULT WC_E_TEXTXMLDECL = XmlLiteError(0xEE3D);
constexpr HRESULT WC_E_LEADINGXML = XmlLiteError(0xEE3E);
constexpr HRESULT WC_E_XMLDECL = XmlLiteError(0xEE40);
constexpr HRESULT WC_E_ENCNAME = XmlLiteError(0xEE41);
constexpr HRESULT WC_E_NORECURSION = XmlLiteError(0xEE45);
constexpr HRESULT WC_E_ENTITYCONTENT = XmlLiteError(0xEE46);
constexpr HRESULT WC_E_UNDECLAREDENTITY = XmlLiteError(0xEE47);
constexpr HRESULT WC_E_PARSEDENTITY = XmlLiteError(0xEE48);
constexpr HRESULT WC_E_NOEXTERNALENTITYREF = XmlLiteError(0xEE49);
constexpr HRESULT WC_E_PI = XmlLiteError(0xEE4A);
constexpr HRESULT WC_E_CDSECTEND = XmlLiteError(0xEE4D);
constexpr HRESULT WC_E_DTDPROHIBITED = XmlLiteError(0xEE4F);
constexpr HRESULT WC_E_INVALIDXMLSPACE = XmlLiteError(0xEE50);
constexpr HRESULT NC_E_QNAMECOLON = XmlLiteError(0xEE62);
constexpr HRESULT NC_E_NAMECOLON = XmlLiteError(0xEE63);
constexpr HRESULT NC_E_UNDECLAREDPREFIX = XmlLiteError(0xEE65);
constexpr HRESULT NC_E_EMPTYURI = XmlLiteError(0xEE66);
constexpr HRESULT NC_E_XMLPREFIXRESERVED = XmlLiteError(0xEE67);
constexpr HRESULT NC_E_XMLNSPREFIXRESERVED = XmlLiteError(0xEE68);
constexpr HRESULT NC_E_XMLURIRESERVED = XmlLiteError(0xEE69);
constexpr HRESULT NC_E_XMLNSURIRESERVED = XmlLiteError(0xEE6A);
constexpr HRESULT SC_E_MAXELEMENTDEPTH = XmlLiteError(0xEE81);

/// The XmlLite code for a fault libxml2 reports. `input_ended` tells that the parser was given
/// the end of the input in the call that found the fault.
HRESULT MapParserError(const xmlError& error, const xmlParserCtxt& parser, bool input_ended);

}  // namespace orvex::platform::posix
