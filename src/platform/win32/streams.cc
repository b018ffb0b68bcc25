// Windows only: streams over files and memory, from shlwapi.
#include "platform/streams.h"
#include "platform/win32/streams.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

namespace orvex::platform {

HRESULT SHCreateStreamOnFile(std::u16string_view path, std::uint32_t mode, Stream* stream) {
  if (stream == nullptr) return E_INVALIDARG;
  stream->reset();
  ::IStream* native = nullptr;
  const HRESULT hr = ::SHCreateStreamOnFileW(win32::Wide(std::u16string(path)), mode, &native);
  if (FAILED(hr)) return hr;
  *stream = std::make_shared<StreamObject>(native);
  return S_OK;
}

HRESULT SHCreateMemStream(const std::uint8_t* data, std::uint32_t size, Stream* stream) {
  if (stream == nullptr || (data == nullptr && size != 0)) return E_INVALIDARG;
  stream->reset();
  ::IStream* native = ::SHCreateMemStream(data, size);
  if (native == nullptr) return E_OUTOFMEMORY;
  *stream = std::make_shared<StreamObject>(native);
  return S_OK;
}

namespace win32 {
namespace {

// COM interfaces have no virtual destructor: the object goes with its last Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class AsciiEndedReads final : public ::ISequentialStream {
 public:
  explicit AsciiEndedReads(::ISequentialStream* source) : source_(source) { source_->AddRef(); }

  ::HRESULT STDMETHODCALLTYPE QueryInterface(const ::IID& iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == ::IID_IUnknown || iid == ::IID_ISequentialStream) {
      *object = static_cast<::ISequentialStream*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  ::HRESULT STDMETHODCALLTYPE Read(void* data, ULONG size, ULONG* read) override {
    if (read != nullptr) *read = 0;
    if (data == nullptr) return STG_E_INVALIDPOINTER;
    // Reads may stop short anyway: what is held stays small whatever the reader asks for.
    const std::size_t asked = std::min<std::size_t>(size, kMostPerRead);
    // One byte beyond those asked for tells whether more follow them.
    const HRESULT filled = Fill(asked + 1);
    if (held_.empty()) return FAILED(filled) ? filled : size == 0 ? S_OK : S_FALSE;
    std::size_t count = std::min(asked, held_.size());
    if (count < held_.size() || !at_end_) {
      std::size_t ascii_end = count;
      while (ascii_end > 0 && held_[ascii_end - 1] >= 0x80) --ascii_end;
      if (ascii_end > 0) count = ascii_end;
    }
    std::memcpy(data, held_.data(), count);
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    if (read != nullptr) *read = static_cast<ULONG>(count);
    return count < size && held_.empty() && at_end_ ? S_FALSE : S_OK;
  }

  ::HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override {
    if (written != nullptr) *written = 0;
    return STG_E_ACCESSDENIED;
  }

 private:
  static constexpr std::size_t kMostPerRead = 1 << 16;

  ~AsciiEndedReads() { source_->Release(); }

  // Reads from the source until `wanted` bytes are held or the source ends (a read that gives
  // nothing, or S_FALSE). A failure is returned and not kept: bytes already held are given first,
  // and the next read asks the source again.
  HRESULT Fill(std::size_t wanted) {
    while (!at_end_ && held_.size() < wanted) {
      const std::size_t had = held_.size();
      held_.resize(wanted);
      ULONG got = 0;
      const HRESULT hr = source_->Read(held_.data() + had, static_cast<ULONG>(wanted - had), &got);
      held_.resize(had + (FAILED(hr) ? 0 : std::min<std::size_t>(got, wanted - had)));
      if (FAILED(hr)) return hr;
      if (hr == S_FALSE || got == 0) at_end_ = true;
    }
    return S_OK;
  }

  ::ISequentialStream* source_;
  std::vector<std::uint8_t> held_;  ///< read from the source, not yet given
  bool at_end_ = false;             ///< the source has nothing more
  std::atomic<long> references_{1};
};

#pragma GCC diagnostic pop

}  // namespace

HRESULT CreateAsciiEndedReads(::ISequentialStream* source, ::ISequentialStream** stream) {
  if (stream == nullptr) return E_POINTER;
  *stream = nullptr;
  if (source == nullptr) return E_INVALIDARG;
  *stream = new AsciiEndedReads(source);
  return S_OK;
}

}  // namespace win32
}  // namespace orvex::platform
