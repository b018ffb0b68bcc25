#include "reports/report_file.h"

#include <algorithm>

#include "paths/paths.h"
#include "platform/files.h"
#include "platform/text.h"
#include "reports/report_text.h"
#include "transforms/files/file_system.h"

namespace orvex {
namespace {

// The most one write hands over.
constexpr std::size_t kWriteBlock = std::size_t{1} << 30;

}  // namespace

ReportFile::~ReportFile() {
  if (temporary_.empty()) return;
  platform::CloseHandle(file_);
  (void)platform::DeleteFile(temporary_);
}

bool ReportFile::Create(const std::u16string& name, std::span<const std::u16string> inputs,
                        std::u16string* failure) {
  name_ = name;
  path_ = name;
  bool exists = false;
  std::uint32_t attributes = 0;
  HRESULT hr = ResolveFullPath(&path_);
  if (SUCCEEDED(hr)) hr = GetPathAttributes(path_, &exists, &attributes);
  if (SUCCEEDED(hr)) {
    for (const std::u16string& input : inputs) {
      if (NameOneFile(path_, input)) {
        *failure = u"the report '" + name + u"' would replace an input";
        return false;
      }
    }
  }
  // What giving the file its name would refuse is refused now: a folder or a read-only file.
  constexpr std::uint32_t kRefused =
      platform::FILE_ATTRIBUTE_DIRECTORY | platform::FILE_ATTRIBUTE_READONLY;
  if (SUCCEEDED(hr) && exists && (attributes & kRefused) != 0) {
    hr = HResultFromWin32(ERROR_ACCESS_DENIED);
  }
  if (SUCCEEDED(hr)) {
    const std::uint32_t error = platform::CreateFileBeside(path_, &file_, &temporary_);
    if (error == ERROR_SUCCESS) return true;
    hr = HResultFromWin32(error);
  }
  temporary_.clear();
  *failure = u"cannot write '" + name + u"'" + ErrorText(hr);
  return false;
}

bool ReportFile::Finish(std::u16string_view page, std::u16string* failure) {
  const std::string bytes = ToUtf8(page);
  std::uint32_t error = 0;
  for (std::size_t at = 0; at < bytes.size() && error == 0;) {
    const std::size_t size = std::min(bytes.size() - at, kWriteBlock);
    std::uint32_t written = 0;
    error =
        platform::WriteFile(file_, bytes.data() + at, static_cast<std::uint32_t>(size), &written);
    at += size;
  }
  // The page reaches the disk before it takes the name: after a crash the name holds the whole
  // page or what it held before.
  if (error == 0) error = platform::FlushFileBuffers(file_);
  // Renamed while still open, and so held: a closed temporary file counts as abandoned.
  if (error == 0) {
    error = platform::MoveFileEx(temporary_, path_, platform::MOVEFILE_REPLACE_EXISTING);
  }
  platform::CloseHandle(file_);
  if (error != 0) {
    *failure = u"cannot write '" + name_ + u"'" + ErrorText(HResultFromWin32(error));
    return false;
  }
  temporary_.clear();
  return true;
}

}  // namespace orvex
