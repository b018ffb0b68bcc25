// Windows only: the pull XML reader is the system's XmlLite, reached through xmllite.dll.
#include "platform/xml_reader.h"

#include <memory>

#include "platform/win32/streams.h"

// After the system's own declarations, as windows_api.h explains.
#include <xmllite.h>

namespace orvex::platform {
namespace {

class TaskAllocator final : public IMalloc {
 public:
  explicit TaskAllocator(::IMalloc* system_allocator) : native(system_allocator) {}
  ::IMalloc* native;
};

// The import library of XmlLite is not part of the toolchain; the entry point is looked up once.
using CreateXmlReaderFunction = ::HRESULT(WINAPI*)(const ::IID&, void**, ::IMalloc*);

CreateXmlReaderFunction XmlLiteEntryPoint() {
  static const CreateXmlReaderFunction entry_point = [] {
    const HMODULE module = ::LoadLibraryW(L"xmllite.dll");
    return module == nullptr ? nullptr
                             : reinterpret_cast<CreateXmlReaderFunction>(reinterpret_cast<void*>(
                                   ::GetProcAddress(module, "CreateXmlReader")));
  }();
  return entry_point;
}

class XmlLiteReader final : public IXmlReader {
 public:
  explicit XmlLiteReader(::IXmlReader* native) : native_(native) {}
  ~XmlLiteReader() override { native_->Release(); }
  XmlLiteReader(const XmlLiteReader&) = delete;
  XmlLiteReader& operator=(const XmlLiteReader&) = delete;

  // The reader reads its input through win32::CreateAsciiEndedReads: the same bytes, in reads
  // that end after an ASCII byte. Wine's XmlLite (8.0) reads UTF-8 input 8,188 bytes at a time,
  // and when such a read ends on a byte of 0x80 or above it converts all but that last byte and
  // keeps another byte of the read in its place for the next one: the character the last byte
  // belongs to, whole or cut, comes out as U+FFFD and a stray character ("?" from "<?xml" after
  // the first read). A read that ends after an ASCII byte is converted whole, so every character
  // arrives as written. Windows' XmlLite takes input from any sequential stream, whose reads may
  // stop short of what was asked, so what it reads and means is unchanged. Under Wine a stretch of
  // more than 8,187 bytes without an ASCII byte still loses one character per read, and UTF-16
  // input over 8,188 bytes reads wrong (or crashes Wine's reader) however it is read.
  HRESULT SetInput(Stream input) override {
    input_ = std::move(input);
    stalled_ = false;
    empty_element_ = false;
    last_ = {};
    if (input_ == nullptr) return native_->SetInput(nullptr);
    ::ISequentialStream* reads = nullptr;
    HRESULT hr = win32::CreateAsciiEndedReads(input_->native, &reads);
    if (FAILED(hr)) return hr;
    hr = native_->SetInput(reads);
    reads->Release();  // the reader holds its input itself
    return hr;
  }

  // Some XmlLite versions report the last node again and again when the input ends inside an
  // element; a read that gets nowhere is the end of the input, as it is everywhere else.
  HRESULT Read(XmlNodeType* node_type) override {
    if (stalled_) return MX_E_INPUTEND;
    ::XmlNodeType native_type = ::XmlNodeType_None;
    const HRESULT hr = native_->Read(&native_type);
    if (node_type != nullptr) *node_type = static_cast<XmlNodeType>(native_type);
    if (hr != S_OK) return hr;
    // Asked on the element itself: once the reader is on an attribute, some versions answer
    // for the attribute.
    empty_element_ = native_type == ::XmlNodeType_Element && native_->IsEmptyElement() != FALSE;
    Position now{native_type, 0, 0};
    (void)native_->GetLineNumber(&now.line);
    (void)native_->GetLinePosition(&now.column);
    if (now.type == last_.type && now.line == last_.line && now.column == last_.column) {
      stalled_ = true;
      return MX_E_INPUTEND;
    }
    last_ = now;
    return hr;
  }

  HRESULT GetLocalName(std::u16string_view* name) override {
    return Text(&::IXmlReader::GetLocalName, name);
  }
  HRESULT GetValue(std::u16string_view* value) override {
    return Text(&::IXmlReader::GetValue, value);
  }
  HRESULT MoveToFirstAttribute() override { return native_->MoveToFirstAttribute(); }
  HRESULT MoveToNextAttribute() override { return native_->MoveToNextAttribute(); }
  bool IsDefault() override { return native_->IsDefault() != FALSE; }
  bool IsEmptyElement() override { return empty_element_; }
  HRESULT GetLineNumber(std::uint32_t* line) override {
    UINT value = 0;
    const HRESULT hr = native_->GetLineNumber(&value);
    *line = value;
    return hr;
  }
  HRESULT GetLinePosition(std::uint32_t* position) override {
    UINT value = 0;
    const HRESULT hr = native_->GetLinePosition(&value);
    *position = value;
    return hr;
  }

 private:
  struct Position {
    ::XmlNodeType type = ::XmlNodeType_None;
    UINT line = 0;
    UINT column = 0;
  };

  HRESULT Text(::HRESULT (STDMETHODCALLTYPE ::IXmlReader::*get)(LPCWSTR*, UINT*),
               std::u16string_view* text) {
    LPCWSTR characters = nullptr;
    UINT length = 0;
    const HRESULT hr = (native_->*get)(&characters, &length);
    *text = SUCCEEDED(hr) && characters != nullptr
                ? std::u16string_view(reinterpret_cast<const char16_t*>(characters), length)
                : std::u16string_view();
    return hr;
  }

  ::IXmlReader* native_;
  Stream input_;  ///< held while the reader reads it
  Position last_;
  bool stalled_ = false;
  bool empty_element_ = false;
};

}  // namespace

HRESULT CoGetMalloc(std::uint32_t memory_context, IMalloc** malloc) {
  if (malloc == nullptr) return E_INVALIDARG;
  *malloc = nullptr;
  ::IMalloc* native = nullptr;
  const HRESULT hr = ::CoGetMalloc(memory_context, &native);
  if (FAILED(hr)) return hr;
  // The task allocator is one object for the whole process.
  static TaskAllocator allocator(native);
  *malloc = &allocator;
  return S_OK;
}

HRESULT CreateXmlReader(std::unique_ptr<IXmlReader>* reader, IMalloc* malloc) {
  reader->reset();
  const CreateXmlReaderFunction create = XmlLiteEntryPoint();
  if (create == nullptr) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  ::IXmlReader* native = nullptr;
  const HRESULT hr =
      create(__uuidof(::IXmlReader), reinterpret_cast<void**>(&native),
             malloc == nullptr ? nullptr : static_cast<TaskAllocator*>(malloc)->native);
  if (FAILED(hr)) return hr;
  *reader = std::make_unique<XmlLiteReader>(native);
  return S_OK;
}

}  // namespace orvex::platform
