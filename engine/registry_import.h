#pragma once
// Importing .reg files into the live registry: every file is read and checked before anything is
// written, so that a file that cannot be read, or a key the import may not write, leaves the
// registry as it was.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "engine/engine_log.h"
#include "regfile/registry_document.h"

namespace orvex::engine {

/// Whether this process may write below HKEY_LOCAL_MACHINE: its SOFTWARE key opens for creating
/// keys and setting values (so an administrator's elevated process, not an ordinary user's).
bool MayWriteLocalMachine();

/// Reads .reg files, then writes their keys and values into the registry with the types and
/// bytes the files give.
class RegistryImporter {
 public:
  /// `may_write_local_machine` is asked once, and only when a file holds a key of
  /// HKEY_LOCAL_MACHINE.
  explicit RegistryImporter(std::function<bool()> may_write_local_machine = &MayWriteLocalMachine);

  /// Reads the file at `path` (`name` in the log) and checks that every key of it lies below
  /// HKEY_CURRENT_USER, or below HKEY_LOCAL_MACHINE where the process may write there. The
  /// reader's failure, ERROR_INVALID_DATA for a key of another root, ERROR_ACCESS_DENIED for a
  /// key of HKEY_LOCAL_MACHINE the process may not write.
  [[nodiscard]] HRESULT Read(std::u16string_view path, std::u16string_view name, EngineLog& log);

  /// Writes every file read, in the order read: its keys in file order, each key's values in
  /// file order. The error of the first key or value that cannot be written stops it.
  [[nodiscard]] HRESULT Write(EngineLog& log);

 private:
  struct File {
    std::u16string name;
    RegistryDocument document;
  };

  HRESULT Check(const File& file, EngineLog& log);
  HRESULT WriteFile(const File& file, EngineLog& log);

  std::function<bool()> may_write_local_machine_;
  std::optional<bool> may_write_local_machine_answer_;
  std::vector<File> files_;
};

}  // namespace orvex::engine
