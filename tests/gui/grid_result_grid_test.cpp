// The result grid on its own: columns, fill, sort toggle, selection and the
// "Select" menu request, driven with mouse and keyboard as a user would.

#include <QApplication>
#include <QHeaderView>
#include <QSignalSpy>
#include <QAccessible>
#include <QTest>
#include <QtMath>
#include <optional>

#include "search_widgets/batch.h"
#include "search_widgets/result_grid.h"
#include "ui/ui.h"

using morvanta::dicom::DataSet;
using morvanta::dicom::DataSetList;
using morvanta::search::ResultGrid;
namespace search = morvanta::search;

namespace {

struct Study {
  std::string uid, date, time, patientId, name, sex, birth, modality, modalities,
      bodypart, description, accession;
};

DataSet ResultOf(const Study& s) {
  DataSet ds;
  auto& a = ds.Attributes();
  a.Add(0x0008, 0x0020, s.date);
  a.Add(0x0008, 0x0030, s.time);
  a.Add(0x0008, 0x0050, s.accession);
  if (!s.modality.empty()) a.Add(0x0008, 0x0060, s.modality);
  if (!s.modalities.empty()) a.Add(0x0008, 0x0061, s.modalities);
  a.Add(0x0008, 0x1030, s.description);
  a.Add(0x0010, 0x0010, s.name);
  a.Add(0x0010, 0x0020, s.patientId);
  a.Add(0x0010, 0x0030, s.birth);
  a.Add(0x0010, 0x0040, s.sex);
  a.Add(0x0018, 0x0015, s.bodypart);
  a.Add(0x0020, 0x000D, s.uid);
  return ds;
}

DataSetList ListOf(const std::vector<Study>& studies) {
  std::vector<DataSet> items;
  for (const Study& s : studies) items.push_back(ResultOf(s));
  return DataSetList(std::move(items));
}

// n studies with distinct UIDs "1.2.<i>" and dates in row order.
DataSetList Numbered(int n) {
  std::vector<Study> studies;
  for (int i = 1; i <= n; ++i) {
    Study s;
    s.uid = "1.2." + std::to_string(i);
    s.date = QDate(2026, 1, 1).addDays(i).toString("yyyyMMdd").toStdString();
    s.patientId = "P" + std::to_string(i);
    studies.push_back(s);
  }
  return ListOf(studies);
}

std::vector<int> Range(int first, int last) {
  std::vector<int> rows;
  for (int r = first; r <= last; ++r) rows.push_back(r);
  return rows;
}

}  // namespace

class ResultGridTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<ResultGrid> grid_;

  QPoint cellCentre(int row, int column = search::kColStudyDate) const {
    return grid_->visualRect(grid_->model()->index(row - 1, search::ViewColumn(column))).center();
  }
  void click(int row, Qt::KeyboardModifiers mods = {}) {
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, mods, cellCentre(row));
  }
  void clickHeader(int column) {
    QHeaderView* header = grid_->horizontalHeader();
    const int section = search::ViewColumn(column);
    const int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
  }
  QStringList column(int c) const {
    QStringList texts;
    for (int r = 1; r <= grid_->rowCount(); ++r) texts << grid_->cellText(r, c);
    return texts;
  }

 private slots:
  void init() {
    grid_ = std::make_unique<ResultGrid>();
    grid_->setObjectName("grid1");
    grid_->resize(1500, 700);
    grid_->show();
    QVERIFY(QTest::qWaitForWindowExposed(grid_.get()));
  }
  void cleanup() { grid_.reset(); }

  void columns_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("width96");
    QTest::addColumn<bool>("leftHeader");
    const char* captions[] = {"Study Date", "Time", "Patient ID", "Patient Name", "Sex",
                              "Date of Birth", "Modality", "Bodypart", "Study Description",
                              "Accession Number"};
    const int widths[] = {110, 100, 150, 200, 35, 100, 80, 100, 160, 200};
    for (int i = 0; i < 10; ++i) {
      QTest::newRow(captions[i]) << i + 2 << QString(captions[i]) << widths[i] << (i + 2 == 9);
    }
  }
  void columns() {
    QFETCH(int, column);
    QFETCH(QString, caption);
    QFETCH(int, width96);
    QFETCH(bool, leftHeader);
    const int section = search::ViewColumn(column);
    QCOMPARE(grid_->model()->headerData(section, Qt::Horizontal).toString(), caption);
    QVERIFY(!grid_->isColumnHidden(section));
    QCOMPARE(grid_->columnWidth(section), qRound(width96 * grid_->logicalDpiX() / 96.0));
    const auto align = grid_->model()->headerData(section, Qt::Horizontal, Qt::TextAlignmentRole)
                           .value<Qt::Alignment>();
    QCOMPARE(bool(align & Qt::AlignLeft), leftHeader);
    QCOMPARE(bool(align & Qt::AlignHCenter), !leftHeader);
  }

  void hiddenIdColumnAndGridOptions() {
    // The Study UID is kept with its row but is no column of the view: a
    // screen reader's table has the ten shown columns only.
    grid_->Fill(Numbered(3));
    QCOMPARE(grid_->model()->columnCount(), 10);
    QCOMPARE(grid_->model()->headerData(0, Qt::Horizontal).toString(), QString("Study Date"));
    QAccessible::setActive(true);
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(grid_.get());
    QVERIFY(table != nullptr && table->tableInterface() != nullptr);
    QCOMPARE(table->tableInterface()->rowCount(), 3);
    for (int c = 0; c < table->tableInterface()->columnCount(); ++c) {
      QVERIFY(!table->tableInterface()->cellAt(0, c)->text(QAccessible::Name).startsWith("1.2."));
    }
    QCOMPARE(grid_->studyUid(1), QString("1.2.1"));
    grid_->Clear();
    QVERIFY(grid_->showGrid());
    QCOMPARE(grid_->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(grid_->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(grid_->font().family(), QString("Tahoma"));
    QCOMPARE(grid_->font().pointSizeF(), 11.25);
    QCOMPARE(grid_->rowCount(), 0);
    QCOMPARE(grid_->currentRow(), 0);
  }

  void fillShowsValuesAsReturned() {
    Study doe{"1.2.3", "20261207", "153000.123", "4711", "DOE^JOHN", "M", "19600101", "CT",
              "", "CHEST", "CT Thorax", "A1"};
    Study standard{"1.2.4", "20261206", "", "4712", "MÜLLER^JÖRG^^DR", "", "", "",
                   "CT\\MR", "", "", ""};
    Study bare{"1.2.5", "20261205", "", "4713", "ROE", "F", "", "", "", "", "", ""};
    grid_->Fill(ListOf({doe, standard, bare}));
    QCOMPARE(grid_->rowCount(), 3);
    QStringList row;
    for (int c = 1; c <= 11; ++c) row << grid_->cellText(1, c);
    QCOMPARE(row, (QStringList{"1.2.3", "20261207", "153000.123", "4711", "DOE JOHN", "M",
                               "19600101", "CT", "CHEST", "CT Thorax", "A1"}));
    QCOMPARE(grid_->cellText(2, search::kColPatientName), QString("MÜLLER JÖRG  DR"));
    // Modality empty: the study's modalities as the archive listed them.
    QCOMPARE(grid_->cellText(2, search::kColModality), QString("CT\\MR"));
    QCOMPARE(grid_->cellText(3, search::kColModality), QString());
    QCOMPARE(grid_->studyUid(2), QString("1.2.4"));
    QVERIFY(!grid_->isNoDataRow(1));

    // Dates, time, sex, birth date and modality centred; the rest as default.
    for (int c = 2; c <= 11; ++c) {
      const auto align = grid_->model()->index(0, search::ViewColumn(c)).data(Qt::TextAlignmentRole);
      const bool centred = c == 2 || c == 3 || c == 6 || c == 7 || c == 8;
      QCOMPARE(align.isValid() && (align.value<Qt::Alignment>() & Qt::AlignHCenter), centred);
    }
  }

  void noResultsLeaveOneNoDataRow() {
    grid_->Fill(Numbered(5));
    grid_->Fill(DataSetList{});
    QCOMPARE(grid_->rowCount(), 1);
    QCOMPARE(grid_->cellText(1, search::kColStudyDate), QString("No Data"));
    for (int c = 1; c <= 11; ++c) {
      if (c != search::kColStudyDate) QCOMPARE(grid_->cellText(1, c), QString());
    }
    QVERIFY(grid_->isNoDataRow(1));
    QCOMPARE(grid_->studyUid(1), QString());
    QCOMPARE(grid_->model()->index(0, search::ViewColumn(search::kColStudyDate))
                 .data(Qt::TextAlignmentRole)
                 .value<Qt::Alignment>(),
             Qt::Alignment(Qt::AlignCenter));
  }

  void selectingNoDataRowDoesNotOfferSend() {
    grid_->Fill(DataSetList{});
    QSignalSpy selected(grid_.get(), &ResultGrid::rowSelected);
    click(1);
    QCOMPARE(grid_->selectedRows(), std::vector<int>{1});
    QCOMPARE(grid_->selectedStudyUids(), std::vector<std::string>{""});
    QCOMPARE(selected.count(), 0);
  }

  void selectingRowsByMouseAndKeyboard() {
    grid_->Fill(Numbered(12));
    QSignalSpy selected(grid_.get(), &ResultGrid::rowSelected);
    click(4);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toInt(), 4);
    QCOMPARE(grid_->currentRow(), 4);

    click(9, Qt::ControlModifier);
    click(2, Qt::ControlModifier);
    QCOMPARE(grid_->selectedRows(), (std::vector<int>{2, 4, 9}));  // row order, not click order
    QCOMPARE(grid_->selectedStudyUids(), (std::vector<std::string>{"1.2.2", "1.2.4", "1.2.9"}));
    QCOMPARE(selected.last().at(0).toInt(), 2);

    click(3);
    click(6, Qt::ShiftModifier);
    QCOMPARE(grid_->selectedRows(), Range(3, 6));
    QCOMPARE(selected.last().at(0).toInt(), 6);

    click(7);
    QCOMPARE(grid_->selectedRows(), std::vector<int>{7});
    const int before = selected.count();
    QTest::keyClick(grid_.get(), Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(grid_->selectedRows(), (std::vector<int>{7, 8}));
    QVERIFY(selected.count() > before);
    QCOMPARE(selected.last().at(0).toInt(), 8);

    // Clicking a row that is already selected still counts as selecting it
    // (Send was disabled by the last Send and the user picks the row again).
    const int again = selected.count();
    click(8);
    QCOMPARE(selected.count(), again + 1);
    QCOMPARE(selected.last().at(0).toInt(), 8);

    // Ctrl+click taking a row out of the selection selects nothing.
    const int deselect = selected.count();
    click(8, Qt::ControlModifier);
    QVERIFY(grid_->selectedRows().empty());
    QCOMPARE(selected.count(), deselect);
  }

  void fillClearsSelectionAndProgramSelectionIsSilent() {
    grid_->Fill(Numbered(5));
    click(3);
    grid_->Fill(Numbered(4));
    QVERIFY(grid_->selectedRows().empty());
    QSignalSpy selected(grid_.get(), &ResultGrid::rowSelected);
    QVERIFY(grid_->addRowToSelection(2));
    QVERIFY(!grid_->addRowToSelection(5));
    QVERIFY(!grid_->addRowToSelection(0));
    QCOMPARE(grid_->selectedRows(), std::vector<int>{2});
    QCOMPARE(selected.count(), 0);
  }

  // Study Date twice: ascending, descending. Time: ascending. Study Date a
  // third time: ascending again, its own toggle back at the start. By header
  // clicks, and from the keyboard: Ctrl and the column's place among the
  // shown ones (Shift too, as a screen reader's users may hold it).
  void sortToggleSequence_data() {
    QTest::addColumn<bool>("keyboard");
    QTest::newRow("header clicks") << false;
    QTest::newRow("Ctrl+number") << true;
  }
  void sortToggleSequence() {
    QFETCH(bool, keyboard);
    const auto clickHeader = [&](int column) {
      if (!keyboard) return this->clickHeader(column);
      const Qt::KeyboardModifiers mods =
          column == search::kColTime ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier;
      QTest::keyClick(grid_.get(), Qt::Key(Qt::Key_0 + search::ViewColumn(column) + 1), mods);
    };
    grid_->Fill(ListOf({{"u1", "20261203", "0900", "", "", "", "", "", "", "", "", ""},
                        {"u2", "20261201", "1100", "", "", "", "", "", "", "", "", ""},
                        {"u3", "20261202", "1000", "", "", "", "", "", "", "", "", ""}}));
    const QStringList ascDates{"20261201", "20261202", "20261203"};
    const QStringList descDates{"20261203", "20261202", "20261201"};

    clickHeader(search::kColStudyDate);
    QCOMPARE(column(search::kColStudyDate), ascDates);
    QCOMPARE(grid_->nextSortOrder(search::kColStudyDate), Qt::DescendingOrder);
    clickHeader(search::kColStudyDate);
    QCOMPARE(column(search::kColStudyDate), descDates);
    QCOMPARE(grid_->nextSortOrder(search::kColStudyDate), Qt::AscendingOrder);
    clickHeader(search::kColTime);
    QCOMPARE(column(search::kColTime), (QStringList{"0900", "1000", "1100"}));
    clickHeader(search::kColStudyDate);
    QCOMPARE(column(search::kColStudyDate), ascDates);
    // Whole rows move together.
    QCOMPARE(column(search::kColId), (QStringList{"u2", "u3", "u1"}));
    // The order is said, as the header shows no mark.
    QCOMPARE(grid_->accessibleDescription(), QString("Sorted by Study Date, ascending"));
    if (keyboard) {
      // Ctrl+0 is the tenth shown column.
      QTest::keyClick(grid_.get(), Qt::Key_0, Qt::ControlModifier);
      QCOMPARE(grid_->nextSortOrder(search::kColAccessionNumber), Qt::DescendingOrder);
    }
  }

  void sortTagsSurviveNewSearchAndNewRowsAreNotSorted() {
    grid_->Fill(Numbered(3));
    clickHeader(search::kColPatientId);  // ascending; the next click is descending
    grid_->Fill(ListOf({{"b", "", "", "P2", "", "", "", "", "", "", "", ""},
                        {"a", "", "", "P1", "", "", "", "", "", "", "", ""},
                        {"c", "", "", "P3", "", "", "", "", "", "", "", ""}}));
    QCOMPARE(column(search::kColPatientId), (QStringList{"P2", "P1", "P3"}));
    clickHeader(search::kColPatientId);
    QCOMPARE(column(search::kColPatientId), (QStringList{"P3", "P2", "P1"}));
  }

  void selectionFollowsRowsWhenSorted() {
    grid_->Fill(Numbered(6));
    click(1);
    click(2, Qt::ControlModifier);
    clickHeader(search::kColStudyDate);  // ascending: order unchanged
    clickHeader(search::kColStudyDate);  // descending: 1.2.1 and 1.2.2 now last
    QCOMPARE(grid_->selectedRows(), (std::vector<int>{5, 6}));
    QCOMPARE(grid_->studyUid(5), QString("1.2.2"));
    QCOMPARE(grid_->studyUid(6), QString("1.2.1"));
    QCOMPARE(grid_->currentRow(), 5);
  }

  // The sort keys order texts exactly as a case-insensitive QString compare
  // does, outside ASCII too.
  void sortKeyOrdersAsCaseInsensitiveCompare_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    const QString deseretUpper = QString::fromUcs4(U"\U00010400x");  // folds to U+10428
    const QString deseretLower = QString::fromUcs4(U"\U00010428x");
    const QString mathBold = QString::fromUcs4(U"\U0001D400");      // no folding
    QTest::newRow("case only") << "Smith" << "SMITH";
    QTest::newRow("prefix") << "DOE" << "doe john";
    QTest::newRow("empty") << "" << "a";
    QTest::newRow("both empty") << "" << "";
    QTest::newRow("caret and space") << "DOE^JOHN" << "DOE JOHN";
    QTest::newRow("umlaut cases") << QString("MÜLLER") << QString("müller");
    QTest::newRow("umlaut after z") << QString("Zoë") << QString("zoz");
    QTest::newRow("sharp s") << QString("straße") << QString("STRASSE");
    QTest::newRow("final sigma") << QString("ΟΔΟΣ") << QString("οδος");
    QTest::newRow("dotless i") << QString("ı") << QString("I");
    QTest::newRow("surrogate pair folds") << deseretUpper << deseretLower;
    QTest::newRow("surrogate against BMP") << mathBold << QString("\uFFFD");
    QTest::newRow("lone low surrogate") << QString(QChar(0xDC00)) << QString("a");
    QTest::newRow("digits") << "20261207" << "20261027";
  }
  void sortKeyOrdersAsCaseInsensitiveCompare() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    auto sign = [](int c) { return (c > 0) - (c < 0); };
    const std::u32string ka = search::SortKey(a);
    const std::u32string kb = search::SortKey(b);
    QCOMPARE(sign(ka.compare(kb)), sign(QString::compare(a, b, Qt::CaseInsensitive)));
    QCOMPARE(sign(kb.compare(ka)), sign(QString::compare(b, a, Qt::CaseInsensitive)));
  }

  // Texts equal but for case keep their order both ways (a stable sort), and
  // the keys made for one column follow their rows when another is sorted.
  void sortIsStableAndKeysFollowTheirRows() {
    grid_->Fill(ListOf({{"u1", "20261203", "", "", "smith", "", "", "", "", "", "", ""},
                        {"u2", "20261201", "", "", "Adams", "", "", "", "", "", "", ""},
                        {"u3", "20261202", "", "", "SMITH", "", "", "", "", "", "", ""},
                        {"u4", "20261204", "", "", "adams", "", "", "", "", "", "", ""}}));
    clickHeader(search::kColPatientName);  // ascending
    QCOMPARE(column(search::kColId), (QStringList{"u2", "u4", "u1", "u3"}));
    clickHeader(search::kColStudyDate);  // ascending: rows move, name keys with them
    QCOMPARE(column(search::kColId), (QStringList{"u2", "u3", "u1", "u4"}));
    clickHeader(search::kColPatientName);  // descending
    QCOMPARE(column(search::kColPatientName), (QStringList{"SMITH", "smith", "Adams", "adams"}));
    QCOMPARE(column(search::kColId), (QStringList{"u3", "u1", "u2", "u4"}));
    // A new fill makes new keys: the old ones are not reused for new rows.
    grid_->Fill(ListOf({{"v1", "", "", "", "b", "", "", "", "", "", "", ""},
                        {"v2", "", "", "", "a", "", "", "", "", "", "", ""},
                        {"v3", "", "", "", "c", "", "", "", "", "", "", ""},
                        {"v4", "", "", "", "d", "", "", "", "", "", "", ""}}));
    clickHeader(search::kColPatientName);  // ascending again
    QCOMPARE(column(search::kColId), (QStringList{"v2", "v1", "v3", "v4"}));
  }

  // The pointer is busy while the rows are reordered, and restored after.
  void busyPointerWhileSorting() {
    grid_->Fill(Numbered(5));
    std::optional<Qt::CursorShape> during;
    connect(grid_->model(), &QAbstractItemModel::layoutAboutToBeChanged, grid_.get(), [&] {
      const QCursor* cursor = QApplication::overrideCursor();
      during = cursor != nullptr ? cursor->shape() : Qt::ArrowCursor;
    });
    clickHeader(search::kColPatientId);
    QVERIFY(during.has_value());
    QCOMPARE(*during, Qt::WaitCursor);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  void contextMenuOnlyForRightClickOverRows() {
    QSignalSpy menu(grid_.get(), &ResultGrid::contextMenuRequested);
    QTest::mouseClick(grid_->viewport(), Qt::RightButton, {}, QPoint(40, 20));
    QCOMPARE(menu.count(), 0);  // empty grid

    grid_->Fill(DataSetList{});  // one row, "No Data": the menu is there
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, cellCentre(1));
    QCOMPARE(menu.count(), 0);
    const QPoint at = cellCentre(1);
    QTest::mouseClick(grid_->viewport(), Qt::RightButton, {}, at);
    QCOMPARE(menu.count(), 1);
    const QPoint shift = menu.at(0).at(0).toPoint() - grid_->viewport()->mapToGlobal(at);
    // Just right of and below the pointer.
    QVERIFY2(shift.x() > 0 && shift.x() < 10 && shift.y() > 0 && shift.y() < 10,
             qPrintable(QString("%1,%2").arg(shift.x()).arg(shift.y())));

    QTest::keyClick(grid_.get(), Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(menu.count(), 2);
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0), grid_->mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(grid_.get(), &key);
    QCOMPARE(menu.count(), 3);
  }

  void rightClickKeepsSelectionAndCurrentRow() {
    grid_->Fill(Numbered(8));
    click(2);
    click(4, Qt::ControlModifier);
    QSignalSpy selected(grid_.get(), &ResultGrid::rowSelected);
    QTest::mouseClick(grid_->viewport(), Qt::RightButton, {}, cellCentre(7));
    QCOMPARE(grid_->selectedRows(), (std::vector<int>{2, 4}));
    QCOMPARE(grid_->currentRow(), 4);
    QCOMPARE(selected.count(), 0);
  }

  // "Select next 25 entries" on the real grid.
  void batchAddsBlockToSelection_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("clicks");  // first plain, then Ctrl+click
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<QList<int>>("alsoSelected");
    QTest::newRow("current 10") << 100 << QList<int>{10} << 10 << 35 << QList<int>{};
    QTest::newRow("current 80") << 100 << QList<int>{80} << 80 << 100 << QList<int>{};
    QTest::newRow("current 75") << 100 << QList<int>{75} << 75 << 100 << QList<int>{};
    QTest::newRow("rows 3 then 10") << 100 << QList<int>{3, 10} << 10 << 35 << QList<int>{3};
    QTest::newRow("no current row") << 40 << QList<int>{} << 1 << 25 << QList<int>{};
  }
  void batchAddsBlockToSelection() {
    QFETCH(int, rows);
    QFETCH(QList<int>, clicks);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(QList<int>, alsoSelected);
    grid_->Fill(Numbered(rows));
    for (qsizetype i = 0; i < clicks.size(); ++i) {
      grid_->scrollTo(grid_->model()->index(clicks[i] - 1, 1));
      click(clicks[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier);
    }
    const int current = grid_->currentRow();
    QCOMPARE(current, clicks.isEmpty() ? 0 : clicks.last());
    QVERIFY(morvanta::search::SelectBatch(*grid_));
    std::vector<int> expected(alsoSelected.begin(), alsoSelected.end());
    for (int r = first; r <= last; ++r) expected.push_back(r);
    QCOMPARE(grid_->selectedRows(), expected);
    QCOMPARE(grid_->currentRow(), current);
  }

  void batchOnNoDataRowAndEmptyGrid() {
    QVERIFY(!morvanta::search::SelectBatch(*grid_));  // empty: Send untouched
    QVERIFY(grid_->selectedRows().empty());
    grid_->Fill(DataSetList{});
    QVERIFY(morvanta::search::SelectBatch(*grid_));
    QCOMPARE(grid_->selectedRows(), std::vector<int>{1});
  }
};

QTEST_MAIN(ResultGridTest)
#include "grid_result_grid_test.moc"
