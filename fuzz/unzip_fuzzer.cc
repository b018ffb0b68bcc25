// ZIP archives from anywhere: unpacking must never crash, and whatever an archive holds, nothing
// may be written outside the target directory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <span>
#include <string>

#include "engine/engine_log.h"
#include "engine/extract.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

// One sandbox per process: the input archive, the log and the target sit side by side in it.
const fs::path& Sandbox() {
  static const fs::path sandbox = [] {
    fs::path path =
        fs::temp_directory_path() / ("orvex-unzip-fuzz-" + std::to_string(std::random_device()()));
    fs::create_directories(path);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(Sandbox(), ignored);
    });
    return path;
  }();
  return sandbox;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& sandbox = Sandbox();
  const fs::path archive = sandbox / "in.zip";
  const fs::path target = sandbox / "target";
  {
    std::ofstream out(archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  fs::create_directories(target);

  // Smaller bounds than Unzip's keep every run quick; the checks are the same.
  orvex::engine::ExtractLimits limits;
  limits.max_entries = 10'000;
  limits.expansion_floor = 8u << 20;
  limits.max_total_bytes = 64u << 20;
  const std::u16string root = orvex::ToUtf16(target.string());
  orvex::engine::EngineLog log(orvex::ToUtf16((sandbox / "engine.log").string()));
  orvex::engine::ExtractCounts counts;
  (void)orvex::engine::ExtractArchive(
      u"Unzip", orvex::ToUtf16(archive.string()),
      [&root](const orvex::engine::CheckedEntry& entry, std::u16string* destination) {
        *destination = root;
        for (const std::u16string& component : entry.components) *destination += u"/" + component;
        return true;
      },
      limits, log, &counts);

  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(sandbox)) {
    names.insert(entry.path().filename().string());
  }
  if (names != std::set<std::string>{"engine.log", "in.zip", "target"}) std::abort();
  if (counts.bytes > limits.max_total_bytes) std::abort();
  std::error_code ignored;
  fs::permissions(target, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(target, ignored);
  fs::remove(sandbox / "engine.log", ignored);
  return 0;
}
