// The result grid paints its table and its cells itself; what it shows must
// be what the table view shows with the style's item paint, for the same
// rows, selection, focus and scroll position. Each case grabs the grid as it
// is and with a plain QStyledItemDelegate set (which hands the whole paint
// back to the table view) and compares the two pictures pixel for pixel: both
// draw the same glyphs at the same places with the same painter, so there is
// no rasterisation difference to allow for.

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTest>
#include <functional>

#include "search/result_grid.h"

using morvanta::dicom::DataSet;
using morvanta::dicom::DataSetList;
using morvanta::search::ResultGrid;
namespace search = morvanta::search;

namespace {

// Study texts chosen to land in every kind of cell: centred and left
// columns, texts that fit and texts far too long for their column, empty
// cells and characters outside Latin-1.
DataSetList Studies() {
  struct Row {
    const char *date, *time, *pid, *name, *sex, *modality, *bodypart, *description;
  };
  const Row rows[] = {
      {"20261207", "153000", "4711", "DOE^JOHN", "M", "CT", "CHEST", "CT Thorax"},
      {"20261206", "081502.123456", "PID-0000000000000000000042",
       "SCHNEIDER-MUELLENHOFF^KATHARINA^MARIA^^PROF. DR.", "F", "MR", "ABDOMENPELVISEXTREMITY",
       "Ganzkörper MRT mit und ohne Kontrastmittel, Nachuntersuchung"},
      {"19991231", "", "", "ÅNGSTRÖM^ÆLFRED", "OTHER", "CT\\MR\\PT\\NM\\US", "", ""},
      {"", "235959", "ΑΒΓ-Δ", "Иванов^Пётр", "", "", "HEAD", "Wj fly Ťyp"},
      {"20000101", "000000", "7", "X", "M", "US", "KNEE", "x"},
  };
  std::vector<DataSet> sets;
  int uid = 0;
  for (const Row& r : rows) {
    DataSet ds;
    auto& a = ds.Attributes();
    a.Add(0x0008, 0x0020, r.date);
    a.Add(0x0008, 0x0030, r.time);
    a.Add(0x0008, 0x0060, r.modality);
    a.Add(0x0008, 0x1030, r.description);
    a.Add(0x0010, 0x0010, r.name);
    a.Add(0x0010, 0x0020, r.pid);
    a.Add(0x0010, 0x0040, r.sex);
    a.Add(0x0018, 0x0015, r.bodypart);
    a.Add(0x0020, 0x000D, "1.2." + std::to_string(++uid));
    sets.push_back(std::move(ds));
  }
  return DataSetList(std::move(sets));
}

using Setup = std::function<void(ResultGrid&)>;

}  // namespace

Q_DECLARE_METATYPE(Setup)

class GridPaintTest : public QObject {
  Q_OBJECT

  std::unique_ptr<ResultGrid> grid_;
  std::unique_ptr<QWidget> other_;  // a second window to take activation away

  void clickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
    const QModelIndex index = grid_->model()->index(row - 1, search::kColPatientName - 1);
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, modifiers,
                      grid_->visualRect(index).center());
  }

  // The grid as it paints itself, and as the table view and the style paint
  // the same rows.
  std::pair<QImage, QImage> grabBoth() {
    QAbstractItemDelegate* own = grid_->itemDelegate();
    QStyledItemDelegate plain;
    const QImage ours = grid_->grab().toImage();
    grid_->setItemDelegate(&plain);
    const QImage style = grid_->grab().toImage();
    grid_->setItemDelegate(own);
    return {ours, style};
  }

 private slots:
  void init() {
    grid_ = std::make_unique<ResultGrid>();
    grid_->resize(1300, 260);
    grid_->show();
    QVERIFY(QTest::qWaitForWindowExposed(grid_.get()));
    grid_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(grid_.get()));
  }
  void cleanup() {
    grid_.reset();
    other_.reset();
  }

  void paintsAsTheStyle_data() {
    QTest::addColumn<Setup>("setup");
    QTest::newRow("rows unselected") << Setup([](ResultGrid&) {});
    QTest::newRow("one row selected, focus on it") << Setup([this](ResultGrid&) { clickRow(2); });
    QTest::newRow("rows selected, focus elsewhere") << Setup([this](ResultGrid& g) {
      clickRow(1);
      clickRow(2, Qt::ControlModifier);
      clickRow(4, Qt::ControlModifier);
      g.clearFocus();
    });
    // Fusion's inactive colours are its active ones: these are not, so a
    // paint in the wrong colour group shows.
    QTest::newRow("selected in an inactive window") << Setup([this](ResultGrid& g) {
      QPalette palette = g.palette();
      palette.setColor(QPalette::Inactive, QPalette::Highlight, Qt::darkGreen);
      palette.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::yellow);
      palette.setColor(QPalette::Inactive, QPalette::Text, Qt::darkRed);
      g.setPalette(palette);
      clickRow(3);
      clickRow(5, Qt::ShiftModifier);
      other_ = std::make_unique<QWidget>();
      other_->show();
      other_->activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(other_.get()));
      QVERIFY(!g.isActiveWindow());
    });
    QTest::newRow("no data row") << Setup([](ResultGrid& g) { g.Fill(DataSetList{}); });
    QTest::newRow("no rows") << Setup([](ResultGrid& g) { g.Clear(); });
    QTest::newRow("disabled, rows selected") << Setup([this](ResultGrid& g) {
      clickRow(2);
      clickRow(3, Qt::ShiftModifier);
      g.setEnabled(false);
    });
    QTest::newRow("no data row selected") << Setup([this](ResultGrid& g) {
      g.Fill(DataSetList{});
      clickRow(1);
      g.clearFocus();
    });
    QTest::newRow("sorted after a paint") << Setup([](ResultGrid& g) {
      g.grab();
      g.sortColumnClicked(search::kColPatientName);
      g.sortColumnClicked(search::kColPatientName);
    });
    // The texts were laid out for the old widths and must be laid out anew.
    QTest::newRow("columns narrowed after a paint") << Setup([](ResultGrid& g) {
      g.grab();
      for (int c = search::kColStudyDate; c <= search::kColAccessionNumber; ++c)
        g.setColumnWidth(c - 1, g.columnWidth(c - 1) * 2 / 5);
    });
    QTest::newRow("columns widened after a paint") << Setup([](ResultGrid& g) {
      g.grab();
      g.setColumnWidth(search::kColPatientName - 1, 520);
      g.setColumnWidth(search::kColStudyDescription - 1, 480);
    });
    QTest::newRow("font changed after a paint") << Setup([](ResultGrid& g) {
      g.grab();
      QFont font = g.font();
      font.setPointSizeF(8);
      g.setFont(font);
    });
    // A see-through highlight: the style's fills of a selected cell add up.
    QTest::newRow("translucent highlight") << Setup([this](ResultGrid& g) {
      QPalette palette = g.palette();
      palette.setColor(QPalette::Highlight, QColor(0, 0, 255, 60));
      g.setPalette(palette);
      clickRow(2);
      clickRow(4, Qt::ControlModifier);
      g.clearFocus();
    });
    QTest::newRow("scrolled right and down") << Setup([this](ResultGrid& g) {
      g.resize(640, 120);
      clickRow(3);
      g.horizontalScrollBar()->setValue(g.horizontalScrollBar()->maximum() / 2);
      g.verticalScrollBar()->setValue(2);
    });
    // Rows lower than the text: the glyphs are cut at the cell's edge.
    QTest::newRow("rows lower than the text") << Setup([this](ResultGrid& g) {
      g.verticalHeader()->setMinimumSectionSize(1);
      g.verticalHeader()->setDefaultSectionSize(9);
      clickRow(2);
      g.clearFocus();
    });
  }
  // A repaint of part of the grid, as after a click or a scroll: cells and
  // grid lines cut at the region's edges as the table view cuts them.
  void partialRepaint_data() {
    QTest::addColumn<QRegion>("region");
    QTest::newRow("one row") << QRegion(0, 31, 1300, 29);
    QTest::newRow("mid-cell rectangle") << QRegion(150, 12, 333, 71);
    QTest::newRow("two pieces") << QRegion(40, 5, 90, 20).united(QRegion(700, 64, 300, 90));
    QTest::newRow("below the rows") << QRegion(0, 140, 1300, 60);
  }
  void partialRepaint() {
    QFETCH(QRegion, region);
    grid_->Fill(Studies());
    clickRow(2);
    const auto render = [&] {
      QImage image(grid_->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
      image.fill(Qt::transparent);
      grid_->viewport()->render(&image, QPoint(), region);
      return image;
    };
    QAbstractItemDelegate* own = grid_->itemDelegate();
    QStyledItemDelegate plain;
    const QImage ours = render();
    grid_->setItemDelegate(&plain);
    const QImage style = render();
    grid_->setItemDelegate(own);
    QVERIFY(ours == style);
  }

  void paintsAsTheStyle() {
    QFETCH(Setup, setup);
    grid_->Fill(Studies());
    setup(*grid_);
    const auto [ours, style] = grabBoth();
    QCOMPARE(ours.size(), style.size());
    if (ours != style) {
      const QString dir = QDir::temp().filePath("grid_paint_test");
      QDir().mkpath(dir);
      const QString name = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
      ours.save(dir + "/" + name + "-ours.png");
      style.save(dir + "/" + name + "-style.png");
      int differing = 0;
      for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x) differing += ours.pixel(x, y) != style.pixel(x, y);
      QFAIL(qPrintable(QString("%1 pixels differ; pictures in %2").arg(differing).arg(dir)));
    }
  }
};

QTEST_MAIN(GridPaintTest)
#include "grid_paint_test.moc"
