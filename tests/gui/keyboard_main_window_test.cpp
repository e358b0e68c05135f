// Every command of the main window from the keyboard alone, on the real
// window: the menus by their mnemonics, the result grid by arrows, Space and
// Shift, its "Select" menu by Shift+F10 and the Menu key, and Send and the
// date shortcuts by Tab and Space.

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/frmMain.h"
#include "main_window_support.h"
#include "search_widgets/result_grid.h"

using morvanta::frmMain;
using morvanta::dicom::DataSet;
using morvanta::dicom::DataSetList;
using namespace morvanta::test;

namespace {

// n studies with distinct UIDs "1.2.<i>".
DataSetList Studies(int n) {
  std::vector<DataSet> items;
  for (int i = 1; i <= n; ++i) {
    DataSet ds;
    ds.Attributes().Add(0x0008, 0x0020, "20261207");
    ds.Attributes().Add(0x0010, 0x0020, "P" + std::to_string(i));
    ds.Attributes().Add(0x0020, 0x000D, "1.2." + std::to_string(i));
    items.push_back(std::move(ds));
  }
  return DataSetList(std::move(items));
}

// Presses Tab until `target` has the focus; false if a full round misses it.
bool TabTo(QWidget* target) {
  for (int i = 0; i < 40 && QApplication::focusWidget() != target; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  return QApplication::focusWidget() == target;
}

std::vector<int> Rows(int first, int last) {
  std::vector<int> rows;
  for (int r = first; r <= last; ++r) rows.push_back(r);
  return rows;
}

QMenu* OpenPopup() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }

}  // namespace

class KeyboardTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  }

  void altDOpensDateiAndBClosesTheWindow() {
    ProgramDir dir;
    dir.WriteSettings({"[Local]", "AET=WS1"});
    Window w(dir);
    w.ShowActive();
    QTest::keyClick(w.frm.get(), Qt::Key_D, Qt::AltModifier);
    QTRY_COMPARE(OpenPopup(), w.frm->mnuFile);
    QTest::keyClick(w.frm->mnuFile, Qt::Key_B);
    QTRY_VERIFY(!w.frm->isVisible());
    // Closed as by the close box: the height was saved.
    QVERIFY(dir.ReadSettings().contains("SearchHeight="));
  }

  void altSRunsTheSettingsCommand() {
    ProgramDir dir;
    Window w(dir);
    w.ShowActive();
    QSignalSpy settings(w.frm.get(), &frmMain::settingsRequested);
    QTest::keyClick(w.frm.get(), Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(settings.count(), 1);
    QVERIFY(OpenPopup() == nullptr);  // a command, not a menu
  }

  void gridSelectsWithArrowsSpaceAndShift() {
    ProgramDir dir;
    Window w(dir);
    w.ShowActive();
    frmMain& f = *w.frm;
    f.grid1->Fill(Studies(30));
    QVERIFY(!f.cmdSend->isEnabled());
    QVERIFY(TabTo(f.grid1));
    // The focus alone selects nothing; Space selects the current row.
    QVERIFY(f.grid1->selectedRows().empty());
    QCOMPARE(f.grid1->currentRow(), 1);
    QTest::keyClick(f.grid1, Qt::Key_Space);
    QCOMPARE(f.grid1->selectedRows(), std::vector<int>{1});
    QVERIFY(f.cmdSend->isEnabled());

    QTest::keyClick(f.grid1, Qt::Key_Down);
    QTest::keyClick(f.grid1, Qt::Key_Down);
    QCOMPARE(f.grid1->selectedRows(), std::vector<int>{3});
    QTest::keyClick(f.grid1, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(f.grid1, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(f.grid1->selectedRows(), (std::vector<int>{3, 4, 5}));
    // Ctrl moves without selecting; Ctrl+Space adds the row.
    QTest::keyClick(f.grid1, Qt::Key_Down, Qt::ControlModifier);
    QTest::keyClick(f.grid1, Qt::Key_Down, Qt::ControlModifier);
    QCOMPARE(f.grid1->currentRow(), 7);
    QTest::keyClick(f.grid1, Qt::Key_Space, Qt::ControlModifier);
    QCOMPARE(f.grid1->selectedRows(), (std::vector<int>{3, 4, 5, 7}));
    QCOMPARE(f.grid1->selectedStudyUids(),
             (std::vector<std::string>{"1.2.3", "1.2.4", "1.2.5", "1.2.7"}));

    // Tab leaves the grid for Send, the next in the focus order, and leaves
    // the selection as it was (no cell-to-cell walk inside the grid).
    QTest::keyClick(f.grid1, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.cmdSend);
    QCOMPARE(f.grid1->selectedRows(), (std::vector<int>{3, 4, 5, 7}));
    QTest::keyClick(f.cmdSend, Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), f.grid1);
    QCOMPARE(f.grid1->selectedRows(), (std::vector<int>{3, 4, 5, 7}));
    // Send runs on Space: without a Settings.ini it reports error 0 (and so
    // it did run).
    QVERIFY(TabTo(f.cmdSend));
    QTest::keyClick(f.cmdSend, Qt::Key_Space);
    QTRY_COMPARE(w.sink.shown.size(), std::size_t{1});
    QVERIFY(w.sink.shown[0].text.startsWith(QStringLiteral("0 - ")));
  }

  void selectMenuFromTheKeyboard_data() {
    QTest::addColumn<bool>("menuKey");
    QTest::newRow("Shift+F10") << false;
    QTest::newRow("Menu key") << true;
  }
  void selectMenuFromTheKeyboard() {
    QFETCH(bool, menuKey);
    ProgramDir dir;
    Window w(dir);
    w.ShowActive();
    frmMain& f = *w.frm;
    f.grid1->Fill(Studies(40));
    QVERIFY(TabTo(f.grid1));
    for (int i = 0; i < 4; ++i) QTest::keyClick(f.grid1, Qt::Key_Down, Qt::ControlModifier);
    QCOMPARE(f.grid1->currentRow(), 5);
    QVERIFY(f.grid1->selectedRows().empty());
    QVERIFY(!f.cmdSend->isEnabled());

    if (menuKey) {
      // The window system turns the Menu key into a keyboard context-menu
      // event for the focused widget.
      QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(0, 0),
                              f.grid1->mapToGlobal(QPoint(0, 0)));
      QApplication::sendEvent(f.grid1->viewport(), &event);
    } else {
      QTest::keyClick(f.grid1, Qt::Key_F10, Qt::ShiftModifier);
    }
    QTRY_COMPARE(OpenPopup(), f.mnuMark);
    // The menu opens by the current row, not somewhere else on the screen.
    const QRect row = f.grid1->visualRect(f.grid1->model()->index(4, 1));
    const QPoint rowBottom = f.grid1->viewport()->mapToGlobal(row.bottomLeft());
    QVERIFY2(std::abs(f.mnuMark->y() - rowBottom.y()) <= 10,
             qPrintable(QStringLiteral("menu at y %1, row bottom at %2")
                            .arg(f.mnuMark->y()).arg(rowBottom.y())));

    // Down, Return: "Select next 25 entries", the current row and the 25
    // after it. Ctrl+Down first leaves row 5 unselected, so Send was off.
    QTest::keyClick(f.mnuMark, Qt::Key_Down);
    QTest::keyClick(f.mnuMark, Qt::Key_Return);
    QTRY_VERIFY(!f.mnuMark->isVisible());
    QCOMPARE(f.grid1->selectedRows(), Rows(5, 30));
    QCOMPARE(f.grid1->currentRow(), 5);
    QVERIFY(f.cmdSend->isEnabled());
  }

  void menuKeyOnAnEmptyGridOpensNothing() {
    ProgramDir dir;
    Window w(dir);
    w.ShowActive();
    w.frm->grid1->setFocus();
    QTest::keyClick(w.frm->grid1, Qt::Key_F10, Qt::ShiftModifier);
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(0, 0),
                            w.frm->grid1->mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(w.frm->grid1->viewport(), &event);
    // popup() shows the menu at once: nothing is pending.
    QVERIFY(OpenPopup() == nullptr);
  }

  void shortcutButtonsRunOnSpace_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("Today") << "cmdToday";
    QTest::newRow("Yesterday") << "cmdYesterday";
    QTest::newRow("Week") << "cmdWeek";
  }
  void shortcutButtonsRunOnSpace() {
    QFETCH(QString, button);
    ProgramDir dir;
    Window w(dir);
    w.ShowActive();
    QSignalSpy search(w.frm.get(), &frmMain::searchRequested);
    auto* target = w.frm->findChild<QPushButton*>(button);
    QVERIFY(TabTo(target));
    QTest::keyClick(target, Qt::Key_Space);
    QCOMPARE(search.count(), 1);
    // No Settings.ini: the search reports error 0, as from the mouse.
    QTRY_COMPARE(w.sink.shown.size(), std::size_t{1});
  }
};

QTEST_MAIN(KeyboardTest)
#include "keyboard_main_window_test.moc"
