// The main window's additions beyond the plain search and Send, against
// morvanta-archive on free loopback ports: the result limit, cancelling a
// search or a Send, the modality key for standard archives and forwarding by
// C-MOVE.

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>

#include "app_support.h"
#include "search_widgets/search_panel.h"

using namespace morvanta;
using namespace morvanta::test;

namespace {

const QString kTooMany = QStringLiteral("There was to many entries.\r\nPlease constrain your search.");

// Every text the status bar showed, in order.
struct StatusLog {
  explicit StatusLog(QStatusBar* bar) {
    QObject::connect(bar, &QStatusBar::messageChanged, bar, [this](const QString& text) {
      if (!text.isEmpty()) texts << text;
    });
  }
  QStringList texts;
};

// DCMTK's storescp as the C-MOVE destination, on a free loopback port,
// writing what it receives into its own directory.
class StoreScp {
 public:
  explicit StoreScp(const QString& aet) {
    port_ = FreeLoopbackPort();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral("storescp"),
                   {"-aet", aet, "-od", dir_.path(), QString::number(port_)});
    ready_ = process_.waitForStarted(10000) && QTest::qWaitFor(
                                                   [this] {
                                                     QTcpSocket s;
                                                     s.connectToHost(QHostAddress::LocalHost,
                                                                     static_cast<quint16>(port_));
                                                     return s.waitForConnected(200);
                                                   },
                                                   20000);
  }
  ~StoreScp() {
    process_.kill();
    process_.waitForFinished(5000);
  }
  bool ready() const { return ready_; }
  int port() const { return port_; }
  int files() const { return static_cast<int>(QDir(dir_.path()).entryList(QDir::Files).size()); }

 private:
  QTemporaryDir dir_;
  QProcess process_;
  int port_ = 0;
  bool ready_ = false;
};

// Shows the archive's studies for any patient ID in `st`.
bool SearchAll(Station& st, const QStringList& settings) {
  st.dir.WriteSettings(settings);
  // The window reads the node buttons and the active node when it loads.
  st.frm = std::make_unique<frmMain>(st.dir.path(), FixedNow, &st.sink);
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("*"));
  return st.Search();
}

// Station settings forwarding by C-MOVE, with `active` (may be empty) as
// the active node.
QStringList MoveSettings(int port, const QString& active) {
  return StationSettings(port)
         << "[Forward]" << "Method=MOVE" << "Node0=CT room|CT_ROOM" << "Node1=Nowhere|NOWHERE"
         << QStringLiteral("Active=%1").arg(active);
}

// Clicks Send and waits for its outcome; false when none came in time.
bool SendAndWait(Station& st) {
  QSignalSpy done(st.frm.get(), &frmMain::sendFinished);
  QTest::mouseClick(st.frm->cmdSend, Qt::LeftButton);
  return !done.isEmpty() || done.wait(kWaitMs);
}

}  // namespace

class WindowLimitCancelMoveTest : public QObject {
  Q_OBJECT
 private slots:
  void searchStopsAtTheLimit();
  void cancelSearchAgainstHungArchive_data();
  void cancelSearchAgainstHungArchive();
  void cancelSendSaysHowManyWereSent();
  void modalityKeyChoosesTheAttribute_data();
  void modalityKeyChoosesTheAttribute();
  void moveSendsStudiesToTheActiveNode();
  void moveToUnknownDestinationNamesTheRemedy();
  void moveWithoutActiveNodeSendsNothing();
};

void WindowLimitCancelMoveTest::searchStopsAtTheLimit() {
  // 5,000 studies, and the archive sends no match after the 401st until the
  // station cancels: the search stops at the 400th and says there are more.
  Archive large({"--demo", "5000", "--wait-cancel", "401"});
  Archive exact({"--results", "400"});
  QVERIFY(large.ready() && exact.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(large.port()));
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("*"));
  QVERIFY(st.Search());
  QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("400+"));
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].text, kTooMany);
  QTRY_VERIFY_WITH_TIMEOUT(!large.journal(QStringLiteral("find-done")).isEmpty(), kWaitMs);
  const int sent = large.journal(QStringLiteral("find-done"))[0].value("sent").toInt();
  QVERIFY2(sent >= 400 && sent < 5000, qPrintable(QString::number(sent)));
  QCOMPARE(st.LogLines("Error.log", QStringLiteral("cmdSearch_Click")), 0);

  // Exactly 400 matches is a complete list: no "+", the message all the same.
  st.dir.WriteSettings(StationSettings(exact.port()));
  QVERIFY(st.Search());
  QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("400"));
  QCOMPARE(st.sink.shown.size(), std::size_t{2});
  QCOMPARE(st.sink.shown[1].text, kTooMany);
  QCOMPARE(exact.journal(QStringLiteral("find-done"))[0].value("sent").toInt(), 400);
}

void WindowLimitCancelMoveTest::cancelSearchAgainstHungArchive_data() {
  QTest::addColumn<bool>("byEsc");
  QTest::newRow("Cancel button") << false;
  QTest::newRow("Esc") << true;
}

void WindowLimitCancelMoveTest::cancelSearchAgainstHungArchive() {
  QFETCH(bool, byEsc);
  Archive answers({"--demo", "6"});
  Archive hung({"--hang"});
  QVERIFY(answers.ready() && hung.ready());
  Station st;
  QVERIFY(SearchAll(st, StationSettings(answers.port())));
  const int rows = st.frm->grid1->rowCount();
  QVERIFY(rows > 0);
  const QString count = st.frm->lblListCount->text();
  const QString firstUid = st.frm->grid1->studyUid(1);
  QVERIFY(st.frm->cmdCancel->isHidden());

  // [Query] Timeout is 10 s: only the cancel can end this search sooner.
  st.dir.WriteSettings(StationSettings(hung.port()));
  QSignalSpy done(st.frm.get(), &frmMain::searchFinished);
  QTest::mouseClick(st.frm->panel().cmdSearch, Qt::LeftButton);
  QVERIFY(st.frm->busy());
  QTRY_VERIFY_WITH_TIMEOUT(!hung.finds().isEmpty(), kWaitMs);  // the archive has it
  QVERIFY(st.frm->cmdCancel->isVisible());
  if (byEsc) {
    QTest::keyClick(st.frm->panel().txtPatID, Qt::Key_Escape);
  } else {
    QTest::mouseClick(st.frm->cmdCancel, Qt::LeftButton);
  }
  // Free again well inside the 10 s time-out (the binding promises about
  // 1.5 s; the margin is for a loaded machine).
  QTRY_VERIFY_WITH_TIMEOUT(!st.frm->busy(), 5000);
  QCOMPARE(done.size(), 1);
  QCOMPARE(st.frm->grid1->rowCount(), rows);
  QCOMPARE(st.frm->grid1->studyUid(1), firstUid);
  QCOMPARE(st.frm->lblListCount->text(), count);
  QVERIFY(st.sink.shown.empty());
  QCOMPARE(st.LogLines("Error.log", QStringLiteral("cmdSearch_Click")), 0);
  QCOMPARE(st.frm->statusBar()->currentMessage(), QStringLiteral("Search cancelled."));
  QVERIFY(st.frm->cmdCancel->isHidden());
  QVERIFY(QApplication::overrideCursor() == nullptr);

  // Esc does nothing when nothing runs; the next search works as ever.
  st.dir.WriteSettings(StationSettings(answers.port()));
  QVERIFY(st.Search());
  QCOMPARE(st.frm->grid1->rowCount(), rows);
}

void WindowLimitCancelMoveTest::cancelSendSaysHowManyWereSent() {
  // Every response 150 ms late: the cancel comes while requests remain.
  Archive archive({"--results", "5", "--delay", "150"});
  QVERIFY(archive.ready());
  Station st;
  QVERIFY(SearchAll(st, StationSettings(archive.port())));
  st.ClickRow(1);
  st.ClickRow(5, Qt::ShiftModifier);
  QSignalSpy done(st.frm.get(), &frmMain::sendFinished);
  QTest::mouseClick(st.frm->cmdSend, Qt::LeftButton);
  QVERIFY(st.frm->busy());
  QTRY_VERIFY_WITH_TIMEOUT(archive.stores().size() >= 1, kWaitMs);
  QTest::mouseClick(st.frm->cmdCancel, Qt::LeftButton);
  QVERIFY(done.wait(kWaitMs));

  const int sent = static_cast<int>(archive.stores().size());
  QVERIFY2(sent >= 1 && sent < 5, qPrintable(QString::number(sent)));
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].text,
           QStringLiteral("Sending cancelled: %1 of 5 requests were sent.").arg(sent));
  QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Information);
  QCOMPARE(st.LogLines("Error.log", QStringLiteral(" - Send")), 0);
  QVERIFY(!st.frm->busy());
  QVERIFY(st.frm->cmdCancel->isHidden());
}

void WindowLimitCancelMoveTest::modalityKeyChoosesTheAttribute_data() {
  QTest::addColumn<QString>("line");  // the [Query] ModalityKey line, or none
  QTest::addColumn<QString>("sent");
  QTest::addColumn<QString>("notSent");
  QTest::newRow("default") << QString() << "0008,0060" << "0008,0061";
  QTest::newRow("Modality") << "ModalityKey=Modality" << "0008,0060" << "0008,0061";
  QTest::newRow("ModalitiesInStudy") << "ModalityKey=ModalitiesInStudy" << "0008,0061" << "0008,0060";
  QTest::newRow("letter case") << "ModalityKey=modalitiesinstudy" << "0008,0061" << "0008,0060";
  QTest::newRow("unknown word") << "ModalityKey=Series" << "0008,0060" << "0008,0061";
}

void WindowLimitCancelMoveTest::modalityKeyChoosesTheAttribute() {
  QFETCH(QString, line);
  QFETCH(QString, sent);
  QFETCH(QString, notSent);
  Archive archive({"--demo", "40"});
  QVERIFY(archive.ready());
  Station st;
  QStringList settings = StationSettings(archive.port());
  if (!line.isEmpty()) settings.insert(settings.indexOf("Timeout=10") + 1, line);
  st.dir.WriteSettings(settings);
  st.ShowActive();
  st.frm->panel().cboMod->setCurrentText(QStringLiteral("CT"));
  QVERIFY(st.Search());
  QCOMPARE(archive.finds().size(), 1);
  const QJsonObject identifier = archive.finds()[0].value("identifier").toObject();
  QCOMPARE(identifier.value(sent).toString(), QStringLiteral("CT"));
  // The other attribute goes, if at all, as an empty return key.
  QVERIFY(identifier.value(notSent).toString().isEmpty());
  // The demo archive matches either attribute against the studies' series:
  // CT studies are found both ways.
  QVERIFY(st.frm->grid1->rowCount() > 0);
  QVERIFY(!st.frm->grid1->studyUid(1).isEmpty());
  QVERIFY(st.sink.shown.empty());
}

void WindowLimitCancelMoveTest::moveSendsStudiesToTheActiveNode() {
  StoreScp room(QStringLiteral("CT_ROOM"));
  QVERIFY(room.ready());
  Archive archive({"--demo", "6", "--node", QStringLiteral("CT_ROOM=127.0.0.1:%1").arg(room.port())});
  QVERIFY(archive.ready());
  Station st;
  QVERIFY(SearchAll(st, MoveSettings(archive.port(), QStringLiteral("CT_ROOM"))));
  st.ClickRow(1);
  st.ClickRow(2, Qt::ControlModifier);
  StatusLog status(st.frm->statusBar());
  QVERIFY(SendAndWait(st));

  const QList<QJsonObject> moves = archive.journal(QStringLiteral("move"));
  QCOMPARE(moves.size(), 2);
  int images = 0;
  for (int i = 0; i < 2; ++i) {
    QCOMPARE(moves[i].value("destination").toString(), QStringLiteral("CT_ROOM"));
    QCOMPARE(moves[i].value("study_uid").toString(), st.frm->grid1->studyUid(i + 1));
    QCOMPARE(moves[i].value("status").toString(), QStringLiteral("0x0000"));
    images += moves[i].value("completed").toInt();
  }
  QVERIFY(images > 0);
  QVERIFY(archive.stores().isEmpty());  // no forwarding request at all
  QTRY_COMPARE_WITH_TIMEOUT(room.files(), images, kWaitMs);
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Information);
  QCOMPARE(st.sink.shown[0].text,
           QStringLiteral("2 of 2 studies were moved to CT_ROOM: %1 images sent, 0 failed.").arg(images));
  QVERIFY2(status.texts.filter(QRegularExpression("^Moving study 2 of 2: \\d+ images sent, 0 failed$"))
               .size() > 0,
           qPrintable(status.texts.join('|')));
  QCOMPARE(st.LogLines("Error.log", QStringLiteral(" - Send")), 0);
}

void WindowLimitCancelMoveTest::moveToUnknownDestinationNamesTheRemedy() {
  Archive archive({"--demo", "3"});  // knows no nodes at all
  QVERIFY(archive.ready());
  Station st;
  QVERIFY(SearchAll(st, MoveSettings(archive.port(), QStringLiteral("NOWHERE"))));
  st.ClickRow(1);
  QVERIFY(SendAndWait(st));
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Critical);
  QVERIFY2(st.sink.shown[0].text.startsWith(QStringLiteral("1013 - ")) &&
               st.sink.shown[0].text.contains(QStringLiteral(
                   "The archive does not know the destination NOWHERE (0xA801): add it to the "
                   "archive's list of nodes.")),
           qPrintable(st.sink.shown[0].text));
  QCOMPARE(st.LogLines("Error.log", QStringLiteral(" - Send")), 1);
  QCOMPARE(archive.journal(QStringLiteral("move")).size(), 1);
}

void WindowLimitCancelMoveTest::moveWithoutActiveNodeSendsNothing() {
  Archive archive({"--demo", "3"});
  QVERIFY(archive.ready());
  Station st;
  QVERIFY(SearchAll(st, MoveSettings(archive.port(), QString())));
  st.ClickRow(1);
  QSignalSpy done(st.frm.get(), &frmMain::sendFinished);
  QTest::mouseClick(st.frm->cmdSend, Qt::LeftButton);
  QVERIFY(!st.frm->busy());
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QVERIFY2(st.sink.shown[0].text.startsWith(
               QStringLiteral("Choose a forward node first: click one of the node buttons.")),
           qPrintable(st.sink.shown[0].text));
  QCOMPARE(st.LogLines("Error.log", QStringLiteral("Send")), 0);
  QVERIFY(archive.journal(QStringLiteral("move")).isEmpty());
  QVERIFY(archive.stores().isEmpty());
  QVERIFY(done.isEmpty());

  // Choosing a node is all it takes: the next Send goes to it (here a node
  // the archive does not know, so the archive's answer proves it was asked).
  st.frm->cmdNode[1]->click();
  QVERIFY(SendAndWait(st));
  const QList<QJsonObject> moves = archive.journal(QStringLiteral("move"));
  QCOMPARE(moves.size(), 1);
  QCOMPARE(moves[0].value("destination").toString(), QStringLiteral("NOWHERE"));
  QVERIFY(archive.stores().isEmpty());
}

QTEST_MAIN(WindowLimitCancelMoveTest)
#include "window_limit_cancel_move_test.moc"
