#pragma once
// The engine's tests reach it as the tool does: created through COM, called through IOrvexEngine.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/com.h"
#include "platform/file_handles.h"
#include "platform/text.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"

namespace orvex {

/// A COM string that frees itself.
using Bstr = platform::UniqueBstr;
inline Bstr MakeBstr(const std::u16string& text) {
  return Bstr(platform::SysAllocString(text.c_str()));
}
inline Bstr MakeBstr(const std::filesystem::path& path) { return MakeBstr(ToUtf16(path.string())); }

/// An engine object for each test, and its operations on paths.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HR(S_OK, platform::CoInitializeEx(nullptr, platform::COINIT_APARTMENTTHREADED));
    ASSERT_HR(S_OK, RegisterOrvexEngine());
    void* object = nullptr;
    ASSERT_HR(S_OK, platform::CoCreateInstance(CLSID_OrvexEngine, nullptr, platform::CLSCTX_ALL,
                                               IID_IOrvexEngine, &object));
    engine_ = static_cast<IOrvexEngine*>(object);
  }
  void TearDown() override {
    if (engine_ != nullptr) engine_->Release();
    platform::CoUninitialize();
  }

  HRESULT Unzip(const std::filesystem::path& target, const std::filesystem::path& archive) {
    std::int32_t count = 0;
    return engine_->Unzip(MakeBstr(target).get(), MakeBstr(archive).get(), MakeBstr(log_).get(),
                          &count);
  }
  HRESULT Import(const std::filesystem::path& archive, std::int32_t* count) {
    return engine_->Import(MakeBstr(u"-r \"" + ToUtf16(archive.string()) + u"\"").get(), count);
  }
  HRESULT Zip(const std::filesystem::path& source, const std::filesystem::path& archive,
              bool replace = true) {
    std::int32_t count = 0;
    return engine_->Zip(MakeBstr(source).get(), MakeBstr(archive).get(), MakeBstr(log_).get(),
                        replace ? platform::VARIANT_TRUE : platform::VARIANT_FALSE, &count);
  }

  // The log's lines without their time stamps; lines end in "\r\n", so a bare "\n" costs a letter.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::istringstream log(testing::ReadFile(log_));
    for (std::string line; std::getline(log, line);)
      lines.push_back(line.substr(20, line.size() - 21));
    return lines;
  }

  orvex::testing::ScopedTempDir temp_;
  std::filesystem::path log_ = temp_.path() / "engine.log";
  IOrvexEngine* engine_ = nullptr;
};

}  // namespace orvex
