#pragma once
// Directory searches: the entries a name pattern matches, in name order.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/files.h"

namespace orvex::platform {

/// One entry of a directory search.
struct FindData {
  std::u16string name;
  FileAttributeData data;
};

/// An open directory search; closed when it goes away or by FindClose.
class FindHandle {
 public:
  FindHandle();
  ~FindHandle();
  FindHandle(FindHandle&& other) noexcept;
  FindHandle& operator=(FindHandle&& other) noexcept;
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;

  bool valid() const { return state_ != nullptr; }
  struct State;
  State* state() const { return state_.get(); }
  void reset(std::unique_ptr<State> state);

 private:
  std::unique_ptr<State> state_;
};

/// FindFirstFileW: starts a search for `pattern` (a directory part and a last component that may
/// hold * and ?, matched ignoring case). Entries come in name order, "." and ".." first.
/// ERROR_FILE_NOT_FOUND when nothing matches.
std::uint32_t FindFirstFile(std::u16string_view pattern, FindHandle* search, FindData* found);
/// FindNextFileW: the next entry; ERROR_NO_MORE_FILES at the end.
std::uint32_t FindNextFile(FindHandle& search, FindData* found);
/// FindClose.
void FindClose(FindHandle& search);

}  // namespace orvex::platform
