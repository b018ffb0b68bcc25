#pragma once
// The pair of files a fuzz target writes each input to and its result into, unique to the process
// and removed when it ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/text.h"

namespace orvex::fuzzing {

class ScratchFiles {
 public:
  /// Names `<prefix>_<random>.in<extension>` and `.out<output_extension>` in the temporary folder.
  ScratchFiles(const std::string& prefix, const std::string& input_extension,
               const std::string& output_extension) {
    const std::filesystem::path base = std::filesystem::temp_directory_path() /
                                       (prefix + "_" + std::to_string(std::random_device()()));
    input_ = base.string() + ".in" + input_extension;
    output_ = base.string() + ".out" + output_extension;
  }
  ~ScratchFiles() {
    std::error_code ignored;
    std::filesystem::remove(input_, ignored);
    std::filesystem::remove(output_, ignored);
  }

  /// Replaces the input file's content by `data`.
  void WriteInput(const std::uint8_t* data, std::size_t size) const {
    std::ofstream out(input_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
  }
  std::u16string input() const { return ToUtf16(input_); }
  std::u16string output() const { return ToUtf16(output_); }

 private:
  std::string input_;
  std::string output_;
};

}  // namespace orvex::fuzzing
