// Unzip and Zip of a large profile archive through the engine's interface. The archive is named
// by ORVEX_BENCH_ARCHIVE (e.g. one made by the profile generator); without it nothing runs.
// Every run writes to a fresh path: unpacking right after a large delete is slower, so the trees
// are removed only at the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>

#include "common/result.h"
#include "engine/engine.h"
#include "platform/com.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

// A COM string of a path, freed when it goes away.
class Bstr {
 public:
  explicit Bstr(const fs::path& path)
      : text_(orvex::platform::SysAllocString(orvex::ToUtf16(path.string()).c_str())) {}
  operator orvex::platform::BSTR() const { return text_.get(); }

 private:
  orvex::platform::UniqueBstr text_;
};

const char* ArchivePath() { return std::getenv("ORVEX_BENCH_ARCHIVE"); }

// The scratch folder of this process, next to nothing else.
const fs::path& Scratch() {
  static const fs::path scratch = [] {
    const char* base = std::getenv("ORVEX_BENCH_SCRATCH");
    fs::path path = (base != nullptr ? fs::path(base) : fs::temp_directory_path()) /
                    ("orvex-bench-engine-" + std::to_string(std::random_device()()));
    fs::create_directories(path);
    return path;
  }();
  return scratch;
}

orvex::IOrvexEngine* Engine() {
  static orvex::IOrvexEngine* engine = [] {
    void* object = nullptr;
    if (orvex::FAILED(orvex::RegisterOrvexEngine()) ||
        orvex::FAILED(orvex::platform::CoCreateInstance(orvex::CLSID_OrvexEngine, nullptr,
                                                        orvex::platform::CLSCTX_ALL,
                                                        orvex::IID_IOrvexEngine, &object))) {
      std::abort();
    }
    return static_cast<orvex::IOrvexEngine*>(object);
  }();
  return engine;
}

std::uint64_t TreeBytes(const fs::path& root) {
  std::uint64_t bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) bytes += entry.file_size();
  }
  return bytes;
}

// One tree unpacked outside the timing, for Zip to read.
const fs::path& UnpackedTree() {
  static const fs::path tree = [] {
    const fs::path path = Scratch() / "tree";
    std::int32_t count = 0;
    if (orvex::FAILED(Engine()->Unzip(Bstr(path), Bstr(fs::path(ArchivePath())),
                                      Bstr(Scratch() / "tree.log"), &count))) {
      std::abort();
    }
    return path;
  }();
  return tree;
}

void BM_Unzip(benchmark::State& state) {
  if (ArchivePath() == nullptr) {
    state.SkipWithError("set ORVEX_BENCH_ARCHIVE to a profile archive");
    return;
  }
  int run = 0;
  std::int32_t files = 0;
  for (auto _ : state) {
    const fs::path target = Scratch() / ("unzip." + std::to_string(++run));
    const orvex::HRESULT hr = Engine()->Unzip(Bstr(target), Bstr(fs::path(ArchivePath())),
                                              Bstr(Scratch() / "unzip.log"), &files);
    if (orvex::FAILED(hr)) state.SkipWithError("Unzip failed");
  }
  const std::uint64_t bytes = TreeBytes(Scratch() / "unzip.1");
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
  state.SetItemsProcessed(static_cast<std::int64_t>(files) * state.iterations());
}
BENCHMARK(BM_Unzip)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_Zip(benchmark::State& state) {
  if (ArchivePath() == nullptr) {
    state.SkipWithError("set ORVEX_BENCH_ARCHIVE to a profile archive");
    return;
  }
  const fs::path& tree = UnpackedTree();
  int run = 0;
  std::int32_t entries = 0;
  // The processor time of all threads, which the machine's other work does not stretch.
  const std::clock_t start = std::clock();
  for (auto _ : state) {
    const fs::path archive = Scratch() / ("zip." + std::to_string(++run) + ".zip");
    const orvex::HRESULT hr = Engine()->Zip(Bstr(tree), Bstr(archive), Bstr(Scratch() / "zip.log"),
                                            orvex::platform::VARIANT_TRUE, &entries);
    if (orvex::FAILED(hr)) state.SkipWithError("Zip failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(TreeBytes(tree)) * state.iterations());
  state.SetItemsProcessed(static_cast<std::int64_t>(entries) * state.iterations());
  state.counters["archive_MB"] = static_cast<double>(fs::file_size(Scratch() / "zip.1.zip")) / 1e6;
  state.counters["cpu_s"] = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}
BENCHMARK(BM_Zip)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (ArchivePath() == nullptr) {
    std::printf("bench_engine: ORVEX_BENCH_ARCHIVE is not set; nothing to measure.\n");
    return 0;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove_all(Scratch(), ignored);
  return 0;
}
