#pragma once
// The loop over the pull XML reader that reports a document's elements, text, end tags and first
// error to a callback object.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/streams.h"
#include "platform/xml_reader.h"

namespace orvex {

/// At most this many attributes of one element are read; the rest are ignored.
inline constexpr std::size_t kMaxXmlAttributes = 40;

/// One attribute as the callbacks see it: its local name and its value.
struct XmlAttribute {
  std::u16string name;
  std::u16string value;
};

struct XmlReaderContext;

/// What ParseXmlStream reports to. Objects are never deleted through this interface.
class CXmlElementHandler {
 public:
  /// Once, before ParseXmlStream, with the context that will be parsed with.
  virtual void Attach(const XmlReaderContext* context) = 0;
  /// Every start tag: the element's local name and its attributes in document order.
  virtual void OnStartElement(std::u16string_view name,
                              std::span<const XmlAttribute> attributes) = 0;
  /// Every end tag, and right after the start of an element written as an empty-element tag.
  virtual void OnEndElement(std::u16string_view name) = 0;
  /// Every text node and every whitespace-only node.
  virtual void OnText(const char16_t* text, std::uint32_t length) = 0;
  /// Once, when the document cannot be read: the reader's result and where it stopped.
  virtual void OnParseError(HRESULT result, std::uint32_t line, std::uint32_t column) = 0;

 protected:
  ~CXmlElementHandler() = default;
};

/// What a parse works with; all three are borrowed.
struct XmlReaderContext {
  platform::IMalloc* malloc = nullptr;
  platform::IXmlReader* reader = nullptr;
  CXmlElementHandler* handler = nullptr;
};

/// Reads the whole of `stream` with the context's reader and reports to its handler. True when the
/// document was read without error; otherwise the handler, if any, got OnParseError once.
[[nodiscard]] bool ParseXmlStream(const XmlReaderContext& context, platform::Stream stream);

}  // namespace orvex
