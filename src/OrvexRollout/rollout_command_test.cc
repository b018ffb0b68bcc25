// The shard a profile falls to is part of the roll-out's contract between machines and versions:
// FNV-1a over the relative path's UTF-8 bytes, so it is pinned here by the function's published
// values.
#include <gtest/gtest.h>

#include "OrvexRollout/rollout.h"

namespace orvex {
namespace {

TEST(ShardOfTest, FollowsFnv1aOfTheUtf8Path) {
  struct Row {
    std::u16string_view path;
    unsigned shards;
    unsigned shard;
  };
  // FNV-1a 64 of "foobar" is 0x85944171f73967e8, of "a" 0xaf63dc4c8601ec8c.
  constexpr Row kRows[] = {{u"foobar", 1, 1},      {u"foobar", 3, 1}, {u"foobar", 7, 7},
                           {u"foobar", 1000, 969}, {u"a", 3, 2},      {u"a", 1000, 997}};
  for (const Row& row : kRows) {
    EXPECT_EQ(ShardOf(row.path, row.shards), row.shard)
        << std::string(row.path.begin(), row.path.end()) << " of " << row.shards;
  }
}

}  // namespace
}  // namespace orvex
