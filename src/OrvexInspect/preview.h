#pragma once
// The preview of a rule file over many profile archives: each runs through the migration's own
// rule passes in a folder of its own (rule_run.h), several at a time, and the report says per rule
// where it acted, found nothing or failed, per profile the exit code the migration would have and
// how much it would change, and in total how many profiles would succeed, fail and change; the
// report page shows each profile's changes besides.

#include <cstdint>
#include <string>
#include <vector>

#include "OrvexInspect/inspect_command.h"

namespace orvex {

/// Runs the rule file `rules_name` on the archives `inputs` name (folders are searched for
/// *.zip, below them too), `jobs` at a time; with `html` the report page goes into that file too,
/// with each profile's changes. Exit code 0 when every profile would succeed and every rule acted
/// somewhere, 1 otherwise, 2 when the preview cannot be made.
CommandOutput Preview(const std::u16string& rules_name, const std::vector<std::u16string>& inputs,
                      bool json, std::uint32_t jobs, const std::u16string& html);

}  // namespace orvex
