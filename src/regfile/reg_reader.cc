#include "regfile/reg_reader.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "common/little_endian.h"
#include "common/utf16_scan.h"
#include "platform/file_handles.h"

namespace orvex {
namespace {

// Units go between the file and the buffers by plain copies, so the host must share the file's
// byte order.
static_assert(std::endian::native == std::endian::little, "UTF-16LE text is copied as is");

constexpr HRESULT kEndOfFile = HResultFromWin32(ERROR_HANDLE_EOF);
constexpr HRESULT kOverCapacity = HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);

// How far the reader goes between giving back the pages of the file it has passed.
constexpr std::size_t kReleaseUnits = std::size_t{2} << 20;

// What Get answers at the end of the file.
constexpr int kEof = -1;

// Why reading stops at a value's data that starts no known form.
constexpr std::u16string_view kUnknownData = u"data that is no string, dword or hex list";

constexpr int kCr = u'\r';
constexpr int kLf = u'\n';

// The value of each ASCII hexadecimal digit, -1 for every other ASCII character.
struct HexValues {
  signed char value[128];
  constexpr HexValues() : value() {
    for (int c = 0; c < 128; ++c) {
      value[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
                 : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
                 : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
                                        : -1;
    }
  }
};
constexpr HexValues kHexValues;

int HexDigitValue(int c) { return c >= 0 && c < 128 ? kHexValues.value[c] : -1; }

// The header's version digits: anything that is not a decimal digit counts as 0.
std::uint32_t DecimalValue(int c) {
  return c >= '0' && c <= '9' ? static_cast<std::uint32_t>(c - '0') : 0;
}

class Reader {
 public:
  explicit Reader(RegistryDocument& document)
      : document_(document),
        file_(document.channel().file),
        arena_(document.arena()),
        name_(new char16_t[kMaxValueNameUnits]),
        value_data_(new char16_t[kMaxHexBytes / 2]) {}

  HRESULT Parse(std::u16string_view path);
  // Where and why the failure `hr` of Parse happened.
  RegReadStop Stop(HRESULT hr) const;

 private:
  // Notes why reading stops, for Stop.
  HRESULT Fail(HRESULT hr, std::u16string_view why) {
    why_ = why;
    return hr;
  }

  // The bytes of the value being read, in value_data_.
  std::uint8_t* ValueBytes() { return reinterpret_cast<std::uint8_t*>(value_data_.get()); }
  // The units from `position` on, for UnitsBefore.
  const std::uint8_t* Bytes(std::size_t position) const {
    return reinterpret_cast<const std::uint8_t*>(buffer_ + position);
  }
  // The next code unit, or kEof.
  int Get() { return position_ < count_ ? buffer_[position_++] : kEof; }
  // Returns the unit that the last Get delivered to the stream; only ever called right after a
  // Get that delivered one.
  void Unget() { --position_; }

  // The first unit that is not a blank, consumed.
  int SkipBlanks() {
    int c;
    do {
      c = Get();
    } while (c == ' ' || c == '\t');
    return c;
  }
  // Consumes a comment's text; returns the CR or LF that ends it, or kEof.
  int SkipToLineEnd() {
    int c;
    do {
      c = Get();
    } while (c >= 0 && c != kCr && c != kLf);
    return c;
  }

  HRESULT Expect(std::u16string_view text);
  HRESULT ReadHeader(bool* ended);
  HRESULT EndOfLine(bool* ended);
  HRESULT ReadBody();
  HRESULT ReadKeyLine();
  HRESULT ReadValueLine(std::u16string_view name);
  // Reads up to the closing quote. Text without escapes is taken where it stands in the view;
  // other text is unescaped into `out`. Either way `text` is valid until the next key line.
  HRESULT ReadQuoted(char16_t* out, std::size_t capacity, std::u16string_view* text);
  HRESULT ReadHexNumber(std::uint32_t* number);
  // Reads the list into value_data_.
  HRESULT ReadHexList(std::uint32_t* value_type, std::size_t* byte_count);
  // Keeps the name and `data`, then `zeros` zero bytes, side by side in the arena, and adds the
  // pair to pending_.
  void Queue(std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data,
             std::size_t zeros);
  HRESULT FlushValues();

  RegistryDocument& document_;
  platform::FileHandle& file_;
  // The whole file, read where the system keeps it.
  platform::FileView view_;
  std::size_t release_at_ = kReleaseUnits;  // where the pages passed are next given back
  // Where names and data go as they are read; the keys of the document share it.
  std::shared_ptr<RegistryArena> arena_;
  const char16_t* buffer_ = nullptr;
  std::size_t position_ = 0;
  std::size_t count_ = 0;
  int current_key_ = -1;
  // Values of the current key not yet handed to it: a section's values go over in one batch, so
  // that each list is allocated once at its final size. Their names and data lie in arena_.
  std::vector<RegistryValuePair> pending_;
  std::unique_ptr<char16_t[]> name_;
  // The data of the value being read, string units or hex bytes: one area for the whole file,
  // from which each value's bytes go into the arena once their size is known.
  std::unique_ptr<char16_t[]> value_data_;
  std::u16string_view why_;  // set by Fail
};

HRESULT Reader::Parse(std::u16string_view path) {
  platform::CloseHandle(file_);  // one left open by an earlier failure
  const std::uint32_t open_error =
      platform::CreateFile(path, platform::GENERIC_READ, platform::OPEN_EXISTING, &file_);
  if (open_error != ERROR_SUCCESS) return HResultFromWin32(open_error);
  if (const std::uint32_t error = platform::MapViewOfFile(file_, &view_)) {
    return HResultFromWin32(error);
  }
  const std::uint8_t* const bytes = view_.data();
  if (view_.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
    return Fail(E_NOTIMPL, u"not UTF-16LE text with its byte-order mark");
  }
  // The units follow the mark at an even offset of a page-aligned view; a lone trailing byte
  // makes no unit and is dropped.
  buffer_ = reinterpret_cast<const char16_t*>(bytes + 2);
  count_ = (view_.size() - 2) / 2;

  // A guess at the number of sections (profiles run to about a kilobyte per section) spares
  // most of the copying of a growing key sequence; memory reserved but never used is never
  // touched.
  document_.ReserveKeys(static_cast<std::size_t>(document_.size()) +
                        std::min<std::size_t>(view_.size() / 512, std::size_t{1} << 22));

  bool ended = false;
  RETURN_IF_FAILED(ReadHeader(&ended));
  if (!ended) {
    const HRESULT status = ReadBody();
    // Whatever was read before a failure stays in the document.
    const HRESULT flushed = FlushValues();
    RETURN_IF_FAILED(status);
    RETURN_IF_FAILED(flushed);
  }
  platform::UnmapViewOfFile(view_);
  platform::CloseHandle(file_);
  return S_OK;
}

RegReadStop Reader::Stop(HRESULT hr) const {
  RegReadStop stop{0, why_};
  if (buffer_ == nullptr && why_.empty()) return stop;  // the file was never read
  if (stop.why.empty() && hr == kEndOfFile) stop.why = u"the file ends inside an entry";
  // The line of the last unit read: a CR LF pair, a lone CR and a lone LF each end a line, as the
  // reader takes them. Only a failure pays for the count.
  const std::size_t end = position_ == 0 ? 0 : position_ - 1;
  stop.line = 1;
  for (std::size_t i = 0; i < end; ++i) {
    if (buffer_[i] == u'\n' ||
        (buffer_[i] == u'\r' && (i + 1 >= count_ || buffer_[i + 1] != u'\n'))) {
      ++stop.line;
    }
  }
  return stop;
}

HRESULT Reader::FlushValues() {
  if (pending_.empty()) return S_OK;
  if (!document_.KeyAt(current_key_).values().AddValues(pending_, arena_)) return E_OUTOFMEMORY;
  pending_.clear();
  return S_OK;
}

HRESULT Reader::Expect(std::u16string_view text) {
  for (const char16_t expected : text) {
    const int c = Get();
    if (c < 0) return kEndOfFile;
    if (c != expected) return Fail(E_UNEXPECTED, kUnknownData);
  }
  return S_OK;
}

HRESULT Reader::ReadHeader(bool* ended) {
  // Line ends are not blanks: the header must stand on the first line.
  int c = SkipBlanks();
  for (const char16_t expected : std::u16string_view(u"Windows Registry Editor Version")) {
    if (c < 0) return kEndOfFile;
    if (c != expected) {
      return Fail(kRegHeaderMismatch, u"not the registry editor header");
    }
    c = Get();
  }
  while (c == ' ' || c == '\t') c = Get();

  // The version's characters count as hexadecimal places of decimal digits: "5.00" is 0x500.
  std::uint32_t version = 0;
  for (; c != '.'; c = Get()) {
    if (c < 0) return kEndOfFile;
    version = version * 16 + DecimalValue(c);
  }
  for (int i = 0; i < 2; ++i) {
    c = Get();
    if (c < 0) return kEndOfFile;
    version = version * 16 + DecimalValue(c);
  }
  if (version == 0) return Fail(E_UNEXPECTED, u"version 0");
  if (version != 0x500) return Fail(E_NOTIMPL, u"a version other than 5.00");
  document_.SetFormatVersion(version);
  return EndOfLine(ended);
}

// Blanks, an optional comment and at least one line end; then every following empty, blank or
// comment line. Sets *ended when the file ends on the way.
HRESULT Reader::EndOfLine(bool* ended) {
  int c = SkipBlanks();
  if (c == ';') c = SkipToLineEnd();
  if (c == kEof) {
    *ended = true;
    return S_OK;
  }
  if (c != kCr && c != kLf) return Fail(E_UNEXPECTED, u"text where the line should end");
  for (;;) {
    c = Get();
    if (c == kCr || c == kLf || c == ' ' || c == '\t') continue;
    if (c == ';') c = SkipToLineEnd();
    if (c == kEof) {
      *ended = true;
      return S_OK;
    }
    if (c == kCr || c == kLf) continue;
    Unget();
    return S_OK;
  }
}

HRESULT Reader::ReadBody() {
  for (;;) {
    int c = SkipBlanks();
    switch (c) {
      case kEof:
        return S_OK;
      case '[':
        RETURN_IF_FAILED(ReadKeyLine());
        break;
      case '"': {
        if (current_key_ < 0) return Fail(E_UNEXPECTED, u"a value outside a key");
        std::u16string_view name;
        RETURN_IF_FAILED(ReadQuoted(name_.get(), kMaxValueNameUnits, &name));
        RETURN_IF_FAILED(ReadValueLine(name));
        break;
      }
      case '@':
        if (current_key_ < 0) return Fail(E_UNEXPECTED, u"a value outside a key");
        RETURN_IF_FAILED(ReadValueLine({}));
        break;
      case ';':
        if (SkipToLineEnd() == kEof) return S_OK;
        break;
      case kCr:
      case kLf:
        break;
      default:
        return Fail(E_UNEXPECTED, u"a line that is no key, value or comment");
    }
  }
}

HRESULT Reader::ReadKeyLine() {
  if (position_ >= release_at_) {
    // What lies before this section has been copied where it is kept, or was never needed.
    platform::ReleaseViewPages(view_, 2 + position_ * sizeof(char16_t));
    release_at_ = position_ + kReleaseUnits;
  }
  int c = Get();
  if (c < 0) return kEndOfFile;
  // Deleting a key is not something a profile may ask for.
  if (c == '-') return Fail(E_UNEXPECTED, u"a key deletion '[-'");
  Unget();
  // The line is taken where it stands in the view.
  const char16_t* const line = buffer_ + position_;
  const std::size_t length = UnitsBefore<u'\r', u'\n', 0>(
      Bytes(position_), std::min(count_ - position_, kMaxKeyLineUnits));
  position_ += length;
  c = Get();
  if (c < 0) return kEndOfFile;
  if (c != kCr && c != kLf) {
    return Fail(E_UNEXPECTED, c == 0 ? u"a NUL in a key line" : u"a key line too long");
  }
  // The last bracket ends the path, so a path may hold brackets of its own.
  std::size_t close = length;
  while (close > 0 && line[close - 1] != u']') --close;
  if (close == 0) return Fail(E_UNEXPECTED, u"a key line without ']'");
  RETURN_IF_FAILED(FlushValues());
  const std::u16string_view path(line, close - 1);
  const int index = document_.FindOrAddKey(path);
  current_key_ = path.empty() ? -1 : index;
  return S_OK;
}

HRESULT Reader::ReadValueLine(std::u16string_view name) {
  int c = SkipBlanks();
  if (c < 0) return kEndOfFile;
  if (c != '=') return Fail(E_UNEXPECTED, u"no '=' after the value name");
  c = SkipBlanks();
  if (c < 0) return kEndOfFile;

  try {
    switch (c) {
      case '"': {
        std::u16string_view text;
        RETURN_IF_FAILED(ReadQuoted(value_data_.get(), kMaxStringUnits, &text));
        Queue(name, REG_SZ, {reinterpret_cast<const std::uint8_t*>(text.data()), 2 * text.size()},
              2);  // with the terminating NUL
        break;
      }
      case 'd': {
        RETURN_IF_FAILED(Expect(u"word:"));
        c = SkipBlanks();
        if (c < 0) return kEndOfFile;
        Unget();
        std::uint32_t number = 0;
        RETURN_IF_FAILED(ReadHexNumber(&number));
        StoreLe32(ValueBytes(), number);
        Queue(name, REG_DWORD, {ValueBytes(), 4}, 0);
        break;
      }
      case 'h': {
        RETURN_IF_FAILED(Expect(u"ex"));
        std::uint32_t type = REG_BINARY;
        std::size_t count = 0;
        RETURN_IF_FAILED(ReadHexList(&type, &count));
        Queue(name, type, {ValueBytes(), count}, 0);
        break;
      }
      case '-':
        return Fail(E_UNEXPECTED, u"a value deletion '=-'");
      default:
        return Fail(E_UNEXPECTED, kUnknownData);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void Reader::Queue(std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data,
                   std::size_t zeros) {
  const std::size_t name_bytes = name.size() * sizeof(char16_t);
  std::uint8_t* const kept = arena_->Allocate(name_bytes + data.size() + zeros);
  // Copies that do nothing for no bytes (memcpy would not take the null of an empty name).
  std::copy(name.begin(), name.end(), reinterpret_cast<char16_t*>(kept));
  std::uint8_t* const kept_data = kept + name_bytes;
  std::fill(std::copy(data.begin(), data.end(), kept_data), kept_data + data.size() + zeros,
            std::uint8_t{0});
  pending_.push_back({{reinterpret_cast<const char16_t*>(kept), name.size()},
                      {type, {kept_data, data.size() + zeros}}});
}

HRESULT Reader::ReadQuoted(char16_t* out, std::size_t capacity, std::u16string_view* text) {
  std::size_t n = 0;
  for (;;) {
    // Plain units straight from the view, up to anything that needs a closer look: the quote,
    // the escape, a line break or NUL.
    const std::size_t i =
        position_ + UnitsBefore<u'"', u'\\', u'\r', u'\n', 0>(
                        Bytes(position_), std::min(count_ - position_, capacity - n));
    if (n == 0 && i < count_ && buffer_[i] == u'"') {  // the whole text, with nothing escaped
      *text = {buffer_ + position_, i - position_};
      position_ = i + 1;
      return S_OK;
    }
    std::copy(buffer_ + position_, buffer_ + i, out + n);
    n += i - position_;
    position_ = i;
    int c = Get();
    if (c == '"') break;
    if (c == '\\') {
      c = Get();
      if (c < 0) return kEndOfFile;
      if (c != '"' && c != '\\') return Fail(E_UNEXPECTED, u"a '\\' before neither '\"' nor '\\'");
    } else if (c < 0) {
      return kEndOfFile;
    } else if (c == 0 || c == kCr || c == kLf) {
      return Fail(E_UNEXPECTED, c == 0 ? u"a NUL between quotes" : u"a line end between quotes");
    }
    if (n == capacity) return Fail(kOverCapacity, u"text between quotes too long");
    out[n++] = static_cast<char16_t>(c);
  }
  *text = {out, n};
  return S_OK;
}

// One to eight hexadecimal digits; a ninth is left unread for whoever comes next.
HRESULT Reader::ReadHexNumber(std::uint32_t* number) {
  std::uint32_t result = 0;
  int digits = 0;
  while (digits < 8) {
    const int c = Get();
    if (c < 0) return kEndOfFile;
    const int digit = HexDigitValue(c);
    if (digit < 0) {
      Unget();
      break;
    }
    result = result * 16 + static_cast<std::uint32_t>(digit);
    ++digits;
  }
  if (digits == 0) return Fail(E_UNEXPECTED, u"no hexadecimal number");
  *number = result;
  return S_OK;
}

// After "hex": an optional "(type)", an optional ':', then bytes separated by commas, continued
// over lines by a backslash.
HRESULT Reader::ReadHexList(std::uint32_t* value_type, std::size_t* byte_count) {
  int c = Get();
  if (c < 0) return kEndOfFile;
  std::uint32_t type = REG_BINARY;
  if (c == '(') {
    RETURN_IF_FAILED(ReadHexNumber(&type));
    c = Get();
    if (c < 0) return kEndOfFile;
    if (c != ')') Unget();
  } else {
    Unget();
  }
  c = Get();
  if (c < 0) return kEndOfFile;
  if (c != ':') Unget();

  std::uint8_t* const bytes = ValueBytes();
  std::size_t count = 0;
  for (;;) {
    if (count == kMaxHexBytes) return Fail(kOverCapacity, u"a hex list too long");
    // The common "xx," straight from the buffer; anything else takes the general way below.
    if (count_ - position_ >= 3 && buffer_[position_ + 2] == u',') {
      const int high = HexDigitValue(buffer_[position_]);
      const int low = HexDigitValue(buffer_[position_ + 1]);
      if (high >= 0 && low >= 0) {
        bytes[count++] = static_cast<std::uint8_t>(high * 16 + low);
        position_ += 3;
        continue;
      }
    }
    c = SkipBlanks();
    if (c < 0) return kEndOfFile;
    if (c == '\\') {
      bool ended = false;
      RETURN_IF_FAILED(EndOfLine(&ended));
      if (ended) return kEndOfFile;
    } else {
      Unget();
    }
    c = SkipBlanks();
    if (c < 0) return kEndOfFile;
    const int high = HexDigitValue(c);
    if (high < 0) {
      Unget();
      break;
    }
    c = Get();
    if (c < 0) return kEndOfFile;
    const int low = HexDigitValue(c);
    if (low < 0) {
      Unget();  // the lone first digit is dropped
      break;
    }
    bytes[count++] = static_cast<std::uint8_t>(high * 16 + low);
    c = SkipBlanks();
    if (c < 0) return kEndOfFile;
    if (c != ',') {
      Unget();
      break;
    }
  }
  *value_type = type;
  *byte_count = count;
  return S_OK;
}

}  // namespace

HRESULT ParseRegFile(RegistryDocument& document, std::u16string_view path, RegReadStop* stop) {
  Reader reader(document);
  const HRESULT hr = reader.Parse(path);
  if (FAILED(hr) && stop != nullptr) *stop = reader.Stop(hr);
  return hr;
}

}  // namespace orvex
