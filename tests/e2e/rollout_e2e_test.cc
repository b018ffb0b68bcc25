// OrvexRollout through the built binaries over a small share: into an output folder, in place with
// backups and back, an archive that changes before its swap, kills at any moment then --resume,
// shards and the report over their journals.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "testing/temp_dir.h"
#include "tool_runner.h"

namespace orvex::testing {
namespace {

namespace fs = std::filesystem;

class RolloutE2eTest : public ::testing::Test {
 protected:
  // A share of `count` copies of the example profile ("u<n>/Profile.zip") and one archive that is
  // no ZIP ("broken.zip"), the rule file, and the bytes the migration of the example gives.
  void MakeShare(int count, bool broken = true) {
    const std::string source = ORVEX_SOURCE_DIR;
    const std::string make = "python3 '" + source + "/examples/make_profile.py' '" +
                             (dir_.path() / "Profile.zip").string() + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    WriteFile(dir_.path() / "rules.xml", ReadFile(source + "/examples/migration.xml"));
    ASSERT_EQ(RunTool({"/INPUT", "Profile.zip", "/OUTPUT", "Migrated.zip", "/XML", "rules.xml"},
                      dir_.path())
                  .status,
              0);
    original_ = ReadFile(dir_.path() / "Profile.zip");
    for (int n = 1; n <= count; ++n) {
      profiles_.push_back("u" + std::to_string(n) + "/Profile.zip");
      WriteFile(Share(profiles_.back()), original_);
    }
    if (broken) WriteFile(Share("broken.zip"), "no archive");
  }

  fs::path Share(const std::string& profile) const { return dir_.path() / "share" / profile; }

  // Whether an archive holds what migrating the example gives (its new folders' times aside).
  bool IsMigrated(const fs::path& archive) {
    return RunTool({"diff", "Migrated.zip", ToolPath(archive)}, dir_.path(), {}, Tool::kInspect)
               .status == 0;
  }
  bool IsOriginal(const fs::path& archive) const { return ReadFile(archive) == original_; }

  ToolResult Rollout(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    return RunTool(args, dir_.path(), env, Tool::kRollout);
  }

  // The results the journal's last "end" record gives each profile.
  std::map<std::string, std::string> Results(const fs::path& journal) const {
    std::map<std::string, std::string> results;
    std::istringstream lines(ReadFile(journal));
    for (std::string line; std::getline(lines, line);) {
      const nlohmann::json record = nlohmann::json::parse(line);
      if (record.value("step", "") == "end") {
        results[record["profile"]] = record["result"];
      }
    }
    return results;
  }

  ScopedTempDir dir_;
  std::string original_;
  std::vector<std::string> profiles_;
};

TEST_F(RolloutE2eTest, MigratesIntoAnOutputFolderAndReports) {
  MakeShare(3);
  const ToolResult run = Rollout({"migrate", "rules.xml", "share", "--to", "out", "-j", "2",
                                  "--html", "report.html", "--quiet"});
  EXPECT_EQ(run.status, 1) << run.console;
  for (const std::string& profile : profiles_) {
    EXPECT_TRUE(IsMigrated(dir_.path() / "out" / profile)) << profile;
    EXPECT_TRUE(fs::exists(dir_.path() / "out/logs" / fs::path(profile).replace_extension(".log")));
  }
  const auto results = Results(dir_.path() / "out/rollout.journal");
  EXPECT_EQ(results, (std::map<std::string, std::string>{{"broken.zip", "failed"},
                                                         {"u1/Profile.zip", "migrated"},
                                                         {"u2/Profile.zip", "migrated"},
                                                         {"u3/Profile.zip", "migrated"}}));
  const ToolResult report =
      Rollout({"report", ToolPath(dir_.path() / "out/rollout.journal"), "--json"});
  EXPECT_EQ(report.status, 1);
  const nlohmann::json json = nlohmann::json::parse(report.console);
  EXPECT_EQ(json["totals"]["profiles"], 4);
  EXPECT_EQ(json["totals"]["migrated"], 3);
  EXPECT_EQ(json["totals"]["failed"], 1);
  EXPECT_EQ(json["failures"][0]["profiles"][0]["profile"], "broken.zip");
  const std::string page = ReadFile(dir_.path() / "report.html");
  EXPECT_NE(page.find("href=\"out/logs/broken.log\""), std::string::npos);
}

TEST_F(RolloutE2eTest, ReplacesInPlaceWithBackupsAndRollsBack) {
  MakeShare(3);
  const ToolResult run =
      Rollout({"migrate", "rules.xml", "share", "--in-place", "--backup", "backup", "-j", "2"});
  EXPECT_EQ(run.status, 1) << run.console;
  for (const std::string& profile : profiles_) {
    EXPECT_TRUE(IsMigrated(Share(profile))) << profile;
    EXPECT_TRUE(IsOriginal(dir_.path() / "backup" / profile)) << profile;
  }
  EXPECT_EQ(ReadFile(Share("broken.zip")), "no archive");
  EXPECT_FALSE(fs::exists(dir_.path() / "backup/broken.zip"));
  // Without --resume a second run refuses the journal that is there.
  EXPECT_EQ(Rollout({"migrate", "rules.xml", "share", "--in-place", "--backup", "backup"}).status,
            126);

  // A user's session writes one profile anew after the roll-out: rollback keeps it.
  WriteFile(Share("u2/Profile.zip"), "written since");
  const ToolResult rollback =
      Rollout({"rollback", ToolPath(dir_.path() / "backup/rollout.journal")});
  EXPECT_EQ(rollback.status, 1) << rollback.console;
  EXPECT_EQ(rollback.console, "2 rolled back, 1 kept (changed since the roll-out), 0 failed\n");
  EXPECT_TRUE(IsOriginal(Share("u1/Profile.zip")));
  EXPECT_EQ(ReadFile(Share("u2/Profile.zip")), "written since");
  EXPECT_TRUE(IsOriginal(Share("u3/Profile.zip")));
  EXPECT_TRUE(IsOriginal(dir_.path() / "backup/u2/Profile.zip"));
}

TEST_F(RolloutE2eTest, KeepsAnArchiveChangedBeforeItsSwap) {
  MakeShare(1, false);
  // Once the new archive verified, the roll-out waits; the user's session writes meanwhile.
  const fs::path journal = dir_.path() / "backup/rollout.journal";
  const std::string writer = "(for i in $(seq 600); do grep -q '\"verify\"' '" + journal.string() +
                             "' 2>/dev/null && break; sleep 0.05; done; echo newer >> '" +
                             Share(profiles_[0]).string() + "') &";
  ASSERT_EQ(std::system(writer.c_str()), 0);
  const ToolResult run =
      Rollout({"migrate", "rules.xml", "share", "--in-place", "--backup", "backup"},
              {"ORVEX_ROLLOUT_PAUSE_BEFORE_CHECK=3000"});
  EXPECT_EQ(run.status, 1) << run.console;
  EXPECT_TRUE(ReadFile(Share(profiles_[0])) == original_ + "newer\n");
  EXPECT_FALSE(fs::exists(dir_.path() / "backup" / profiles_[0]));
  EXPECT_FALSE(fs::exists(Share(profiles_[0]).string() + ".rollout"));
  EXPECT_EQ(Results(journal).at(profiles_[0]), "changed during migration");
}

TEST_F(RolloutE2eTest, ResumesAfterKillsAtAnyMoment) {
  if (ToolIsWindows()) GTEST_SKIP() << "kills the Linux program";
  MakeShare(8, false);
  std::mt19937 random(std::random_device{}());
  int status = -1;
  for (int round = 0; round < 12 && status != 0; ++round) {
    // The whole roll-out goes at once, its migrations with it, as when its machine stops: it
    // leads a process group of its own, whose number the shell writes before becoming it.
    fs::remove(dir_.path() / "pid");
    fs::remove(dir_.path() / "status");
    const std::string command =
        "cd '" + dir_.path().string() + "' && setsid sh -c 'echo $$ >pid; exec " +
        ORVEX_ROLLOUT_BINARY +
        " migrate rules.xml share --in-place --backup backup -j 2 --quiet --resume'; "
        "echo $? >status";
    std::jthread run([&command] { (void)std::system(command.c_str()); });
    while (ReadFile(dir_.path() / "pid").empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
    const std::string group = std::to_string(std::stoi(ReadFile(dir_.path() / "pid")));
    (void)std::system(("kill -s KILL -" + group + " 2>/dev/null").c_str());
    run.join();
    status = std::stoi(ReadFile(dir_.path() / "status"));
    // Every original is in place or in the backup, never lost.
    for (const std::string& profile : profiles_) {
      EXPECT_TRUE(IsOriginal(Share(profile)) ||
                  (IsMigrated(Share(profile)) && IsOriginal(dir_.path() / "backup" / profile)))
          << profile << " in round " << round;
    }
  }
  const ToolResult last = Rollout(
      {"migrate", "rules.xml", "share", "--in-place", "--backup", "backup", "--resume", "--quiet"});
  EXPECT_EQ(last.status, 0) << last.console;
  for (const std::string& profile : profiles_) {
    EXPECT_TRUE(IsMigrated(Share(profile))) << profile;
    EXPECT_TRUE(IsOriginal(dir_.path() / "backup" / profile)) << profile;
    EXPECT_FALSE(fs::exists(Share(profile).string() + ".rollout")) << profile;
  }
}

TEST_F(RolloutE2eTest, StopsStartingProfilesOnceTheFailureBudgetIsSpent) {
  MakeShare(0);
  for (int n = 1; n < 25; ++n) WriteFile(Share("broken" + std::to_string(n) + ".zip"), "none");
  // One at a time: the first 20 all fail, more than 10 percent, so the last 5 never start.
  const ToolResult run =
      Rollout({"migrate", "rules.xml", "share", "--to", "out", "-j", "1", "--json", "--quiet"});
  EXPECT_EQ(run.status, 25);
  const nlohmann::json json = nlohmann::json::parse(run.console);
  EXPECT_EQ(json["totals"]["failed"], 20);
  EXPECT_EQ(json["totals"]["not_started"], 5);
  EXPECT_EQ(json["budget_spent"], true);
  EXPECT_EQ(
      Rollout({"migrate", "rules.xml", "share", "--to", "out2", "--max-failures", "100", "--quiet"})
          .status,
      25);
}

TEST_F(RolloutE2eTest, ShardsSplitTheShareOnceAndTheReportMergesThem) {
  MakeShare(9, false);
  std::vector<std::string> journals;
  std::set<std::string> seen;
  for (const char* shard : {"1/3", "2/3", "3/3"}) {
    EXPECT_EQ(Rollout({"migrate", "rules.xml", "share", "--to", "out", "--shard", shard, "--quiet"})
                  .status,
              0);
    journals.push_back(std::string("out/rollout.") + shard[0] + "-of-3.journal");
    for (const auto& [profile, result] : Results(dir_.path() / journals.back())) {
      EXPECT_TRUE(seen.insert(profile).second) << profile << " in two shards";
    }
  }
  EXPECT_EQ(seen, std::set<std::string>(profiles_.begin(), profiles_.end()));
  std::vector<std::string> report = {"report"};
  report.insert(report.end(), journals.begin(), journals.end());
  report.push_back("--json");
  const ToolResult merged = Rollout(report);
  EXPECT_EQ(merged.status, 0);
  const nlohmann::json totals = nlohmann::json::parse(merged.console)["totals"];
  EXPECT_EQ(totals["profiles"], 9);
  EXPECT_EQ(totals["migrated"], 9);
}

}  // namespace
}  // namespace orvex::testing
