#pragma once
// What a command of the companion or the roll-out gives its program to write and end with.

#include <cstdint>
#include <memory>
#include <string>

namespace orvex {

/// What a command writes to standard output and to standard error, and its exit code.
struct CommandOutput {
  std::uint32_t exit_code = 0;
  std::u16string out;
  std::u16string err;
  /// What the command read (the profiles, hundreds of MB for large ones); a program that ends
  /// right after writing the output need not spend its time freeing it.
  std::shared_ptr<void> held;
};

}  // namespace orvex
