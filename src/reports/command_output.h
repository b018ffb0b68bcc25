#pragma once
// What a command of the companion or the roll-out gives its program to write and end with.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

/// A command that failed before it had anything to show: "`program`: `message`" on standard
/// error, and `exit_code`.
inline CommandOutput CommandFailure(std::u16string_view program, std::uint32_t exit_code,
                                    std::u16string_view message) {
  CommandOutput output;
  output.exit_code = exit_code;
  output.err.append(program).append(u": ").append(message) += u'\n';
  return output;
}

}  // namespace orvex
