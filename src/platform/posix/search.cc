// Linux only: directory searches in name order with Windows wildcards.
#include "platform/posix/search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "common/result.h"
#include "platform/posix/errors.h"
#include "platform/posix/file_info.h"
#include "platform/posix/native_path.h"
#include "platform/search.h"
#include "platform/text.h"

namespace orvex::platform {

struct FindHandle::State {
  std::vector<FindData> entries;
  std::size_t next = 0;
};

namespace posix {
namespace {

// Pattern elements after the wildcard rewriting that Windows applies to a search pattern.
constexpr UChar32 kStar = -1;     // any run
constexpr UChar32 kDosStar = -2;  // any run that does not take the name's last dot
constexpr UChar32 kDosQm = -3;    // one character, or none before a dot or at the end
constexpr UChar32 kDosDot = -4;   // a dot, or nothing at the end of the name

std::vector<UChar32> CodePoints(std::u16string_view text) {
  std::vector<UChar32> points;
  points.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    UChar32 c;
    U16_NEXT(text.data(), i, text.size(), c);
    points.push_back(c);
  }
  return points;
}

std::vector<UChar32> CompilePattern(std::u16string_view pattern) {
  std::vector<UChar32> compiled = CodePoints(pattern);
  for (std::size_t i = 0; i < compiled.size(); ++i) {
    const UChar32 next = i + 1 < compiled.size() ? compiled[i + 1] : 0;
    if (compiled[i] == '?') {
      compiled[i] = kDosQm;
    } else if (compiled[i] == '*') {
      compiled[i] = next == '.' ? kDosStar : kStar;
    } else if (compiled[i] == '.' && (next == '?' || next == '*' || next == 0)) {
      compiled[i] = kDosDot;
    } else {
      compiled[i] = u_foldCase(compiled[i], U_FOLD_CASE_DEFAULT);
    }
  }
  return compiled;
}

class Matcher {
 public:
  Matcher(const std::vector<UChar32>& pattern, std::u16string_view name)
      : pattern_(pattern), name_(CodePoints(name)) {
    for (UChar32& c : name_) c = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    const auto dot = std::find(name_.rbegin(), name_.rend(), UChar32{'.'});
    last_dot_ = dot == name_.rend() ? name_.size() : name_.size() - 1 - (dot - name_.rbegin());
    memo_.assign((pattern_.size() + 1) * (name_.size() + 1), kUnknown);
  }

  bool Match(std::size_t p, std::size_t n) {
    char& known = memo_[p * (name_.size() + 1) + n];
    if (known == kUnknown) known = Compute(p, n) ? kYes : kNo;
    return known == kYes;
  }

 private:
  static constexpr char kUnknown = 0, kYes = 1, kNo = 2;

  bool Compute(std::size_t p, std::size_t n) {
    const bool at_end = n == name_.size();
    if (p == pattern_.size()) return at_end;
    switch (pattern_[p]) {
      case kStar:
        return Match(p + 1, n) || (!at_end && Match(p, n + 1));
      case kDosStar:
        return Match(p + 1, n) || (!at_end && n != last_dot_ && Match(p, n + 1));
      case kDosQm:
        if (at_end || name_[n] == '.') {
          std::size_t q = p;
          while (q < pattern_.size() && pattern_[q] == kDosQm) ++q;
          return Match(q, n);
        }
        return Match(p + 1, n + 1);
      case kDosDot:
        if (at_end) return Match(p + 1, n);
        return name_[n] == '.' && Match(p + 1, n + 1);
      default:
        return !at_end && name_[n] == pattern_[p] && Match(p + 1, n + 1);
    }
  }

  const std::vector<UChar32>& pattern_;
  std::vector<UChar32> name_;
  std::size_t last_dot_ = 0;
  std::vector<char> memo_;
};

bool HasWildcards(std::u16string_view text) {
  return text.find_first_of(u"*?") != std::u16string_view::npos;
}

// Windows delivers "." and ".." first, then the names in the order the file system keeps them.
bool EntryBefore(const std::string& a, const std::string& b) {
  const auto rank = [](const std::string& s) { return s == "." ? 0 : (s == ".." ? 1 : 2); };
  if (rank(a) != rank(b)) return rank(a) < rank(b);
  return CompareFileNames(a, b) < 0;
}

FindData EntryData(std::string_view name, const struct stat& st) {
  FindData data;
  data.name = ToUtf16(name);
  data.data.attributes = AttributesOf(name, st);
  data.data.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
  data.data.last_write_time = st.st_mtim.tv_sec;
  return data;
}

// Every entry of an open directory whose name matches, in delivery order.
std::uint32_t ReadMatches(int fd, std::u16string_view pattern, std::vector<FindData>* found) {
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const int error = errno;
    ::close(fd);
    return Win32ErrorFromErrno(error);
  }
  const std::vector<UChar32> compiled = CompilePattern(pattern);
  std::vector<std::string> names;
  int read_error = 0;
  for (;;) {
    errno = 0;  // readdir tells the end from a failure only by errno
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      read_error = errno;
      break;
    }
    const std::string_view name = entry->d_name;
    if (Matcher(compiled, ToUtf16(name)).Match(0, 0)) names.emplace_back(name);
  }
  std::sort(names.begin(), names.end(), EntryBefore);
  std::uint32_t error = Win32ErrorFromErrno(read_error);
  for (const std::string& name : names) {
    if (error != ERROR_SUCCESS) break;
    struct stat st;
    if (::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since it was listed
      error = Win32ErrorFromErrno(errno);
      break;
    }
    found->push_back(EntryData(name, st));
  }
  ::closedir(dir);
  return error;
}

}  // namespace

bool NameMatchesPattern(std::u16string_view pattern, std::u16string_view name) {
  return Matcher(CompilePattern(pattern), name).Match(0, 0);
}

}  // namespace posix

FindHandle::FindHandle() = default;
FindHandle::~FindHandle() = default;
FindHandle::FindHandle(FindHandle&& other) noexcept = default;
FindHandle& FindHandle::operator=(FindHandle&& other) noexcept = default;

void FindHandle::reset(std::unique_ptr<State> state) { state_ = std::move(state); }

std::uint32_t FindFirstFile(std::u16string_view pattern, FindHandle* search, FindData* found) {
  search->reset(nullptr);
  const std::size_t separator = pattern.find_last_of(u"/\\");
  const std::u16string_view last =
      separator == std::u16string_view::npos ? pattern : pattern.substr(separator + 1);
  if (last.empty()) return ERROR_FILE_NOT_FOUND;
  std::u16string_view directory =
      separator == std::u16string_view::npos ? u"." : pattern.substr(0, separator + 1);

  std::string native;
  if (const std::uint32_t error = posix::ToNativePath(directory, &native)) return error;
  // "dir/" would have the kernel follow a final link and read past a final file.
  native.resize(posix::WithoutFinalSlashes(native).size());
  const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return ERROR_PATH_NOT_FOUND;
    // The directory part names a file or a link: not a directory to search.
    if (errno == ENOTDIR || errno == ELOOP) {
      struct stat st;
      return ::lstat(native.c_str(), &st) == 0 ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND;
    }
    return posix::Win32ErrorFromErrno(errno);
  }

  auto state = std::make_unique<FindHandle::State>();
  if (posix::HasWildcards(last)) {
    if (const std::uint32_t error = posix::ReadMatches(fd, last, &state->entries)) return error;
  } else {
    // One name, matched through the same letter-case rules as every other path.
    ::close(fd);
    std::string entry;
    struct stat st;
    if (const std::uint32_t error = posix::Stat(pattern, &entry, &st)) {
      return error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error;
    }
    const std::size_t slash = entry.find_last_of('/');
    const std::string name = slash == std::string::npos ? entry : entry.substr(slash + 1);
    state->entries.push_back(posix::EntryData(name, st));
  }
  if (state->entries.empty()) return ERROR_FILE_NOT_FOUND;
  search->reset(std::move(state));
  return FindNextFile(*search, found);
}

std::uint32_t FindNextFile(FindHandle& search, FindData* found) {
  FindHandle::State* state = search.state();
  if (state == nullptr) return ERROR_INVALID_HANDLE;
  if (state->next >= state->entries.size()) return ERROR_NO_MORE_FILES;
  *found = std::move(state->entries[state->next++]);
  return ERROR_SUCCESS;
}

void FindClose(FindHandle& search) { search.reset(nullptr); }

}  // namespace orvex::platform
