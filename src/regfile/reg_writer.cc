#include "regfile/reg_writer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "common/little_endian.h"
#include "common/utf16_scan.h"
#include "platform/file_handles.h"
#include "regfile/reg_reader.h"

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
  return UnitsBefore<kCr, kLf>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) <
         text.size();
}

// The code unit at `index` of UTF-16LE bytes, which need not be aligned for char16_t.
char16_t UnitAt(const std::uint8_t* bytes, std::size_t index) {
  char16_t unit;
  std::memcpy(&unit, bytes + 2 * index, sizeof unit);
  return unit;
}

// How many units of REG_SZ data go between the quotes: those before the first NUL unit (what
// follows that NUL is not part of the text). -1 when the quoted form would misrepresent the data,
// having no NUL unit to end it or a line break before it, or when the reader could not take that
// much text between quotes; such data goes out as hex(1) bytes.
std::ptrdiff_t QuotedTextLength(std::span<const std::uint8_t> data) {
  const std::size_t units = std::min(data.size() / 2, kMaxStringUnits + 1);
  const std::size_t i = UnitsBefore<0, kCr, kLf>(data.data(), units);
  return i < units && UnitAt(data.data(), i) == 0 ? static_cast<std::ptrdiff_t>(i) : -1;
}

// Two lowercase hexadecimal digits for every byte value.
struct HexPairs {
  char16_t pair[256][2];
  constexpr HexPairs() : pair() {
    for (int i = 0; i < 256; ++i) {
      pair[i][0] = kHexDigits[i >> 4];
      pair[i][1] = kHexDigits[i & 0xF];
    }
  }
};
constexpr HexPairs kHexPairs;

// The most units one byte of a list can take: ",\", CR LF, two blanks and its two digits.
constexpr std::size_t kMaxUnitsPerByte = 8;
// Units put in one go; each run of output makes sure of this much room first.
constexpr std::size_t kChunkUnits = 4096;

class Writer {
 public:
  explicit Writer(RegistryFileChannel& channel) : channel_(channel) {}

  HRESULT Write(const RegistryDocument& document, std::u16string_view path);

 private:
  // Makes sure `units` (at most kChunkUnits) fit into the buffer.
  void Room(std::size_t units) {
    if (static_cast<std::size_t>(end_ - out_) < units) Flush();
  }
  void Put(char16_t unit) {
    Room(1);
    *out_++ = unit;
  }
  void Put(std::u16string_view text);
  void PutLineEnd() {
    Room(2);
    *out_++ = kCr;
    *out_++ = kLf;
    line_start_ = Position();
  }
  // Units written since the file's text began.
  std::uint64_t Position() const {
    return flushed_ + static_cast<std::uint64_t>(out_ - channel_.buffer.get());
  }

  void PutQuoted(const std::uint8_t* bytes, std::size_t units);
  void PutHex(std::uint32_t number, bool all_eight_digits);
  void PutByteList(std::uint32_t type, std::span<const std::uint8_t> data);
  void PutValue(const RegistryValuePair& pair);
  void Flush();

  RegistryFileChannel& channel_;
  char16_t* out_ = nullptr;       // next free unit of the buffer
  char16_t* end_ = nullptr;       // end of the buffer
  std::uint64_t flushed_ = 0;     // units written to the file so far
  std::uint64_t line_start_ = 0;  // Position() where the current line began
  HRESULT status_ = S_OK;         // the first failing write; later output is dropped
};

// Writes out the buffer. After a failure nothing more reaches the file.
void Writer::Flush() {
  char16_t* const buffer = channel_.buffer.get();
  const std::size_t count = static_cast<std::size_t>(out_ - buffer);
  if (SUCCEEDED(status_) && count > 0) {
    std::uint32_t written = 0;
    const std::uint32_t error = platform::WriteFile(
        channel_.file, buffer, static_cast<std::uint32_t>(count * sizeof(char16_t)), &written);
    if (error != ERROR_SUCCESS) status_ = HResultFromWin32(error);
  }
  flushed_ += count;
  out_ = buffer;
}

void Writer::Put(std::u16string_view text) {
  while (!text.empty()) {
    if (out_ == end_) Flush();
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(end_ - out_));
    std::copy_n(text.data(), n, out_);
    out_ += n;
    text.remove_prefix(n);
  }
}

// Text is handed over as its UTF-16LE bytes, which string data is held as and which need not
// be aligned for char16_t.
void Writer::PutQuoted(const std::uint8_t* bytes, std::size_t units) {
  Put(u'"');
  while (units > 0) {
    // The run before the next quote or backslash as it is, then that unit escaped.
    const std::size_t plain = UnitsBefore<u'"', u'\\'>(bytes, units);
    for (std::size_t done = 0; done < plain;) {
      if (out_ == end_) Flush();
      const std::size_t n = std::min(plain - done, static_cast<std::size_t>(end_ - out_));
      std::memcpy(out_, bytes + 2 * done, n * sizeof(char16_t));
      out_ += n;
      done += n;
    }
    if (plain == units) break;
    Room(2);
    *out_++ = u'\\';
    *out_++ = UnitAt(bytes, plain);
    bytes += (plain + 1) * sizeof(char16_t);
    units -= plain + 1;
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

void Writer::PutByteList(std::uint32_t type, std::span<const std::uint8_t> data) {
  if (type == REG_BINARY) {
    Put(u"hex:");
  } else {
    Put(u"hex(");
    PutHex(type, false);
    Put(u"):");
  }
  std::size_t i = 0;
  while (i < data.size()) {
    const std::size_t n = std::min(data.size() - i, kChunkUnits / kMaxUnitsPerByte);
    Room(n * kMaxUnitsPerByte);
    char16_t* out = out_;
    std::uint64_t column = Position() - line_start_;
    for (const std::size_t end = i + n; i < end; ++i) {
      if (i > 0) {
        if (column > kWrapColumn) {
          // ",\", the line end and the two blanks that start the continuation line.
          *out++ = u',';
          *out++ = u'\\';
          *out++ = kCr;
          *out++ = kLf;
          *out++ = u' ';
          *out++ = u' ';
          column = 2;
        } else {
          *out++ = u',';
          ++column;
        }
      }
      *out++ = kHexPairs.pair[data[i]][0];
      *out++ = kHexPairs.pair[data[i]][1];
      column += 2;
    }
    out_ = out;
    line_start_ = Position() - column;
  }
}

void Writer::PutValue(const RegistryValuePair& pair) {
  if (pair.name.empty()) {
    Put(u'@');
  } else {
    PutQuoted(reinterpret_cast<const std::uint8_t*>(pair.name.data()), pair.name.size());
  }
  Put(u'=');
  const RegistryValueRef& value = pair.value;
  if (value.type == REG_SZ) {
    const std::ptrdiff_t units = QuotedTextLength(value.data);
    if (units >= 0) {
      PutQuoted(value.data.data(), static_cast<std::size_t>(units));
    } else {
      PutByteList(value.type, value.data);
    }
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    Put(u"dword:");
    PutHex(LoadLe32(value.data.data()), true);
  } else {
    PutByteList(value.type, value.data);
  }
  PutLineEnd();
}

HRESULT Writer::Write(const RegistryDocument& document, std::u16string_view path) {
  // Refused before anything is written: a line would end inside a path or name, or the file
  // could not be read back (an archive the tool wrote must migrate again). The keys and lists
  // judged their paths and pairs as they were set, while those were at hand: a second walk over
  // the whole document here would cost a twentieth of the pass.
  for (const RegistryKeyEntry& key : document.keys()) {
    if (!key.path_fits_key_line()) return E_INVALIDARG;
    if (key.values().all_fit_value_lines()) continue;
    for (const RegistryValuePair& pair : key.values()) {
      if (!FitsValueLine(pair)) return E_INVALIDARG;
    }
  }

  channel_.Reset();
  out_ = channel_.buffer.get();
  end_ = out_ + RegistryFileChannel::kUnits;
  // A file there is written over and cut off at the end, not emptied first: its pages are used
  // again instead of being given back and taken anew (the pass rewrites the file it read).
  const std::uint32_t open_error =
      platform::CreateFile(path, platform::GENERIC_WRITE, platform::OPEN_ALWAYS, &channel_.file);
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
    if (FAILED(status_)) break;
  }
  Flush();
  // After a failed write too, so that nothing of the earlier file follows what was written.
  const std::uint32_t end_error = platform::SetEndOfFile(channel_.file);
  if (SUCCEEDED(status_) && end_error != ERROR_SUCCESS) status_ = HResultFromWin32(end_error);
  if (FAILED(status_)) return status_;
  platform::CloseHandle(channel_.file);
  return S_OK;
}

}  // namespace

bool FitsKeyLine(std::u16string_view path) {
  return !HoldsLineBreak(path) && path.size() + 1 <= kMaxKeyLineUnits;  // with its ']'
}

bool FitsValueLine(const RegistryValuePair& pair) {
  return !HoldsLineBreak(pair.name) && pair.name.size() <= kMaxValueNameUnits &&
         !(pair.value.type == REG_SZ && pair.value.data.empty()) && FitsRegFile(pair.value);
}

bool FitsRegFile(const RegistryValueRef& value) {
  return value.data.size() <= kMaxHexBytes ||
         (value.type == REG_SZ && QuotedTextLength(value.data) >= 0);
}

HRESULT ExportRegFile(const RegistryDocument& document, std::u16string_view path) {
  Writer writer(document.channel());
  return writer.Write(document, path);
}

}  // namespace orvex
