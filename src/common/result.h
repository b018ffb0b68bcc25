#pragma once
// Result codes in the 32-bit HRESULT form, Win32 error numbers, and the one exception
// type that string and array code raises for out-of-memory and argument misuse.

#include <cstdint>
#include <exception>

namespace orvex {

/// A 32-bit result: negative is failure, 0 plain success, 1 success with a remark.
using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000A);

/// Win32 error numbers used by the system.
constexpr std::uint32_t ERROR_SUCCESS = 0;
constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr std::uint32_t ERROR_INVALID_DATA = 13;
constexpr std::uint32_t ERROR_OUTOFMEMORY = 14;
constexpr std::uint32_t ERROR_NOT_SAME_DEVICE = 17;
constexpr std::uint32_t ERROR_NO_MORE_FILES = 18;
constexpr std::uint32_t ERROR_WRITE_PROTECT = 19;
constexpr std::uint32_t ERROR_GEN_FAILURE = 31;
constexpr std::uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr std::uint32_t ERROR_LOCK_VIOLATION = 33;
constexpr std::uint32_t ERROR_HANDLE_EOF = 38;
constexpr std::uint32_t ERROR_FILE_EXISTS = 80;
constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr std::uint32_t ERROR_OPEN_FAILED = 110;
constexpr std::uint32_t ERROR_DISK_FULL = 112;
constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr std::uint32_t ERROR_INVALID_NAME = 123;
constexpr std::uint32_t ERROR_DIR_NOT_EMPTY = 145;
constexpr std::uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr std::uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
constexpr std::uint32_t ERROR_DIRECTORY = 267;
constexpr std::uint32_t ERROR_ARITHMETIC_OVERFLOW = 534;
constexpr std::uint32_t ERROR_IO_DEVICE = 1117;
constexpr std::uint32_t ERROR_CANCELLED = 1223;
constexpr std::uint32_t ERROR_FUNCTION_FAILED = 1627;

/// True for S_OK, S_FALSE and every other non-negative result.
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
/// True for negative results.
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

/// The failure result that carries a Win32 error number in its low 16 bits (0 stays S_OK).
constexpr HRESULT HResultFromWin32(std::uint32_t code) {
  return code == 0 ? S_OK : static_cast<HRESULT>((code & 0xFFFFu) | 0x80070000u);
}

/// The low 16 bits of a result: what messages show as "(Error %d)" and what the process exits with.
constexpr std::int32_t LowWord(HRESULT hr) { return static_cast<std::int32_t>(hr & 0xFFFF); }

/// The result of a step that ended early because the user asked the process to stop.
constexpr HRESULT kStoppedOnRequest = HResultFromWin32(ERROR_CANCELLED);

/// Raised for running out of memory and index or argument misuse inside string and array code.
class ResultException : public std::exception {
 public:
  explicit ResultException(HRESULT result) : result_(result) {}
  HRESULT result() const { return result_; }
  const char* what() const noexcept override { return "operation failed with a result code"; }

 private:
  HRESULT result_;
};

}  // namespace orvex

/// Returns the result of `expr` from the calling function when it is a failure.
#define RETURN_IF_FAILED(expr) ORVEX_RETURN_IF_FAILED_(expr, ORVEX_CONCAT_(orvex_hr_, __COUNTER__))
#define ORVEX_RETURN_IF_FAILED_(expr, name) \
  do {                                      \
    const ::orvex::HRESULT name = (expr);   \
    if (::orvex::FAILED(name)) return name; \
  } while (false)
#define ORVEX_CONCAT_(a, b) ORVEX_CONCAT2_(a, b)
#define ORVEX_CONCAT2_(a, b) a##b
