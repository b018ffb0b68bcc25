#include "engine/touched_paths.h"

#include <cstdint>

#include "platform/text.h"

namespace orvex::engine {
namespace {

// Appends the key of one name: its collation key after its length, so that no two paths join
// to one key.
void AppendName(std::u16string_view name, std::string* key) {
  const std::string name_key = CollationKey(name);
  const auto length = static_cast<std::uint32_t>(name_key.size());
  key->append(reinterpret_cast<const char*>(&length), sizeof length);
  *key += name_key;
}

}  // namespace

const std::vector<std::string>& PathKeys::Of(std::span<const std::u16string> components) {
  std::size_t same = 0;
  while (same < components.size() && same < last_.size() && components[same] == last_[same]) {
    ++same;
  }
  keys_.resize(same);
  last_.assign(components.begin(), components.end());
  for (std::size_t i = same; i < components.size(); ++i) {
    std::string key = i == 0 ? std::string() : keys_[i - 1];
    AppendName(components[i], &key);
    keys_.push_back(std::move(key));
  }
  return keys_;
}

void TouchedPaths::Add(std::u16string_view path) {
  std::string key;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find_first_of(u"\\/", start);
    if (end == std::u16string_view::npos) end = path.size();
    const std::u16string_view name = path.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == u".") continue;
    AppendName(name, &key);
    above_.insert(key);
  }
  if (!key.empty()) named_.insert(std::move(key));
}

bool TouchedPaths::Reaches(const std::vector<std::string>& keys) const {
  if (keys.empty()) return false;
  if (above_.contains(keys.back())) return true;
  for (const std::string& key : keys) {
    if (named_.contains(key)) return true;
  }
  return false;
}

}  // namespace orvex::engine
