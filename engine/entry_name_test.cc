#include "engine/entry_name.h"

#include <gtest/gtest.h>

#include "testing/windows_name_rows.h"

namespace orvex::engine {
namespace {

TEST(EntryNameTest, SplitsSafeNamesAndRefusesEscapes) {
  using S = EntryNameStatus;
  const struct {
    std::u16string name;
    S status;
    std::vector<std::u16string> components;
  } cases[] = {
      {u"AppData/Vendor/a.ini", S::kAccepted, {u"AppData", u"Vendor", u"a.ini"}},
      {u"Registry\\HKCU.reg", S::kAccepted, {u"Registry", u"HKCU.reg"}},
      {u"./a//b/./c/", S::kAccepted, {u"a", u"b", u"c"}},
      {u"Gr\u00f6\u00dfe/..x/.x", S::kAccepted, {u"Gr\u00f6\u00dfe", u"..x", u".x"}},
      {u"CONSOLE/COM10/nul_x/LPT", S::kAccepted, {u"CONSOLE", u"COM10", u"nul_x", u"LPT"}},
      {u"./", S::kEmpty, {}},
      {u"/etc/passwd", S::kAbsolute, {}},
      {u"\\\\server\\share\\x", S::kAbsolute, {}},
      {u"C:\\x", S::kDriveLetter, {}},
      {u"c:x", S::kDriveLetter, {}},
      {u"..", S::kParentComponent, {}},
      {u"a/../../x", S::kParentComponent, {}},
      {u"a/..", S::kParentComponent, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> components{u"stale"};
    EXPECT_EQ(SplitEntryName(c.name, &components), c.status)
        << std::string(c.name.begin(), c.name.end());
    EXPECT_EQ(components, c.components);
  }
  for (const auto& [name, status] : testing::kUnfitNames) {
    std::vector<std::u16string> components;
    EXPECT_EQ(SplitEntryName(name, &components), status) << std::string(name.begin(), name.end());
  }
}

}  // namespace
}  // namespace orvex::engine
