#pragma once
// Names Windows cannot give a file, each with the reason the shared name rules give. The engine's
// entry names and the companion's rule paths are both tested with these rows, so that the checker
// passes no rule path that the engine would refuse.

#include <string_view>

#include "common/windows_names.h"

namespace orvex::testing {

struct UnfitName {
  std::u16string_view name;  ///< a relative path whose last component is unfit
  WindowsNameStatus status;
};

inline constexpr UnfitName kUnfitNames[] = {
    {u"Registry/x.reg\r\n[INFO ] forged", WindowsNameStatus::kControlCharacter},
    {u"a\tb", WindowsNameStatus::kControlCharacter},
    {u"a\x1f", WindowsNameStatus::kControlCharacter},
    {u"Registry/x.reg:stream", WindowsNameStatus::kReservedCharacter},
    {u"a<b", WindowsNameStatus::kReservedCharacter},
    {u"a>b", WindowsNameStatus::kReservedCharacter},
    {u"a\"b", WindowsNameStatus::kReservedCharacter},
    {u"a|b", WindowsNameStatus::kReservedCharacter},
    {u"a?b", WindowsNameStatus::kReservedCharacter},
    {u"a*b", WindowsNameStatus::kReservedCharacter},
    {u"x../y", WindowsNameStatus::kTrailingDotOrBlank},
    {u"Desktop /y", WindowsNameStatus::kTrailingDotOrBlank},
    {u"...", WindowsNameStatus::kTrailingDotOrBlank},
    {u"CON", WindowsNameStatus::kDeviceName},
    {u"AppData/prn.txt", WindowsNameStatus::kDeviceName},
    {u"Desktop/nul.txt", WindowsNameStatus::kDeviceName},
    {u"aux .tar.gz", WindowsNameStatus::kDeviceName},
    {u"com1", WindowsNameStatus::kDeviceName},
    {u"LPT\u00b9", WindowsNameStatus::kDeviceName},
};

}  // namespace orvex::testing
