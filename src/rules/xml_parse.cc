#include "rules/xml_parse.h"

#include <array>
#include <utility>

namespace orvex {
namespace {

// Text up to its first NUL, as the reader's callers have always measured it.
std::uint32_t LengthBeforeNul(std::u16string_view text) {
  return static_cast<std::uint32_t>(std::min(text.find(u'\0'), text.size()));
}

HRESULT ReportElement(platform::IXmlReader& reader, CXmlElementHandler& handler) {
  std::u16string_view view;
  RETURN_IF_FAILED(reader.GetLocalName(&view));
  const std::u16string name(view);
  std::array<XmlAttribute, kMaxXmlAttributes> attributes;
  std::size_t count = 0;
  HRESULT hr = reader.MoveToFirstAttribute();
  RETURN_IF_FAILED(hr);
  while (hr == S_OK && count < kMaxXmlAttributes) {
    // Attributes a DTD supplied are not part of what the file says.
    if (!reader.IsDefault()) {
      RETURN_IF_FAILED(reader.GetLocalName(&view));
      attributes[count].name = view;
      RETURN_IF_FAILED(reader.GetValue(&view));
      attributes[count].value = view;
      ++count;
    }
    hr = reader.MoveToNextAttribute();
    RETURN_IF_FAILED(hr);
  }
  handler.OnStartElement(name, std::span<const XmlAttribute>(attributes.data(), count));
  // An empty-element tag has no end tag of its own.
  if (reader.IsEmptyElement()) handler.OnEndElement(name);
  return S_OK;
}

// Reads and reports nodes until the end of the document (S_FALSE) or an error.
HRESULT ReportNodes(platform::IXmlReader& reader, CXmlElementHandler* handler) {
  platform::XmlNodeType type = platform::XmlNodeType_None;
  HRESULT hr;
  while ((hr = reader.Read(&type)) == S_OK) {
    if (handler == nullptr) continue;
    std::u16string_view text;
    switch (type) {
      case platform::XmlNodeType_Element:
        RETURN_IF_FAILED(ReportElement(reader, *handler));
        break;
      case platform::XmlNodeType_Text:
      case platform::XmlNodeType_Whitespace:
        RETURN_IF_FAILED(reader.GetValue(&text));
        handler->OnText(text.data(), LengthBeforeNul(text));
        break;
      case platform::XmlNodeType_EndElement:
        RETURN_IF_FAILED(reader.GetLocalName(&text));
        handler->OnEndElement(text);
        break;
      default:  // declarations, comments, processing instructions, CDATA sections
        break;
    }
  }
  return hr;
}

}  // namespace

bool ParseXmlStream(const XmlReaderContext& context, platform::Stream stream) {
  platform::IXmlReader& reader = *context.reader;
  HRESULT hr = reader.SetInput(std::move(stream));
  if (SUCCEEDED(hr)) hr = ReportNodes(reader, context.handler);
  if (SUCCEEDED(hr)) {
    hr = reader.SetInput(nullptr);
    if (SUCCEEDED(hr)) return true;
  }
  if (context.handler == nullptr) return false;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  (void)reader.GetLineNumber(&line);
  (void)reader.GetLinePosition(&column);
  context.handler->OnParseError(hr, line, column);
  return false;
}

}  // namespace orvex
