#include "rules/migration_rules.h"

#include <limits>
#include <new>
#include <utility>

#include "common/result.h"
#include "platform/text.h"

namespace orvex {

bool IsRuleWord(std::u16string_view written, std::u16string_view word) {
  return EqualsIgnoreCase(written, word);
}

bool MigrationRules::Append(const MigrationRule& entry) {
  try {
    MigrationRule copy = entry;  // before any growth, so that `entry` may be an entry of ours
    if (count_ == capacity_) {
      if (capacity_ > std::numeric_limits<std::int32_t>::max() / 2) return false;
      const std::int32_t capacity = capacity_ == 0 ? 1 : capacity_ * 2;
      std::unique_ptr<MigrationRule[]> entries(new MigrationRule[capacity]);
      for (std::int32_t i = 0; i < count_; ++i) entries[i] = std::move(entries_[i]);
      entries_ = std::move(entries);
      capacity_ = capacity;
    }
    entries_[count_++] = std::move(copy);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

MigrationRule& MigrationRules::At(std::int32_t index) {
  if (index < 0 || index >= count_) throw ResultException(E_INVALIDARG);
  return entries_[index];
}

const MigrationRule& MigrationRules::At(std::int32_t index) const {
  if (index < 0 || index >= count_) throw ResultException(E_INVALIDARG);
  return entries_[index];
}

void MigrationRules::Clear() {
  entries_.reset();
  count_ = 0;
  capacity_ = 0;
}

}  // namespace orvex
