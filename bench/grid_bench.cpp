// Result grid: filling 399 rows and sorting them by a header click, each
// with the shown view brought up to date (offscreen platform). The reference
// does the same with a plain QStandardItemModel in a QTableView.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QStandardItemModel>
#include <QTableView>

#include "bench_data.h"
#include "search_widgets/result_grid.h"

namespace morvanta::bench {
namespace {

constexpr int kWidth = 1300;
constexpr int kHeight = 700;

void Settle() { QApplication::processEvents(); }

void GridFill_ResultGrid(benchmark::State& state) {
  const dicom::DataSetList& results = StudyResults();
  search::ResultGrid grid;
  grid.resize(kWidth, kHeight);
  grid.show();
  Settle();
  for (auto _ : state) {
    grid.Fill(results);
    Settle();
  }
  if (grid.rowCount() != static_cast<int>(kGridRows)) state.SkipWithError("grid not filled");
}
BENCHMARK(GridFill_ResultGrid)->Unit(benchmark::kMicrosecond);

void GridFill_QStandardItemModel(benchmark::State& state) {
  const dicom::DataSetList& results = StudyResults();
  QStandardItemModel model;
  QTableView view;
  view.setModel(&model);
  view.resize(kWidth, kHeight);
  view.show();
  Settle();
  for (auto _ : state) {
    FillStandardModel(model, results);
    Settle();
  }
  if (model.rowCount() != static_cast<int>(kGridRows)) state.SkipWithError("model not filled");
}
BENCHMARK(GridFill_QStandardItemModel)->Unit(benchmark::kMicrosecond);

// Each click toggles the order, so every iteration reverses the rows.
void GridSort_ResultGrid(benchmark::State& state) {
  search::ResultGrid grid;
  grid.resize(kWidth, kHeight);
  grid.show();
  grid.Fill(StudyResults());
  Settle();
  for (auto _ : state) {
    grid.sortColumnClicked(search::kColPatientName);
    Settle();
  }
}
BENCHMARK(GridSort_ResultGrid)->Unit(benchmark::kMicrosecond);

void GridSort_QStandardItemModel(benchmark::State& state) {
  QStandardItemModel model;
  QTableView view;
  view.setModel(&model);
  view.resize(kWidth, kHeight);
  view.show();
  FillStandardModel(model, StudyResults());
  Settle();
  bool ascending = true;
  for (auto _ : state) {
    model.sort(search::kColPatientName - 1, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    ascending = !ascending;
    Settle();
  }
}
BENCHMARK(GridSort_QStandardItemModel)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace morvanta::bench
