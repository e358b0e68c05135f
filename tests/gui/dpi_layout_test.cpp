// The main window and the settings dialogs keep their designed proportions on
// screens of 96, 120 and 144 DPI. Positions are designed in twips and fonts in
// points, so on a screen of D DPI a control of W twips is W * D / 1440 device
// pixels wide (at 144 DPI, 1.5 times what it is at 96 DPI) and a font of P
// points is P * D / 72 pixels high.
//
// Qt reaches such a screen in one of two ways, and both are run: with
// high-DPI scaling on (the default) widgets keep 96-DPI-sized device-
// independent pixels and the device pixel ratio carries the rest; with it off
// the logical DPI itself is D and our twips conversion must do all of it.
// Each ctest entry runs this program at one DPI, named in MORVANTA_TEST_DPI.

#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <cmath>
#include <memory>

#include "app/frmMain.h"
#include "search_widgets/search_panel.h"
#include "main_window_support.h"
#include "search_widgets/result_grid.h"
#include "settings_test_support.h"
#include "settings_ui/dialog_frame.h"
#include "settings_ui/frm_login.h"
#include "settings_ui/frm_settings.h"

using morvanta::frmMain;
namespace test = morvanta::test;
namespace sui = morvanta::settings_ui;

namespace {

double ExpectedDpi() {
  bool ok = false;
  const double dpi = qEnvironmentVariable("MORVANTA_TEST_DPI").toDouble(&ok);
  return ok ? dpi : 0;
}

// What one device-independent pixel of `w` is in device pixels.
double Ratio(const QWidget* w) { return w->devicePixelRatioF(); }

// The DPI the widget is really laid out for, in device pixels.
double EffectiveDpi(const QWidget* w) { return w->logicalDpiY() * Ratio(w); }

struct Designed {
  int left, top, width, height;  // twips, relative to the parent
};

// Compares the widget's rectangle within its parent, in device pixels, with
// the designed twips at `dpi`. Each side may be off by the rounding of one
// device-independent pixel plus the rounding of the designed value.
QString Mismatch(const QWidget* w, const Designed& d, double dpi, bool checkSize = true) {
  const double r = Ratio(w);
  const QRect g = w->geometry();
  const double got[4] = {g.x() * r, g.y() * r, g.width() * r, g.height() * r};
  const double want[4] = {d.left * dpi / 1440, d.top * dpi / 1440, d.width * dpi / 1440,
                          d.height * dpi / 1440};
  const double tolerance = 0.5 * r + 0.5;
  for (int i = 0; i < (checkSize ? 4 : 2); ++i) {
    if (std::abs(got[i] - want[i]) > tolerance) {
      return QStringLiteral("%1: device rect %2,%3 %4x%5, designed %6,%7 %8x%9 at %10 DPI")
          .arg(w->objectName())
          .arg(got[0]).arg(got[1]).arg(got[2]).arg(got[3])
          .arg(want[0]).arg(want[1]).arg(want[2]).arg(want[3])
          .arg(dpi);
    }
  }
  return {};
}

// The font's pixel height on the device against its point size.
QString FontMismatch(const QWidget* w, qreal points, double dpi) {
  const double got = QFontInfo(w->font()).pixelSize() * Ratio(w);
  const double want = points * dpi / 72;
  if (std::abs(got - want) > 0.5 * Ratio(w) + 1) {
    return QStringLiteral("%1: font %2 device px for %3 pt, want %4 at %5 DPI")
        .arg(w->objectName()).arg(got).arg(points).arg(want).arg(dpi);
  }
  return {};
}

template <class T = QWidget>
T* Child(QObject* parent, const char* name) {
  return parent->findChild<T*>(QString::fromLatin1(name));
}

}  // namespace

class DpiLayoutTest : public QObject {
  Q_OBJECT

 private:
  double dpi_ = 0;

 private slots:
  void initTestCase() {
    dpi_ = ExpectedDpi();
    QVERIFY2(dpi_ > 0, "MORVANTA_TEST_DPI names the DPI this run is for");
    // A platform that ignored the requested DPI would make every check below
    // pass at 96 DPI and prove nothing.
    QWidget probe;
    QCOMPARE(EffectiveDpi(&probe), dpi_);
  }

  void mainWindowControls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("checkSize");
    const auto row = [](const char* name, int l, int t, int w, int h, bool size = true) {
      QTest::newRow(name) << QString::fromLatin1(name) << l << t << w << h << size;
    };
    row("cmdToday", 45, 45, 2670, 510);
    row("cmdWeek", 5760, 45, 2670, 510);
    row("cmdSend", 8595, 45, 4110, 3120);
    row("fraSearch", 45, 585, 8385, 3210);
    row("picSearch", 90, 180, 8250, 2985);
    row("txtPatID", 90, 315, 3030, 315);
    row("cmdSearch", 7020, 225, 1185, 1050);
    row("txtFirstName", 3420, 945, 2355, 330);
    row("cboMod", 6030, 945, 825, 330);
    row("dtpStudy2", 3420, 1395, 1725, 375);
    row("nodeButtons", 90, 1935, 7935, 960);
    row("cmdNode_7", 6075, 540, 1860, 420);
    // Sized to their text, or by the resize rule: the corner only.
    row("lblSearch_8", 8595, 3330, 0, 0, false);
    row("lblListCount", 9765, 3330, 0, 0, false);
    row("lblSearch_6", 135, 1485, 0, 0, false);
    row("grid1", 45, 3870, 0, 0, false);
  }
  void mainWindowControls() {
    QFETCH(QString, name);
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, checkSize);
    test::ProgramDir dir;
    test::Window w(dir);
    w.ShowActive();
    auto* control = w.frm->findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    const QString wrong = Mismatch(control, {left, top, width, height}, dpi_, checkSize);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
  }

  void mainWindowFontsAndColumns() {
    test::ProgramDir dir;
    test::Window w(dir);
    w.ShowActive();
    frmMain& f = *w.frm;
    for (const auto& [widget, points] : std::vector<std::pair<QWidget*, qreal>>{
             {f.panel().txtPatID, 9}, {f.cmdWeek, 9.75}, {f.cmdSend, 36},
             {f.panel().cmdSearch, 11.25}, {f.lblListCount, 15.75}, {f.grid1, 11.25}}) {
      const QString wrong = FontMismatch(widget, points, dpi_);
      QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    }
    // Column widths are designed in pixels of a 96 DPI screen.
    const double r = Ratio(f.grid1);
    for (const auto& [column, at96] :
         std::vector<std::pair<int, int>>{{morvanta::search::kColStudyDate, 110},
                                          {morvanta::search::kColPatientName, 200},
                                          {morvanta::search::kColSex, 35}}) {
      const double got = f.grid1->columnWidth(morvanta::search::ViewColumn(column)) * r;
      const double want = at96 * dpi_ / 96;
      QVERIFY2(std::abs(got - want) <= 0.5 * r + 0.5,
               qPrintable(QStringLiteral("column %1: %2 device px, want %3")
                              .arg(column).arg(got).arg(want)));
    }
    // Proportions that the eye checks: "Send" fits its button at every DPI,
    // and the count label starts where it was designed to, right of "Count:".
    QVERIFY(f.cmdSend->fontMetrics().horizontalAdvance(f.cmdSend->text()) < f.cmdSend->width());
    QVERIFY(f.lblSearch[8]->height() <= f.grid1->y() - f.lblSearch[8]->y());
  }

  void loginDialog_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("txtPW") << "txtPW" << 1305 << 180 << 2940 << 330;
    QTest::newRow("cmdOK") << "cmdOK" << 1710 << 675 << 1230 << 375;
    QTest::newRow("cmdCancel") << "cmdCancel" << 3015 << 675 << 1230 << 375;
  }
  void loginDialog() {
    QFETCH(QString, name);
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(int, width);
    QFETCH(int, height);
    test::RecordingSink sink;
    sui::frmLogin login(nullptr, sink);
    login.show();
    QVERIFY(QTest::qWaitForWindowExposed(&login));
    auto* control = login.findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QString wrong = Mismatch(control, {left, top, width, height}, dpi_);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    // The dialog's fixed client area, 4395 x 1170 twips.
    const double r = Ratio(&login);
    QVERIFY2(std::abs(login.width() * r - 4395 * dpi_ / 1440) <= 0.5 * r + 0.5 &&
                 std::abs(login.height() * r - 1170 * dpi_ / 1440) <= 0.5 * r + 0.5,
             qPrintable(QStringLiteral("login client %1x%2 device px")
                            .arg(login.width() * r).arg(login.height() * r)));
    wrong = FontMismatch(control, morvanta::settings_ui::kDialogPointSize, dpi_);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
  }

  void settingsDialog_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("lvNodes") << "lvNodes" << 135 << 135 << 6270 << 2895;
    QTest::newRow("Frame1_0") << "Frame1_0" << 3060 << 3825 << 3390 << 1950;
    QTest::newRow("txtQuAET in Frame1_0") << "txtQuAET" << 180 << 540 << 3030 << 285;
    QTest::newRow("txtLocAET in Frame1_1") << "txtLocAET" << 135 << 540 << 2400 << 285;
    QTest::newRow("chkExtStudy in fraSettings") << "chkExtStudy" << 135 << 225 << 2445 << 240;
  }
  void settingsDialog() {
    QFETCH(QString, name);
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(int, width);
    QFETCH(int, height);
    sui::testing::FakeHost host;
    host.WriteSettings("[Query]\nAET=ARCHIVE\nIP=127.0.0.1\nPort=104\n");
    sui::frmSettings settings(nullptr, host);
    settings.show();
    QVERIFY(QTest::qWaitForWindowExposed(&settings));
    auto* control = settings.findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    const QString wrong = Mismatch(control, {left, top, width, height}, dpi_);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
  }
};

QTEST_MAIN(DpiLayoutTest)
#include "dpi_layout_test.moc"
