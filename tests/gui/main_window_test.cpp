// The main window's layout, keyboard, load, resize and closing, on the
// offscreen platform (96 DPI, no window frame: outer size = window size).

#include <QAccessible>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>

#include "main_window_support.h"
#include "search_widgets/search_panel.h"
#include "ui/optional_date_edit.h"

using namespace morvanta;
using namespace morvanta::test;

namespace {

const QStringList kNamed{
    "txtPatID",  "txtLastName", "txtFirstName", "cmdSearch", "grid1",
    "cmdSend",   "cmdToday",    "cmdYesterday", "cmdWeek",   "cmdNode_0",
    "cmdNode_1", "cmdNode_2",   "cmdNode_3",    "cmdNode_4", "cmdNode_5",
    "cmdNode_6", "cmdNode_7",   "dtpDOB",       "cboMod",    "dtpStudy1",
    "dtpStudy2"};

// The named control a widget belongs to (a date field's inner edit is the
// date field).
QString ControlOf(QWidget* w) {
  for (; w != nullptr; w = w->parentWidget()) {
    if (kNamed.contains(w->objectName())) return w->objectName();
  }
  return QStringLiteral("(none)");
}

std::optional<int> StoredHeight(const ProgramDir& dir) {
  const QByteArray text = dir.ReadSettings();
  const QList<QByteArray> lines = text.split('\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (lines[i].trimmed() != "[Size]") continue;
    for (qsizetype j = i + 1; j < lines.size(); ++j) {
      const QByteArray line = lines[j].trimmed();
      if (line.startsWith("SearchHeight=")) {
        bool ok = false;
        const int value = line.mid(13).toInt(&ok);
        if (ok) return value;
      }
      if (line.startsWith('[')) break;
    }
  }
  return std::nullopt;
}

// The user drags the frame: the outer size is what the user sees.
void ResizeOuter(QWidget& window, int width, int height) {
  const QSize frame = window.frameGeometry().size() - window.size();
  window.resize(width - frame.width(), height - frame.height());
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void controlsSitAtTheirDesignedPixels_data();
  void controlsSitAtTheirDesignedPixels();
  void captionsFontsAndStartState();
  void tabVisitsControlsInOrder_data();
  void tabVisitsControlsInOrder();
  void enterRunsSearchFromTheSearchFields_data();
  void enterRunsSearchFromTheSearchFields();
  void enterOnAButtonPressesThatButton();
  void heightComesFromSettings_data();
  void heightComesFromSettings();
  void gridFollowsOuterSize();
  void closingSavesHeight_data();
  void closingSavesHeight();
  void startsWithoutSettingsFile();
  void getIniShowsOrHidesDateRange_data();
  void getIniShowsOrHidesDateRange();
  void checkIniLoadsArchiveSettings();
  void dateFieldTogglesWithSpaceAndTakesTypedDate();
  void calendarPickedFirstIsAChoice();
  void settingsCommandSignals();
  void messageBoxShowsSettingsTextAsWritten();
};

void MainWindowTest::controlsSitAtTheirDesignedPixels_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("parent");
  QTest::addColumn<QRect>("rect");
  QTest::newRow("cmdSend") << "cmdSend" << "client" << QRect(573, 3, 274, 208);
  QTest::newRow("cmdYesterday") << "cmdYesterday" << "client" << QRect(195, 3, 175, 34);
  QTest::newRow("fraSearch") << "fraSearch" << "client" << QRect(3, 39, 559, 214);
  QTest::newRow("picSearch") << "picSearch" << "fraSearch" << QRect(6, 12, 550, 199);
  QTest::newRow("txtPatID") << "txtPatID" << "picSearch" << QRect(6, 21, 202, 21);
  QTest::newRow("cmdSearch") << "cmdSearch" << "picSearch" << QRect(468, 15, 79, 70);
  QTest::newRow("dtpStudy2") << "dtpStudy2" << "picSearch" << QRect(228, 93, 115, 25);
  QTest::newRow("nodeButtons") << "nodeButtons" << "picSearch" << QRect(6, 129, 529, 64);
  QTest::newRow("cmdNode_0") << "cmdNode_0" << "nodeButtons" << QRect(0, 0, 124, 28);
  QTest::newRow("cmdNode_5") << "cmdNode_5" << "nodeButtons" << QRect(135, 36, 124, 28);
  QTest::newRow("cmdNode_7") << "cmdNode_7" << "nodeButtons" << QRect(405, 36, 124, 28);
}

void MainWindowTest::controlsSitAtTheirDesignedPixels() {
  QFETCH(QString, name);
  QFETCH(QString, parent);
  QFETCH(QRect, rect);
  ProgramDir dir;
  Window w(dir);
  QCOMPARE(w.frm->logicalDpiY(), 96);
  auto* control = w.frm->findChild<QWidget*>(name);
  QVERIFY(control != nullptr);
  QCOMPARE(control->parentWidget()->objectName(), parent);
  QCOMPARE(control->geometry(), rect);
}

void MainWindowTest::captionsFontsAndStartState() {
  ProgramDir dir;
  Window w(dir);
  frmMain& f = *w.frm;
  QCOMPARE(f.windowTitle(), QStringLiteral("Morvanta"));
  QCOMPARE(f.cmdSend->text(), QStringLiteral("Send"));
  QVERIFY(!f.cmdSend->isEnabled());
  QCOMPARE(f.cmdSend->font().pointSizeF(), 36.0);
  QVERIFY(f.cmdSend->font().bold());
  QCOMPARE(f.panel().cmdSearch->font().pointSizeF(), 11.25);
  QVERIFY(f.panel().cmdSearch->isDefault());
  QCOMPARE(f.lblSearch[8]->text(), QStringLiteral("Count:"));
  QCOMPARE(f.lblSearch[8]->font().pointSizeF(), 15.75);
  QCOMPARE(f.lblSearch[8]->pos(), QPoint(573, 222));
  // Sized to its text: nothing cut off.
  QVERIFY(f.lblSearch[8]->width() >= f.lblSearch[8]->sizeHint().width());
  QVERIFY(f.lblListCount->text().isEmpty());
  QVERIFY(f.lblSearch[6]->font().bold());
  QCOMPARE(f.lblSearch[6]->text(), QStringLiteral("Study Date:"));

  // The program's own icon, drawn once the window has been painted.
  QVERIFY(f.windowIcon().cacheKey() == QApplication::windowIcon().cacheKey());
  w.ShowActive();
  QTRY_VERIFY(f.windowIcon().cacheKey() != QApplication::windowIcon().cacheKey());
  QCOMPARE(f.windowIcon().availableSizes(), QList<QSize>{QSize(32, 32)});

  // Menus: "Datei" with "Beenden", "Settings" on the bar itself, and the
  // hidden "Select" menu.
  const QList<QAction*> bar = f.menuBar()->actions();
  QCOMPARE(bar.size(), 2);
  QCOMPARE(bar[0]->menu(), f.mnuFile);
  QCOMPARE(f.mnuFile->title(), QStringLiteral("&Datei"));
  QCOMPARE(f.mnuFile->actions(), QList<QAction*>{f.mnuClose});
  QCOMPARE(f.mnuClose->text(), QStringLiteral("&Beenden"));
  QCOMPARE(bar[1], f.mnuSettings);
  QVERIFY(f.mnuSettings->menu() == nullptr);
  QCOMPARE(f.mnuMarkAll->text(), QStringLiteral("Select next 25 entries"));
  QVERIFY(!bar.contains(f.mnuMark->menuAction()));

  // The modality list: an empty first entry, then the eight in order, and
  // the user may type another.
  QStringList items;
  for (int i = 0; i < f.panel().cboMod->count(); ++i) items << f.panel().cboMod->itemText(i);
  QCOMPARE(items, (QStringList{"", "CR", "CT", "DX", "MR", "MG", "US", "XA"}));
  QVERIFY(f.panel().cboMod->isEditable());
  QCOMPARE(f.panel().cboMod->currentText(), QString());

  // Every picker starts without a date, showing today.
  for (ui::OptionalDateEdit* d : {f.panel().dtpDOB, f.panel().dtpStudy1, f.panel().dtpStudy2}) {
    QVERIFY2(!d->date().has_value(), qPrintable(d->objectName()));
    QCOMPARE(d->shownDate(), QDate(2026, 12, 7));
  }

  w.ShowActive();
  QVERIFY(!f.panel().txtPatName->isVisible());
  QVERIFY(f.panel().dtpStudy1->isVisible());  // visible until GetINI first runs
  QCOMPARE(QApplication::focusWidget(), f.panel().txtPatID);
}

void MainWindowTest::tabVisitsControlsInOrder_data() {
  QTest::addColumn<QString>("studyDate");
  QTest::addColumn<QStringList>("expected");
  const QStringList head{"txtPatID", "txtLastName", "txtFirstName", "cmdSearch",
                         "grid1", "cmdToday", "cmdYesterday", "cmdWeek",
                         "cmdNode_0", "cmdNode_2", "dtpDOB", "cboMod"};
  QTest::newRow("date range shown")
      << "1" << head + QStringList{"dtpStudy1", "dtpStudy2", "txtPatID"};
  QTest::newRow("date range hidden") << "0" << head + QStringList{"txtPatID"};
}

void MainWindowTest::tabVisitsControlsInOrder() {
  QFETCH(QString, studyDate);
  QFETCH(QStringList, expected);
  ProgramDir dir;
  dir.WriteSettings({"[Forward]", "Node0=CT|CTAE", "Node2=MR|MRAE",
                     "[GENERAL]", "StudyDate=" + studyDate});
  Window w(dir);
  w.frm->GetINI();
  w.ShowActive();
  QStringList visited{ControlOf(QApplication::focusWidget())};
  while (visited.size() < expected.size()) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << ControlOf(QApplication::focusWidget());
  }
  QCOMPARE(visited, expected);
}

void MainWindowTest::enterRunsSearchFromTheSearchFields_data() {
  QTest::addColumn<QString>("field");
  QTest::addColumn<int>("key");
  for (const char* name : {"txtPatID", "txtLastName", "txtFirstName", "cboMod", "dtpDOB", "grid1"}) {
    QTest::newRow(name) << name << int(Qt::Key_Return);
  }
  QTest::newRow("txtPatID keypad Enter") << "txtPatID" << int(Qt::Key_Enter);
}

void MainWindowTest::enterRunsSearchFromTheSearchFields() {
  QFETCH(QString, field);
  QFETCH(int, key);
  ProgramDir dir;
  Window w(dir);
  w.ShowActive();
  QSignalSpy search(w.frm.get(), &frmMain::searchRequested);
  auto* control = w.frm->findChild<QWidget*>(field);
  QVERIFY(control != nullptr);
  control->setFocus();
  QTRY_VERIFY(control->isAncestorOf(QApplication::focusWidget()) ||
              QApplication::focusWidget() == control);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
  QCOMPARE(search.count(), 1);
}

void MainWindowTest::enterOnAButtonPressesThatButton() {
  ProgramDir dir;
  dir.WriteSettings({"[Forward]", "Node3=US|USAE"});
  Window w(dir);
  w.ShowActive();
  QSignalSpy search(w.frm.get(), &frmMain::searchRequested);
  w.frm->cmdNode[3]->setFocus();
  QTRY_COMPARE(QApplication::focusWidget(), w.frm->cmdNode[3]);
  QTest::keyClick(w.frm->cmdNode[3], Qt::Key_Return);
  QCOMPARE(search.count(), 0);
  QCOMPARE(w.frm->settings().ActiveForwardAET, std::string("USAE"));
}

void MainWindowTest::heightComesFromSettings_data() {
  QTest::addColumn<QStringList>("size");
  QTest::addColumn<int>("height");  // pixels; -1: the designed height
  QTest::newRow("missing: 10000") << QStringList{} << 667;
  QTest::newRow("9000") << QStringList{"[Size]", "SearchHeight=9000"} << 600;
  QTest::newRow("7000") << QStringList{"[Size]", "SearchHeight=7000"} << 467;
  QTest::newRow("not a number") << QStringList{"[Size]", "SearchHeight=abc"} << -1;
  QTest::newRow("empty") << QStringList{"[Size]", "SearchHeight="} << -1;
  QTest::newRow("negative") << QStringList{"[Size]", "SearchHeight=-3000"} << -1;
}

void MainWindowTest::heightComesFromSettings() {
  QFETCH(QStringList, size);
  QFETCH(int, height);
  ProgramDir dir;
  if (!size.isEmpty()) dir.WriteSettings(size);
  Window w(dir);
  const int designed = Px(7950) + w.frm->menuBar()->sizeHint().height();
  const int expected = height < 0 ? designed : height;
  QCOMPARE(w.frm->frameGeometry().height(), expected);
  QCOMPARE(w.frm->frameGeometry().width(), Px(13000));
  w.ShowActive();
  if (height < 0) {
    // The designed client area stays; the frame comes on top of it.
    QTRY_COMPARE(w.frm->height(), designed);
    QVERIFY(w.frm->frameGeometry().height() > designed);
  } else {
    QTRY_COMPARE(w.frm->frameGeometry().height(), expected);
  }
}

void MainWindowTest::gridFollowsOuterSize() {
  ProgramDir dir;
  dir.WriteSettings({"[Size]", "SearchHeight=7000"});
  Window w(dir);
  w.ShowActive();
  QTableView* grid = w.frm->grid1;
  // 7000 twips high: the grid is 7000 - 4720 = 2280 twips, 152 pixels; and
  // 13000 - 250 twips wide.
  QTRY_COMPARE(grid->size(), QSize(Px(12750), Px(2280)));
  QCOMPARE(grid->pos(), QPoint(3, 258));

  // Lower than 4720 twips: the height is not applied, the width is.
  ResizeOuter(*w.frm, Px(10000), Px(4000));
  QTRY_COMPARE(w.frm->frameGeometry().size(), QSize(Px(10000), Px(4000)));
  QCOMPARE(grid->size(), QSize(Px(10000 - 250), Px(2280)));

  // Tall again: the grid follows.
  ResizeOuter(*w.frm, Px(12000), Px(9000));
  QTRY_COMPARE(grid->size(), QSize(Px(12000 - 250), Px(9000 - 4720)));
  QCOMPARE(grid->pos(), QPoint(3, 258));
  QCOMPARE(w.frm->cmdSend->geometry(), QRect(573, 3, 274, 208));
}

void MainWindowTest::closingSavesHeight_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("close box") << "close";
  QTest::newRow("Beenden") << "menu";
  QTest::newRow("session end") << "quit";
}

void MainWindowTest::closingSavesHeight() {
  QFETCH(QString, how);
  ProgramDir dir;
  dir.WriteSettings({"; kept as written", "[Forward]", "Node0=CT|CTAE",
                     "[Size]", "SearchHeight=abc"});
  Window w(dir);
  w.ShowActive();
  ResizeOuter(*w.frm, Px(12000), Px(8400));
  QTRY_COMPARE(w.frm->frameGeometry().height(), Px(8400));

  if (how == "close") {
    QVERIFY(w.frm->close());
  } else if (how == "menu") {
    w.frm->mnuClose->trigger();
  } else {
    // The application quitting with the window still open.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
  }
  QCOMPARE(StoredHeight(dir), std::optional<int>(8400));
  const QByteArray text = dir.ReadSettings();
  QVERIFY(text.startsWith("; kept as written\r\n[Forward]\r\nNode0=CT|CTAE\r\n"));
  if (how != "quit") QVERIFY(!w.frm->isVisible());
}

void MainWindowTest::startsWithoutSettingsFile() {
  ProgramDir dir;
  Window w(dir);
  w.ShowActive();
  for (QPushButton* b : w.frm->cmdNode) QVERIFY(!b->isVisible());
  QCOMPARE(w.frm->frameGeometry().height(), Px(10000));
  QVERIFY(w.sink.shown.empty());
  QVERIFY(!dir.HasSettings());

  // The first archive operation finds out: logged and shown, the values of
  // the last load kept.
  dir.WriteSettings({"[Query]", "Port=104"});
  w.frm->GetINI();
  QVERIFY(QFile::remove(dir.settingsFile()));
  QVERIFY(!w.frm->CheckINI());
  QCOMPARE(w.sink.shown.size(), std::size_t{1});
  QCOMPARE(w.sink.shown[0].text, QStringLiteral("0 - Settings.ini existiert nicht."));
  QCOMPARE(w.sink.shown[0].title, QStringLiteral("Morvanta"));
  QVERIFY(w.sink.shown[0].icon == ui::MessageIcon::Critical);
  QCOMPARE(w.frm->settings().QueryPort, 104);
  QFile error(QString::fromStdString(w.frm->log().ErrorLogPath().string()));
  QVERIFY(error.open(QIODevice::ReadOnly));
  QCOMPARE(error.readAll(),
           QByteArray("07.12.2026 15:21:53 - 0 - Settings.ini existiert nicht. - CheckInI\r\n"));

  // Closing does not make a stub holding the height alone, which would hide
  // the missing file at the next start; nor is that an error to log.
  w.frm->close();
  QVERIFY(!dir.HasSettings());
  QVERIFY(error.seek(0));
  QCOMPARE(error.readAll().count('\n'), 1);
}

void MainWindowTest::getIniShowsOrHidesDateRange_data() {
  QTest::addColumn<QString>("before");  // value of a first GetINI; "" = none
  QTest::addColumn<QString>("value");   // "(missing)": no key
  QTest::addColumn<bool>("shown");
  QTest::newRow("1") << "" << "1" << true;
  QTest::newRow("-1") << "" << "-1" << true;
  QTest::newRow("0") << "" << "0" << false;
  QTest::newRow("missing") << "" << "(missing)" << false;
  QTest::newRow("True") << "" << "True" << true;
  QTest::newRow("yes keeps off") << "" << "yes" << false;
  QTest::newRow("yes keeps on") << "1" << "yes" << true;
  QTest::newRow("missing after on") << "1" << "(missing)" << false;
}

void MainWindowTest::getIniShowsOrHidesDateRange() {
  QFETCH(QString, before);
  QFETCH(QString, value);
  QFETCH(bool, shown);
  ProgramDir dir;
  Window w(dir);
  w.ShowActive();
  if (!before.isEmpty()) {
    dir.WriteSettings({"[GENERAL]", "StudyDate=" + before});
    w.frm->GetINI();
  }
  dir.WriteSettings(value == "(missing)" ? QStringList{"[GENERAL]"}
                                         : QStringList{"[GENERAL]", "StudyDate=" + value});
  w.frm->GetINI();
  QCOMPARE(w.frm->settings().ExtStudyDate, shown);
  for (QWidget* c : {static_cast<QWidget*>(w.frm->lblSearch[6]),
                     static_cast<QWidget*>(w.frm->panel().dtpStudy1),
                     static_cast<QWidget*>(w.frm->lblSearch[7]),
                     static_cast<QWidget*>(w.frm->panel().dtpStudy2)}) {
    QVERIFY2(c->isVisible() == shown, qPrintable(c->objectName()));
  }
}

void MainWindowTest::checkIniLoadsArchiveSettings() {
  ProgramDir dir;
  Window w(dir);
  dir.WriteSettings({"[Local]", "AET=WS1", "[Query]", "AET=ARCHIVE",
                     "IP=127.0.0.1", "Port=11112", "[GENERAL]", "StudyDate=0"});
  QVERIFY(w.frm->CheckINI());
  QVERIFY(w.sink.shown.empty());
  const SettingsValues& s = w.frm->settings();
  QCOMPARE(s.LocalAET, std::string("WS1"));
  QCOMPARE(s.QueryAET, std::string("ARCHIVE"));
  QCOMPARE(s.QueryIP, std::string("127.0.0.1"));
  QCOMPARE(s.QueryPort, 11112);
  QVERIFY(w.frm->panel().dtpStudy1->isHidden());
}

void MainWindowTest::dateFieldTogglesWithSpaceAndTakesTypedDate() {
  ProgramDir dir;
  Window w(dir);
  w.ShowActive();
  ui::OptionalDateEdit* dob = w.frm->panel().dtpDOB;
  QSignalSpy changed(dob, &ui::OptionalDateEdit::dateChanged);
  dob->setFocus();
  QTRY_COMPARE(QApplication::focusWidget(), dob->dateEdit());

  QTest::keyClick(dob->dateEdit(), Qt::Key_Space);
  QCOMPARE(dob->date(), std::optional<QDate>(QDate(2026, 12, 7)));
  QTest::keyClick(dob->dateEdit(), Qt::Key_Space);
  QCOMPARE(dob->date(), std::optional<QDate>());
  QCOMPARE(changed.count(), 2);

  // Typing a date into the empty field makes it the value.
  w.frm->cmdNode[0]->setFocus();
  dob->setFocus(Qt::TabFocusReason);
  QTest::keyClicks(dob->dateEdit(), QStringLiteral("24031961"));
  QCOMPARE(dob->date(), std::optional<QDate>(QDate(1961, 3, 24)));

  // The box cleared with the mouse: no date again.
  QTest::mouseClick(dob->checkBox(), Qt::LeftButton);
  QCOMPARE(dob->date(), std::optional<QDate>());

  // Enter reports the shown date again: still no date.
  QTest::keyClick(dob->dateEdit(), Qt::Key_Return);
  QCOMPARE(dob->date(), std::optional<QDate>());

  // Picking the shown date in the calendar is a choice, though it changes
  // nothing in the edit.
  QDateEdit* edit = dob->dateEdit();
  QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() - 4, edit->height() / 2));
  QCalendarWidget* calendar = dob->dateEdit()->calendarWidget();
  QTRY_VERIFY(calendar->isVisible());
  QTest::keyClick(calendar->findChild<QTableView*>(), Qt::Key_Return);
  QTRY_COMPARE(dob->date(), std::optional<QDate>(QDate(1961, 3, 24)));
}

// The calendar is made only when the field is first used: opened before any
// key reaches the field, picking the date it shows must still set the field.
void MainWindowTest::calendarPickedFirstIsAChoice() {
  ProgramDir dir;
  Window w(dir);
  w.ShowActive();
  ui::OptionalDateEdit* dob = w.frm->panel().dtpDOB;
  QDateEdit* edit = dob->dateEdit();
  QCOMPARE(dob->date(), std::optional<QDate>());
  QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() - 4, edit->height() / 2));
  QCalendarWidget* calendar = edit->findChild<QCalendarWidget*>();
  QVERIFY(calendar != nullptr);
  QTRY_VERIFY(calendar->isVisible());
  QTest::keyClick(calendar->findChild<QTableView*>(), Qt::Key_Return);
  QTRY_COMPARE(dob->date(), std::optional<QDate>(dob->shownDate()));
}

void MainWindowTest::settingsCommandSignals() {
  ProgramDir dir;
  Window w(dir);
  QSignalSpy settings(w.frm.get(), &frmMain::settingsRequested);
  w.frm->mnuSettings->trigger();
  QCOMPARE(settings.count(), 1);
}

// Settings.ini's values reach a message box as the characters they are:
// markup in them is neither drawn nor able to hide the rest of the message.
void MainWindowTest::messageBoxShowsSettingsTextAsWritten() {
  ProgramDir dir;
  dir.WriteSettings({"[Query]", "AET=<b>ARCHIVE</b>", "IP=127.0.0.1", "Port=<h2>Call IT at 555-0100</h2><!--",
                     "[GENERAL]", "StudyDate=0"});
  ui::BoxMessageSink boxes(nullptr);
  frmMain frm(dir.path(), FixedNow, &boxes);
  frm.show();
  QApplication::setActiveWindow(&frm);
  QVERIFY(QTest::qWaitForWindowActive(&frm));

  // What the box's text reads as, to the eye and to a screen reader.
  QString shown;
  QTimer poll;
  const QDeadlineTimer deadline(10000);
  connect(&poll, &QTimer::timeout, &poll, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box != nullptr && box->isVisible()) {
      poll.stop();
      auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
      if (label != nullptr) shown = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
      QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    } else if (deadline.hasExpired()) {
      poll.stop();
    }
  });
  poll.start(5);
  QTest::keyClicks(frm.panel().txtPatID, QStringLiteral("*"));
  QTest::mouseClick(frm.panel().cmdSearch, Qt::LeftButton);
  QVERIFY2(shown.contains(QStringLiteral("Port \"<h2>Call IT at 555-0100</h2><!--\" of <b>ARCHIVE</b>")),
           qPrintable(shown));
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
