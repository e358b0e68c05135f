// The controller with the demo archive and no window: what each start
// request does, what reaches the message sink and the error log, and that a
// cancel is no error for any operation.

#include <QSignalSpy>
#include <QTest>

#include <string>
#include <vector>

#ifndef _WIN32
#include "../support/file_opens.h"
#endif
#include "../support/qt_archive.h"
#include "../support/station.h"
#include "search/shortcuts.h"

using namespace morvanta;
using operations::Start;
using test::Archive;
using test::SettingsFor;
using test::Station;

namespace {

search::SearchCriteria ById(const char* id) {
  search::SearchCriteria criteria;
  criteria.patientId = QString::fromLatin1(id);
  return criteria;
}

}  // namespace

class ControllerTest : public QObject {
  Q_OBJECT

 private slots:
  // Each way a search request can go, with what the user is told and what
  // the error log keeps.
  void searchStartsOrSaysWhyNot_data() {
    QTest::addColumn<QByteArray>("settings");  // null: no Settings.ini
    QTest::addColumn<QString>("patientId");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("message");  // "" for none
    QTest::addColumn<QString>("logged");   // the procedure in Error.log, "" for nothing
    QTest::newRow("empty form") << SettingsFor(104) << "" << int(Start::NoCriteria) << "" << "";
    QTest::newRow("no settings file") << QByteArray() << "1" << int(Start::NotReady)
                                      << "0 - Settings.ini existiert nicht." << "CheckInI";
    QTest::newRow("port not a number")
        << QByteArray("[Query]\r\nAET=ARCHIVE\r\nPort=abc\r\n") << "1" << int(Start::NotReady)
        << "1010 - Port \"abc\" of ARCHIVE in Settings.ini is not a TCP port (1 to 65535)" << "CheckInI";
  }
  void searchStartsOrSaysWhyNot() {
    QFETCH(QByteArray, settings);
    QFETCH(QString, patientId);
    QFETCH(int, start);
    QFETCH(QString, message);
    QFETCH(QString, logged);
    Station st(settings);
    QSignalSpy busy(&st.controller, &operations::Controller::busyChanged);
    const operations::SearchStart started = st.controller.Search(ById(patientId.toLatin1().constData()));
    QCOMPARE(int(started.start), start);
    QVERIFY(busy.isEmpty());
    QVERIFY(!st.controller.busy());
    QCOMPARE(st.sink.shown.size(), std::size_t(message.isEmpty() ? 0 : 1));
    if (!message.isEmpty()) {
      QCOMPARE(st.sink.shown[0].text, message);
      QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Critical);
    }
    QCOMPARE(st.ErrorLog().contains(logged.toLatin1()), true);
    QCOMPARE(st.ErrorLog().isEmpty(), logged.isEmpty());
  }

  void searchFindsStudiesAndRefusesASecondWhileItRuns() {
    Archive archive({"--demo", "5", "--delay", "200"});
    QVERIFY(archive.ready());
    Station st(SettingsFor(archive.address().port));
    QSignalSpy results(&st.controller, &operations::Controller::searchResults);
    QSignalSpy finished(&st.controller, &operations::Controller::searchFinished);
    search::SearchCriteria criteria;
    criteria.lastName = QStringLiteral("M");
    const operations::SearchStart started = st.controller.Search(criteria);
    QCOMPARE(started.start, Start::Started);
    QCOMPARE(started.composedName, QStringLiteral("M"));
    QVERIFY(st.controller.busy());
    QCOMPARE(st.controller.Search(ById("1")).start, Start::Busy);
    QCOMPARE(st.controller.Send({"1.2.3"}), Start::Busy);
    QVERIFY(finished.wait(30000));
    QCOMPARE(results.size(), 1);
    QVERIFY(!st.controller.busy());
    QVERIFY(st.sink.shown.empty());
    QCOMPARE(archive.journal("find").size(), 1);
    QCOMPARE(archive.journal("store").size(), 0);
  }

  void searchThatCannotMatchNeverAsksTheArchive() {
    Archive archive({"--demo", "5"});
    QVERIFY(archive.ready());
    Station st(SettingsFor(archive.address().port));
    QSignalSpy results(&st.controller, &operations::Controller::searchResults);
    search::SearchCriteria criteria;
    const auto today = search::ShortcutFor(search::Shortcut::Today, QDate(2026, 12, 7));
    criteria.shortcutDate = today.date;
    criteria.shortcutRange = today.range;
    criteria.rangeStart = QDate(2026, 12, 8);
    QCOMPARE(st.controller.Search(criteria).start, Start::MatchesNothing);
    QCOMPARE(results.size(), 1);
    QCOMPARE(results.at(0).at(0).value<search::SearchOutcome>().count, std::size_t{0});
    QCOMPARE(archive.journal("find").size(), 0);
  }

  void refusedSearchIsReportedAndLogged() {
    Archive archive({"--refuse", "called"});
    QVERIFY(archive.ready());
    Station st(SettingsFor(archive.address().port));
    QSignalSpy finished(&st.controller, &operations::Controller::searchFinished);
    QSignalSpy results(&st.controller, &operations::Controller::searchResults);
    QCOMPARE(st.controller.Search(ById("1")).start, Start::Started);
    QVERIFY(finished.wait(30000));
    QVERIFY(results.isEmpty());
    QCOMPARE(st.sink.shown.size(), std::size_t{1});
    QVERIFY2(st.sink.shown[0].text.startsWith("1003 - "), qPrintable(st.sink.shown[0].text));
    QVERIFY(st.ErrorLog().contains("- cmdSearch_Click"));
  }

  // The user's cancel is the same for every operation: a note or a count of
  // what was done, never an error message, never a line in Error.log.
  void cancelIsNoErrorForSearchOrSend() {
    Archive archive({"--demo", "3", "--hang"});
    QVERIFY(archive.ready());
    Station st(SettingsFor(archive.address().port));
    QSignalSpy notes(&st.controller, &operations::Controller::statusNote);
    QSignalSpy searched(&st.controller, &operations::Controller::searchFinished);
    QCOMPARE(st.controller.Search(ById("1")).start, Start::Started);
    st.controller.Cancel();
    QVERIFY(searched.wait(30000));
    QVERIFY(st.sink.shown.empty());
    QCOMPARE(notes.last().at(0).toString(), QStringLiteral("Search cancelled."));

    QSignalSpy sent(&st.controller, &operations::Controller::sendFinished);
    QCOMPARE(st.controller.Send({"1.2.3", "1.2.4"}), Start::Started);
    st.controller.Cancel();
    QVERIFY(sent.wait(30000));
    QVERIFY(sent.at(0).at(0).value<forward::SendOutcome>().cancelled);
    QCOMPARE(st.sink.shown.size(), std::size_t{1});
    QVERIFY2(st.sink.shown[0].text.startsWith("Sending cancelled: 0 of 2"), qPrintable(st.sink.shown[0].text));
    QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Information);
    QVERIFY(st.ErrorLog().isEmpty());
  }

  // "" is a study the archive listed without a Study Instance UID: never
  // sent, never counted as sent, always said and logged.
  void sendSaysWhatWasForwarded_data() {
    QTest::addColumn<QStringList>("uids");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("message");  // "{archive}": ARCHIVE at 127.0.0.1:port
    QTest::addColumn<bool>("logged");
    QTest::newRow("every study has a UID")
        << QStringList{"1.2.3", "1.2.4"} << 2
        << "Request(s) completed.\r\nThis process might take a few seconds." << false;
    QTest::newRow("one of three without a UID")
        << QStringList{"1.2.3", "", "1.2.4"} << 2
        << "1011 - 1 of 3 selected studies have no Study Instance UID from {archive} and cannot be forwarded; "
           "they were not sent. 2 of 2 requests for the other studies were stored."
        << true;
    QTest::newRow("none with a UID: nothing starts")
        << QStringList{"", ""} << 0
        << "1011 - 2 of 2 selected studies have no Study Instance UID from {archive} and cannot be forwarded; "
           "they were not sent."
        << true;
  }
  void sendSaysWhatWasForwarded() {
    QFETCH(QStringList, uids);
    QFETCH(int, stored);
    QFETCH(QString, message);
    QFETCH(bool, logged);
    Archive archive({"--demo", "1"});
    QVERIFY(archive.ready());
    Station st(SettingsFor(archive.address().port));
    QSignalSpy sent(&st.controller, &operations::Controller::sendFinished);
    std::vector<std::string> studies;
    for (const QString& uid : uids) studies.push_back(uid.toStdString());
    const Start start = st.controller.Send(studies);
    QCOMPARE(start, stored > 0 ? Start::Started : Start::Failed);
    if (start == Start::Started) QVERIFY(sent.wait(30000));
    QVERIFY(!st.controller.busy());
    QCOMPARE(archive.journal("store").size(), stored);
    QCOMPARE(st.sink.shown.size(), std::size_t{1});
    QCOMPARE(st.sink.shown[0].text,
             message.replace("{archive}", QStringLiteral("ARCHIVE at 127.0.0.1:%1").arg(archive.port())));
    QCOMPARE(st.ErrorLog().contains(" - Send"), logged);
  }

  // An operation takes its settings, [TLS] included, from one read of
  // Settings.ini: a hand edit made meanwhile counts whole or not at all.
  void operationReadsSettingsOnce_data() {
    QTest::addColumn<QByteArray>("forward");
    QTest::addColumn<QString>("request");  // what the archive receives
    QTest::newRow("search") << QByteArray() << "find";
    QTest::newRow("send by forwarding request") << QByteArray() << "store";
    QTest::newRow("send by C-MOVE") << QByteArray("[Forward]\r\nMethod=MOVE\r\n") << "move";
  }
  void operationReadsSettingsOnce() {
#ifdef _WIN32
    QSKIP("the opens of Settings.ini are counted with inotify, which Windows has not");
#else
    QFETCH(QByteArray, forward);
    QFETCH(QString, request);
    Archive archive({"--demo", "1"});
    QVERIFY(archive.ready());
    Station st(SettingsFor(archive.address().port, forward.constData()) +
               "[TLS]\r\nEnabled=0\r\nCACertificates=ca.pem\r\nServerName=archive\r\n");
    st.controller.SetActiveNode("MORVANTA");
    test::FileOpens opens(st.store.file());
    QVERIFY(opens.watching());
    QSignalSpy searched(&st.controller, &operations::Controller::searchFinished);
    QSignalSpy sent(&st.controller, &operations::Controller::sendFinished);
    if (request == QLatin1String("find")) {
      QCOMPARE(st.controller.Search(ById("1")).start, Start::Started);
      QVERIFY(searched.wait(30000));
    } else {
      QCOMPARE(st.controller.Send({"1.2.3"}), Start::Started);
      QVERIFY(sent.wait(30000));
    }
    QCOMPARE(archive.journal(request).size(), 1);
    QCOMPARE(opens.Take(), 1);
#endif
  }

  void moveWithoutAChosenNodeSendsNothing() {
    Archive archive({"--demo", "1"});
    QVERIFY(archive.ready());
    Station st(SettingsFor(archive.address().port, "[Forward]\r\nMethod=MOVE\r\n"));
    QCOMPARE(st.controller.Send({"1.2.3"}), Start::NoActiveNode);
    QVERIFY(!st.controller.busy());
    QCOMPARE(st.sink.shown.size(), std::size_t{1});
    QVERIFY(st.sink.shown[0].text.startsWith("Choose a forward node first"));
    QCOMPARE(archive.journal("move").size(), 0);
    QVERIFY(st.ErrorLog().isEmpty());
  }
};

QTEST_GUILESS_MAIN(ControllerTest)
#include "operations_controller_test.moc"
