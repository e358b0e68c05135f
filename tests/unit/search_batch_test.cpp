#include <gtest/gtest.h>

#include "search_widgets/batch.h"

namespace morvanta::search {
namespace {

struct BlockCase {
  int rows;
  int current;
  int first;
  int last;  // last < first: nothing
};

TEST(BatchBlock, CurrentRowAndUpToTwentyFiveAfterIt) {
  const BlockCase cases[] = {
      {100, 10, 10, 35},  // the current one and the next 25
      {100, 80, 80, 100},
      {100, 75, 75, 100},  // current + 25 is exactly the last row
      {100, 74, 74, 99},
      {40, 0, 1, 25},      // no current row: row 0 is skipped
      {1, 1, 1, 1},        // the single "No Data" row
      {1, 0, 1, 1},
      {100, 100, 100, 100},
      {0, 0, 1, 0},        // empty grid: nothing
      {0, 5, 1, 0},
  };
  for (const BlockCase& c : cases) {
    const RowBlock block = BatchBlock(c.rows, c.current);
    SCOPED_TRACE(::testing::Message() << c.rows << " rows, current " << c.current);
    if (c.last < c.first) {
      EXPECT_TRUE(block.empty());
      EXPECT_EQ(block.size(), 0);
    } else {
      EXPECT_EQ(block, (RowBlock{c.first, c.last}));
      EXPECT_EQ(block.size(), c.last - c.first + 1);
    }
  }
}

}  // namespace
}  // namespace morvanta::search
