#include "search_widgets/batch.h"

#include <algorithm>

#include "search_widgets/result_grid.h"

namespace morvanta::search {

RowBlock BatchBlock(int rowCount, int currentRow) {
  if (rowCount <= 0) return {};
  const int last = std::min(rowCount, currentRow + kBatchFollowingRows);
  return {std::max(currentRow, 1), last};
}

bool SelectBatch(ResultGrid& grid) {
  const int rows = grid.rowCount();
  if (rows <= 0) return false;
  const RowBlock block = BatchBlock(rows, grid.currentRow());
  for (int row = block.first; row <= block.last; ++row) grid.addRowToSelection(row);
  return true;
}

}  // namespace morvanta::search
