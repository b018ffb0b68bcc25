#include "testing/scoped_env.h"

#include <cstdlib>

namespace orvex::testing {

ScopedEnv::ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  Set(value);
}

ScopedEnv::~ScopedEnv() { Set(old_); }

void ScopedEnv::Set(const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name_, value->c_str(), 1);
  } else {
    ::unsetenv(name_);
  }
}

}  // namespace orvex::testing
