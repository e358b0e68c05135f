#pragma once
// The result grid (grid1): one row per study found, eleven columns, the first
// ("ID", the Study Instance UID) hidden. Whole rows are selected, several at
// once (click, Ctrl+click, Shift+click, keyboard). A header click sorts on
// that column by cell text; each column keeps its own ascending/descending
// toggle across searches.
//
// Rows and columns are numbered from 1 in this interface, as the rest of the
// program counts them; row 0 means "no row".

#include <QAbstractTableModel>
#include <QString>
#include <QTableView>
#include <array>
#include <string>
#include <vector>

#include "dicom/dicom.h"

namespace morvanta::search {

class GridDelegate;

inline constexpr int kGridColumns = 11;
inline const QString kNoDataText = QStringLiteral("No Data");

// Column numbers (1-based).
enum GridColumn : int {
  kColId = 1,
  kColStudyDate = 2,
  kColTime = 3,
  kColPatientId = 4,
  kColPatientName = 5,
  kColSex = 6,
  kColBirthDate = 7,
  kColModality = 8,
  kColBodypart = 9,
  kColStudyDescription = 10,
  kColAccessionNumber = 11,
};

// The view's columns are the shown ones, grid column 2 first: the Study UID
// (column 1) stays with its row but is no column of the table view, so
// assistive technology, which lists a table's model columns, never offers
// a column nobody can see.
inline constexpr int kViewColumns = kGridColumns - 1;
constexpr int ViewColumn(int gridColumn) { return gridColumn - 2; }
constexpr int GridColumnOf(int viewColumn) { return viewColumn + 2; }

struct GridColumnSpec {
  const char* caption;
  int width;  // pixels at 96 DPI; 0 for the hidden column's default
  Qt::Alignment header;
  bool centredCells;
  bool shown;
};
// The eleven columns in order; index 0 is column 1.
const std::array<GridColumnSpec, kGridColumns>& GridColumns();

// The order a header click sorts by: comparing two keys as strings gives
// what QString::compare(a, b, Qt::CaseInsensitive) gives for their texts
// (each UTF-16 unit case-folded, a surrogate pair folded as one character,
// a shorter prefix first).
std::u32string SortKey(const QString& text);

struct GridRow {
  std::array<QString, kGridColumns> cells;  // index 0 is column 1, as received
  // What the cells show (ui::ShownValue): made by ResultModel::setRows. The
  // cells themselves are what is sorted, compared and sent.
  std::array<QString, kGridColumns> shown;
  bool noData = false;
};

// One row from a result data set, as the grid shows it: values as the
// archive returned them, except "^" -> " " in the patient name.
GridRow RowFromResult(const dicom::DataSet& result);

class ResultModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role) const override;

  // The rows' sort keys are made on the first sort of each column after
  // this, once, and move with their rows.
  void setRows(std::vector<GridRow> rows);
  const GridRow& row(int index) const { return rows_[static_cast<std::size_t>(index)]; }
  // What a cell of the view shows.
  const QString& shownText(const QModelIndex& index) const {
    return rows_[static_cast<std::size_t>(index.row())].shown[static_cast<std::size_t>(GridColumnOf(index.column()) - 1)];
  }
  // Stable sort on a column's text (0-based), selection and current row
  // following their rows.
  void sortByText(int column, Qt::SortOrder order);

 private:
  std::vector<GridRow> rows_;
  // keys_[column][row], empty for a column not sorted since the last setRows.
  std::array<std::vector<std::u32string>, kGridColumns> keys_;
};

class ResultGrid : public QTableView {
  Q_OBJECT
 public:
  explicit ResultGrid(QWidget* parent = nullptr);

  // Replaces every row with the results, in list order; no results leave
  // the single "No Data" row. Clears the selection; sort tags are kept and
  // the new rows are not sorted.
  void Fill(const dicom::DataSetList& results);
  void Clear();

  int rowCount() const;
  // The row holding the selection focus, 0 when there is none.
  int currentRow() const;
  // The selected rows in row order, top to bottom (the order shown).
  std::vector<int> selectedRows() const;
  bool isRowSelected(int row) const;
  // The study UIDs of the selected rows, in the order of selectedRows();
  // "" for the "No Data" row (Send leaves such rows out).
  std::vector<std::string> selectedStudyUids() const;
  // Empty for a row that does not exist and for the "No Data" row.
  QString studyUid(int row) const;
  QString cellText(int row, int column) const;
  bool isNoDataRow(int row) const;
  // Adds the row to the selection without touching other rows or the current
  // row. False when there is no such row.
  bool addRowToSelection(int row);

  // The order the column's next header click sorts in: ascending first,
  // then each click turns it round.
  Qt::SortOrder nextSortOrder(int column) const;
  // What a click on the column header does (Ctrl+1 to Ctrl+9 and Ctrl+0 do
  // it for the first ten shown columns).
  void sortColumnClicked(int column);

 signals:
  // The user selected a result row (never the "No Data" row): Send may go.
  void rowSelected(int row);
  // The user asked for the "Select" menu over a grid with rows: right mouse
  // button, Menu key or Shift+F10. Global position where it should open.
  void contextMenuRequested(const QPoint& globalPos);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // The current cell's frame while the grid has the focus, in whichever of
  // the text colours stands out more from the cell's fill (the selection's
  // in a selected row), over what the style drew.
  void paintFocusFrame();
  void paintCells(QPaintEvent* event);
  bool ownPaint() const;
  void onSelectionChanged(const QItemSelection& selected);
  void reportUserSelection(const QItemSelection& selected);
  void requestMenuAt(const QPoint& viewportPos);
  int pixels(int widthAt96) const;

  ResultModel* model_;
  GridDelegate* delegate_;
  std::array<bool, kGridColumns> descendingNext_{};
  bool programmatic_ = false;  // selection changes made by the program itself
  bool inMouseClick_ = false;  // a left button press until its release
};

}  // namespace morvanta::search
