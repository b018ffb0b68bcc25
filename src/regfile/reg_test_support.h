#pragma once
// Helpers shared by the registry file tests: a readable rendering of a document that tables of
// expected results can spell out, and the UTF-16 bytes of .reg files.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "regfile/registry_document.h"
#include "testing/utf16_bytes.h"

namespace orvex::testing {

/// Bytes as lowercase hexadecimal pairs without separators ("4100" for 41 00).
inline std::string HexText(std::span<const std::uint8_t> data) {
  std::string text;
  char pair[3];
  for (const std::uint8_t byte : data) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

/// "[path]" and one line per value ("  name=type:hexbytes"), in UTF-8.
inline std::string DumpKey(const RegistryKeyEntry& key) {
  std::string text = "[" + ToUtf8(key.path()) + "]\n";
  for (const RegistryValuePair& pair : key.values()) {
    text += "  " + ToUtf8(pair.name) + "=" + std::to_string(pair.value.type) + ":" +
            HexText(pair.value.data) + "\n";
  }
  return text;
}

/// DumpKey of every key, in order.
inline std::string Dump(const RegistryDocument& document) {
  std::string text;
  for (const RegistryKeyEntry& key : document.keys()) text += DumpKey(key);
  return text;
}

/// Key paths in document order.
using Paths = std::vector<std::u16string>;

/// A document holding one key without values per path, in order.
inline RegistryDocument DocumentOf(const Paths& paths) {
  RegistryDocument document;
  for (const std::u16string& path : paths) document.AddKey(path);
  return document;
}

/// The paths of a document's keys, in order.
inline Paths PathsOf(const RegistryDocument& document) {
  Paths paths;
  for (const RegistryKeyEntry& key : document.keys()) paths.emplace_back(key.path());
  return paths;
}

}  // namespace orvex::testing
