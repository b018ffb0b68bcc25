#pragma once
// A forward-only reader shaped after XmlLite's IXmlReader: the node kinds, the S_OK / S_FALSE /
// error results and the 0xC00Cxxxx error codes are XmlLite's, so the Windows build passes through.

#include <cstdint>
#include <memory>
#include <string_view>

#include "common/result.h"
#include "platform/streams.h"

namespace orvex::platform {

/// The node kinds the reader reports (XmlNodeType).
enum XmlNodeType : std::int32_t {
  XmlNodeType_None = 0,
  XmlNodeType_Element = 1,
  XmlNodeType_Attribute = 2,
  XmlNodeType_Text = 3,
  XmlNodeType_CDATA = 4,
  XmlNodeType_ProcessingInstruction = 7,
  XmlNodeType_Comment = 8,
  XmlNodeType_DocumentType = 10,
  XmlNodeType_Whitespace = 13,
  XmlNodeType_EndElement = 15,
  XmlNodeType_XmlDeclaration = 17,
};

/// XmlLite's error for a document that ends before it is complete, also given when the input
/// stream ends early.
constexpr HRESULT MX_E_INPUTEND = static_cast<HRESULT>(0xC00CEE01);

/// IXmlReader. Names and values stay valid until the next Read or SetInput.
class IXmlReader {
 public:
  virtual ~IXmlReader() = default;
  /// Starts reading `input` from its beginning; null releases the current input.
  virtual HRESULT SetInput(Stream input) = 0;
  /// Moves to the next node: S_OK, S_FALSE at the end of the document, or the parse error, which
  /// every later call repeats.
  virtual HRESULT Read(XmlNodeType* node_type) = 0;
  /// The local name of the current node or attribute (a namespace declaration's is the declared
  /// prefix, or "xmlns" for a default namespace).
  virtual HRESULT GetLocalName(std::u16string_view* name) = 0;
  /// The value of the current node or attribute.
  virtual HRESULT GetValue(std::u16string_view* value) = 0;
  /// S_FALSE when the current node has no attributes.
  virtual HRESULT MoveToFirstAttribute() = 0;
  /// S_FALSE after the last attribute.
  virtual HRESULT MoveToNextAttribute() = 0;
  /// Whether the current attribute came from a DTD default rather than the document.
  virtual bool IsDefault() = 0;
  /// Whether the current element, also while on one of its attributes, is an empty-element tag.
  virtual bool IsEmptyElement() = 0;
  /// Where the current node is, or where the error was found; both count from 1.
  virtual HRESULT GetLineNumber(std::uint32_t* line) = 0;
  virtual HRESULT GetLinePosition(std::uint32_t* position) = 0;
};

/// IMalloc: the task allocator handed to CreateXmlReader; memory here is C++'s own, so it is a
/// token that only has to exist.
class IMalloc {
 public:
  virtual ~IMalloc() = default;
};

constexpr std::uint32_t MEMCTX_TASK = 1;

/// CoGetMalloc: the process's task allocator for MEMCTX_TASK, E_INVALIDARG otherwise.
HRESULT CoGetMalloc(std::uint32_t memory_context, IMalloc** malloc);
/// CreateXmlReader with default settings: a document type declaration is refused, and nothing is
/// ever loaded from outside the input.
HRESULT CreateXmlReader(std::unique_ptr<IXmlReader>* reader, IMalloc* malloc);

}  // namespace orvex::platform
