// Search on the wired main window against morvanta-archive on a free loopback
// port: the identifier the archive received, what the window shows, and that
// the window stays answerable while the archive works.

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>

#include "app_support.h"
#include "search_widgets/search_panel.h"
#include "search/query.h"
#include "ui/optional_date_edit.h"

using namespace morvanta;
using namespace morvanta::test;

namespace {

const QString kName = QStringLiteral("0010,0010");
const QString kBirth = QStringLiteral("0010,0030");
const QString kId = QStringLiteral("0010,0020");
const QString kModality = QStringLiteral("0008,0060");
const QString kStudyDate = QStringLiteral("0008,0020");

// An empty or absent key asks for nothing (PS3.4 C.2.2.2.3, universal matching).
QString Key(const QJsonObject& find, const QString& tag) {
  return find.value(QStringLiteral("identifier")).toObject().value(tag).toString();
}

Clock ClockOn(QDate day) {
  return [day] {
    return LocalDateTime{day.year(), day.month(), day.day(), 9, 30, 0};
  };
}

std::optional<QDate> Opt(const QDate& d) { return d.isValid() ? std::optional<QDate>(d) : std::nullopt; }

}  // namespace

class AppSearchTest : public QObject {
  Q_OBJECT

 private slots:
  void identifierAsTheArchiveReceivedIt_data();
  void identifierAsTheArchiveReceivedIt();
  void keysInTheSearchFieldsGoOutAsTyped_data();
  void keysInTheSearchFieldsGoOutAsTyped();
  void nameTypedBeforeAnySearchSearchesAndEmptyFormNever();
  void limitFillsAt399AndRefusesAt400();
  void noResultsShowNoDataAndKeepSendDisabled();
  void nameCaretsShownAsSpaces();
  void missingSettingsStopsBeforeTheNetwork();
  void archiveFailureReportedOnce_data();
  void archiveFailureReportedOnce();
  void windowAnswersWhileArchiveIsSlow();
  void shortcutOutsideTheRangeAsksNothing();
  void closingWhileTheWorkerRuns_data();
  void closingWhileTheWorkerRuns();
  void menuOnlyOverAGridWithRows();
};

void AppSearchTest::identifierAsTheArchiveReceivedIt_data() {
  QTest::addColumn<QDate>("today");
  QTest::addColumn<QString>("last");
  QTest::addColumn<QString>("first");
  QTest::addColumn<QString>("id");
  QTest::addColumn<QDate>("dob");
  QTest::addColumn<QString>("modality");
  QTest::addColumn<QDate>("rangeStart");
  QTest::addColumn<QDate>("rangeEnd");
  QTest::addColumn<QString>("button");  // cmdSearch or a shortcut
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("birth");
  QTest::addColumn<QString>("modalitySent");
  QTest::addColumn<QString>("studyDate");

  const QDate dec7(2026, 12, 7), none;
  const QString s = "cmdSearch";
  QTest::newRow("van Dam / Anna Maria") << dec7 << "van Dam" << "Anna Maria" << "" << none << "" << none << none << s
                                        << "van^Dam^Anna^Maria" << "" << "" << "";
  QTest::newRow("first name alone") << dec7 << "" << "John" << "" << none << "" << none << none << s << "*^John"
                                    << "" << "" << "";
  QTest::newRow("ID typed, empty modality") << dec7 << "" << "" << "PID-7" << none << "" << none << none << s << "*"
                                            << "" << "" << "";
  QTest::newRow("typed modality unchanged") << dec7 << "" << "" << "" << none << "mr" << none << none << s << "*"
                                            << "" << "mr" << "";
  QTest::newRow("birth date") << dec7 << "Smith" << "" << "" << QDate(1961, 3, 24) << "" << none << none << s
                              << "Smith" << "19610324" << "" << "";
  QTest::newRow("range") << dec7 << "" << "" << "P1" << none << "" << QDate(2026, 11, 30) << dec7 << s << "*" << ""
                         << "" << "20261130-20261207";
  QTest::newRow("range start alone") << dec7 << "" << "" << "P1" << none << "" << QDate(2026, 11, 30) << none << s
                                     << "*" << "" << "" << "20261130";
  QTest::newRow("range end alone") << dec7 << "" << "" << "P1" << none << "" << none << dec7 << s << "*" << "" << ""
                                   << "";
  QTest::newRow("Today") << dec7 << "" << "" << "" << none << "" << none << none << "cmdToday" << "*" << "" << ""
                         << "20261207";
  QTest::newRow("Yesterday") << dec7 << "" << "" << "" << none << "" << none << none << "cmdYesterday" << "*" << ""
                             << "" << "20261206";
  QTest::newRow("Week on 7 December 2026") << dec7 << "" << "" << "" << none << "" << none << none << "cmdWeek" << "*"
                                           << "" << "" << "20261130-20261207";
  QTest::newRow("Week on 3 January 2027") << QDate(2027, 1, 3) << "" << "" << "" << none << "" << none << none
                                          << "cmdWeek" << "*" << "" << "" << "20261227-20270103";
  // The identifier holds one Study Date: the days both conditions allow.
  QTest::newRow("Week within a range") << dec7 << "" << "" << "" << none << "" << QDate(2026, 12, 2)
                                       << QDate(2026, 12, 31) << "cmdWeek" << "*" << "" << ""
                                       << "20261202-20261207";
}

void AppSearchTest::identifierAsTheArchiveReceivedIt() {
  QFETCH(QDate, today);
  QFETCH(QString, last);
  QFETCH(QString, first);
  QFETCH(QString, id);
  QFETCH(QDate, dob);
  QFETCH(QString, modality);
  QFETCH(QDate, rangeStart);
  QFETCH(QDate, rangeEnd);
  QFETCH(QString, button);
  QFETCH(QString, name);
  QFETCH(QString, birth);
  QFETCH(QString, modalitySent);
  QFETCH(QString, studyDate);

  Archive archive({"--demo", "3"});
  QVERIFY(archive.ready());
  Station st(ClockOn(today));
  st.dir.WriteSettings(StationSettings(archive.port(), true));
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtLastName, last);
  QTest::keyClicks(st.frm->panel().txtFirstName, first);
  QTest::keyClicks(st.frm->panel().txtPatID, id);
  st.frm->panel().dtpDOB->setDate(Opt(dob));
  st.frm->panel().cboMod->setEditText(modality);
  st.frm->panel().dtpStudy1->setDate(Opt(rangeStart));
  st.frm->panel().dtpStudy2->setDate(Opt(rangeEnd));

  QVERIFY(st.SearchBy(st.frm->findChild<QPushButton*>(button)));
  QVERIFY2(st.sink.shown.empty(), qPrintable(st.sink.shown.empty() ? "" : st.sink.shown[0].text));
  const QList<QJsonObject> finds = archive.finds();
  QCOMPARE(finds.size(), 1);
  QCOMPARE(finds[0].value("called").toString(), QStringLiteral("ARCHIVE"));
  QCOMPARE(finds[0].value("calling").toString(), QStringLiteral("MORVANTA"));
  QCOMPARE(Key(finds[0], kName), name);
  QCOMPARE(Key(finds[0], kId), id);
  QCOMPARE(Key(finds[0], kBirth), birth);
  QCOMPARE(Key(finds[0], kModality), modalitySent);
  QCOMPARE(Key(finds[0], kStudyDate), studyDate);
  QCOMPARE(Key(finds[0], QStringLiteral("0008,0052")), QStringLiteral("STUDY"));

  // The window keeps the composed name; the shortcut leaves no trace.
  QCOMPARE(st.frm->panel().txtPatName->text(), search::ComposePatientName(last, first));
  QCOMPARE(st.frm->panel().criteria().shortcutDate, std::optional<QDate>());
  QCOMPARE(st.frm->panel().criteria().shortcutRange, QString());
  QCOMPARE(st.frm->focusWidget(), static_cast<QWidget*>(st.frm->panel().cmdSearch));
}

// Keys into the date fields and the modality box, then Enter there (which
// runs the search): only what the user typed, stepped or picked is asked for.
void AppSearchTest::keysInTheSearchFieldsGoOutAsTyped_data() {
  QTest::addColumn<QString>("field");  // the control the keys go to
  QTest::addColumn<QString>("typed");  // "" none; "+" Up arrow; else text
  QTest::addColumn<QString>("tag");
  QTest::addColumn<QString>("sent");
  QTest::newRow("Enter in the unticked birth date") << "dtpDOB" << "" << kBirth << "";
  QTest::newRow("Enter in the unticked range start") << "dtpStudy1" << "" << kStudyDate << "";
  QTest::newRow("Enter in the unticked range end") << "dtpStudy2" << "" << kStudyDate << "";
  QTest::newRow("birth date stepped") << "dtpDOB" << "+" << kBirth << "20261208";
  QTest::newRow("range start stepped") << "dtpStudy1" << "+" << kStudyDate << "20261208";
  QTest::newRow("modality c") << "cboMod" << "c" << kModality << "c";
  QTest::newRow("modality m") << "cboMod" << "m" << kModality << "m";
  QTest::newRow("modality mr") << "cboMod" << "mr" << kModality << "mr";
  QTest::newRow("modality C*") << "cboMod" << "C*" << kModality << "C*";
  QTest::newRow("modality CT") << "cboMod" << "CT" << kModality << "CT";
}

void AppSearchTest::keysInTheSearchFieldsGoOutAsTyped() {
  QFETCH(QString, field);
  QFETCH(QString, typed);
  QFETCH(QString, tag);
  QFETCH(QString, sent);
  Archive archive({"--demo", "3"});
  QVERIFY(archive.ready());
  Station st(ClockOn(QDate(2026, 12, 7)));
  st.dir.WriteSettings(StationSettings(archive.port()));
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("P*"));

  // The keys go where the focused field sends them: the date edit, or the
  // modality box's line edit.
  QWidget* focused = st.frm->panel().cboMod;
  QWidget* target = st.frm->panel().cboMod->lineEdit();
  if (auto* date = st.frm->findChild<ui::OptionalDateEdit*>(field)) focused = target = date->dateEdit();
  focused->setFocus();
  QTRY_COMPARE(QApplication::focusWidget(), focused);
  if (typed == "+") {
    QTest::keyClick(target, Qt::Key_Up);
  } else {
    QTest::keyClicks(target, typed);
  }
  QSignalSpy done(st.frm.get(), &frmMain::searchFinished);
  QTest::keyClick(target, Qt::Key_Return);
  QVERIFY2(!done.isEmpty() || (st.frm->busy() && done.wait(kWaitMs)), "Enter started no search");

  const QList<QJsonObject> finds = archive.finds();
  QCOMPARE(finds.size(), 1);
  QCOMPARE(Key(finds[0], tag), sent);
  QCOMPARE(Key(finds[0], kId), QStringLiteral("P*"));
  if (tag != kModality) QCOMPARE(Key(finds[0], kModality), QString());
  if (tag == kModality) {
    QCOMPARE(st.frm->panel().cboMod->currentText(), typed);
  } else {
    auto* date = st.frm->findChild<ui::OptionalDateEdit*>(field);
    QCOMPARE(date->date().has_value(), !sent.isEmpty());
  }
}

void AppSearchTest::nameTypedBeforeAnySearchSearchesAndEmptyFormNever() {
  Archive archive({"--demo", "3"});
  QVERIFY(archive.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(archive.port()));
  st.ShowActive();

  // A name alone, before any search, is a search.
  QTest::keyClicks(st.frm->panel().txtLastName, QStringLiteral("Smith"));
  QVERIFY(st.Search());
  QCOMPARE(archive.finds().size(), 1);
  QCOMPARE(Key(archive.finds()[0], kName), QStringLiteral("Smith"));

  // Afterwards an empty form is still nothing to search for: no wildcard
  // search of the whole archive, nothing shown, the count as it was.
  const QString count = st.frm->lblListCount->text();
  st.frm->panel().txtLastName->clear();
  QVERIFY(!st.Search());
  QVERIFY(!st.frm->busy());
  QCOMPARE(archive.finds().size(), 1);
  QCOMPARE(st.frm->lblListCount->text(), count);
  QVERIFY(st.sink.shown.empty());
  QVERIFY(!st.frm->cmdSend->isEnabled());
}

void AppSearchTest::limitFillsAt399AndRefusesAt400() {
  Archive fits({"--results", "399"});
  Archive tooMany({"--results", "400"});
  QVERIFY(fits.ready() && tooMany.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(fits.port()));
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("*"));
  QVERIFY(st.Search());
  QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("399"));
  QCOMPARE(st.frm->grid1->rowCount(), 399);
  QVERIFY(st.sink.shown.empty());
  const QString firstUid = st.frm->grid1->studyUid(1);
  QVERIFY(!firstUid.isEmpty());

  // Every search re-reads Settings.ini: the next one goes to the other archive.
  st.dir.WriteSettings(StationSettings(tooMany.port()));
  QVERIFY(st.Search());
  QCOMPARE(tooMany.finds().size(), 1);
  QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("400"));
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  const ui::Message& m = st.sink.shown[0];
  QCOMPARE(m.text, QStringLiteral("There was to many entries.\r\nPlease constrain your search."));
  QCOMPARE(m.title, QStringLiteral("Morvanta"));
  QCOMPARE(m.icon, ui::MessageIcon::None);
  QCOMPARE(m.buttons, ui::MessageButtons::OkHelp);
  // The grid still shows the previous search.
  QCOMPARE(st.frm->grid1->rowCount(), 399);
  QCOMPARE(st.frm->grid1->studyUid(1), firstUid);
  QVERIFY(!st.frm->cmdSend->isEnabled());
}

void AppSearchTest::noResultsShowNoDataAndKeepSendDisabled() {
  Archive archive({"--demo", "5"});
  QVERIFY(archive.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(archive.port()));
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("NOBODY-HERE"));
  QVERIFY(st.Search());
  QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("0"));
  QCOMPARE(st.frm->grid1->rowCount(), 1);
  QVERIFY(st.frm->grid1->isNoDataRow(1));
  QCOMPARE(st.frm->grid1->cellText(1, search::kColStudyDate), QStringLiteral("No Data"));
  st.ClickRow(1);
  QVERIFY(!st.frm->cmdSend->isEnabled());
  QVERIFY(st.sink.shown.empty());
}

void AppSearchTest::nameCaretsShownAsSpaces() {
  QTemporaryDir data;
  const QString dump = data.filePath("doe.dump");
  QFile file(dump);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write("(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]\n"
             "(0008,0018) UI [1.2.826.0.1.3680043.9.7777.1.1]\n"
             "(0008,0020) DA [20261207]\n"
             "(0008,0060) CS [CT]\n"
             "(0010,0010) PN [DOE^JOHN]\n"
             "(0010,0020) LO [DOE1]\n"
             "(0020,000d) UI [1.2.826.0.1.3680043.9.7777.2]\n"
             "(0020,000e) UI [1.2.826.0.1.3680043.9.7777.3]\n");
  file.close();
  QProcess dump2dcm;
  dump2dcm.start("dump2dcm", {"-F", dump, data.filePath("doe.dcm")});
  QVERIFY2(dump2dcm.waitForFinished(20000) && dump2dcm.exitCode() == 0,
           dump2dcm.readAllStandardError().constData());
  QFile::remove(dump);

  Archive archive({"--data", data.path()});
  QVERIFY(archive.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(archive.port()));
  st.ShowActive();
  // Names match as typed (no wildcard of our own): the whole name.
  QTest::keyClicks(st.frm->panel().txtLastName, QStringLiteral("DOE"));
  QTest::keyClicks(st.frm->panel().txtFirstName, QStringLiteral("JOHN"));
  QVERIFY(st.Search());
  QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("1"));
  QCOMPARE(st.frm->grid1->cellText(1, search::kColPatientName), QStringLiteral("DOE JOHN"));
  QCOMPARE(st.frm->grid1->cellText(1, search::kColPatientId), QStringLiteral("DOE1"));
  QCOMPARE(st.frm->grid1->studyUid(1), QStringLiteral("1.2.826.0.1.3680043.9.7777.2"));
}

void AppSearchTest::missingSettingsStopsBeforeTheNetwork() {
  Station st;  // no Settings.ini
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("P1"));
  QVERIFY(!st.Search());
  QVERIFY(!st.frm->busy());
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].text, QStringLiteral("0 - Settings.ini existiert nicht."));
  QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Critical);
  QCOMPARE(st.LogLines("Error.log", "Settings.ini existiert nicht. - CheckInI"), 1);
  QCOMPARE(st.LogLines("Debug.log", "ERROR: Settings.ini existiert nicht."), 1);
  QCOMPARE(st.LogLines("Error.log", "cmdSearch_Click"), 0);
  // The search stopped before composing the name.
  QCOMPARE(st.frm->panel().txtPatName->text(), QString());
  QCOMPARE(st.frm->lblListCount->text(), QString());
}

void AppSearchTest::archiveFailureReportedOnce_data() {
  QTest::addColumn<QStringList>("misbehaviour");
  QTest::newRow("failure status") << QStringList{"--demo", "3", "--find-status", "C001"};
  QTest::newRow("abort after matches") << QStringList{"--demo", "3", "--find-abort"};
  QTest::newRow("association refused") << QStringList{"--refuse", "called"};
}

void AppSearchTest::archiveFailureReportedOnce() {
  QFETCH(QStringList, misbehaviour);
  Archive good({"--results", "4"});
  Archive bad(misbehaviour);
  QVERIFY(good.ready() && bad.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(good.port()));
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("*"));
  QVERIFY(st.Search());
  QCOMPARE(st.frm->grid1->rowCount(), 4);
  st.ClickRow(2);
  QVERIFY(st.frm->cmdSend->isEnabled());

  st.dir.WriteSettings(StationSettings(bad.port()));
  QVERIFY(st.Search());
  QCOMPARE(st.LogLines("Error.log", "cmdSearch_Click"), 1);
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  const ui::Message& m = st.sink.shown[0];
  QCOMPARE(m.icon, ui::MessageIcon::Critical);
  QCOMPARE(m.title, QStringLiteral("Morvanta"));
  QVERIFY2(QRegularExpression("^-?\\d+ - .+").match(m.text).hasMatch(), qPrintable(m.text));
  // Nothing is rolled back or replaced: the previous rows and count stay.
  QCOMPARE(st.frm->grid1->rowCount(), 4);
  QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("4"));
  QVERIFY(!st.frm->cmdSend->isEnabled());
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void AppSearchTest::windowAnswersWhileArchiveIsSlow() {
  Archive archive({"--results", "3", "--delay", "1500"});
  QVERIFY(archive.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(archive.port()));
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("*"));
  QSignalSpy done(st.frm.get(), &frmMain::searchFinished);
  QTest::mouseClick(st.frm->panel().cmdSearch, Qt::LeftButton);
  // The click has returned with the archive still working.
  QVERIFY(st.frm->busy());
  QVERIFY(done.isEmpty());
  QVERIFY(QApplication::overrideCursor() != nullptr);
  QCOMPARE(QApplication::overrideCursor()->shape(), Qt::BusyCursor);

  // Events are handled meanwhile: a timer fires and the window repaints.
  bool timerFired = false;
  QTimer::singleShot(0, this, [&] { timerFired = true; });
  QTRY_VERIFY_WITH_TIMEOUT(timerFired, 5000);
  QVERIFY(st.frm->busy());
  int paints = 0;
  struct PaintCounter : QObject {
    int* n;
    explicit PaintCounter(int* count) : n(count) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++*n;
      return false;
    }
  } counter(&paints);
  st.frm->lblListCount->installEventFilter(&counter);
  st.frm->lblListCount->update();
  QTRY_VERIFY_WITH_TIMEOUT(paints > 0, 5000);
  st.frm->move(st.frm->pos() + QPoint(20, 10));
  QVERIFY(st.frm->busy());

  // No second operation starts while it runs.
  RejectStrayDialogs();
  QTest::mouseClick(st.frm->panel().cmdSearch, Qt::LeftButton);
  QTest::mouseClick(st.frm->cmdToday, Qt::LeftButton);
  QCOMPARE(st.frm->panel().criteria().shortcutDate, std::optional<QDate>());
  st.frm->OpenSettings();
  QVERIFY(st.frm->statusBar()->isVisible());
  QVERIFY(!st.frm->statusBar()->currentMessage().isEmpty());

  QVERIFY(done.wait(kWaitMs));
  QCOMPARE(done.size(), 1);
  QCOMPARE(archive.finds().size(), 1);
  QCOMPARE(st.frm->grid1->rowCount(), 3);
  QVERIFY(QApplication::overrideCursor() == nullptr);
  QVERIFY(!st.frm->busy());
}

void AppSearchTest::shortcutOutsideTheRangeAsksNothing() {
  Archive archive({"--demo", "3"});
  QVERIFY(archive.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(archive.port(), true));
  st.ShowActive();
  st.frm->panel().dtpStudy1->setDate(QDate(2026, 1, 1));
  st.frm->panel().dtpStudy2->setDate(QDate(2026, 1, 31));
  QVERIFY(st.SearchBy(st.frm->cmdToday));
  QCOMPARE(archive.finds().size(), 0);
  QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("0"));
  QCOMPARE(st.frm->grid1->rowCount(), 1);
  QVERIFY(st.frm->grid1->isNoDataRow(1));
  QVERIFY(st.sink.shown.empty());
  QCOMPARE(st.frm->panel().criteria().shortcutDate, std::optional<QDate>());
}

void AppSearchTest::closingWhileTheWorkerRuns_data() {
  QTest::addColumn<bool>("sending");
  QTest::newRow("search") << false;
  QTest::newRow("send") << true;
}

void AppSearchTest::closingWhileTheWorkerRuns() {
  QFETCH(bool, sending);
  Archive archive({"--results", "3", "--delay", "1000"});
  QVERIFY(archive.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(archive.port()));
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("*"));
  if (sending) {
    QVERIFY(st.Search());
    st.ClickRow(1);
    QTest::mouseClick(st.frm->cmdSend, Qt::LeftButton);
  } else {
    QTest::mouseClick(st.frm->panel().cmdSearch, Qt::LeftButton);
  }
  QVERIFY(st.frm->busy());
  // Closed and gone with the archive still working: the window cancels its
  // worker, reports nothing into the void, and leaves no busy cursor.
  st.frm->close();
  st.frm.reset();
  QVERIFY(QApplication::overrideCursor() == nullptr);
  QVERIFY(st.sink.shown.empty());
  QVERIFY(st.dir.ReadSettings().contains("SearchHeight="));
}

void AppSearchTest::menuOnlyOverAGridWithRows() {
  Archive archive({"--results", "2"});
  QVERIFY(archive.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(archive.port()));
  st.ShowActive();
  auto* viewport = st.frm->grid1->viewport();
  QTest::mouseClick(viewport, Qt::RightButton, {}, QPoint(50, 10));
  QVERIFY(!st.frm->mnuMark->isVisible());

  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("*"));
  QVERIFY(st.Search());
  const QRect cell = st.frm->grid1->visualRect(st.frm->grid1->model()->index(1, 3));
  QTest::mouseClick(viewport, Qt::LeftButton, {}, cell.center());
  QTest::mouseClick(viewport, Qt::RightButton, {}, cell.center());
  QTRY_VERIFY(st.frm->mnuMark->isVisible());
  st.frm->mnuMark->close();
  QVERIFY(!st.frm->mnuMark->isVisible());
}

QTEST_MAIN(AppSearchTest)
#include "app_search_test.moc"
