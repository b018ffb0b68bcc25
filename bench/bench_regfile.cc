// Reading, ordering and writing one large .reg file: the registry pass of one file without rules
// (parse, sort, import markers, export, release), and each stage alone. The file is named by the
// first argument or by ORVEX_BENCH_REG (e.g. one made by `gen_profile.py --reg-only 60 -o
// big.reg`); without it nothing runs. Throughput is the input file's size per second ("MB/s",
// 10^6 bytes), on CPU time, which a busy machine disturbs less than wall time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "common/result.h"
#include "platform/text.h"
#include "regfile/key_order.h"
#include "regfile/reg_reader.h"
#include "regfile/reg_writer.h"
#include "regfile/registry_document.h"

namespace {

namespace fs = std::filesystem;
using orvex::RegistryDocument;

std::string& InputPath() {
  static std::string path;
  return path;
}

std::u16string Input() { return orvex::ToUtf16(InputPath()); }

// Where exported files go, unique to this process.
const std::u16string& Output() {
  static const std::u16string path =
      orvex::ToUtf16((fs::temp_directory_path() /
                      ("orvex-bench-regfile-" + std::to_string(std::random_device()()) + ".reg"))
                         .string());
  return path;
}

void Parse(benchmark::State& state, RegistryDocument* document) {
  if (orvex::FAILED(orvex::ParseRegFile(*document, Input()))) state.SkipWithError("parse failed");
}

void Report(benchmark::State& state, int keys) {
  const double bytes = static_cast<double>(fs::file_size(InputPath()));
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
  state.counters["MB/s"] = benchmark::Counter(bytes / 1e6 * static_cast<double>(state.iterations()),
                                              benchmark::Counter::kIsRate);
  state.counters["keys"] = keys;
}

void BM_WholePass(benchmark::State& state) {
  int keys = 0;
  for (auto _ : state) {
    RegistryDocument document;
    Parse(state, &document);
    orvex::SortKeys(document);
    orvex::PlaceImportMarkers(document);
    if (orvex::ExportRegFile(document, Output()) != orvex::S_OK)
      state.SkipWithError("export failed");
    keys = document.size();
  }
  Report(state, keys);
}
BENCHMARK(BM_WholePass)->Unit(benchmark::kMillisecond);

void BM_Parse(benchmark::State& state) {
  int keys = 0;
  for (auto _ : state) {
    RegistryDocument document;
    Parse(state, &document);
    keys = document.size();
    state.PauseTiming();  // releasing the document belongs to the whole pass only
    document = RegistryDocument();
    state.ResumeTiming();
  }
  Report(state, keys);
}
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);

void BM_SortAndMarkers(benchmark::State& state) {
  int keys = 0;
  for (auto _ : state) {
    state.PauseTiming();
    RegistryDocument document;
    Parse(state, &document);
    keys = document.size();
    state.ResumeTiming();
    orvex::SortKeys(document);
    orvex::PlaceImportMarkers(document);
    state.PauseTiming();
    document = RegistryDocument();
    state.ResumeTiming();
  }
  Report(state, keys);
}
BENCHMARK(BM_SortAndMarkers)->Unit(benchmark::kMillisecond);

void BM_Export(benchmark::State& state) {
  RegistryDocument document;
  Parse(state, &document);
  orvex::SortKeys(document);
  for (auto _ : state) {
    if (orvex::ExportRegFile(document, Output()) != orvex::S_OK)
      state.SkipWithError("export failed");
  }
  Report(state, document.size());
}
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc > 1) {
    InputPath() = argv[1];
  } else if (const char* path = std::getenv("ORVEX_BENCH_REG")) {
    InputPath() = path;
  }
  if (InputPath().empty() || !fs::is_regular_file(InputPath())) {
    std::printf(
        "bench_regfile: no .reg file to measure; pass its path or set ORVEX_BENCH_REG (for one, "
        "run gen_profile.py --reg-only 60 -o big.reg).\n");
    return 0;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove(orvex::ToUtf8(Output()), ignored);
  return 0;
}
