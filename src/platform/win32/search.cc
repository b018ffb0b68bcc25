// Windows only: directory searches on kernel32.
#include <cwchar>
#include <memory>

#include "platform/search.h"
#include "platform/win32/windows_api.h"

namespace orvex::platform {

struct FindHandle::State {
  explicit State(HANDLE search) : handle(search) {}
  ~State() { ::FindClose(handle); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  HANDLE handle;
};

FindHandle::FindHandle() = default;
FindHandle::~FindHandle() = default;
FindHandle::FindHandle(FindHandle&& other) noexcept = default;
FindHandle& FindHandle::operator=(FindHandle&& other) noexcept = default;

void FindHandle::reset(std::unique_ptr<State> state) { state_ = std::move(state); }

namespace {

void Found(const WIN32_FIND_DATAW& entry, FindData* found) {
  found->name = win32::FromWide(entry.cFileName, std::wcslen(entry.cFileName));
  found->data.attributes = entry.dwFileAttributes;
  found->data.size = (std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
  found->data.last_write_time = win32::SecondsFromFileTime(entry.ftLastWriteTime);
}

}  // namespace

std::uint32_t FindFirstFile(std::u16string_view pattern, FindHandle* search, FindData* found) {
  search->reset(nullptr);
  const std::u16string text(pattern);
  WIN32_FIND_DATAW entry;
  const HANDLE handle = ::FindFirstFileW(win32::Wide(text), &entry);
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
  search->reset(std::make_unique<FindHandle::State>(handle));
  Found(entry, found);
  return ERROR_SUCCESS;
}

std::uint32_t FindNextFile(FindHandle& search, FindData* found) {
  if (search.state() == nullptr) return ERROR_INVALID_HANDLE;
  WIN32_FIND_DATAW entry;
  if (!::FindNextFileW(search.state()->handle, &entry)) return ::GetLastError();
  Found(entry, found);
  return ERROR_SUCCESS;
}

void FindClose(FindHandle& search) { search.reset(nullptr); }

}  // namespace orvex::platform
