#pragma once
// Test helpers shared by every component's tests.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/result.h"

namespace orvex::testing {

/// Renders a result as 0x%08X so failures show the code the way the logs and docs spell it.
inline std::string HrText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

}  // namespace orvex::testing

/// Compares two results and prints both in hexadecimal when they differ.
#define EXPECT_HR(expected, expr) \
  EXPECT_EQ(::orvex::testing::HrText(expected), ::orvex::testing::HrText(expr))
#define ASSERT_HR(expected, expr) \
  ASSERT_EQ(::orvex::testing::HrText(expected), ::orvex::testing::HrText(expr))
