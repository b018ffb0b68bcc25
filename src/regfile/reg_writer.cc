#include "regfile/reg_writer.h"

#include <bit>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace orvex {
namespace {

// The buffer goes to the file as it is held, so the host must share the file's byte order.
static_assert(std::endian::native == std::endian::little, "UTF-16LE text is written as is");

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';
constexpr char16_t kHexDigits[] = u"0123456789abcdef";

// A byte list breaks its line before a byte once the line is longer than this.
constexpr std::uint64_t kWrapColumn = 75;

bool HoldsLineBreak(std::u16string_view text) {
  return text.find_first_of(u"\r\n") != std::u16string_view::npos;
}

// The number of text units before the first NUL when a quoted string carries the data exactly as
// the reader will rebuild it (text, then a NUL); -1 when there is no NUL unit or a line break
// comes before it.
std::ptrdiff_t QuotedTextLength(const std::vector<std::uint8_t>& data) {
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (unit == 0) return static_cast<std::ptrdiff_t>(i / 2);
    if (unit == kCr || unit == kLf) return -1;
  }
  return -1;
}

class Writer {
 public:
  explicit Writer(RegistryFileChannel& channel) : channel_(channel) {}

  HRESULT Write(const RegistryDocument& document, std::u16string_view path);

 private:
  void Put(char16_t unit) {
    buffer_[count_++] = unit;
    if (count_ == RegistryFileChannel::kUnits) Flush();
  }
  void Put(std::u16string_view text) {
    for (const char16_t unit : text) Put(unit);
  }
  void PutLineEnd() {
    Put(kCr);
    Put(kLf);
    line_start_ = flushed_ + count_;
  }
  std::uint64_t Column() const { return flushed_ + count_ - line_start_; }

  void PutQuoted(std::u16string_view text);
  void PutQuotedData(const std::vector<std::uint8_t>& data, std::size_t units);
  void PutHex(std::uint32_t number, bool all_eight_digits);
  void PutByteList(std::uint32_t type, const std::vector<std::uint8_t>& data);
  void PutValue(const RegistryValuePair& pair);
  void Flush();

  RegistryFileChannel& channel_;
  char16_t* buffer_ = nullptr;
  std::size_t count_ = 0;
  std::uint64_t flushed_ = 0;     // units written to the file so far
  std::uint64_t line_start_ = 0;  // units before the current line
  HRESULT status_ = S_OK;         // the first failing write; later output is dropped
};

// Writes out the buffer. After a failure nothing more reaches the file.
void Writer::Flush() {
  if (SUCCEEDED(status_) && count_ > 0) {
    std::uint32_t written = 0;
    const std::uint32_t error = platform::WriteFile(
        channel_.file, buffer_, static_cast<std::uint32_t>(count_ * sizeof(char16_t)), &written);
    if (error != ERROR_SUCCESS) status_ = HResultFromWin32(error);
  }
  flushed_ += count_;
  count_ = 0;
}

void Writer::PutQuoted(std::u16string_view text) {
  Put(u'"');
  for (const char16_t unit : text) {
    if (unit == u'"' || unit == u'\\') Put(u'\\');
    Put(unit);
  }
  Put(u'"');
}

void Writer::PutQuotedData(const std::vector<std::uint8_t>& data, std::size_t units) {
  Put(u'"');
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t unit = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    if (unit == u'"' || unit == u'\\') Put(u'\\');
    Put(unit);
  }
  Put(u'"');
}

void Writer::PutHex(std::uint32_t number, bool all_eight_digits) {
  bool started = all_eight_digits;
  for (int shift = 28; shift >= 0; shift -= 4) {
    const std::uint32_t digit = (number >> shift) & 0xF;
    if (digit != 0 || shift == 0) started = true;
    if (started) Put(kHexDigits[digit]);
  }
}

void Writer::PutByteList(std::uint32_t type, const std::vector<std::uint8_t>& data) {
  if (type == REG_BINARY) {
    Put(u"hex:");
  } else {
    Put(u"hex(");
    PutHex(type, false);
    Put(u"):");
  }
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i > 0) {
      if (Column() > kWrapColumn) {
        Put(u",\\");
        PutLineEnd();
        Put(u"  ");
      } else {
        Put(u',');
      }
    }
    Put(kHexDigits[data[i] >> 4]);
    Put(kHexDigits[data[i] & 0xF]);
  }
}

void Writer::PutValue(const RegistryValuePair& pair) {
  if (pair.name.empty()) {
    Put(u'@');
  } else {
    PutQuoted(pair.name);
  }
  Put(u'=');
  const RegistryValueEntry& value = pair.value;
  if (value.type == REG_SZ) {
    const std::ptrdiff_t units = QuotedTextLength(value.data);
    if (units >= 0) {
      PutQuotedData(value.data, static_cast<std::size_t>(units));
    } else {
      PutByteList(value.type, value.data);
    }
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    Put(u"dword:");
    PutHex(static_cast<std::uint32_t>(value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                                      static_cast<std::uint32_t>(value.data[3]) << 24),
           true);
  } else {
    PutByteList(value.type, value.data);
  }
  PutLineEnd();
}

HRESULT Writer::Write(const RegistryDocument& document, std::u16string_view path) {
  // Refused before anything is written: the line would end inside the path or name, and the
  // file could not be read back.
  for (const RegistryKeyEntry& key : document.keys()) {
    if (HoldsLineBreak(key.path())) return E_INVALIDARG;
    for (const RegistryValuePair& pair : key.values()) {
      if (HoldsLineBreak(pair.name)) return E_INVALIDARG;
    }
  }

  channel_.Reset();
  buffer_ = channel_.buffer.get();
  const std::uint32_t open_error = platform::CreateFile(path, platform::GENERIC_WRITE,
                                                        platform::CREATE_ALWAYS, &channel_.file);
  if (open_error != ERROR_SUCCESS) return HResultFromWin32(open_error);
  static constexpr std::uint8_t kByteOrderMark[] = {0xFF, 0xFE};
  std::uint32_t written = 0;
  const std::uint32_t mark_error =
      platform::WriteFile(channel_.file, kByteOrderMark, sizeof kByteOrderMark, &written);
  if (mark_error != ERROR_SUCCESS) return HResultFromWin32(mark_error);

  Put(u"Windows Registry Editor Version 5.00");
  PutLineEnd();
  PutLineEnd();
  for (const RegistryKeyEntry& key : document.keys()) {
    Put(u'[');
    Put(key.path());
    Put(u']');
    PutLineEnd();
    for (const RegistryValuePair& pair : key.values()) PutValue(pair);
    PutLineEnd();
    if (FAILED(status_)) return status_;
  }
  Flush();
  if (FAILED(status_)) return status_;
  platform::CloseHandle(channel_.file);
  return S_OK;
}

}  // namespace

HRESULT ExportRegFile(const RegistryDocument& document, std::u16string_view path) {
  Writer writer(document.channel());
  return writer.Write(document, path);
}

}  // namespace orvex
