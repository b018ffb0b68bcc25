// A migration that leaves in the input archive the files no rule can reach packs, byte for byte,
// what it packs with every file written: generated profiles, rule-free, with the benchmark's mixed
// rules, and with rules that move, copy, delete and convert beside and above kept files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/testing/test_zip.h"
#include "migration/engine_connection.h"
#include "migration/rule_passes.h"
#include "platform/com.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "platform/xml_reader.h"
#include "rules/xml_config.h"
#include "testing/matchers.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

std::u16string Text(const fs::path& path) { return ToUtf16(path.string()); }
std::string Windows(std::string path) {
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

// Rules on files of one folder, whose other files no rule names, and on another folder.
std::string RulesBesideKeptFiles(const std::string& profile) {
  std::vector<std::string> files;
  for (const testing::CentralRecord& record : testing::ReadCentralDirectory(profile)) {
    if (std::ranges::count(record.name, '/') >= 2 && !record.name.ends_with('/')) {
      files.push_back(Windows(record.name));
    }
  }
  const auto folder = [](const std::string& path) { return path.substr(0, path.rfind('\\')); };
  const std::string f = folder(files[files.size() / 2]), g = folder(files.front());
  std::vector<std::string> in;
  for (const std::string& file : files) {
    if (folder(file) == f) in.push_back(file);
  }
  in.resize(4, in.front());
  return "<migration><file action='move' source='" + in[0] + "' destination='" + in[0] +
         ".moved'/><file action='copy' source='" + in[1] + "' destination='" + f +
         "\\copy.dat'/><file action='delete' source='" + in[2] +
         "'/><file action='convert' source='" + in[3] + "' destination='" + in[3] +
         ".bmp'/><directory action='copy' source='" + g + "' destination='" + f +
         "\\Copied'/><directory action='move' source='" + g + "' destination='" + folder(g) +
         "\\Moved'/><directory action='create' source='" + f +
         "\\New'/><file action='create' source='" + f + "\\Created.txt'>QQ==</file></migration>";
}

class KeptFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the profiles are made by a Python script, which Wine cannot start";
#endif
    ASSERT_HR(S_OK, RegisterOrvexEngine());
  }

  bool Parse(const std::string& document, CXmlConfig* config) {
    platform::IMalloc* malloc = nullptr;
    EXPECT_HR(S_OK, platform::CoGetMalloc(platform::MEMCTX_TASK, &malloc));
    std::unique_ptr<platform::IXmlReader> reader;
    EXPECT_HR(S_OK, platform::CreateXmlReader(&reader, malloc));
    const XmlReaderContext context{malloc, reader.get(), config};
    config->Attach(&context);
    platform::Stream stream;
    EXPECT_HR(S_OK,
              platform::SHCreateMemStream(reinterpret_cast<const std::uint8_t*>(document.data()),
                                          static_cast<std::uint32_t>(document.size()), &stream));
    return ParseXmlStream(context, std::move(stream));
  }

  // One migration as the tool runs it, every time the clock gave set to one value: the output
  // archive, and the engine's log in `log`.
  std::string Migrate(const fs::path& profile, const MigrationRules& rules, bool write_all,
                      std::string* log) {
    const testing::ScopedEnv all("ORVEX_WRITE_ALL_ENTRIES",
                                 write_all ? std::optional<std::string>("1") : std::nullopt);
    const fs::path work = temp_.path() / "work", tree = work / "tree";
    fs::remove_all(work);
    fs::create_directories(work);
    const std::u16string tree_path = Text(tree), input = Text(profile),
                         output = Text(work / "out.zip"), log_file = Text(work / "engine.log");
    EngineConnection engine({tree_path, input, output, log_file});
    EXPECT_HR(S_OK, engine.Start());
    std::vector<std::u16string> touched;
    EXPECT_TRUE(PathsThePassesTouch(Text(work), rules, &touched));
    EXPECT_HR(S_OK, engine.NameTouchedPaths(touched));
    EXPECT_HR(S_OK, engine.Unzip());
    EXPECT_HR(S_OK, RunRegistryFilePass(tree_path, rules));
    EXPECT_TRUE(SUCCEEDED(RunFilePass(tree_path, rules)));
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(tree)) {
      if (entry.last_write_time() > start_) fs::last_write_time(entry.path(), start_);
    }
    EXPECT_HR(S_OK, engine.Zip(/*replace_existing=*/false));
    engine.End();
    *log = testing::ReadFile(work / "engine.log");
    return testing::ReadFile(work / "out.zip");
  }

  testing::ScopedTempDir temp_;
  // Before every time the clock gives the test, and after every time in the profiles.
  const fs::file_time_type start_ = fs::file_time_type::clock::now() - std::chrono::minutes(10);
};

TEST_F(KeptFilesTest, OutputIsTheSameAsWithEveryFileWritten) {
  const std::string bench = std::string(std::getenv("ORVEX_SOURCE_DIR")) + "/bench/";
  const fs::path profile = temp_.path() / "profile.zip", mixed = temp_.path() / "mixed.xml";
  const auto python = [&](const std::string& command) {
    return std::system(("python3 '" + bench + command).c_str());
  };
  for (const char* scale : {"0.01", "0.02"}) {
    for (int seed = 1; seed <= 9; ++seed) {
      SCOPED_TRACE(std::string("scale ") + scale + ", seed " + std::to_string(seed));
      ASSERT_EQ(python("gen_profile.py' -q -o '" + profile.string() + "' --seed " +
                       std::to_string(seed) + " --scale " + scale),
                0);
      ASSERT_EQ(python("mixed_rules.py' '" + profile.string() + "' > '" + mixed.string() + "'"), 0);
      for (const std::string& document : {std::string("<migration/>"), testing::ReadFile(mixed),
                                          RulesBesideKeptFiles(testing::ReadFile(profile))}) {
        CXmlConfig config;
        ASSERT_TRUE(Parse(document, &config)) << document;
        std::string all_log, kept_log;
        const std::string all = Migrate(profile, config.rules(), true, &all_log);
        EXPECT_TRUE(all == Migrate(profile, config.rules(), false, &kept_log)) << document;
        EXPECT_NE(kept_log.find("files kept in"), std::string::npos) << kept_log;
      }
    }
  }
}

}  // namespace
}  // namespace orvex
