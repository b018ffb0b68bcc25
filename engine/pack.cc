#include "engine/pack.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/path_text.h"
#include "platform/archive_headers.h"
#include "platform/directory_tree.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace orvex::engine {
namespace {

// Names go into the archive as UTF-8. On Windows the library takes a UTF-8 name through the ANSI
// code page, which loses what that page lacks (and makes the writer fail on it); a UTF-16 name
// it converts directly.
void SetName(struct archive_entry* entry, const std::string& name) {
#ifdef _WIN32
  const std::u16string wide = ToUtf16(name);
  archive_entry_copy_pathname_w(entry, reinterpret_cast<const wchar_t*>(wide.c_str()));
#else
  archive_entry_set_pathname_utf8(entry, name.c_str());
#endif
}

// Large blocks keep the number of reads and writes per megabyte small.
constexpr std::uint32_t kBlockSize = 1u << 20;
// Enough of a file's start to judge its content, small enough to cost nothing beside deflate.
constexpr std::size_t kSampleSize = 16 * 1024;
constexpr std::size_t kMinSampleSize = 4 * 1024;
// Bits per byte above which deflate gains next to nothing (random data measures 7.99 on 16 KiB).
constexpr double kIncompressibleEntropy = 7.9;
// Freed memory the process keeps: a few deflate states and blocks, far below what a run reads.
constexpr std::size_t kRetainedMemory = 64u << 20;
// Temporary names tried beside the archive before giving up.
constexpr std::uint32_t kTemporaryNameTries = 100;

using ArchivePtr = std::unique_ptr<struct archive, decltype(&archive_write_free)>;
using EntryPtr = std::unique_ptr<struct archive_entry, decltype(&archive_entry_free)>;

// The temporary archive file and libarchive's output into it.
struct ArchiveOutput {
  platform::FileHandle file;
  std::uint32_t error = ERROR_SUCCESS;  // the first platform error the callback met
};

la_ssize_t WriteCallback(struct archive* handle, void* data, const void* buffer,
                         std::size_t length) {
  auto* output = static_cast<ArchiveOutput*>(data);
  std::uint32_t written = 0;
  const std::uint32_t error =
      platform::WriteFile(output->file, buffer, static_cast<std::uint32_t>(length), &written);
  if (error != ERROR_SUCCESS) {
    if (output->error == ERROR_SUCCESS) output->error = error;
    archive_set_error(handle, -1, "write error %u", error);
    return -1;
  }
  return static_cast<la_ssize_t>(length);
}

class Packer {
 public:
  Packer(EngineLog& log, PackCounts* counts, int deflate_level)
      : log_(log), counts_(counts), deflate_level_(deflate_level) {}

  HRESULT Run(std::u16string_view source, std::u16string_view archive, bool replace_existing);

 private:
  HRESULT CreateTemporary();
  HRESULT OpenArchive();
  HRESULT AddTree(const std::u16string& directory, const std::string& prefix);
  HRESULT AddDirectory(const std::string& name, const platform::FindData& found);
  HRESULT AddFile(const std::u16string& path, const std::string& name,
                  const platform::FindData& found);
  HRESULT WriteFailure(std::u16string_view name);

  EngineLog& log_;
  PackCounts* counts_;
  int deflate_level_;
  std::u16string source_;
  std::u16string target_;
  std::u16string temporary_;
  ArchiveOutput output_;
  ArchivePtr handle_{nullptr, &archive_write_free};
  std::vector<unsigned char> buffer_ = std::vector<unsigned char>(kBlockSize);
};

HRESULT Packer::CreateTemporary() {
  for (std::uint32_t n = 1; n <= kTemporaryNameTries; ++n) {
    std::u16string name = target_ + Format(u".%u.tmp", n);
    const std::uint32_t error =
        platform::CreateFile(name, platform::GENERIC_WRITE, platform::CREATE_NEW, &output_.file);
    if (error == ERROR_SUCCESS) {
      temporary_ = std::move(name);
      return S_OK;
    }
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      log_.Line(u"Zip: cannot create '%s' (Error %d)", name, static_cast<std::int32_t>(error));
      return HResultFromWin32(error);
    }
  }
  log_.Line(u"Zip: no free temporary name beside '%s'", target_);
  return HResultFromWin32(ERROR_FILE_EXISTS);
}

HRESULT Packer::OpenArchive() {
  handle_.reset(archive_write_new());
  if (!handle_) return E_OUTOFMEMORY;
  struct archive* a = handle_.get();
  const std::string options =
      "zip:hdrcharset=UTF-8,zip:compression-level=" + std::to_string(deflate_level_);
  if (archive_write_set_format_zip(a) != ARCHIVE_OK ||
      archive_write_set_options(a, options.c_str()) != ARCHIVE_OK ||
      archive_write_set_bytes_per_block(a, static_cast<int>(kBlockSize)) != ARCHIVE_OK ||
      // The archive ends where its data ends, without padding to a whole block.
      archive_write_set_bytes_in_last_block(a, 1) != ARCHIVE_OK ||
      archive_write_open(a, &output_, nullptr, &WriteCallback, nullptr) != ARCHIVE_OK) {
    return WriteFailure(target_);
  }
  return S_OK;
}

HRESULT Packer::Run(std::u16string_view source, std::u16string_view archive,
                    bool replace_existing) {
  std::u16string full;
  if (const std::uint32_t error = platform::GetFullPathName(source, &full, nullptr)) {
    return HResultFromWin32(error);
  }
  source_ = WithoutFinalSeparators(full);
  if (const std::uint32_t error = platform::GetFullPathName(archive, &full, nullptr)) {
    return HResultFromWin32(error);
  }
  target_ = WithoutFinalSeparators(full);

  std::uint32_t attributes = 0;
  std::uint32_t error = platform::GetFileAttributes(source_, &attributes);
  if (error == ERROR_SUCCESS && (attributes & platform::FILE_ATTRIBUTE_DIRECTORY) == 0) {
    error = ERROR_DIRECTORY;
  }
  if (error != ERROR_SUCCESS) {
    log_.Line(u"Zip: source '%s' is not a directory (Error %d)", source_,
              static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }
  if (!replace_existing && platform::GetFileAttributes(target_, &attributes) == ERROR_SUCCESS) {
    log_.Line(u"Zip: archive '%s' exists already", target_);
    return HResultFromWin32(ERROR_FILE_EXISTS);
  }

  RETURN_IF_FAILED(CreateTemporary());
  HRESULT hr = OpenArchive();
  if (SUCCEEDED(hr)) hr = AddTree(source_, std::string());
  if (SUCCEEDED(hr) && archive_write_close(handle_.get()) != ARCHIVE_OK) {
    hr = WriteFailure(target_);
  }
  handle_.reset();
  platform::CloseHandle(output_.file);
  if (SUCCEEDED(hr)) {
    const std::uint32_t flags = replace_existing ? platform::MOVEFILE_REPLACE_EXISTING : 0;
    if (const std::uint32_t moved = platform::MoveFileEx(temporary_, target_, flags)) {
      log_.Line(u"Zip: cannot rename '%s' to '%s' (Error %d)", temporary_, target_,
                static_cast<std::int32_t>(moved));
      hr = HResultFromWin32(moved);
    }
  }
  // A failed run leaves nothing behind, not even a partial archive.
  if (FAILED(hr)) (void)platform::DeleteFile(temporary_);
  return hr;
}

HRESULT Packer::AddTree(const std::u16string& directory, const std::string& prefix) {
  const std::u16string directory_prefix = directory + platform::PathSeparator();
  std::vector<platform::FindData> entries;
  if (const std::uint32_t error = platform::ListDirectory(directory_prefix + u"*", &entries)) {
    log_.Line(u"Zip: cannot list '%s' (Error %d)", directory, static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }
  // The same order on every system, whatever order its file system keeps: the system's own name
  // comparison, then the exact text.
  std::ranges::sort(entries, [](const platform::FindData& a, const platform::FindData& b) {
    const int order = CompareIgnoreCase(a.name, b.name);
    return order != 0 ? order < 0 : a.name < b.name;
  });
  for (const platform::FindData& entry : entries) {
    RETURN_IF_FAILED(StopIfRequested(log_, u"Zip"));
    const std::u16string path = directory_prefix + entry.name;
    const std::string name = prefix + ToUtf8(entry.name);
    if ((entry.data.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0) {
      RETURN_IF_FAILED(AddDirectory(name + "/", entry));
      RETURN_IF_FAILED(AddTree(path, name + "/"));
    } else if (path != temporary_ && path != target_) {
      RETURN_IF_FAILED(AddFile(path, name, entry));
    }
  }
  return S_OK;
}

HRESULT Packer::AddDirectory(const std::string& name, const platform::FindData& found) {
  EntryPtr entry(archive_entry_new(), &archive_entry_free);
  if (!entry) return E_OUTOFMEMORY;
  SetName(entry.get(), name);
  archive_entry_set_filetype(entry.get(), AE_IFDIR);
  archive_entry_set_perm(entry.get(), 0755);
  archive_entry_set_mtime(entry.get(), found.data.last_write_time, 0);
  if (archive_write_header(handle_.get(), entry.get()) != ARCHIVE_OK) {
    return WriteFailure(ToUtf16(name));
  }
  ++counts_->directories;
  return S_OK;
}

HRESULT Packer::AddFile(const std::u16string& path, const std::string& name,
                        const platform::FindData& found) {
  platform::FileHandle file;
  std::uint64_t size = 0;
  std::uint32_t error =
      platform::CreateFile(path, platform::GENERIC_READ, platform::OPEN_EXISTING, &file);
  if (error == ERROR_SUCCESS) error = platform::GetFileSize(file, &size);
  // The first block is read before the header: it decides how the file is stored.
  std::uint32_t read = 0;
  const std::uint32_t first = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, kBlockSize));
  if (error == ERROR_SUCCESS) error = platform::ReadFile(file, buffer_.data(), first, &read);
  if (error == ERROR_SUCCESS && read != first) error = ERROR_HANDLE_EOF;
  if (error != ERROR_SUCCESS) {
    log_.Line(u"Zip: cannot read '%s' (Error %d)", path, static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }

  struct archive* a = handle_.get();
  const bool store = LooksIncompressible(
      std::span<const unsigned char>(buffer_.data(), std::min<std::size_t>(read, kSampleSize)));
  (void)(store ? archive_write_zip_set_compression_store(a)
               : archive_write_zip_set_compression_deflate(a));
  EntryPtr entry(archive_entry_new(), &archive_entry_free);
  if (!entry) return E_OUTOFMEMORY;
  SetName(entry.get(), name);
  archive_entry_set_filetype(entry.get(), AE_IFREG);
  const bool read_only = (found.data.attributes & platform::FILE_ATTRIBUTE_READONLY) != 0;
  archive_entry_set_perm(entry.get(), read_only ? 0444 : 0644);
  archive_entry_set_size(entry.get(), static_cast<la_int64_t>(size));
  archive_entry_set_mtime(entry.get(), found.data.last_write_time, 0);
  if (archive_write_header(a, entry.get()) != ARCHIVE_OK) return WriteFailure(ToUtf16(name));

  std::uint64_t remaining = size;
  for (;;) {
    if (read > 0 && archive_write_data(a, buffer_.data(), read) != static_cast<la_ssize_t>(read)) {
      return WriteFailure(ToUtf16(name));
    }
    remaining -= read;
    if (remaining == 0) break;
    RETURN_IF_FAILED(StopIfRequested(log_, u"Zip"));
    const std::uint32_t next =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, kBlockSize));
    error = platform::ReadFile(file, buffer_.data(), next, &read);
    if (error == ERROR_SUCCESS && read == 0) error = ERROR_HANDLE_EOF;  // shrank while packed
    if (error != ERROR_SUCCESS) {
      log_.Line(u"Zip: cannot read '%s' (Error %d)", path, static_cast<std::int32_t>(error));
      return HResultFromWin32(error);
    }
  }
  ++counts_->files;
  counts_->bytes += size;
  return S_OK;
}

HRESULT Packer::WriteFailure(std::u16string_view name) {
  const std::uint32_t error = output_.error != ERROR_SUCCESS ? output_.error : ERROR_GEN_FAILURE;
  const char* text = handle_ ? archive_error_string(handle_.get()) : nullptr;
  log_.Line(u"Zip: cannot write '%s' into '%s': %S (Error %d)", name, target_,
            text != nullptr ? text : "unknown error", static_cast<std::int32_t>(error));
  return HResultFromWin32(error);
}

}  // namespace

bool LooksIncompressible(std::span<const unsigned char> sample) {
  if (sample.size() < kMinSampleSize) return false;
  std::uint32_t counts[256] = {};
  for (const unsigned char byte : sample) ++counts[byte];
  double entropy = 0;
  const double total = static_cast<double>(sample.size());
  for (const std::uint32_t count : counts) {
    if (count == 0) continue;
    const double p = count / total;
    entropy -= p * std::log2(p);
  }
  return entropy > kIncompressibleEntropy;
}

HRESULT PackDirectory(std::u16string_view source, std::u16string_view archive,
                      bool replace_existing, int deflate_level, EngineLog& log,
                      PackCounts* counts) {
  *counts = PackCounts();
  // The archive library converts names through the C locale; UTF-8 makes that lossless.
  const platform::ScopedUtf8Locale utf8;
  // Its deflate state is made and freed for every file: keep that memory at hand.
  platform::RetainFreedMemory(kRetainedMemory);
  return Packer(log, counts, deflate_level).Run(source, archive, replace_existing);
}

}  // namespace orvex::engine
