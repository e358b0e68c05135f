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
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTest>
#include <functional>

#include "search_widgets/result_grid.h"

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

// Rows that differ in one attribute only.
DataSetList RowsWith(std::uint16_t group, std::uint16_t element, const QStringList& values) {
  std::vector<DataSet> sets;
  for (const QString& value : values) {
    DataSet ds;
    ds.Attributes().Add(0x0008, 0x0020, "20261207");
    ds.Attributes().Add(0x0020, 0x000D, "1.2.3");
    ds.Attributes().Set(group, element, value.toStdString());
    sets.push_back(std::move(ds));
  }
  return DataSetList(std::move(sets));
}

// One cell of a grab, in the grab's device pixels.
QImage Cell(const QImage& grab, const QTableView& view, int row, int column) {
  const QRect cell = view.visualRect(view.model()->index(row, column)).translated(view.viewport()->pos());
  const qreal ratio = grab.devicePixelRatio();
  return grab.copy(QRectF(QPointF(cell.topLeft()) * ratio, QSizeF(cell.size()) * ratio).toRect());
}

}  // namespace

Q_DECLARE_METATYPE(Setup)

class GridPaintTest : public QObject {
  Q_OBJECT

  std::unique_ptr<ResultGrid> grid_;
  std::unique_ptr<QWidget> other_;  // a second window to take activation away

  void clickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
    const QModelIndex index = grid_->model()->index(row - 1, search::ViewColumn(search::kColPatientName));
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
        g.setColumnWidth(search::ViewColumn(c), g.columnWidth(search::ViewColumn(c)) * 2 / 5);
    });
    QTest::newRow("columns widened after a paint") << Setup([](ResultGrid& g) {
      g.grab();
      g.setColumnWidth(search::ViewColumn(search::kColPatientName), 520);
      g.setColumnWidth(search::ViewColumn(search::kColStudyDescription), 480);
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

  // A value made to look like another (bidi overrides, characters that draw
  // nothing) never paints as that other value does.
  void receivedTextNeverLooksAlike_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("disguised");
    const int id = search::kColPatientId, name = search::kColPatientName;
    QTest::newRow("ID reversed by RLO") << id << "1234-99" << QStringLiteral("\u202e99-4321");
    QTest::newRow("name reversed by RLO") << name << "Smith^John" << QStringLiteral("\u202enhoJ^htimS");
    QTest::newRow("ID reversed in an RLI isolate") << id << "1234-99" << QStringLiteral("\u2067\u202e99-4321\u2069");
    QTest::newRow("left-to-right mark") << id << "123499" << QStringLiteral("1234\u200e99");
    QTest::newRow("Arabic letter mark") << id << "123499" << QStringLiteral("1234\u061c99");
    QTest::newRow("zero-width space") << id << "123499" << QStringLiteral("1234\u200b99");
    QTest::newRow("zero-width joiner") << id << "123499" << QStringLiteral("1234\u200d99");
    QTest::newRow("soft hyphen") << id << "123499" << QStringLiteral("1234\u00ad99");
    QTest::newRow("byte order mark") << name << "Smith^John" << QStringLiteral("\ufeffSmith^John");
    QTest::newRow("two C0 controls") << id << QStringLiteral("1234\u000199") << QStringLiteral("1234\u000299");
    QTest::newRow("two C1 controls") << id << QStringLiteral("1234\u008199") << QStringLiteral("1234\u008299");
    // The mark of a hidden character, received as text, is not that mark.
    QTest::newRow("a mark's text") << id << QStringLiteral("1234\u27e8U+200B\u27e999")
                                   << QStringLiteral("1234\u200b99");
  }
  void receivedTextNeverLooksAlike() {
    QFETCH(int, column);
    QFETCH(QString, plain);
    QFETCH(QString, disguised);
    const std::uint16_t element = column == search::kColPatientId ? 0x0020 : 0x0010;
    grid_->Fill(RowsWith(0x0010, element, {plain, disguised}));
    const QImage grab = grid_->grab().toImage();
    const QImage first = Cell(grab, *grid_, 0, search::ViewColumn(column));
    QVERIFY(first != Cell(grab, *grid_, 0, search::ViewColumn(search::kColSex)));  // the value is drawn at all
    QVERIFY(first != Cell(grab, *grid_, 1, search::ViewColumn(column)));
    // Only what is shown changes: the value is sorted and sent as received.
    QCOMPARE(grid_->cellText(2, column), QString(disguised).replace('^', ' '));
  }

  // A name in a right-to-left script reads as its plain text does in any
  // table: nothing of the grid's own shows in it.
  void rightToLeftNameReadsAsItself_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("Hebrew") << QStringLiteral("\u05db\u05d4\u05df^\u05de\u05e9\u05d4");
    QTest::newRow("Arabic") << QStringLiteral("\u0645\u062d\u0645\u062f^\u0639\u0644\u064a");
    QTest::newRow("Hebrew with a number") << QStringLiteral("\u05db\u05d4\u05df^\u05de\u05e9\u05d4^2");
  }
  void rightToLeftNameReadsAsItself() {
    QFETCH(QString, name);
    grid_->Fill(RowsWith(0x0010, 0x0010, {name}));
    const int column = search::ViewColumn(search::kColPatientName);
    QStandardItemModel model(1, search::kViewColumns);
    model.setItem(0, column, new QStandardItem(QString(name).replace('^', ' ')));
    // A table laid out as the grid, so the cell lands on the same pixels.
    QTableView plain;
    plain.setModel(&model);
    plain.setFont(grid_->font());
    plain.verticalHeader()->hide();
    for (int c = 0; c < search::kViewColumns; ++c) plain.setColumnWidth(c, grid_->columnWidth(c));
    plain.verticalHeader()->setDefaultSectionSize(grid_->rowHeight(0));
    plain.resize(grid_->size());
    plain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    const QModelIndex cell = plain.model()->index(0, column);
    QCOMPARE(plain.visualRect(cell).translated(plain.viewport()->pos()),
             grid_->visualRect(grid_->model()->index(0, column)).translated(grid_->viewport()->pos()));
    QCOMPARE(Cell(grid_->grab().toImage(), *grid_, 0, column), Cell(plain.grab().toImage(), plain, 0, column));
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
