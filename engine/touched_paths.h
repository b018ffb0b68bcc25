#pragma once
// The parts of an unpacked tree a migration can touch, as the paths it names: the files Unzip
// must write. Names are compared as the system compares file names.

#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace orvex::engine {

/// The keys of a path and of each folder above it, under which names the system takes for one
/// file meet. Keys are made for a run of paths, each reusing the previous one's leading folders.
class PathKeys {
 public:
  /// The keys of the path of `components`, the path's own last; valid until the next call.
  const std::vector<std::string>& Of(std::span<const std::u16string> components);

 private:
  std::vector<std::u16string> last_;
  std::vector<std::string> keys_;
};

/// Named paths, relative to the tree's root, and the folders above them.
class TouchedPaths {
 public:
  /// Names `path`, its names separated by "\" or "/" (empty names and "." left out).
  void Add(std::u16string_view path);
  /// Whether any path is named.
  bool empty() const { return named_.empty(); }
  /// Whether the path of `keys` (PathKeys::Of) lies at or below a named path or above one: whether
  /// the migration may reach it.
  bool Reaches(const std::vector<std::string>& keys) const;

 private:
  std::unordered_set<std::string> named_;
  std::unordered_set<std::string> above_;  // the named paths and every folder above them
};

}  // namespace orvex::engine
