#include "engine/entry_writer.h"

#include "platform/directory_tree.h"

namespace orvex::engine {
namespace {

// Unpacked data read ahead of the files being written.
constexpr std::size_t kDataInFlight = 16u << 20;

}  // namespace

EntryWriter::~EntryWriter() {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
    failure_set_ = true;  // what is left undone stays undone
  }
  changed_.notify_all();
  thread_.join();
}

void EntryWriter::Data(const void* block, std::size_t size) {
  Task task{.kind = Task::kData};
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return in_flight_ < kDataInFlight || failure_set_; });
    if (!spare_.empty()) {
      task.data = std::move(spare_.back());
      spare_.pop_back();
    }
    in_flight_ += size;
  }
  const char* bytes = static_cast<const char*>(block);
  task.data.assign(bytes, bytes + size);
  Push(std::move(task));
}

HRESULT EntryWriter::Drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return tasks_.empty() && !busy_; });
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  return failure_;
}

bool EntryWriter::Failed() {
  const std::lock_guard lock(mutex_);
  return failure_set_;
}

void EntryWriter::Abandon() {
  if (!out_.valid()) return;
  platform::CloseHandle(out_);
  // A half-written file is worse than none.
  (void)platform::DeleteFile(path_);
}

void EntryWriter::SetDirectoryTimes() {
  // Last, because every file written into a directory moves its time.
  for (const auto& [path, time] : directory_times_) {
    (void)platform::SetFileTime(path, time);
  }
}

void EntryWriter::Push(Task task) {
  {
    const std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  changed_.notify_all();
}

void EntryWriter::Work() {
  for (;;) {
    Task task;
    bool skip = false;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !tasks_.empty() || closing_; });
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
      busy_ = true;
      skip = failure_set_;
    }
    HRESULT hr = S_OK;
    if (!skip) {
      try {
        hr = Do(task);
      } catch (...) {
        const std::lock_guard lock(mutex_);
        error_ = std::current_exception();
        hr = E_UNEXPECTED;
      }
    }
    // Written or skipped, an inflated entry's memory goes back once its worker is done with it.
    if (task.inflated) {
      inflater_.Wait(*task.inflated);
      inflater_.Release(*task.inflated);
    }
    {
      const std::lock_guard lock(mutex_);
      if (FAILED(hr)) {
        failure_ = hr;
        failure_set_ = true;
      }
      if (task.kind == Task::kData) {
        in_flight_ -= task.data.size();
        spare_.push_back(std::move(task.data));
      }
      busy_ = false;
    }
    changed_.notify_all();
  }
}

HRESULT EntryWriter::Do(const Task& task) {
  switch (task.kind) {
    case Task::kDirectory:
      RETURN_IF_FAILED(EnsureDirectory(task.path));
      ++counts_->directories;
      if (task.time) directory_times_.emplace_back(task.path, *task.time);
      return S_OK;
    case Task::kOpen:
      path_ = task.path;
      place_ = task.place;
      if (!task.parent.empty()) RETURN_IF_FAILED(EnsureDirectory(task.parent));
      return Create();
    case Task::kData:
      return Write(task.data.data(), task.data.size());
    case Task::kInflated:
      RETURN_IF_FAILED(Sound(*task.inflated));
      if (place_ && CompressedAfresh(*task.inflated)) place_.reset();
      return Write(task.inflated->data.get(), task.inflated->place.uncompressed);
    case Task::kKeep:
      if (!task.parent.empty()) RETURN_IF_FAILED(EnsureDirectory(task.parent));
      if (task.inflated) RETURN_IF_FAILED(Sound(*task.inflated));
      if (!task.inflated || !CompressedAfresh(*task.inflated)) return Keep(task.parent, *task.kept);
      path_ = task.path;
      place_.reset();
      RETURN_IF_FAILED(Create());
      RETURN_IF_FAILED(Write(task.inflated->data.get(), task.inflated->place.uncompressed));
      return Do({.kind = Task::kClose, .time = task.kept->time, .read_only = task.kept->read_only});
    case Task::kClose:
      if (task.time) (void)platform::SetFileTime(out_, *task.time);
      platform::CloseHandle(out_);
      ++counts_->files;
      if (task.read_only) {
        (void)platform::SetFileAttributes(path_, platform::FILE_ATTRIBUTE_READONLY);
      }
      // The file as it is now, its attributes and times set: any later change shows.
      if (unpacked_ != nullptr && place_) {
        platform::FileState state;
        if (platform::GetFileState(path_, &state) == ERROR_SUCCESS) {
          unpacked_->files.insert_or_assign(state.identity, UnpackedFile{state, *place_});
        }
      }
      return S_OK;
  }
  return E_UNEXPECTED;
}

HRESULT EntryWriter::Sound(const InflatedEntry& entry) {
  inflater_.Wait(entry);
  if (entry.error == ERROR_SUCCESS) return S_OK;
  LogCannotRead(log_, operation_, entry.name, inflater_.archive(), entry.reason, entry.error);
  Abandon();
  return HResultFromWin32(entry.error);
}

bool EntryWriter::CompressedAfresh(const InflatedEntry& entry) {
  if (entry.trailing == 0) return false;
  log_.Line(u"%s: '%s' of '%s' holds %lld bytes after its compressed data: it is compressed afresh",
            operation_, entry.name, inflater_.archive(), static_cast<std::int64_t>(entry.trailing));
  return true;
}

HRESULT EntryWriter::Keep(const std::u16string& parent, const KeptFile& kept) {
  if (parent != kept_folder_) {
    platform::FileState state;
    if (const std::uint32_t error = platform::GetFileState(parent, &state)) {
      log_.Line(u"%s: cannot read directory '%s' (Error %d)", operation_, parent,
                static_cast<std::int32_t>(error));
      return HResultFromWin32(error);
    }
    kept_folder_ = parent;
    kept_folder_identity_ = state.identity;
  }
  unpacked_->kept[kept_folder_identity_].push_back(kept);
  ++unpacked_->kept_count;
  ++counts_->files;
  ++counts_->kept;
  return S_OK;
}

void LogCannotRead(EngineLog& log, std::u16string_view operation, std::u16string_view name,
                   std::u16string_view archive, std::u16string_view reason, std::uint32_t error) {
  log.Line(u"%s: cannot read '%s' from '%s': %s (Error %d)", operation, name, archive, reason,
           static_cast<std::int32_t>(error));
}

HRESULT EntryWriter::Write(const void* data, std::size_t size) {
  std::uint32_t done = 0;
  if (const std::uint32_t error =
          platform::WriteFile(out_, data, static_cast<std::uint32_t>(size), &done)) {
    log_.Line(u"%s: cannot write '%s' (Error %d)", operation_, path_,
              static_cast<std::int32_t>(error));
    Abandon();
    return HResultFromWin32(error);
  }
  return S_OK;
}

HRESULT EntryWriter::EnsureDirectory(const std::u16string& path) {
  if (known_directories_.contains(path)) return S_OK;
  if (const std::uint32_t error = platform::CreateDirectoryTree(path)) {
    log_.Line(u"%s: cannot create directory '%s' (Error %d)", operation_, path,
              static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }
  known_directories_.insert(path);
  return S_OK;
}

HRESULT EntryWriter::Create() {
  std::uint32_t error =
      platform::CreateFile(path_, platform::GENERIC_WRITE, platform::CREATE_ALWAYS, &out_);
  std::uint32_t attributes = 0;
  if (error == ERROR_ACCESS_DENIED &&
      platform::GetFileAttributes(path_, &attributes) == ERROR_SUCCESS &&
      (attributes & (platform::FILE_ATTRIBUTE_READONLY | platform::FILE_ATTRIBUTE_DIRECTORY)) ==
          platform::FILE_ATTRIBUTE_READONLY) {
    // A read-only file of the same name is replaced all the same.
    if (platform::SetFileAttributes(path_, platform::FILE_ATTRIBUTE_NORMAL) == ERROR_SUCCESS) {
      error = platform::CreateFile(path_, platform::GENERIC_WRITE, platform::CREATE_ALWAYS, &out_);
    }
  }
  if (error != ERROR_SUCCESS) {
    log_.Line(u"%s: cannot create file '%s' (Error %d)", operation_, path_,
              static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }
  return S_OK;
}

}  // namespace orvex::engine
