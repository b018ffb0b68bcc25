// The registry pass of one .reg file, once, in a process of its own: read, sort, import markers,
// write, release. A fresh process pays for the first touch of every page it uses, which a
// benchmark that repeats the pass in one process hides; time this program as a whole
// (`/usr/bin/time -v bench/reg_pass big.reg`) beside `iconv -f UTF-16LE -t UTF-8 big.reg`.
// It prints the time of each stage in milliseconds.
#include <chrono>
#include <cstdio>
#include <string>

#include "common/result.h"
#include "platform/text.h"
#include "regfile/key_order.h"
#include "regfile/reg_reader.h"
#include "regfile/reg_writer.h"
#include "regfile/registry_document.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: reg_pass INPUT.reg OUTPUT.reg\n");
    return 2;
  }
  const std::u16string input = orvex::ToUtf16(argv[1]);
  const std::u16string output = orvex::ToUtf16(argv[2]);
  const Clock::time_point start = Clock::now();
  Clock::time_point read, ordered, written;
  int keys = 0;
  {
    orvex::RegistryDocument document;
    if (const orvex::HRESULT hr = orvex::ParseRegFile(document, input); orvex::FAILED(hr)) {
      std::fprintf(stderr, "reg_pass: reading failed (0x%08X)\n", static_cast<unsigned>(hr));
      return 1;
    }
    read = Clock::now();
    orvex::SortKeys(document);
    orvex::PlaceImportMarkers(document);
    ordered = Clock::now();
    if (const orvex::HRESULT hr = orvex::ExportRegFile(document, output); orvex::FAILED(hr)) {
      std::fprintf(stderr, "reg_pass: writing failed (0x%08X)\n", static_cast<unsigned>(hr));
      return 1;
    }
    written = Clock::now();
    keys = document.size();
  }
  const Clock::time_point released = Clock::now();
  std::printf("keys %d: read %.1f ms, order %.1f ms, write %.1f ms, release %.1f ms, all %.1f ms\n",
              keys, Milliseconds(start, read), Milliseconds(read, ordered),
              Milliseconds(ordered, written), Milliseconds(written, released),
              Milliseconds(start, released));
  return 0;
}
