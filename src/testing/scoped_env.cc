#include "testing/scoped_env.h"

#include "platform/environment.h"
#include "platform/text.h"

namespace orvex::testing {

ScopedEnv::ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
  std::u16string old;
  if (platform::GetEnvironmentVariable(ToUtf16(name), &old)) old_ = ToUtf8(old);
  Set(value);
}

ScopedEnv::~ScopedEnv() { Set(old_); }

void ScopedEnv::Set(const std::optional<std::string>& value) {
  const std::u16string wide = value ? ToUtf16(*value) : std::u16string();
  (void)platform::SetEnvironmentVariable(ToUtf16(name_), value ? &wide : nullptr);
}

}  // namespace orvex::testing
