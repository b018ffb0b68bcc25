#pragma once
// Helpers shared by the key and value rule tests: a document written in the readable form that
// Dump renders ("[path]" lines, each followed by "  name=type:hexbytes" lines), so that a case
// spells out its document before and after a rule in the same notation.

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "regfile/reg_test_support.h"
#include "regfile/registry_document.h"
#include "rules/migration_rules.h"

namespace orvex::testing {

/// The document that Dump renders as `text`.
inline RegistryDocument ParseDump(const std::string& text) {
  RegistryDocument document;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("[")) {
      document.AddKey(ToUtf16(line.substr(1, line.size() - 2)));
      continue;
    }
    const std::size_t equals = line.find('=');
    const std::size_t colon = line.find(':', equals);
    RegistryValueEntry value{static_cast<std::uint32_t>(std::stoul(line.substr(equals + 1))), {}};
    for (std::size_t i = colon + 1; i + 1 < line.size(); i += 2) {
      value.data.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    }
    EXPECT_TRUE(document.KeyAt(document.size() - 1)
                    .values()
                    .AddValue(ToUtf16(line.substr(2, equals - 2)), std::move(value)));
  }
  EXPECT_EQ(text, Dump(document)) << "not in the form Dump writes";
  return document;
}

/// What the lines a key or value rule logged say it did: failed when it stopped the run or logged
/// an error other than a missing key or value (or an existing key to create), found nothing for
/// those, else acted. The processors' own outcome must agree.
inline RuleOutcome OutcomeTheLogShows(HRESULT result, const std::vector<std::string>& log) {
  if (FAILED(result)) return RuleOutcome::kFailed;
  for (const std::string& line : log) {
    if (!line.starts_with("[ERROR]")) continue;
    return line.ends_with("does not exist)") || line.ends_with("(key already exists)")
               ? RuleOutcome::kFoundNothing
               : RuleOutcome::kFailed;
  }
  return RuleOutcome::kActed;
}

}  // namespace orvex::testing
