#pragma once

#include <filesystem>
#include <string>

namespace orvex::testing {

/// A fresh directory under the system's temporary folder, removed with everything in it when the
/// object goes away.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// The directory as UTF-16 text, without a final separator.
  std::u16string wide() const;
  /// `name` below the directory, as UTF-16 text; its slashes become the system's separators.
  std::u16string wide(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

/// `path` with each slash replaced by the separator the system writes paths with.
std::u16string NativeSeparators(std::u16string path);

/// Writes `bytes` to `path`, creating missing parent directories.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
/// The whole content of `path`; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace orvex::testing
