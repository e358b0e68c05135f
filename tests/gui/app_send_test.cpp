// Send, batch selection and the Settings menu on the wired main window,
// against morvanta-archive on a free loopback port behind a relay that counts
// the associations each click opens.

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QCheckBox>

#include "app_support.h"
#include "search_widgets/search_panel.h"
#include "settings_test_support.h"
#include "settings_ui/frm_change.h"
#include "settings_ui/frm_login.h"
#include "settings_ui/frm_settings.h"
#include "ui/optional_date_edit.h"

using namespace morvanta;
using namespace morvanta::test;
using settings_ui::frmChange;
using settings_ui::frmLogin;
using settings_ui::frmSettings;
using settings_ui::testing::WhenModal;

namespace {

const QString kRequestClass = QStringLiteral("1.2.840.10008.5.1.4.1.1.1");
const QString kDone = QStringLiteral("Request(s) completed.\r\nThis process might take a few seconds.");

// A station whose Settings.ini points at `port`, showing the results of a
// search for any patient ID.
bool SearchAll(Station& st, int port) {
  st.dir.WriteSettings(StationSettings(port));
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("*"));
  return st.Search();
}

QStringList StudyUids(const QList<QJsonObject>& stores) {
  QStringList uids;
  for (const QJsonObject& s : stores) uids << s.value("study_uid").toString();
  return uids;
}

QStringList GridUids(const search::ResultGrid& grid, const std::vector<int>& rows) {
  QStringList uids;
  for (int row : rows) uids << grid.studyUid(row);
  return uids;
}

// Every text the status bar showed, in order.
struct StatusLog {
  explicit StatusLog(QStatusBar* bar) {
    QObject::connect(bar, &QStatusBar::messageChanged, bar, [this](const QString& text) {
      if (!text.isEmpty()) texts << text;
    });
  }
  QStringList texts;
};

}  // namespace

class AppSendTest : public QObject {
  Q_OBJECT

 private slots:
  void threeSelectedRowsThreeRequestsOverOneAssociation();
  void thirdOfFiveStoresFails();
  void associationRefused();
  void missingSettingsStopsBeforeTheNetwork();
  void noSelectedRowOpensAndClosesAnAssociation();
  void noDataRowIsNeverSent();
  void studyWithoutUidIsShownButNeverSent();
  void batchSelectionOnTheWindow_data();
  void batchSelectionOnTheWindow();
  void settingsMenuOpensPromptThenDialog();
};

void AppSendTest::threeSelectedRowsThreeRequestsOverOneAssociation() {
  Archive archive({"--results", "6"});
  QVERIFY(archive.ready());
  Relay relay(archive.port());
  Station st;
  QVERIFY(SearchAll(st, relay.port()));
  QCOMPARE(st.frm->grid1->rowCount(), 6);
  QTRY_COMPARE_WITH_TIMEOUT(relay.closed, 1, kWaitMs);  // the search's association

  st.ClickRow(1);
  st.ClickRow(3, Qt::ControlModifier);
  st.ClickRow(5, Qt::ControlModifier);
  QVERIFY(st.frm->cmdSend->isEnabled());
  StatusLog status(st.frm->statusBar());
  st.frm->setWindowTitle(QStringLiteral("Morvanta - busy"));
  QVERIFY(st.Send());

  const QList<QJsonObject> stores = archive.stores();
  QCOMPARE(stores.size(), 3);
  QCOMPARE(StudyUids(stores), GridUids(*st.frm->grid1, {1, 3, 5}));
  QSet<QString> instances;
  for (const QJsonObject& s : stores) {
    QCOMPARE(s.value("creator").toString(), QStringLiteral("REDIRECT"));
    QCOMPARE(s.value("sop_class_uid").toString(), kRequestClass);
    QCOMPARE(s.value("status").toString(), QStringLiteral("0x0000"));
    QCOMPARE(s.value("calling").toString(), QStringLiteral("MORVANTA"));
    instances << s.value("sop_instance_uid").toString();
  }
  QCOMPARE(instances.size(), 3);
  QVERIFY(!instances.contains(QString()));
  // One association for all three, released when done.
  QCOMPARE(relay.opened, 2);
  QTRY_COMPARE_WITH_TIMEOUT(relay.closed, 2, kWaitMs);

  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].text, kDone);
  QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Information);
  QCOMPARE(st.sink.shown[0].title, QStringLiteral("Morvanta"));
  QCOMPARE(st.frm->windowTitle(), QStringLiteral("Morvanta"));
  QVERIFY(!st.frm->cmdSend->isEnabled());
  QVERIFY(status.texts.contains(QStringLiteral("Sending 3 of 3")));
  QVERIFY(!st.frm->statusBar()->isVisible());
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void AppSendTest::thirdOfFiveStoresFails() {
  Archive archive({"--results", "5", "--fail-store", "3"});
  QVERIFY(archive.ready());
  Station st;
  QVERIFY(SearchAll(st, archive.port()));
  st.ClickRow(1);
  st.ClickRow(5, Qt::ShiftModifier);
  QCOMPARE(st.frm->grid1->selectedRows().size(), std::size_t{5});
  QVERIFY(st.Send());

  const QList<QJsonObject> stores = archive.stores();
  QCOMPARE(stores.size(), 3);  // the fourth and fifth never attempted
  QCOMPARE(stores[0].value("status").toString(), QStringLiteral("0x0000"));
  QCOMPARE(stores[1].value("status").toString(), QStringLiteral("0x0000"));
  QCOMPARE(stores[2].value("status").toString(), QStringLiteral("0xA700"));
  QCOMPARE(StudyUids(stores), GridUids(*st.frm->grid1, {1, 2, 3}));
  QCOMPARE(st.LogLines("Error.log", " - Send"), 1);
  QCOMPARE(st.sink.shown.size(), std::size_t{1});  // no completion message
  QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Critical);
  QVERIFY2(QRegularExpression("^-?\\d+ - .*A700").match(st.sink.shown[0].text).hasMatch(),
           qPrintable(st.sink.shown[0].text));
  QVERIFY(!st.frm->cmdSend->isEnabled());
  QVERIFY(!st.frm->statusBar()->isVisible());
}

void AppSendTest::associationRefused() {
  Archive good({"--results", "3"});
  Archive refusing({"--refuse", "called"});
  QVERIFY(good.ready() && refusing.ready());
  Station st;
  QVERIFY(SearchAll(st, good.port()));
  st.ClickRow(2);
  st.dir.WriteSettings(StationSettings(refusing.port()));
  QVERIFY(st.Send());
  QCOMPARE(refusing.stores().size(), 0);
  QCOMPARE(good.stores().size(), 0);
  QCOMPARE(st.LogLines("Error.log", " - Send"), 1);
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Critical);
  QVERIFY(!st.frm->cmdSend->isEnabled());
}

void AppSendTest::missingSettingsStopsBeforeTheNetwork() {
  Archive archive({"--results", "3"});
  QVERIFY(archive.ready());
  Relay relay(archive.port());
  Station st;
  QVERIFY(SearchAll(st, relay.port()));
  st.ClickRow(1);
  QVERIFY(QFile::remove(st.dir.settingsFile()));
  QVERIFY(!st.Send());
  QVERIFY(!st.frm->busy());
  QCOMPARE(relay.opened, 1);  // the search's, nothing more
  QCOMPARE(archive.stores().size(), 0);
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].text, QStringLiteral("0 - Settings.ini existiert nicht."));
  QCOMPARE(st.LogLines("Error.log", "CheckInI"), 1);
  QCOMPARE(st.LogLines("Error.log", " - Send"), 0);
  QVERIFY(!st.frm->cmdSend->isEnabled());
}

void AppSendTest::noSelectedRowOpensAndClosesAnAssociation() {
  Archive archive({"--results", "3"});
  QVERIFY(archive.ready());
  Relay relay(archive.port());
  Station st;
  QVERIFY(SearchAll(st, relay.port()));
  // Selected, then taken out of the selection again: Send stays enabled.
  st.ClickRow(2);
  st.ClickRow(2, Qt::ControlModifier);
  QVERIFY(st.frm->grid1->selectedRows().empty());
  QVERIFY(st.frm->cmdSend->isEnabled());
  QVERIFY(st.Send());
  QCOMPARE(archive.stores().size(), 0);
  QCOMPARE(relay.opened, 2);
  QTRY_COMPARE_WITH_TIMEOUT(relay.closed, 2, kWaitMs);
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].text, kDone);
  QVERIFY(!st.frm->cmdSend->isEnabled());
}

void AppSendTest::noDataRowIsNeverSent() {
  Archive archive({"--demo", "3"});
  QVERIFY(archive.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(archive.port()));
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("NOBODY-HERE"));
  QVERIFY(st.Search());
  QVERIFY(st.frm->grid1->isNoDataRow(1));

  // "Select next 25 entries" takes the "No Data" row and enables Send.
  const QRect cell = st.frm->grid1->visualRect(st.frm->grid1->model()->index(0, 3));
  QTest::mouseClick(st.frm->grid1->viewport(), Qt::RightButton, {}, cell.center());
  QTRY_VERIFY(st.frm->mnuMark->isVisible());
  QTest::mouseClick(st.frm->mnuMark, Qt::LeftButton, {},
                    st.frm->mnuMark->actionGeometry(st.frm->mnuMarkAll).center());
  QTRY_VERIFY(!st.frm->mnuMark->isVisible());
  QVERIFY(st.frm->grid1->isRowSelected(1));
  QVERIFY(st.frm->cmdSend->isEnabled());

  QVERIFY(st.Send());
  QCOMPARE(archive.stores().size(), 0);
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].text, kDone);
}

// The archive listed a study without its Study Instance UID: the user sees
// and may select it, but no request can name it, so none is sent or counted.
void AppSendTest::studyWithoutUidIsShownButNeverSent() {
  Archive archive({"--results", "3", "--no-study-uid", "1"});
  QVERIFY(archive.ready());
  Relay relay(archive.port());
  Station st;
  QVERIFY(SearchAll(st, relay.port()));
  QTRY_COMPARE_WITH_TIMEOUT(relay.closed, 1, kWaitMs);
  QCOMPARE(st.frm->grid1->rowCount(), 3);
  QVERIFY(st.frm->grid1->studyUid(1).isEmpty());
  QVERIFY(!st.frm->grid1->cellText(1, search::kColPatientName).isEmpty());
  st.ClickRow(1);
  QVERIFY(st.frm->cmdSend->isEnabled());

  QVERIFY(!st.Send());  // nothing to send: nothing starts
  QCOMPARE(relay.opened, 1);
  QCOMPARE(archive.stores().size(), 0);
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Critical);
  QCOMPARE(st.sink.shown[0].text,
           QStringLiteral("1011 - 1 of 1 selected studies have no Study Instance UID from ARCHIVE at 127.0.0.1:%1 "
                          "and cannot be forwarded; they were not sent.")
               .arg(relay.port()));
  QCOMPARE(st.LogLines("Error.log", " - Send"), 1);
  QVERIFY(!st.frm->cmdSend->isEnabled());
}

void AppSendTest::batchSelectionOnTheWindow_data() {
  QTest::addColumn<QList<int>>("ctrlClicks");  // the first is a plain click
  QTest::addColumn<QList<int>>("expected");
  QList<int> tenTo35;
  for (int r = 10; r <= 35; ++r) tenTo35 << r;
  QTest::newRow("row 10") << QList<int>{10} << tenTo35;
  QTest::newRow("rows 3 and 10") << QList<int>{3, 10} << (QList<int>{3} + tenTo35);
  QList<int> tail;
  for (int r = 30; r <= 40; ++r) tail << r;
  QTest::newRow("row 30 of 40") << QList<int>{30} << tail;
}

void AppSendTest::batchSelectionOnTheWindow() {
  QFETCH(QList<int>, ctrlClicks);
  QFETCH(QList<int>, expected);
  Archive archive({"--results", "40"});
  QVERIFY(archive.ready());
  Station st;
  QVERIFY(SearchAll(st, archive.port()));
  QCOMPARE(st.frm->grid1->rowCount(), 40);
  for (qsizetype i = 0; i < ctrlClicks.size(); ++i)
    st.ClickRow(ctrlClicks[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier);
  st.frm->mnuMarkAll->trigger();

  const std::vector<int> rows = st.frm->grid1->selectedRows();
  QCOMPARE(QList<int>(rows.begin(), rows.end()), expected);
  QCOMPARE(st.frm->grid1->currentRow(), ctrlClicks.back());
  QVERIFY(st.frm->cmdSend->isEnabled());

  StatusLog status(st.frm->statusBar());
  QVERIFY(st.Send());
  QCOMPARE(StudyUids(archive.stores()), GridUids(*st.frm->grid1, rows));
  const QString last = QStringLiteral("Sending %1 of %1").arg(expected.size());
  QVERIFY2(status.texts.contains(last), qPrintable(status.texts.join(", ")));
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].text, kDone);
}

void AppSendTest::settingsMenuOpensPromptThenDialog() {
  Station st;
  st.dir.WriteSettings(StationSettings(104, true));
  ConnectSettingsMenu(*st.frm);
  st.ShowActive();
  QVERIFY(st.frm->panel().dtpStudy1->isVisible());

  bool missed = false;
  QString remoteAet;
  QWidget* settingsOwner = nullptr;
  WhenModal<frmLogin>(
      [](frmLogin* login) {
        auto* txtPW = login->findChild<QLineEdit*>("txtPW");
        QTest::keyClicks(txtPW, QStringLiteral("grimsal"));
        QTest::keyClick(txtPW, Qt::Key_Return);
      },
      &missed);
  WhenModal<frmSettings>(
      [&](frmSettings* settings) {
        settingsOwner = settings->parentWidget();
        remoteAet = settings->findChild<QLineEdit*>("txtQuAET")->text();
        settings->findChild<QCheckBox*>("chkExtStudy")->setChecked(false);
        WhenModal<frmChange>(
            [](frmChange* editor) {
              QTest::keyClicks(editor->findChild<QLineEdit*>("txtAlias"), QStringLiteral("CT Lab"));
              QTest::keyClicks(editor->findChild<QLineEdit*>("txtAET"), QStringLiteral("CTLAB"));
              QTest::mouseClick(editor->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
            },
            &missed);
        QTest::mouseClick(settings->findChild<QPushButton*>("cmdAdd"), Qt::LeftButton);
        QTest::mouseClick(settings->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
      },
      &missed);
  st.frm->mnuSettings->trigger();
  QVERIFY(!missed);
  QVERIFY(QApplication::activeModalWidget() == nullptr);

  // The dialog worked on the window's own values and controls.
  QCOMPARE(settingsOwner, static_cast<QWidget*>(st.frm.get()));
  QCOMPARE(remoteAet, QStringLiteral("ARCHIVE"));
  QCOMPARE(st.frm->settings().QueryAET, std::string("ARCHIVE"));
  QVERIFY(!st.frm->panel().dtpStudy1->isVisible());
  QVERIFY(st.dir.ReadSettings().contains("StudyDate=0\r\n"));
  QVERIFY(st.frm->cmdNode[0]->isVisible());
  QCOMPARE(st.frm->cmdNode[0]->text(), QStringLiteral("CT Lab"));
  QVERIFY(st.dir.ReadSettings().contains("Node0=CT Lab|CTLAB\r\n"));
  QVERIFY(st.sink.shown.empty());
}

QTEST_MAIN(AppSendTest)
#include "app_send_test.moc"
