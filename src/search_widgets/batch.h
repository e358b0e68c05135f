#pragma once
// "Select next 25 entries": the current row and up to 25 rows after it join
// the selection, so long result lists are forwarded in batches.

namespace morvanta::search {

class ResultGrid;

// Rows first..last inclusive, numbered from 1; empty when last < first.
struct RowBlock {
  int first = 1;
  int last = 0;
  bool empty() const { return last < first; }
  int size() const { return empty() ? 0 : last - first + 1; }
  bool operator==(const RowBlock&) const = default;
};

inline constexpr int kBatchFollowingRows = 25;

// The block for a grid of rowCount rows whose current row is currentRow
// (0 when the grid has none): currentRow .. min(rowCount, currentRow + 25).
// Row 0 is no row and is left out, so with no current row the block is
// rows 1 to 25. Empty when the grid has no rows.
RowBlock BatchBlock(int rowCount, int currentRow);

// Adds the block to the grid's selection; rows outside it keep their state
// and the current row does not move. The "No Data" row counts as a row.
// Returns true when Send should be enabled, false (leave Send as it is) when
// the grid is empty.
bool SelectBatch(ResultGrid& grid);

}  // namespace morvanta::search
