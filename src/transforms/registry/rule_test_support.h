#pragma once
// Helpers shared by the key and value rule tests: small documents spelled out in tables, and the
// readable rendering of a document to compare them after a rule.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "regfile/reg_test_support.h"
#include "regfile/registry_document.h"

namespace orvex::testing {

/// One key of a test document: its path and its values in order.
struct KeySpec {
  std::u16string path;
  std::vector<RegistryValuePair> values;
};

/// A document holding `keys` in the order given.
inline RegistryDocument MakeDocument(const std::vector<KeySpec>& keys) {
  RegistryDocument document;
  for (const KeySpec& spec : keys) {
    RegistryKeyEntry entry(spec.path);
    for (const RegistryValuePair& pair : spec.values) {
      if (!entry.values().AddValue(pair.name, pair.value)) throw ResultException(E_OUTOFMEMORY);
    }
    document.AddKey(std::move(entry));
  }
  return document;
}

/// A REG_SZ value holding `text` and its NUL.
inline RegistryValuePair Sz(std::u16string_view name, std::u16string_view text) {
  RegistryValuePair pair{std::u16string(name), {REG_SZ, {}}};
  for (const char16_t unit : text) {
    pair.value.data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    pair.value.data.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  pair.value.data.insert(pair.value.data.end(), {0, 0});
  return pair;
}

/// A REG_DWORD value holding `number` little-endian.
inline RegistryValuePair Dword(std::u16string_view name, std::uint32_t number) {
  return RegistryValuePair{
      std::u16string(name),
      {REG_DWORD,
       {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
        static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)}}};
}

}  // namespace orvex::testing
