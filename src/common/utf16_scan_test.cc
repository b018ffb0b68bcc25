#include "common/utf16_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace orvex {
namespace {

// Every length around the eight units looked at in one step, the stop at every place or
// nowhere, and text that starts at an odd address.
TEST(Utf16ScanTest, FindsTheFirstStopWhereverItStands) {
  for (std::size_t length = 0; length <= 20; ++length) {
    for (std::size_t stop = 0; stop <= length; ++stop) {
      std::u16string text(length, u'\u225c');  // made of the stops' bytes, yet no stop
      if (stop < length) text[stop] = u'\\';
      if (stop + 1 < length) text[stop + 1] = u'"';  // a later stop does not count
      std::string bytes(1, '\0');
      bytes.append(reinterpret_cast<const char*>(text.data()), 2 * length);
      const auto* const odd = reinterpret_cast<const std::uint8_t*>(bytes.data() + 1);
      EXPECT_EQ((UnitsBefore<u'"', u'\\'>(odd, length)), stop) << length << " " << stop;
      EXPECT_EQ((UnitsBefore<u'\r'>(odd, length)), length);
    }
  }
}

}  // namespace
}  // namespace orvex
