#include "testing/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/environment.h"
#include "platform/file_handles.h"

namespace orvex::testing {

ScopedTempDir::ScopedTempDir() {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = (base / ("orvex-test-" + std::to_string(random()))).make_preferred();
    if (std::filesystem::create_directory(path_)) return;
  }
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  // Tests make read-only entries; give write access back so everything can go.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink()) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::u16string ScopedTempDir::wide() const { return path_.u16string(); }

std::u16string ScopedTempDir::wide(const std::string& name) const {
  return (path_ / std::filesystem::path(name).make_preferred()).u16string();
}

std::u16string NativeSeparators(std::u16string path) {
  std::ranges::replace(path, u'/', platform::PathSeparator());
  return path;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace orvex::testing
