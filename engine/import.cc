#include "engine/import.h"

#include <array>
#include <span>

#include "engine/entry_name.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace orvex::engine {
namespace {

// The top-level folders of a profile archive are named by the shell folders they hold.
constexpr const auto& kFolderTokens = platform::kShellFolders;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

bool EndsWithIgnoreCase(std::u16string_view text, std::u16string_view suffix) {
  return text.size() > suffix.size() &&
         EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

// Where each entry of an imported archive goes.
class ImportDestinations {
 public:
  HRESULT Prepare(EngineLog& log) {
    for (std::size_t i = 0; i < kFolderTokens.size(); ++i) {
      const HRESULT hr =
          platform::SHGetFolderPath(kFolderTokens[i].csidl, nullptr, 0, &folders_[i]);
      if (FAILED(hr)) {
        log.Line(u"Import: no folder for '%s' (Error %d)", kFolderTokens[i].name, LowWord(hr));
        return hr;
      }
    }
    const HRESULT hr = GetRegistryStore(&store_);
    if (FAILED(hr)) log.Line(u"Import: no registry store (Error %d)", LowWord(hr));
    return hr;
  }

  bool Destination(std::span<const std::u16string> components, bool directory,
                   std::u16string* destination) {
    const std::u16string& top = components[0];
    if (EqualsIgnoreCase(top, u"Registry")) {
      if (directory || components.size() != 2 || !EndsWithIgnoreCase(components[1], u".reg")) {
        return false;
      }
      *destination = store_ + u"/" + components[1];
      ++registry_files_;
      return true;
    }
    for (std::size_t i = 0; i < kFolderTokens.size(); ++i) {
      if (top != kFolderTokens[i].name) continue;
      // A file in the token's own place would replace the whole folder.
      if (components.size() == 1 && !directory) return false;
      std::u16string path = folders_[i];
      for (std::size_t c = 1; c < components.size(); ++c) {
        path += u'/';
        path += components[c];
      }
      *destination = std::move(path);
      used_[i] = true;
      return true;
    }
    return false;
  }

  void LogUse(EngineLog& log) const {
    for (std::size_t i = 0; i < kFolderTokens.size(); ++i) {
      if (used_[i]) log.Line(u"Import: %s -> '%s'", kFolderTokens[i].name, folders_[i]);
    }
    if (registry_files_ > 0) {
      log.Line(u"Import: %lld registry files -> '%s'", registry_files_, store_);
    }
  }

 private:
  std::array<std::u16string, kFolderTokens.size()> folders_;
  std::array<bool, kFolderTokens.size()> used_{};
  std::u16string store_;
  std::int64_t registry_files_ = 0;
};

}  // namespace

HRESULT ParseImportCommandLine(std::u16string_view line, std::u16string* archive) {
  std::size_t pos = 0;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (line.substr(pos, 2) != u"-r") return E_INVALIDARG;
  pos += 2;
  if (pos >= line.size() || !IsBlank(line[pos])) return E_INVALIDARG;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  std::u16string path;
  if (pos < line.size() && line[pos] == u'"') {
    const std::size_t close = line.find(u'"', pos + 1);
    if (close == std::u16string_view::npos) return E_INVALIDARG;
    path = line.substr(pos + 1, close - pos - 1);
    pos = close + 1;
  } else {
    const std::size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    path = line.substr(start, pos - start);
  }
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (path.empty() || pos != line.size()) return E_INVALIDARG;
  *archive = std::move(path);
  return S_OK;
}

HRESULT GetRegistryStore(std::u16string* store) {
  std::u16string base;
  if (platform::ExpandEnvironmentStrings(u"%XDG_STATE_HOME%", &base) != ERROR_SUCCESS ||
      !base.starts_with(u'/')) {
    RETURN_IF_FAILED(platform::SHGetFolderPath(platform::CSIDL_PROFILE, nullptr, 0, &base));
    base += u"/.local/state";
  }
  while (base.size() > 1 && base.back() == u'/') base.pop_back();
  *store = base + u"/OrvexEngine/Registry";
  return S_OK;
}

HRESULT ImportArchive(std::u16string_view archive, const ExtractLimits& limits, EngineLog& log,
                      ExtractCounts* counts) {
  *counts = ExtractCounts();
  ImportDestinations destinations;
  RETURN_IF_FAILED(destinations.Prepare(log));
  const HRESULT hr = ExtractArchive(
      u"Import", archive,
      [&destinations](std::span<const std::u16string> components, bool directory,
                      std::u16string* destination) {
        return destinations.Destination(components, directory, destination);
      },
      limits, log, counts);
  destinations.LogUse(log);
  return hr;
}

}  // namespace orvex::engine
