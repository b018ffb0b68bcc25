#pragma once
// COM as this system uses it: strings (BSTR), class identifiers, IUnknown and creating objects.

#include <cstdint>
#include <memory>
#include <string_view>

#include "common/result.h"

namespace orvex::platform {

constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);

/// A COM string: UTF-16 characters preceded by their byte length (4 bytes) and followed by a NUL.
/// A null BSTR is the empty string.
using BSTR = char16_t*;
/// The longest COM string, in characters: its byte length is stored in 32 bits, and the
/// terminating NUL and the prefix must fit in the allocation size too.
constexpr std::uint64_t kMaxBstrLength = (0xFFFFFFFFull - sizeof(std::uint32_t) - 2) / 2;

/// SysAllocString: a COM string copied from NUL-terminated text; null for null text or when
/// memory runs out.
BSTR SysAllocString(const char16_t* text);
/// SysAllocStringLen: `length` characters copied from `text` (zeros when `text` is null).
BSTR SysAllocStringLen(const char16_t* text, std::uint32_t length);
/// SysFreeString: frees a COM string; null is ignored.
void SysFreeString(BSTR string);
/// Frees a COM string with SysFreeString.
struct BstrFree {
  void operator()(BSTR string) const { SysFreeString(string); }
};
/// A COM string that is freed when it goes away: every BSTR this system allocates is held by one.
using UniqueBstr = std::unique_ptr<char16_t, BstrFree>;
/// SysStringLen: the length in characters; 0 for null.
std::uint32_t SysStringLen(BSTR string);
/// Appends `text` to `*string`, which is replaced by a new COM string (a null one counts as
/// empty): E_INVALIDARG for a null `string` or `text`, HRESULT of ERROR_ARITHMETIC_OVERFLOW when
/// the length would not fit, E_OUTOFMEMORY. On failure `*string` is unchanged.
HRESULT AppendBstr(BSTR* string, const char16_t* text);
HRESULT AppendBstr(BSTR* string, std::u16string_view text);

/// A 16-bit COM boolean: VARIANT_TRUE is -1.
using VARIANT_BOOL = std::int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

/// A class or interface identifier.
struct GUID {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
  friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
using CLSID = GUID;
using IID = GUID;

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/// The three operations every COM object starts with. Objects go away with their last Release,
/// never through delete.
class IUnknown {
 public:
  virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

constexpr std::uint32_t COINIT_APARTMENTTHREADED = 0x2;
constexpr std::uint32_t CLSCTX_INPROC_SERVER = 0x1;
constexpr std::uint32_t CLSCTX_INPROC_HANDLER = 0x2;
constexpr std::uint32_t CLSCTX_LOCAL_SERVER = 0x4;
constexpr std::uint32_t CLSCTX_REMOTE_SERVER = 0x10;
constexpr std::uint32_t CLSCTX_ALL = 0x17;

/// CoInitializeEx: nothing to set up here; S_OK.
HRESULT CoInitializeEx(void* reserved, std::uint32_t coinit);
/// CoUninitialize: nothing to tear down here.
void CoUninitialize();

/// Creates an object of one class and returns the interface `iid` of it (AddRef'ed).
using ClassFactoryFunction = HRESULT (*)(const IID& iid, void** object);
/// Makes a class known to CoCreateInstance for the life of the process (a component's
/// registration function, called once by main); registering a class again replaces its factory.
HRESULT CoRegisterClassFactory(const CLSID& clsid, ClassFactoryFunction create);
/// CoCreateInstance for the classes registered in this process: REGDB_E_CLASSNOTREG for an
/// unknown class or a context without an in-process server, CLASS_E_NOAGGREGATION with an outer
/// object, E_POINTER without `object`, else what the class's factory answers.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context, const IID& iid,
                         void** object);

}  // namespace orvex::platform
