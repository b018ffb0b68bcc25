// Any bytes as a .reg file: reading must never crash or leak, and whatever reads successfully,
// written out again (unless it holds a string value without data), must read back as the same
// document (string data ending at its first NUL,
// which is all a quoted string carries).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/result.h"
#include "regfile/reg_reader.h"
#include "regfile/reg_writer.h"
#include "regfile/registry_document.h"
#include "scratch_files.h"

namespace {

// A REG_SZ value as the writer's quoted form carries it: text up to the first NUL unit and that
// NUL, when no line break comes before it; otherwise every byte.
orvex::RegistryValueRef AsWritten(const orvex::RegistryValueRef& value) {
  if (value.type != orvex::REG_SZ) return value;
  for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
    const unsigned unit = value.data[i] | value.data[i + 1] << 8;
    if (unit == '\r' || unit == '\n') return value;
    if (unit == 0) return {value.type, value.data.first(i + 2)};
  }
  return value;
}

// The writer refuses a string value without any data, which the reader takes from hex(1):.
bool HoldsEmptyString(const orvex::RegistryDocument& document) {
  for (const orvex::RegistryKeyEntry& key : document.keys()) {
    for (const orvex::RegistryValuePair& pair : key.values()) {
      if (pair.value.type == orvex::REG_SZ && pair.value.data.empty()) return true;
    }
  }
  return false;
}

bool SameAfterWriting(const orvex::RegistryDocument& original,
                      const orvex::RegistryDocument& reread) {
  if (original.size() != reread.size()) return false;
  for (int k = 0; k < original.size(); ++k) {
    const orvex::RegistryKeyEntry& a = original.KeyAt(k);
    const orvex::RegistryKeyEntry& b = reread.KeyAt(k);
    if (a.path() != b.path() || a.values().size() != b.values().size()) return false;
    for (int v = 0; v < a.values().size(); ++v) {
      if (a.values()[v].name != b.values()[v].name) return false;
      if (!(AsWritten(a.values()[v].value) == b.values()[v].value)) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  static const orvex::fuzzing::ScratchFiles files("reg_reader_fuzzer", ".reg", ".reg");
  files.WriteInput(data, size);

  orvex::RegistryDocument document;
  if (orvex::FAILED(orvex::ParseRegFile(document, files.input()))) return 0;
  if (document.formatVersion() != 0x500) std::abort();

  const orvex::HRESULT exported = orvex::ExportRegFile(document, files.output());
  if (exported == orvex::E_INVALIDARG && HoldsEmptyString(document)) return 0;
  if (exported != orvex::S_OK) std::abort();
  orvex::RegistryDocument reread;
  if (orvex::ParseRegFile(reread, files.output()) != orvex::S_OK) std::abort();
  if (!SameAfterWriting(document, reread)) std::abort();
  return 0;
}
