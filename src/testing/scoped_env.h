#pragma once

#include <optional>
#include <string>

namespace orvex::testing {

/// Sets (or, with no value, removes) an environment variable and puts the old state back when it
/// goes away.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value);

  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace orvex::testing
