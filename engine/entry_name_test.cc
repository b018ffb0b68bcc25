#include "engine/entry_name.h"

#include <gtest/gtest.h>

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
      // Names a Windows profile cannot hold.
      {u"Registry/x.reg\r\n[INFO ] forged", S::kControlCharacter, {}},
      {u"a\tb", S::kControlCharacter, {}},
      {u"a\x1f", S::kControlCharacter, {}},
      {u"Registry/x.reg:stream", S::kReservedCharacter, {}},
      {u"a<b", S::kReservedCharacter, {}},
      {u"a>b", S::kReservedCharacter, {}},
      {u"a\"b", S::kReservedCharacter, {}},
      {u"a|b", S::kReservedCharacter, {}},
      {u"a?b", S::kReservedCharacter, {}},
      {u"a*b", S::kReservedCharacter, {}},
      {u"x../y", S::kTrailingDotOrBlank, {}},
      {u"Desktop /y", S::kTrailingDotOrBlank, {}},
      {u"...", S::kTrailingDotOrBlank, {}},
      {u"CON", S::kDeviceName, {}},
      {u"AppData/prn.txt", S::kDeviceName, {}},
      {u"Desktop/nul.txt", S::kDeviceName, {}},
      {u"aux .tar.gz", S::kDeviceName, {}},
      {u"com1", S::kDeviceName, {}},
      {u"LPT\u00b9", S::kDeviceName, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> components{u"stale"};
    EXPECT_EQ(SplitEntryName(c.name, &components), c.status)
        << std::string(c.name.begin(), c.name.end());
    EXPECT_EQ(components, c.components);
  }
}

}  // namespace
}  // namespace orvex::engine
