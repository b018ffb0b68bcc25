// Linux only: the directory listings kept for letter-case matching while a NameCacheScope is open.
#include "platform/posix/name_cache.h"

#include <dirent.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/posix/native_path.h"
#include "platform/text.h"

namespace orvex::platform {
namespace posix {
namespace {

struct Listing {
  bool read = false;
  timespec modified{};
  // Folded name -> every entry with that folding; a directory seldom has more than one.
  std::unordered_map<std::string, std::vector<std::string>> names;
};

// Keyed by device and inode rather than by path text, so that "a/b" and "a/./b" or a renamed
// directory share one listing.
using ListingKey = std::pair<dev_t, ino_t>;

struct Cache {
  int scopes = 0;
  std::map<ListingKey, Listing> listings;
};

// One per thread: a scope covers the file pass of the thread that opened it, and the passes of
// several profiles may run side by side.
Cache& TheCache() {
  thread_local Cache cache;
  return cache;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool ReadListing(const std::string& directory, Listing* listing) {
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return false;
  listing->names.clear();
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    listing->names[FoldedName(name)].emplace_back(name);
  }
  ::closedir(dir);
  return true;
}

// Splits "/a/b/c" into "/a/b" and "c"; "c" alone has the parent ".".
std::pair<std::string, std::string> SplitParent(std::string_view native) {
  native = WithoutFinalSlashes(native);
  const std::size_t slash = native.find_last_of('/');
  if (slash == std::string_view::npos) return {".", std::string(native)};
  return {std::string(native.substr(0, slash == 0 ? 1 : slash)),
          std::string(native.substr(slash + 1))};
}

// The kept listing of `directory` when there is one, with its modification time brought up to
// date after a change this layer made itself.
Listing* ListingAfterOwnChange(const std::string& directory) {
  struct stat st;
  if (::stat(directory.c_str(), &st) != 0) return nullptr;
  auto it = TheCache().listings.find({st.st_dev, st.st_ino});
  if (it == TheCache().listings.end()) return nullptr;
  it->second.modified = st.st_mtim;
  return &it->second;
}

}  // namespace

bool NameCacheActive() { return TheCache().scopes > 0; }

std::string FoldedName(std::string_view name) {
  const bool ascii = std::all_of(name.begin(), name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    std::string folded(name);
    for (char& c : folded) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
  }
  const std::u16string wide = ToUtf16(name);
  std::u16string folded(wide.size() * 3 + 1, u'\0');  // full folding grows a text at most 3x
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length =
      u_strFoldCase(reinterpret_cast<UChar*>(folded.data()), static_cast<int32_t>(folded.size()),
                    reinterpret_cast<const UChar*>(wide.data()), static_cast<int32_t>(wide.size()),
                    U_FOLD_CASE_DEFAULT, &status);
  if (U_FAILURE(status)) return std::string(name);
  folded.resize(static_cast<std::size_t>(length));
  return ToUtf8(folded);
}

std::string CachedCaseVariant(const std::string& directory, const struct stat& st,
                              std::string_view name) {
  if (!S_ISDIR(st.st_mode)) return {};
  Listing& listing = TheCache().listings[{st.st_dev, st.st_ino}];
  if (!listing.read || !SameTime(listing.modified, st.st_mtim)) {
    listing.read = ReadListing(directory, &listing);
    if (!listing.read) return {};
    listing.modified = st.st_mtim;
  }
  const auto it = listing.names.find(FoldedName(name));
  if (it == listing.names.end() || it->second.empty()) return {};
  return *std::min_element(it->second.begin(), it->second.end());
}

void NoteNameAdded(const std::string& native) {
  if (!NameCacheActive()) return;
  const auto [parent, name] = SplitParent(native);
  if (Listing* listing = ListingAfterOwnChange(parent)) {
    std::vector<std::string>& variants = listing->names[FoldedName(name)];
    if (std::find(variants.begin(), variants.end(), name) == variants.end()) {
      variants.push_back(name);
    }
  }
}

void NoteNameRemoved(const std::string& native) {
  if (!NameCacheActive()) return;
  const auto [parent, name] = SplitParent(native);
  if (Listing* listing = ListingAfterOwnChange(parent)) {
    const auto it = listing->names.find(FoldedName(name));
    if (it != listing->names.end()) std::erase(it->second, name);
  }
}

void ForgetDirectory(const struct stat& directory) {
  if (!NameCacheActive()) return;
  TheCache().listings.erase({directory.st_dev, directory.st_ino});
}

void EnterNameCacheScope() { ++TheCache().scopes; }

void LeaveNameCacheScope() {
  Cache& cache = TheCache();
  if (--cache.scopes == 0) cache.listings.clear();
}

}  // namespace posix
}  // namespace orvex::platform
