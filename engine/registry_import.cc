#include "engine/registry_import.h"

#include <utility>

#include "common/ascii.h"
#include "platform/file_handles.h"
#include "platform/registry.h"
#include "regfile/key_order.h"
#include "regfile/reg_reader.h"

namespace orvex::engine {
namespace {

// Where a key of a document goes in the registry.
struct KeyLocation {
  platform::RegistryRoot root = platform::RegistryRoot::kCurrentUser;
  std::u16string subkey;
};

// Splits a key path into its root and the path below it, the components joined by single
// backslashes (runs of backslashes separate like one, as everywhere in a document). False for a
// root other than the current user's and the machine's.
bool LocateKey(std::u16string_view path, KeyLocation* location) {
  std::u16string_view root;
  bool have_root = false;
  location->subkey.clear();
  for (std::size_t pos = 0; pos < path.size();) {
    if (path[pos] == u'\\') {
      ++pos;
      continue;
    }
    std::size_t end = path.find(u'\\', pos);
    if (end == std::u16string_view::npos) end = path.size();
    const std::u16string_view component = path.substr(pos, end - pos);
    if (!have_root) {
      root = component;
      have_root = true;
    } else {
      if (!location->subkey.empty()) location->subkey += u'\\';
      location->subkey += component;
    }
    pos = end;
  }
  if (EqualsAsciiIgnoreCase(root, u"HKEY_CURRENT_USER") || EqualsAsciiIgnoreCase(root, u"HKCU")) {
    location->root = platform::RegistryRoot::kCurrentUser;
    return true;
  }
  if (EqualsAsciiIgnoreCase(root, u"HKEY_LOCAL_MACHINE") || EqualsAsciiIgnoreCase(root, u"HKLM")) {
    location->root = platform::RegistryRoot::kLocalMachine;
    return true;
  }
  return false;
}

HRESULT OpenKey(const RegistryKeyEntry& entry, std::u16string_view file, EngineLog& log,
                platform::RegistryKey* key) {
  KeyLocation location;
  (void)LocateKey(entry.path(), &location);  // checked when the file was read
  if (const std::uint32_t error =
          platform::RegCreateKeyEx(location.root, location.subkey, platform::KEY_SET_VALUE, key)) {
    log.Line(u"Import: cannot create key '%s' of '%s' (Error %d)", entry.path(), file,
             static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }
  return S_OK;
}

HRESULT SetValue(platform::RegistryKey& key, const RegistryKeyEntry& entry,
                 const RegistryValuePair& pair, std::u16string_view file, EngineLog& log) {
  if (const std::uint32_t error =
          platform::RegSetValueEx(key, pair.name, pair.value.type, pair.value.data)) {
    log.Line(u"Import: cannot set value '%s' of key '%s' of '%s' (Error %d)", pair.name,
             entry.path(), file, static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }
  return S_OK;
}

}  // namespace

bool MayWriteLocalMachine() {
  platform::RegistryKey key;
  return platform::RegOpenKeyEx(platform::RegistryRoot::kLocalMachine, u"SOFTWARE",
                                platform::KEY_CREATE_SUB_KEY | platform::KEY_SET_VALUE,
                                &key) == ERROR_SUCCESS;
}

RegistryImporter::RegistryImporter(std::function<bool()> may_write_local_machine)
    : may_write_local_machine_(std::move(may_write_local_machine)) {}

HRESULT RegistryImporter::Read(std::u16string_view path, std::u16string_view name, EngineLog& log) {
  File file{std::u16string(name), RegistryDocument()};
  if (const HRESULT hr = ParseRegFile(file.document, path); FAILED(hr)) {
    log.Line(u"Import: cannot read registry file '%s' (Error %d)", name, LowWord(hr));
    return hr;
  }
  RETURN_IF_FAILED(Check(file, log));
  files_.push_back(std::move(file));
  return S_OK;
}

HRESULT RegistryImporter::Check(const File& file, EngineLog& log) {
  KeyLocation location;
  for (const RegistryKeyEntry& entry : file.document.keys()) {
    if (!LocateKey(entry.path(), &location)) {
      log.Line(
          u"Import: refused key '%s' of '%s': only HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE are "
          u"imported",
          entry.path(), file.name);
      return HResultFromWin32(ERROR_INVALID_DATA);
    }
    if (location.root != platform::RegistryRoot::kLocalMachine) continue;
    if (!may_write_local_machine_answer_) {
      may_write_local_machine_answer_ = may_write_local_machine_();
    }
    if (!*may_write_local_machine_answer_) {
      log.Line(u"Import: refused key '%s' of '%s': this process may not write HKEY_LOCAL_MACHINE",
               entry.path(), file.name);
      return HResultFromWin32(ERROR_ACCESS_DENIED);
    }
  }
  return S_OK;
}

HRESULT RegistryImporter::Write(EngineLog& log) {
  for (const File& file : files_) RETURN_IF_FAILED(WriteFile(file, log));
  return S_OK;
}

HRESULT RegistryImporter::WriteFile(const File& file, EngineLog& log) {
  const RegistryDocument& document = file.document;
  // A written file closes with a section of the marker key that holds only the epilogue marker,
  // which must arrive after every other value; the reader merges that section into the marker
  // key's first one, so the marker is held back here until the end.
  const int marker = document.FindKey(kImportMarkerKeyPath);
  std::vector<const RegistryValuePair*> epilogue;
  std::int64_t keys = 0, values = 0;
  for (int k = 0; k < document.size(); ++k) {
    const RegistryKeyEntry& entry = document.KeyAt(k);
    platform::RegistryKey key;
    RETURN_IF_FAILED(OpenKey(entry, file.name, log, &key));
    ++keys;
    for (const RegistryValuePair& pair : entry.values()) {
      if (k == marker && pair.name == kEpilogueMarkerName) {
        epilogue.push_back(&pair);
        continue;
      }
      RETURN_IF_FAILED(SetValue(key, entry, pair, file.name, log));
      ++values;
    }
  }
  if (!epilogue.empty()) {
    platform::RegistryKey key;
    RETURN_IF_FAILED(OpenKey(document.KeyAt(marker), file.name, log, &key));
    for (const RegistryValuePair* pair : epilogue) {
      RETURN_IF_FAILED(SetValue(key, document.KeyAt(marker), *pair, file.name, log));
      ++values;
    }
  }
  log.Line(u"Import: '%s' -> registry: %lld keys, %lld values", file.name, keys, values);
  return S_OK;
}

}  // namespace orvex::engine
