// Linux only: the pull XML reader over libxml2's push parser.
//
// libxml2's own pull reader parses the whole prolog, a document type declaration's internal
// subset included, before it returns the first node, and drops the nodes that precede an error in
// the same piece of input. The reader here drives the push parser with handlers of its own and
// queues the nodes they report, so that a document type declaration is refused where it starts,
// before any of its declarations is read, and nodes come out in document order up to the first
// error, as XmlLite delivers them.
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/result.h"
#include "platform/posix/streams.h"
#include "platform/posix/xml_encoding.h"
#include "platform/posix/xml_errors.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "platform/xml_reader.h"

namespace orvex::platform {
namespace {

class TaskAllocator final : public IMalloc {};

// XmlLite's default for XmlReaderProperty_MaxElementDepth.
constexpr int kMaxElementDepth = 256;
constexpr std::uint32_t kChunkSize = 4096;
constexpr std::uint32_t kMaxChunkSize = 16u << 20;

bool IsXmlWhitespace(std::string_view text) {
  return std::ranges::all_of(
      text, [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}

// The parser hands over attribute values with each '&' written as "&#38;" (it expects a tree
// builder to read them again); this gives the value the document means.
std::u16string AttributeValue(const xmlChar* begin, const xmlChar* end) {
  const std::string_view text(reinterpret_cast<const char*>(begin),
                              static_cast<std::size_t>(end - begin));
  std::string value;
  value.reserve(text.size());
  for (std::size_t at = 0;;) {
    const std::size_t found = text.find("&#38;", at);
    value.append(text.substr(at, found == std::string_view::npos ? found : found - at));
    if (found == std::string_view::npos) break;
    value += '&';
    at = found + 5;
  }
  return ToUtf16(value);
}

std::u16string FromXml(const xmlChar* text) {
  return text == nullptr ? std::u16string() : ToUtf16(reinterpret_cast<const char*>(text));
}

void IgnoreGenericError(void* /*context*/, const char* /*message*/, ...) {}

// libxml2 prints what it cannot pin to a parser (decoder failures) through a thread-wide handler;
// the reader reports those through its result alone.
class QuietGenericErrors {
 public:
  QuietGenericErrors() : handler_(xmlGenericError), context_(xmlGenericErrorContext) {
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
  }
  ~QuietGenericErrors() { xmlSetGenericErrorFunc(context_, handler_); }
  QuietGenericErrors(const QuietGenericErrors&) = delete;
  QuietGenericErrors& operator=(const QuietGenericErrors&) = delete;

 private:
  xmlGenericErrorFunc handler_;
  void* context_;
};

class LibxmlReader final : public IXmlReader {
 public:
  LibxmlReader() = default;
  ~LibxmlReader() override { Reset(); }
  LibxmlReader(const LibxmlReader&) = delete;
  LibxmlReader& operator=(const LibxmlReader&) = delete;

  HRESULT SetInput(Stream input) override {
    Reset();
    input_ = std::move(input);
    return S_OK;
  }

  HRESULT Read(XmlNodeType* node_type) override {
    if (node_type != nullptr) *node_type = XmlNodeType_None;
    if (input_ == nullptr) return E_UNEXPECTED;
    attribute_ = -1;
    while (queue_.empty()) {
      if (FAILED(error_)) {
        current_ = Node{};
        current_.line = error_line_;
        current_.column = error_column_;
        return error_;
      }
      if (finished_) {
        current_ = Node{};
        return S_FALSE;
      }
      Pump();
    }
    current_ = std::move(queue_.front());
    queue_.pop_front();
    if (node_type != nullptr) *node_type = current_.type;
    return S_OK;
  }

  HRESULT GetLocalName(std::u16string_view* name) override {
    if (name == nullptr) return E_INVALIDARG;
    *name = attribute_ >= 0 ? current_.attributes[attribute_].local_name : current_.local_name;
    return S_OK;
  }

  HRESULT GetValue(std::u16string_view* value) override {
    if (value == nullptr) return E_INVALIDARG;
    *value = attribute_ >= 0 ? current_.attributes[attribute_].value : current_.value;
    return S_OK;
  }

  HRESULT MoveToFirstAttribute() override {
    if (current_.attributes.empty()) return S_FALSE;
    attribute_ = 0;
    return S_OK;
  }

  HRESULT MoveToNextAttribute() override {
    if (attribute_ < 0) return MoveToFirstAttribute();
    if (static_cast<std::size_t>(attribute_) + 1 >= current_.attributes.size()) return S_FALSE;
    ++attribute_;
    return S_OK;
  }

  bool IsDefault() override {
    return attribute_ >= 0 && current_.attributes[attribute_].is_default;
  }

  bool IsEmptyElement() override { return current_.empty_element; }

  HRESULT GetLineNumber(std::uint32_t* line) override {
    if (line == nullptr) return E_INVALIDARG;
    *line = current_.line;
    return S_OK;
  }

  HRESULT GetLinePosition(std::uint32_t* position) override {
    if (position == nullptr) return E_INVALIDARG;
    *position = current_.column;
    return S_OK;
  }

 private:
  struct Attribute {
    std::u16string local_name;
    std::u16string value;
    bool is_default = false;
  };

  struct Node {
    XmlNodeType type = XmlNodeType_None;
    std::u16string local_name;
    std::u16string value;
    std::vector<Attribute> attributes;
    bool empty_element = false;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
  };

  static LibxmlReader& From(void* context) { return *static_cast<LibxmlReader*>(context); }

  void Reset() {
    if (parser_ != nullptr) xmlFreeParserCtxt(parser_);
    parser_ = nullptr;
    input_.reset();
    queue_.clear();
    current_ = Node{};
    attribute_ = -1;
    pending_.clear();
    pending_type_ = XmlNodeType_None;
    depth_ = 0;
    read_so_far_ = 0;
    skip_end_ = false;
    finished_ = false;
    input_ended_ = false;
    error_ = S_OK;
    declared_encoding_.clear();
  }

  std::uint32_t Line() const {
    return parser_ != nullptr && parser_->input != nullptr && parser_->input->line > 0
               ? static_cast<std::uint32_t>(parser_->input->line)
               : 1;
  }
  std::uint32_t Column() const {
    return parser_ != nullptr && parser_->input != nullptr && parser_->input->col > 0
               ? static_cast<std::uint32_t>(parser_->input->col)
               : 1;
  }

  // Keeps the first fault; everything the parser reports after it is ignored.
  void Fail(HRESULT error, std::uint32_t line, std::uint32_t column) {
    if (FAILED(error_)) return;
    error_ = error;
    error_line_ = line;
    error_column_ = column;
    pending_.clear();
    pending_type_ = XmlNodeType_None;
  }

  // Reads the next piece of input and parses it. The first piece is read in full, so that the
  // encoding is judged on enough bytes, and creates the parser. Later pieces grow with the input
  // read so far: for every piece the parser looks back over all it holds unparsed (the whole of
  // a long comment), so pieces of one size would cost the square of such a comment's length.
  void Pump() {
    const auto piece = static_cast<std::uint32_t>(
        parser_ == nullptr
            ? kChunkSize
            : std::clamp<std::uint64_t>(read_so_far_ / 4, kChunkSize, kMaxChunkSize));
    chunk_.resize(piece);
    std::uint8_t* const buffer = chunk_.data();
    std::uint32_t size = 0;
    std::uint32_t read = 0;
    do {
      const HRESULT result = posix::ReadStream(*input_, buffer + size, piece - size, &read);
      if (FAILED(result)) return Fail(result, Line(), Column());
      size += read;
    } while (parser_ == nullptr && read != 0 && size < piece);
    read_so_far_ += size;
    if (parser_ != nullptr) return Parse(buffer, size, read == 0);

    const posix::EncodingCheck check = posix::CheckEncoding(buffer, size);
    if (FAILED(check.result)) return Fail(check.result, 1, check.column);
    declared_encoding_ = check.declared;
    // libxml2 chooses its decoder from the first four bytes; the rest goes through Parse.
    const std::uint32_t initial = std::min<std::uint32_t>(size, 4);
    {
      QuietGenericErrors quiet;
      parser_ = xmlCreatePushParserCtxt(&handler_, this, reinterpret_cast<const char*>(buffer),
                                        static_cast<int>(initial), nullptr);
    }
    if (parser_ == nullptr) return Fail(E_OUTOFMEMORY, 1, 1);
    // No size limit on a comment, a text or a name: a rule file may carry a large file body or
    // comment and stay well formed. Depth has a limit of its own (OnStartElement), and a DTD,
    // and with it every entity declaration, is refused whatever the options.
    xmlCtxtUseOptions(parser_, XML_PARSE_NONET | XML_PARSE_HUGE |
                                   (check.ignore_declaration ? XML_PARSE_IGNORE_ENC : 0));
    if (size > initial) Parse(buffer + initial, size - initial, false);
    if (read == 0) Parse(nullptr, 0, true);
  }

  void Parse(const std::uint8_t* bytes, std::uint32_t size, bool input_ended) {
    if (FAILED(error_)) return;
    input_ended_ = input_ended;
    int result;
    {
      QuietGenericErrors quiet;
      result = xmlParseChunk(parser_, reinterpret_cast<const char*>(bytes), static_cast<int>(size),
                             input_ended ? 1 : 0);
    }
    // Decoder failures stop the parser without a report of their own.
    if (result != XML_ERR_OK) {
      Fail(result == XML_ERR_INVALID_ENCODING ? posix::WC_E_XMLCHARACTER : posix::WC_E_SYNTAX,
           Line(), Column());
    }
    if (FAILED(error_)) {
      xmlStopParser(parser_);
    } else if (input_ended) {
      finished_ = true;
    }
  }

  void Enqueue(Node node) {
    node.line = Line();
    node.column = Column();
    queue_.push_back(std::move(node));
  }

  // Character data arrives in pieces; a text or CDATA node is complete when something else comes.
  void FlushText() {
    if (pending_type_ == XmlNodeType_None) return;
    Node node;
    node.type = pending_type_ == XmlNodeType_Text && IsXmlWhitespace(pending_)
                    ? XmlNodeType_Whitespace
                    : pending_type_;
    node.value = ToUtf16(pending_);
    node.line = pending_line_;
    node.column = pending_column_;
    queue_.push_back(std::move(node));
    pending_.clear();
    pending_type_ = XmlNodeType_None;
  }

  void AppendText(XmlNodeType type, const xmlChar* text, int length) {
    if (pending_type_ != type) {
      FlushText();
      pending_type_ = type;
      pending_line_ = Line();
      pending_column_ = Column();
    }
    pending_.append(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
  }

  static void OnStartDocument(void* context) {
    LibxmlReader& self = From(context);
    // libxml2 keeps -1 here unless an XML declaration was read.
    if (FAILED(self.error_) || self.parser_->input->standalone == -1) return;
    Node node;
    node.type = XmlNodeType_XmlDeclaration;
    node.local_name = u"xml";
    node.attributes.push_back({u"version", FromXml(self.parser_->version)});
    if (!self.declared_encoding_.empty()) {
      node.attributes.push_back({u"encoding", ToUtf16(self.declared_encoding_)});
    }
    if (self.parser_->input->standalone >= 0) {
      node.attributes.push_back({u"standalone", self.parser_->input->standalone ? u"yes" : u"no"});
    }
    self.Enqueue(std::move(node));
  }

  static void OnInternalSubset(void* context, const xmlChar* /*name*/,
                               const xmlChar* /*external_id*/, const xmlChar* /*system_id*/) {
    LibxmlReader& self = From(context);
    self.Fail(posix::WC_E_DTDPROHIBITED, self.Line(), self.Column());
    xmlStopParser(self.parser_);
  }

  static void OnStartElement(void* context, const xmlChar* local_name, const xmlChar* /*prefix*/,
                             const xmlChar* /*uri*/, int namespace_count,
                             const xmlChar** namespaces, int attribute_count, int defaulted_count,
                             const xmlChar** attributes) {
    LibxmlReader& self = From(context);
    if (FAILED(self.error_)) return;
    self.FlushText();
    if (++self.depth_ > kMaxElementDepth) {
      self.Fail(posix::SC_E_MAXELEMENTDEPTH, self.Line(), self.Column());
      xmlStopParser(self.parser_);
      return;
    }
    Node node;
    node.type = XmlNodeType_Element;
    node.local_name = FromXml(local_name);
    // Namespace declarations count as attributes, as in XmlLite; libxml2 keeps them apart, so
    // they come first.
    for (int i = 0; i < namespace_count; ++i) {
      const xmlChar* prefix = namespaces[2 * i];
      const xmlChar* uri = namespaces[2 * i + 1];
      node.attributes.push_back(
          {prefix != nullptr ? FromXml(prefix) : u"xmlns",
           uri != nullptr ? AttributeValue(uri, uri + xmlStrlen(uri)) : std::u16string()});
    }
    for (int i = 0; i < attribute_count; ++i) {
      const xmlChar** attribute = attributes + 5 * i;
      node.attributes.push_back({FromXml(attribute[0]), AttributeValue(attribute[3], attribute[4]),
                                 i >= attribute_count - defaulted_count});
    }
    // The parser reports the start of a tag before it reads what closes it.
    node.empty_element = self.parser_->input->cur[0] == '/';
    self.skip_end_ = node.empty_element;
    self.Enqueue(std::move(node));
  }

  static void OnEndElement(void* context, const xmlChar* local_name, const xmlChar* /*prefix*/,
                           const xmlChar* /*uri*/) {
    LibxmlReader& self = From(context);
    if (FAILED(self.error_)) return;
    self.FlushText();
    --self.depth_;
    // An empty-element tag is one node; libxml2 reports an end for it as well.
    if (self.skip_end_) {
      self.skip_end_ = false;
      return;
    }
    Node node;
    node.type = XmlNodeType_EndElement;
    node.local_name = FromXml(local_name);
    self.Enqueue(std::move(node));
  }

  static void OnCharacters(void* context, const xmlChar* text, int length) {
    LibxmlReader& self = From(context);
    if (SUCCEEDED(self.error_)) self.AppendText(XmlNodeType_Text, text, length);
  }

  static void OnCdata(void* context, const xmlChar* text, int length) {
    LibxmlReader& self = From(context);
    if (SUCCEEDED(self.error_)) self.AppendText(XmlNodeType_CDATA, text, length);
  }

  static void OnComment(void* context, const xmlChar* text) {
    LibxmlReader& self = From(context);
    if (FAILED(self.error_)) return;
    self.FlushText();
    Node node;
    node.type = XmlNodeType_Comment;
    node.value = FromXml(text);
    self.Enqueue(std::move(node));
  }

  static void OnProcessingInstruction(void* context, const xmlChar* target, const xmlChar* data) {
    LibxmlReader& self = From(context);
    if (FAILED(self.error_)) return;
    self.FlushText();
    Node node;
    node.type = XmlNodeType_ProcessingInstruction;
    node.local_name = FromXml(target);
    node.value = FromXml(data);
    self.Enqueue(std::move(node));
  }

  static void OnError(void* context, xmlErrorPtr error) {
    LibxmlReader& self = From(context);
    if (error == nullptr || FAILED(self.error_)) return;
    // Warnings are not faults for XmlLite, except for a bad xml:space value.
    if (error->level == XML_ERR_WARNING && error->code != XML_WAR_SPACE_VALUE) return;
    // While the parser is being created, `parser_` is not set yet.
    const auto* parser = static_cast<const xmlParserCtxt*>(error->ctxt);
    if (parser == nullptr) parser = self.parser_;
    const HRESULT result = parser != nullptr
                               ? posix::MapParserError(*error, *parser, self.input_ended_)
                               : posix::WC_E_SYNTAX;
    self.Fail(result, error->line > 0 ? static_cast<std::uint32_t>(error->line) : self.Line(),
              error->int2 > 0 ? static_cast<std::uint32_t>(error->int2) : self.Column());
  }

  // Only these handlers are set: without entity and DTD handlers nothing outside the input is
  // ever loaded, and the tree libxml2 would build is not wanted.
  static xmlSAXHandler MakeHandler() {
    xmlSAXHandler handler;
    std::memset(&handler, 0, sizeof handler);
    handler.initialized = XML_SAX2_MAGIC;
    handler.startDocument = OnStartDocument;
    handler.internalSubset = OnInternalSubset;
    handler.startElementNs = OnStartElement;
    handler.endElementNs = OnEndElement;
    handler.characters = OnCharacters;
    handler.ignorableWhitespace = OnCharacters;
    handler.cdataBlock = OnCdata;
    handler.comment = OnComment;
    handler.processingInstruction = OnProcessingInstruction;
    handler.serror = OnError;
    return handler;
  }

  xmlSAXHandler handler_ = MakeHandler();
  Stream input_;
  xmlParserCtxtPtr parser_ = nullptr;
  std::deque<Node> queue_;  // nodes reported by the parser and not yet read
  Node current_;
  int attribute_ = -1;   // index of the current attribute, -1 on the node itself
  std::string pending_;  // character data of the text or CDATA node being collected
  XmlNodeType pending_type_ = XmlNodeType_None;
  std::uint32_t pending_line_ = 0;
  std::uint32_t pending_column_ = 0;
  int depth_ = 0;
  bool skip_end_ = false;     // the next end belongs to an empty-element tag
  bool finished_ = false;     // the whole input was parsed without a fault
  bool input_ended_ = false;  // the parser was told that the input has ended
  HRESULT error_ = S_OK;      // the first fault; repeated by every later Read
  std::uint32_t error_line_ = 0;
  std::uint32_t error_column_ = 0;
  std::string declared_encoding_;
  std::vector<std::uint8_t> chunk_;  // the piece of input being parsed
  std::uint64_t read_so_far_ = 0;    // bytes of the input read
};

TaskAllocator task_allocator;

}  // namespace

HRESULT CoGetMalloc(std::uint32_t memory_context, IMalloc** malloc) {
  if (malloc == nullptr || memory_context != MEMCTX_TASK) return E_INVALIDARG;
  *malloc = &task_allocator;
  return S_OK;
}

HRESULT CreateXmlReader(std::unique_ptr<IXmlReader>* reader, IMalloc* /*malloc*/) {
  if (reader == nullptr) return E_INVALIDARG;
  xmlInitParser();
  reader->reset(new (std::nothrow) LibxmlReader);
  return *reader != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace orvex::platform
