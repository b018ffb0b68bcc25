// Imports into the profile store, which stands for the profile where there is no live registry,
// take turns.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/import.h"
#include "engine/testing/test_zip.h"
#include "platform/file_handles.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"

namespace orvex::engine {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TestEntry;

class ImportStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::HasRegistry()) GTEST_SKIP() << "Windows imports into the live profile";
  }

  HRESULT Import(const fs::path& archive, std::uint32_t wait_ms, const fs::path& log_file = {}) {
    EngineLog log(ToUtf16(log_file.string()));
    ExtractCounts counts;
    return ImportArchive(ToUtf16(archive.string()), ExtractLimits(), wait_ms, log, &counts);
  }

  testing::ScopedTempDir temp_;
  const fs::path state_ = temp_.path() / "state";
  testing::ScopedEnv state_env_{"XDG_STATE_HOME", state_.string()};
  const fs::path store_ = state_ / "OrvexEngine";
};

// Two profiles of the same file names imported at once: the store holds one of them whole, never
// some files of each.
TEST_F(ImportStoreTest, ImportsIntoOneStoreTakeTurns) {
  for (const char* letter : {"a", "b"}) {
    std::vector<TestEntry> entries;
    for (int i = 0; i < 300; ++i) {
      entries.push_back({"Desktop/f" + std::to_string(i) + ".txt", TestEntry::kFile, letter});
    }
    testing::WriteTestZip(temp_.path() / (std::string(letter) + ".zip"), entries);
  }
  for (int attempt = 0; attempt < 10; ++attempt) {
    SCOPED_TRACE(attempt);
    fs::remove_all(store_);
    HRESULT results[2] = {E_FAIL, E_FAIL};
    {
      std::jthread a([&] { results[0] = Import(temp_.path() / "a.zip", kStoreWaitMs); });
      std::jthread b([&] { results[1] = Import(temp_.path() / "b.zip", kStoreWaitMs); });
    }
    ASSERT_EQ(results[0], S_OK);
    ASSERT_EQ(results[1], S_OK);
    const fs::path desktop = store_ / "Profile" / "Desktop";
    const std::string first = ReadFile(desktop / "f0.txt");
    for (int i = 1; i < 300; ++i) {
      ASSERT_EQ(ReadFile(desktop / ("f" + std::to_string(i) + ".txt")), first) << i;
    }
  }
}

TEST_F(ImportStoreTest, AnImportWaitsForAnotherOnlySoLong) {
  testing::WriteTestZip(temp_.path() / "p.zip", {{"Desktop/a.txt", TestEntry::kFile, "a"}});
  const fs::path log_file = temp_.path() / "engine.log";
  fs::create_directories(store_);
  platform::FileHandle held;
  ASSERT_EQ(platform::CreateFile(ToUtf16((store_ / "import.lock").string()),
                                 platform::GENERIC_WRITE, platform::CREATE_NEW, &held),
            0u);
  ASSERT_EQ(platform::LockFileEx(held, platform::LOCKFILE_EXCLUSIVE_LOCK), 0u);
  EXPECT_EQ(Import(temp_.path() / "p.zip", 100, log_file), HResultFromWin32(ERROR_LOCK_VIOLATION));
  EXPECT_NE(ReadFile(log_file).find("Import: another import held the profile store '" +
                                    store_.string() + "' for all of 100 ms\r\n"),
            std::string::npos);
  platform::CloseHandle(held);
  EXPECT_EQ(Import(temp_.path() / "p.zip", 100), S_OK);
}

}  // namespace
}  // namespace orvex::engine
