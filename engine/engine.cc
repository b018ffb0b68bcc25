#include "engine/engine.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <thread>

#include "common/path_text.h"
#include "engine/engine_class.h"
#include "engine/engine_log.h"
#include "engine/engine_settings.h"
#include "engine/extract.h"
#include "engine/import.h"
#include "engine/pack.h"
#include "platform/directory_tree.h"
#include "platform/environment.h"

namespace orvex {
namespace {

std::u16string_view View(platform::BSTR text) {
  return text == nullptr ? std::u16string_view()
                         : std::u16string_view(text, platform::SysStringLen(text));
}

std::int32_t Clamp(std::uint64_t count) {
  return count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())
             ? std::numeric_limits<std::int32_t>::max()
             : static_cast<std::int32_t>(count);
}

// Nothing may leave an interface call but a result.
template <typename Operation>
HRESULT Guarded(Operation&& operation) noexcept {
  try {
    return operation();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const ResultException& e) {
    return e.result();
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// The last line of an operation's log: what it did, or its failure.
HRESULT Finish(engine::EngineLog& log, std::u16string_view operation, HRESULT hr,
               std::uint64_t files, std::uint64_t directories, std::uint64_t amount,
               std::u16string_view amount_unit) {
  if (FAILED(hr)) {
    log.Line(u"%s: failed (Error %d)", operation, LowWord(hr));
    return hr;
  }
  log.Line(u"%s: done: %lld files, %lld directories, %lld %s", operation,
           static_cast<std::int64_t>(files), static_cast<std::int64_t>(directories),
           static_cast<std::int64_t>(amount), amount_unit);
  return S_OK;
}

HRESULT MissingArgument(engine::EngineLog& log, std::u16string_view operation) {
  log.Line(u"%s: failed: a directory and an archive are needed (Error %d)", operation,
           LowWord(E_INVALIDARG));
  return E_INVALIDARG;
}

std::atomic<std::uint32_t> live_engines{0};

class OrvexEngine final : public IOrvexEngine, public IOrvexEngineScope {
 public:
  OrvexEngine() { ++live_engines; }

  HRESULT QueryInterface(const platform::IID& iid, void** object) override {
    if (object == nullptr) return platform::E_POINTER;
    if (iid == platform::IID_IUnknown || iid == IID_IOrvexEngine) {
      AddRef();
      *object = static_cast<IOrvexEngine*>(this);
      return S_OK;
    }
    if (iid == IID_IOrvexEngineScope) {
      AddRef();
      *object = static_cast<IOrvexEngineScope*>(this);
      return S_OK;
    }
    *object = nullptr;
    return platform::E_NOINTERFACE;
  }

  std::uint32_t AddRef() override { return ++references_; }

  std::uint32_t Release() override {
    const std::uint32_t left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT Reserved1() override { return E_NOTIMPL; }
  HRESULT Reserved2() override { return E_NOTIMPL; }
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT Reserved4() override { return E_NOTIMPL; }

  HRESULT Import(platform::BSTR command_line, std::int32_t* count) override {
    return Guarded([&] { return DoImport(View(command_line), count); });
  }

  HRESULT Zip(platform::BSTR source_directory, platform::BSTR archive, platform::BSTR log_file,
              platform::VARIANT_BOOL replace_existing, std::int32_t* count) override {
    return Guarded([&] {
      return DoZip(View(source_directory), View(archive), View(log_file),
                   replace_existing != platform::VARIANT_FALSE, count);
    });
  }

  HRESULT Unzip(platform::BSTR target_directory, platform::BSTR archive, platform::BSTR log_file,
                std::int32_t* count) override {
    return Guarded(
        [&] { return DoUnzip(View(target_directory), View(archive), View(log_file), count); });
  }

  HRESULT AddTouchedPath(platform::BSTR path) override {
    return Guarded([&] {
      touched_.Add(View(path));
      return S_OK;
    });
  }

 private:
  ~OrvexEngine() { --live_engines; }

  HRESULT DoUnzip(std::u16string_view target, std::u16string_view archive,
                  std::u16string_view log_file, std::int32_t* count);
  HRESULT DoZip(std::u16string_view source, std::u16string_view archive,
                std::u16string_view log_file, bool replace_existing, std::int32_t* count);
  HRESULT DoImport(std::u16string_view command_line, std::int32_t* count);

  std::atomic<std::uint32_t> references_{1};
  // Import is given no log of its own: it writes to the one the last operation was given.
  std::u16string log_file_;
  // What the last Unzip wrote, for the Zip that packs it again.
  engine::UnpackedArchive unpacked_;
  // The paths a migration can touch, when it named them.
  engine::TouchedPaths touched_;
};

HRESULT OrvexEngine::DoUnzip(std::u16string_view target, std::u16string_view archive,
                             std::u16string_view log_file, std::int32_t* count) {
  log_file_ = log_file;
  engine::EngineLog log(log_file);
  log.Line(u"Unzip: '%s' into '%s'", archive, target);
  if (target.empty() || archive.empty()) return MissingArgument(log, u"Unzip");
  std::u16string root;
  if (const std::uint32_t error = platform::GetFullPathName(target, &root, nullptr)) {
    log.Line(u"Unzip: failed: bad target directory (Error %d)", static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }
  root.resize(WithoutFinalSeparators(root).size());
  engine::ExtractLimits limits;
  RETURN_IF_FAILED(engine::ReadExtractLimits(log, u"Unzip", &limits));
  std::uint64_t write_all = 0;
  RETURN_IF_FAILED(engine::ReadSetting(log, u"Unzip", engine::kWriteAllVariable, &write_all));
  if (const std::uint32_t error = platform::CreateDirectoryTree(root)) {
    log.Line(u"Unzip: failed: cannot create '%s' (Error %d)", root,
             static_cast<std::int32_t>(error));
    return HResultFromWin32(error);
  }
  engine::ExtractCounts counts;
  const HRESULT hr = engine::ExtractArchive(
      u"Unzip", archive,
      [&root](const engine::CheckedEntry& entry, std::u16string* destination) {
        *destination = root;
        for (const std::u16string& component : entry.components) {
          *destination += platform::PathSeparator();
          *destination += component;
        }
        return true;
      },
      limits, log, &counts, &unpacked_, touched_.empty() || write_all != 0 ? nullptr : &touched_);
  if (SUCCEEDED(hr) && counts.kept > 0) {
    log.Line(u"Unzip: %lld files kept in '%s', not written: no migration step reaches them",
             static_cast<std::int64_t>(counts.kept), archive);
  }
  if (count != nullptr) *count = Clamp(counts.files);
  return Finish(log, u"Unzip", hr, counts.files, counts.directories, counts.bytes, u"bytes");
}

HRESULT OrvexEngine::DoZip(std::u16string_view source, std::u16string_view archive,
                           std::u16string_view log_file, bool replace_existing,
                           std::int32_t* count) {
  log_file_ = log_file;
  engine::EngineLog log(log_file);
  log.Line(u"Zip: '%s' into '%s'", source, archive);
  if (source.empty() || archive.empty()) return MissingArgument(log, u"Zip");
  // One compressing thread per processor, unless an administrator allows fewer.
  std::uint64_t threads = std::max(1u, std::thread::hardware_concurrency());
  std::uint64_t cap = threads;
  RETURN_IF_FAILED(engine::ReadSetting(log, u"Zip", engine::kZipThreadsVariable, &cap));
  // What the last Unzip wrote is copied from its archive only while that archive is unchanged;
  // what it kept there cannot be packed at all from another archive.
  const bool copy_from_input =
      (!unpacked_.files.empty() || unpacked_.kept_count > 0) && unpacked_.ArchiveUnchanged();
  if (unpacked_.kept_count > 0 && !copy_from_input) {
    log.Line(u"Zip: '%s' changed while files were copied from it", unpacked_.archive);
    return Finish(log, u"Zip", HResultFromWin32(ERROR_INVALID_DATA), 0, 0, 0, u"bytes");
  }
  if (!unpacked_.files.empty() && !copy_from_input) {
    log.Line(u"Zip: '%s' changed since it was unpacked: every file is compressed anew",
             unpacked_.archive);
  }
  engine::PackCounts counts;
  const HRESULT hr = engine::PackDirectory(source, archive, replace_existing, engine::kDeflateLevel,
                                           static_cast<std::uint32_t>(std::min(threads, cap)),
                                           copy_from_input ? &unpacked_ : nullptr, log, &counts);
  if (SUCCEEDED(hr) && counts.copied > 0) {
    log.Line(u"Zip: %lld files kept their compressed bytes from '%s'",
             static_cast<std::int64_t>(counts.copied), unpacked_.archive);
  }
  if (count != nullptr) *count = Clamp(counts.files + counts.directories);
  return Finish(log, u"Zip", hr, counts.files, counts.directories, counts.bytes, u"bytes");
}

HRESULT OrvexEngine::DoImport(std::u16string_view command_line, std::int32_t* count) {
  engine::EngineLog log(log_file_);
  log.Line(u"Import: %s", command_line);
  std::u16string archive;
  if (FAILED(engine::ParseImportCommandLine(command_line, &archive))) {
    log.Line(u"Import: failed: the command line must be -r \"<archive>\" (Error %d)",
             LowWord(E_INVALIDARG));
    return E_INVALIDARG;
  }
  engine::ExtractLimits limits;
  RETURN_IF_FAILED(engine::ReadExtractLimits(log, u"Import", &limits));
  engine::ExtractCounts counts;
  const HRESULT hr = engine::ImportArchive(archive, limits, engine::kStoreWaitMs, log, &counts);
  if (count != nullptr) *count = Clamp(counts.files);
  return Finish(log, u"Import", hr, counts.files, counts.directories, counts.skipped,
                u"entries left out");
}

}  // namespace

HRESULT CreateOrvexEngine(const platform::IID& iid, void** object) {
  if (object == nullptr) return platform::E_POINTER;
  *object = nullptr;
  auto* engine = new (std::nothrow) OrvexEngine();
  if (engine == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = engine->QueryInterface(iid, object);
  engine->Release();  // the caller's reference, if any, is the one QueryInterface added
  return hr;
}

std::uint32_t LiveOrvexEngines() { return live_engines; }

HRESULT RegisterOrvexEngine() {
  return platform::CoRegisterClassFactory(CLSID_OrvexEngine, &CreateOrvexEngine);
}

}  // namespace orvex
