#include "OrvexRollout/journal.h"

#include <chrono>

#include "platform/text.h"
#include "profiles/profile.h"

namespace orvex {

HRESULT JournalWriter::Open(std::u16string_view path) {
  return HResultFromWin32(platform::CreateFile(
      path, platform::GENERIC_WRITE | platform::FILE_APPEND_DATA, platform::OPEN_ALWAYS, &file_));
}

HRESULT JournalWriter::Write(Json record, bool flush) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  record["time"] = std::chrono::duration<double>(now).count();
  const std::string line = record.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
  const std::lock_guard lock(mutex_);
  std::uint32_t written = 0;
  std::uint32_t error =
      platform::WriteFile(file_, line.data(), static_cast<std::uint32_t>(line.size()), &written);
  if (error == 0 && flush) error = platform::FlushFileBuffers(file_);
  return HResultFromWin32(error);
}

HRESULT ReadJournal(std::u16string_view path, std::vector<Json>* records, std::size_t* line) {
  std::string text;
  RETURN_IF_FAILED(ReadFileBytes(path, UINT64_MAX, &text));
  *line = 0;
  for (std::size_t start = 0; start < text.size();) {
    ++*line;
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // cut short by a kill: the step it announced never began
    Json record = Json::parse(text.begin() + static_cast<std::ptrdiff_t>(start),
                              text.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
    if (!record.is_object()) return HResultFromWin32(ERROR_INVALID_DATA);
    records->push_back(std::move(record));
    start = end + 1;
  }
  return S_OK;
}

Json StateRecord(const platform::FileState& state) {
  return {{"volume", state.identity.volume},
          {"index", state.identity.index},
          {"size", state.size},
          {"write", state.last_write_time},
          {"change", state.change_time}};
}

platform::FileState StateFrom(const Json& record) {
  platform::FileState state;
  if (!record.is_object()) return state;
  state.identity.volume = record.value("volume", std::uint64_t{0});
  state.identity.index = record.value("index", std::uint64_t{0});
  state.size = record.value("size", std::uint64_t{0});
  state.last_write_time = record.value("write", std::int64_t{0});
  state.change_time = record.value("change", std::int64_t{0});
  return state;
}

bool SameFileContent(const platform::FileState& then, const platform::FileState& now) {
  return then.identity == now.identity && then.size == now.size &&
         then.last_write_time == now.last_write_time;
}

std::string JournalText(std::u16string_view text) { return ToUtf8(text); }

std::u16string FromJournalText(const Json& value) {
  return value.is_string() ? ToUtf16(value.get_ref<const std::string&>()) : std::u16string();
}

ProfileHistories HistoriesOf(const std::vector<Json>& records) {
  ProfileHistories histories;
  for (const Json& record : records) {
    const auto profile = record.find("profile");
    if (profile == record.end()) continue;
    std::vector<Json>& history = histories[FromJournalText(*profile)];
    if (record.value("step", "") == kStepState) history.clear();
    history.push_back(record);
  }
  return histories;
}

const Json* EndOf(const std::vector<Json>& history) {
  for (auto record = history.rbegin(); record != history.rend(); ++record) {
    if (record->value("step", "") == kStepEnd) return &*record;
  }
  return nullptr;
}

}  // namespace orvex
