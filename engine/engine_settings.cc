#include "engine/engine_settings.h"

#include <limits>

#include "platform/environment.h"

namespace orvex::engine {
namespace {

// A whole number of at least 1, in decimal digits only.
bool ParseLimit(std::u16string_view text, std::uint64_t* value) {
  std::uint64_t number = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - u'0');
    if (number > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
    number = number * 10 + digit;
  }
  if (number == 0) return false;
  *value = number;
  return true;
}

}  // namespace

HRESULT ReadSetting(EngineLog& log, std::u16string_view operation, std::u16string_view name,
                    std::uint64_t* value) {
  std::u16string text;
  if (!platform::GetEnvironmentVariable(name, &text)) return S_FALSE;
  if (!ParseLimit(text, value)) {
    log.Line(u"%s: failed: %s='%s' is not a whole number above 0 (Error %d)", operation, name, text,
             LowWord(E_INVALIDARG));
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT ReadExtractLimits(EngineLog& log, std::u16string_view operation, ExtractLimits* limits) {
  for (const std::u16string_view name : {kMaxEntriesVariable, kMaxBytesVariable}) {
    std::uint64_t value = 0;
    const HRESULT hr = ReadSetting(log, operation, name, &value);
    if (hr != S_OK) {
      RETURN_IF_FAILED(hr);
      continue;
    }
    if (name == kMaxEntriesVariable) {
      limits->max_entries = value;
    } else {
      // One bound whatever the archive's size.
      limits->max_total_bytes = value;
      limits->expansion_floor = value;
    }
  }
  return S_OK;
}

}  // namespace orvex::engine
