#include "search_widgets/result_grid.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <cstring>
#include <algorithm>
#include <numeric>

#include "search_widgets/grid_delegate.h"
#include "ui/accessibility.h"
#include "ui/shown_text.h"
#include "ui/ui.h"

namespace morvanta::search {

namespace {

constexpr Qt::Alignment kCentred = Qt::AlignCenter;
// The selection behind white text: 5.4:1.
const QColor kSelectionColour{0x1f, 0x6f, 0xa8};
constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;

// The menu opens a little right of and below the pointer, so the pointer does
// not sit on its first entry: 35 and 30 twips.
constexpr int kMenuOffsetXTwips = 35;
constexpr int kMenuOffsetYTwips = 30;

QString Text(const std::string& utf8) {
  // Qt's UTF-8 reading drops a byte order mark at the start; a value that
  // begins with one is another value, and is shown as such.
  if (utf8.starts_with("\xEF\xBB\xBF"))
    return QChar(0xfeff) + QString::fromUtf8(std::string_view(utf8).substr(3));
  return QString::fromStdString(utf8);
}

QString ItemText(const dicom::DataSet& ds, std::uint16_t group,
                 std::uint16_t element) {
  return Text(ds.Attributes().Item(group, element).Value());
}

}  // namespace

const std::array<GridColumnSpec, kGridColumns>& GridColumns() {
  static const std::array<GridColumnSpec, kGridColumns> columns{{
      {"ID", 0, kCentred, false, false},
      {"Study Date", 110, kCentred, true, true},
      {"Time", 100, kCentred, true, true},
      {"Patient ID", 150, kCentred, false, true},
      {"Patient Name", 200, kCentred, false, true},
      {"Sex", 35, kCentred, true, true},
      {"Date of Birth", 100, kCentred, true, true},
      {"Modality", 80, kCentred, true, true},
      {"Bodypart", 100, kLeft, false, true},
      {"Study Description", 160, kCentred, false, true},
      {"Accession Number", 200, kCentred, false, true},
  }};
  return columns;
}

GridRow RowFromResult(const dicom::DataSet& ds) {
  GridRow row;
  auto& c = row.cells;
  // Each text is read in place and converted once into its cell.
  c[kColId - 1] = Text(ds.StudyUID());
  c[kColStudyDate - 1] = ItemText(ds, 0x0008, 0x0020);
  c[kColTime - 1] = ItemText(ds, 0x0008, 0x0030);
  c[kColPatientId - 1] = Text(ds.PatientID());
  c[kColPatientName - 1] = Text(ds.PatientName()).replace(QLatin1Char('^'), QLatin1Char(' '));
  c[kColSex - 1] = Text(ds.PatientSex());
  c[kColBirthDate - 1] = Text(ds.BirthDate());
  // Modality (0008,0060) is a series attribute (PS3.3 C.7.3.1); at study
  // level a standard archive answers with Modalities in Study (0008,0061)
  // instead, so that is shown where the first is empty.
  c[kColModality - 1] = ItemText(ds, 0x0008, 0x0060);
  if (c[kColModality - 1].isEmpty()) c[kColModality - 1] = ItemText(ds, 0x0008, 0x0061);
  c[kColBodypart - 1] = ItemText(ds, 0x0018, 0x0015);
  c[kColStudyDescription - 1] = Text(ds.StudyDescription());
  c[kColAccessionNumber - 1] = Text(ds.AccessionNumber());
  return row;
}

std::u32string SortKey(const QString& text) {
  std::u32string key;
  key.reserve(static_cast<std::size_t>(text.size()));
  char16_t last = 0;
  for (const QChar c : text) {
    const char16_t unit = c.unicode();
    char32_t ucs4 = unit;
    if (QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(last))
      ucs4 = QChar::surrogateToUcs4(last, unit);
    last = unit;
    key.push_back(QChar::toCaseFolded(ucs4));
  }
  return key;
}

// --- ResultModel -----------------------------------------------------------

int ResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kViewColumns;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= kViewColumns) {
    return {};
  }
  const auto column = static_cast<std::size_t>(GridColumnOf(index.column()) - 1);
  switch (role) {
    case Qt::DisplayRole:
      return rows_[static_cast<std::size_t>(index.row())].shown[column];
    case Qt::TextAlignmentRole:
      if (GridColumns()[column].centredCells) return QVariant::fromValue(kCentred);
      return {};
    default:
      return {};
  }
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation,
                                 int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kViewColumns) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  const auto& spec = GridColumns()[static_cast<std::size_t>(GridColumnOf(section) - 1)];
  switch (role) {
    case Qt::DisplayRole: return QString::fromLatin1(spec.caption);
    case Qt::TextAlignmentRole: return QVariant::fromValue(spec.header);
    default: return {};
  }
}

void ResultModel::setRows(std::vector<GridRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  for (GridRow& row : rows_) {
    for (std::size_t c = 0; c < row.cells.size(); ++c) row.shown[c] = ui::ShownValue(row.cells[c]);
  }
  for (auto& keys : keys_) keys.clear();
  endResetModel();
}

void ResultModel::sortByText(int column, Qt::SortOrder order) {
  const auto col = static_cast<std::size_t>(column);
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  // Each text is folded once per fill, not at every comparison.
  std::vector<std::u32string>& keys = keys_[col];
  if (keys.size() != rows_.size()) {
    keys.clear();
    keys.reserve(rows_.size());
    for (const GridRow& row : rows_) keys.push_back(SortKey(row.cells[col]));
  }
  std::vector<std::size_t> order_(rows_.size());
  std::iota(order_.begin(), order_.end(), std::size_t{0});
  std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
    return order == Qt::AscendingOrder ? keys[a] < keys[b] : keys[b] < keys[a];
  });
  std::vector<GridRow> sorted;
  sorted.reserve(rows_.size());
  std::vector<int> newRow(rows_.size());
  for (std::size_t i = 0; i < order_.size(); ++i) {
    sorted.push_back(std::move(rows_[order_[i]]));
    newRow[order_[i]] = static_cast<int>(i);
  }
  rows_ = std::move(sorted);
  // The keys made so far follow their rows.
  for (auto& columnKeys : keys_) {
    if (columnKeys.size() != order_.size()) continue;
    std::vector<std::u32string> moved;
    moved.reserve(columnKeys.size());
    for (std::size_t from : order_) moved.push_back(std::move(columnKeys[from]));
    columnKeys = std::move(moved);
  }
  // Selection and the current row are persistent indexes: they follow their
  // rows to the new places.
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& index : from) {
    to.append(index.isValid()
                  ? createIndex(newRow[static_cast<std::size_t>(index.row())], index.column())
                  : QModelIndex());
  }
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// --- ResultGrid ------------------------------------------------------------

ResultGrid::ResultGrid(QWidget* parent)
    : QTableView(parent), model_(new ResultModel(this)), delegate_(new GridDelegate(model_, this)) {
  setModel(model_);
  setItemDelegate(delegate_);
  setFont(ui::Tahoma(11.25));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setSortingEnabled(false);  // our own toggle sorts, see sortColumnClicked
  verticalHeader()->hide();
  // Every row is one line of the same font: a fixed height, so a fill or a
  // sort never has the view measure rows.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);

  for (int i = 0; i < kViewColumns; ++i) {
    setColumnWidth(i, pixels(GridColumns()[static_cast<std::size_t>(GridColumnOf(i) - 1)].width));
  }
  setAccessibleName(QStringLiteral("Studies found"));
  setAccessibleDescription(QStringLiteral(
      "Space selects a study, Shift extends; Ctrl+1 to Ctrl+0 sort by the first ten columns"));
  // White text on the selection at over 4.5:1 (the style's blue gives 3.7:1),
  // whether or not the window is active.
  QPalette colours = palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    colours.setColor(group, QPalette::Highlight, kSelectionColour);
    colours.setColor(group, QPalette::HighlightedText, Qt::white);
  }
  setPalette(colours);

  connect(horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this](int section) { sortColumnClicked(GridColumnOf(section)); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected, const QItemSelection&) {
            onSelectionChanged(selected);
          });
}

int ResultGrid::pixels(int widthAt96) const {
  return qRound(widthAt96 * logicalDpiX() / 96.0);
}

void ResultGrid::Fill(const dicom::DataSetList& results) {
  std::vector<GridRow> rows;
  if (results.Count() == 0) {
    GridRow row;
    row.noData = true;
    row.cells[kColStudyDate - 1] = kNoDataText;
    rows.push_back(std::move(row));
  } else {
    rows.reserve(results.Count());
    for (const dicom::DataSet& ds : results) rows.push_back(RowFromResult(ds));
  }
  programmatic_ = true;
  model_->setRows(std::move(rows));
  programmatic_ = false;
  scrollToTop();
}

void ResultGrid::Clear() {
  programmatic_ = true;
  model_->setRows({});
  programmatic_ = false;
}

int ResultGrid::rowCount() const { return model_->rowCount(); }

int ResultGrid::currentRow() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? current.row() + 1 : 0;
}

std::vector<int> ResultGrid::selectedRows() const {
  std::vector<int> rows;
  for (int r = 0; r < model_->rowCount(); ++r) {
    if (selectionModel()->isRowSelected(r, {})) rows.push_back(r + 1);
  }
  return rows;
}

std::vector<std::string> ResultGrid::selectedStudyUids() const {
  std::vector<std::string> uids;
  for (int row : selectedRows()) uids.push_back(studyUid(row).toStdString());
  return uids;
}

bool ResultGrid::isRowSelected(int row) const {
  return row >= 1 && row <= rowCount() && selectionModel()->isRowSelected(row - 1, {});
}

QString ResultGrid::cellText(int row, int column) const {
  if (row < 1 || row > rowCount() || column < 1 || column > kGridColumns) return {};
  return model_->row(row - 1).cells[static_cast<std::size_t>(column - 1)];
}

QString ResultGrid::studyUid(int row) const { return cellText(row, kColId); }

bool ResultGrid::isNoDataRow(int row) const {
  return row >= 1 && row <= rowCount() && model_->row(row - 1).noData;
}

bool ResultGrid::addRowToSelection(int row) {
  if (row < 1 || row > rowCount()) return false;
  programmatic_ = true;
  selectionModel()->select(model_->index(row - 1, 0),
                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
  programmatic_ = false;
  return true;
}

Qt::SortOrder ResultGrid::nextSortOrder(int column) const {
  if (column < 1 || column > kGridColumns || !descendingNext_[static_cast<std::size_t>(column - 1)])
    return Qt::AscendingOrder;
  return Qt::DescendingOrder;
}

void ResultGrid::sortColumnClicked(int column) {
  if (column < 1 || column > kGridColumns) return;
  bool& descendingNext = descendingNext_[static_cast<std::size_t>(column - 1)];
  const Qt::SortOrder order = descendingNext ? Qt::DescendingOrder : Qt::AscendingOrder;
  descendingNext = !descendingNext;
  // The busy pointer, as while searching, for a sort of many rows.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  model_->sortByText(column - 1, order);
  QApplication::restoreOverrideCursor();
  // Said to assistive technology, as the header shows no sort mark.
  setAccessibleDescription(QStringLiteral("Sorted by %1, %2")
                               .arg(QString::fromLatin1(GridColumns()[static_cast<std::size_t>(column - 1)].caption),
                                    order == Qt::AscendingOrder ? QStringLiteral("ascending")
                                                                : QStringLiteral("descending")));
}

void ResultGrid::onSelectionChanged(const QItemSelection& selected) {
  if (programmatic_ || inMouseClick_) return;
  reportUserSelection(selected);
}

void ResultGrid::reportUserSelection(const QItemSelection& selected) {
  const int current = currentRow();
  if (current > 0 && isRowSelected(current) && !isNoDataRow(current)) {
    emit rowSelected(current);
    return;
  }
  for (const QModelIndex& index : selected.indexes()) {
    const int row = index.row() + 1;
    if (!isNoDataRow(row)) {
      emit rowSelected(row);
      return;
    }
  }
}

void ResultGrid::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    // A right-click never changes the selection: the "Select" menu adds a
    // block to what is already selected, starting at the current row.
    if (rowCount() > 0) requestMenuAt(event->position().toPoint());
    event->accept();
    return;
  }
  // One report per click, once the click has settled the selection (a press
  // on a row that is already selected changes the selection only on release);
  // a click on a row that was already selected still counts as selecting it.
  if (event->button() == Qt::LeftButton) inMouseClick_ = true;
  QTableView::mousePressEvent(event);
}

void ResultGrid::mouseReleaseEvent(QMouseEvent* event) {
  QTableView::mouseReleaseEvent(event);
  if (inMouseClick_ && event->button() == Qt::LeftButton) {
    inMouseClick_ = false;
    reportUserSelection({});
  }
}

void ResultGrid::keyPressEvent(QKeyEvent* event) {
  inMouseClick_ = false;  // a release lost to another window must not mute the keyboard
  if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
    if (rowCount() > 0) {
      const int row = std::max(currentRow(), 1) - 1;
      requestMenuAt(QPoint(columnViewportPosition(ViewColumn(kColStudyDate)),
                           rowViewportPosition(row) + rowHeight(row)));
    }
    event->accept();
    return;
  }
  // A header click from the keyboard: Ctrl (with or without Shift) and the
  // column's place among the shown ones, 0 for the tenth.
  const Qt::KeyboardModifiers mods = event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
  if (mods == Qt::ControlModifier && event->key() >= Qt::Key_0 && event->key() <= Qt::Key_9) {
    const int place = event->key() == Qt::Key_0 ? 10 : event->key() - Qt::Key_0;
    sortColumnClicked(GridColumnOf(place - 1));
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

void ResultGrid::contextMenuEvent(QContextMenuEvent* event) {
  // The mouse case was answered on the press; the window system sends the
  // Menu key as a keyboard context-menu event.
  if (event->reason() == QContextMenuEvent::Keyboard && rowCount() > 0) {
    const int row = std::max(currentRow(), 1) - 1;
    requestMenuAt(QPoint(columnViewportPosition(ViewColumn(kColStudyDate)),
                         rowViewportPosition(row) + rowHeight(row)));
  }
  event->accept();
}

// The grid's own paint covers the table as this grid sets it up: left to
// right, solid grid lines, plain colours, no spans, no dragging, no sections
// moved or rows hidden, the Fusion style (which sets the viewport for no
// hover events, so no cell is ever painted hovered) and the grid's own
// delegate. Anything else is painted by the table view.
bool ResultGrid::ownPaint() const {
  return itemDelegate() == delegate_ && isLeftToRight() && showGrid() &&
         gridStyle() == Qt::SolidLine && !alternatingRowColors() &&
         dragDropMode() == QAbstractItemView::NoDragDrop &&
         !verticalHeader()->sectionsHidden() && !verticalHeader()->sectionsMoved() &&
         !horizontalHeader()->sectionsMoved() &&
         std::strcmp(style()->metaObject()->className(), "QFusionStyle") == 0;
}

// What the table view paints, less its per-cell work that shows nothing
// here: each cell's options copied, the style asked for a row panel that only
// a selected cell has, the grid lines stroked one by one.
void ResultGrid::paintEvent(QPaintEvent* event) {
  paintCells(event);
  paintFocusFrame();
}

void ResultGrid::paintFocusFrame() {
  const QModelIndex current = currentIndex();
  if (!current.isValid() || !(hasFocus() || viewport()->hasFocus())) return;
  const QRect cell(columnViewportPosition(current.column()), rowViewportPosition(current.row()),
                   columnWidth(current.column()) - 1, rowHeight(current.row()) - 1);
  const QPalette::ColorGroup group = isActiveWindow() ? QPalette::Active : QPalette::Inactive;
  const bool selected = selectionModel()->isSelected(current);
  const QColor fill = palette().color(group, selected ? QPalette::Highlight : QPalette::Base);
  const QColor text = palette().color(group, QPalette::Text);
  const QColor highlighted = palette().color(group, QPalette::HighlightedText);
  const QColor frame = ui::ContrastRatio(text, fill) >= ui::ContrastRatio(highlighted, fill) ? text : highlighted;
  QPainter painter(viewport());
  ui::DrawFrame(painter, cell.adjusted(1, 1, -1, -1), 2, frame);
}

void ResultGrid::paintCells(QPaintEvent* event) {
  if (!ownPaint()) {
    QTableView::paintEvent(event);
    return;
  }
  const QHeaderView* rows = verticalHeader();
  const QHeaderView* columns = horizontalHeader();
  if (rows->count() == 0 || columns->count() == 0) return;

  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const QStyle::State state = option.state;
  if (state & QStyle::State_Enabled) option.palette.setCurrentColorGroup(QPalette::Normal);
  const QColor gridColour = QColor::fromRgba(
      static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
  const QModelIndex current = currentIndex();
  const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
  const QItemSelectionModel* selection = selectionModel();
  const int lastX = columns->length() - columns->offset() - 1;
  const int lastY = rows->length() - rows->offset() - 1;

  QPainter painter(viewport());
  for (QRect dirty : event->region()) {
    dirty.setBottom(qMin(dirty.bottom(), lastY));
    dirty.setRight(qMin(dirty.right(), lastX));
    if (!dirty.isValid()) continue;
    int left = columns->visualIndexAt(dirty.left());
    int right = columns->visualIndexAt(dirty.right());
    if (left == -1) left = 0;
    if (right == -1) right = columns->count() - 1;
    const int top = rows->visualIndexAt(dirty.top());
    int bottom = rows->visualIndexAt(dirty.bottom());
    if (bottom == -1) bottom = rows->count() - 1;
    if (top == -1 || top > bottom) continue;

    // Nothing moved or hidden: visual and logical indexes are the same.
    for (int row = top; row <= bottom; ++row) {
      const int y = rowViewportPosition(row);
      const int height = rowHeight(row) - 1;
      for (int column = left; column <= right; ++column) {
        if (columns->isSectionHidden(column)) continue;
        const QModelIndex index = model_->index(row, column);
        option.rect = QRect(columnViewportPosition(column), y, columnWidth(column) - 1, height);
        option.state = state;
        if (selection != nullptr && selection->isSelected(index)) {
          option.state |= QStyle::State_Selected;
          style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, &painter, this);
        }
        if (focus && index == current) option.state |= QStyle::State_HasFocus;
        itemDelegateForIndex(index)->paint(&painter, option, index);
      }
    }

    // The table view strokes one-pixel solid lines along the same rows and
    // columns of pixels; filling them is the same picture for less work.
    for (int row = top; row <= bottom; ++row) {
      const int y = rowViewportPosition(row) + rowHeight(row) - 1;
      painter.fillRect(QRect(dirty.left(), y, dirty.width(), 1), gridColour);
    }
    for (int column = left; column <= right; ++column) {
      if (columns->isSectionHidden(column)) continue;
      const int x = columnViewportPosition(column) + columnWidth(column) - 1;
      painter.fillRect(QRect(x, dirty.top(), 1, dirty.height()), gridColour);
    }
  }
}

void ResultGrid::requestMenuAt(const QPoint& viewportPos) {
  const QPoint offset(ui::Twips(kMenuOffsetXTwips, logicalDpiX()),
                      ui::Twips(kMenuOffsetYTwips, logicalDpiY()));
  emit contextMenuRequested(viewport()->mapToGlobal(viewportPos) + offset);
}

}  // namespace morvanta::search
