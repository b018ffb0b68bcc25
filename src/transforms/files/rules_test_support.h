#pragma once
// What the tests of the directory and file rules share: an unpacked archive in a scratch folder
// and the lines the rules log.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "testing/capture_logger.h"
#include "testing/temp_dir.h"

namespace orvex::testing {

/// A fixture whose tests run rules on `archive_`, the folder an archive was unpacked into.
class UnpackedArchiveTest : public ::testing::Test {
 protected:
  /// `rest` (starting with a slash) after the archive folder, in the system's separators, as the
  /// messages show resolved paths.
  std::string At(const std::string& rest) const {
    return archive_.string() + std::filesystem::path(rest).make_preferred().string();
  }

  ScopedTempDir dir_;
  std::filesystem::path archive_ = dir_.path() / "Profile.zip";
  ScopedCaptureLogger log_;
};

}  // namespace orvex::testing
