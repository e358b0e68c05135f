// The search and send workers against morvanta-archive on a free loopback
// port: what the archive received, and what came back to the UI thread.

#include <QSignalSpy>
#include <QTest>

#include <optional>
#include <set>

#include "../support/qt_archive.h"
#include "dicom/errors.h"
#include "forward/send.h"
#include "search/query.h"
#include "search/search_worker.h"
#include "search/shortcuts.h"

using namespace morvanta;
using search::SearchOutcome;
using forward::SendOutcome;
using test::Archive;

namespace {

// The runner's outcome, or nothing when it would not start or did not finish
// within `timeoutMs`: a search that never ended must fail the test, never pass
// as an empty answer.
std::optional<SearchOutcome> RunSearchRunner(search::SearchRunner& runner, const dicom::ArchiveAddress& address,
                                             const dicom::DataSet& identifier, int timeoutMs = 30000) {
  QSignalSpy finished(&runner, &search::SearchRunner::finished);
  if (!runner.start(address, identifier)) return std::nullopt;
  if (!finished.wait(timeoutMs) || finished.isEmpty()) return std::nullopt;
  return finished.at(0).at(0).value<SearchOutcome>();
}

}  // namespace

class RunnersTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    qRegisterMetaType<SearchOutcome>();
    qRegisterMetaType<SendOutcome>();
  }

  void weekSearchSendsOneStudyDateAndFindsItsStudies() {
    Archive archive({"--demo", "60", "--today", "20261207"});
    QVERIFY(archive.ready());
    search::SearchCriteria criteria;
    const auto week = search::ShortcutFor(search::Shortcut::Week, QDate(2026, 12, 7));
    criteria.shortcutDate = week.date;
    criteria.shortcutRange = week.range;
    criteria.rangeStart = QDate(2026, 12, 3);  // the user's range narrows the week
    const auto plan = search::BuildIdentifier(criteria);
    QVERIFY(!plan.matchesNothing);

    search::SearchRunner runner;
    const auto finished = RunSearchRunner(runner, archive.address(), search::MakeIdentifier(plan.keys));
    QVERIFY2(finished, "the search did not finish");
    const SearchOutcome& outcome = *finished;
    QVERIFY2(outcome.ok(), outcome.error ? outcome.error->description.c_str() : "");
    QVERIFY(!runner.isRunning());
    QCOMPARE(outcome.count, outcome.results.Count());
    QVERIFY(outcome.count > 0);
    for (const auto& study : outcome.results) {
      QCOMPARE(QString::fromStdString(study.Attributes().Item(0x0008, 0x0020).Value()),
               QString("20261203"));
    }
    const auto finds = archive.journal("find");
    QCOMPARE(finds.size(), 1);
    const QJsonObject identifier = finds[0].value("identifier").toObject();
    QCOMPARE(identifier.value("0008,0020").toString(), QString("20261203"));
    QCOMPARE(identifier.value("0010,0010").toString(), QString("*"));
    QCOMPARE(identifier.value("0008,0052").toString(), QString("STUDY"));
    QCOMPARE(finds[0].value("calling").toString(), QString("MORVANTA"));
  }

  void manyResultsAreCountedNotOverflowed() {
    Archive archive({"--results", "33000"});
    QVERIFY(archive.ready());
    search::SearchCriteria criteria;
    criteria.patientId = "*";
    search::SearchRunner runner;
    // 33,000 responses take seconds under the sanitizers, and several times
    // that on a loaded machine; the bound only has to end a search that hangs.
    const auto finished = RunSearchRunner(
        runner, archive.address(), search::MakeIdentifier(search::BuildIdentifier(criteria).keys), 180000);
    QVERIFY2(finished, "the search did not finish");
    const SearchOutcome& outcome = *finished;
    QVERIFY2(outcome.ok(), outcome.error ? outcome.error->description.c_str() : "");
    QCOMPARE(outcome.count, std::size_t{33000});
    QVERIFY(search::IsTooMany(outcome.count));
  }

  void secondSearchRefusedWhileOneRuns() {
    Archive archive({"--demo", "3", "--delay", "300"});
    QVERIFY(archive.ready());
    search::SearchRunner runner;
    QSignalSpy finished(&runner, &search::SearchRunner::finished);
    const auto identifier = search::MakeIdentifier(search::BuildIdentifier({}).keys);
    QVERIFY(runner.start(archive.address(), identifier));
    QVERIFY(runner.isRunning());
    QVERIFY(!runner.start(archive.address(), identifier));
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.size(), 1);
    QVERIFY(!runner.isRunning());
    QCOMPARE(archive.journal("find").size(), 1);
  }

  // A cancel is the user's choice for every operation: neither a cancelled
  // search nor a cancelled Send carries an error to log or show.
  void cancelledSearchAndSendAreNoErrors() {
    Archive archive({"--demo", "3", "--hang"});
    QVERIFY(archive.ready());
    search::SearchRunner search;
    QSignalSpy searched(&search, &search::SearchRunner::finished);
    QVERIFY(search.start(archive.address(), search::MakeIdentifier(search::BuildIdentifier({}).keys)));
    search.cancel();
    QVERIFY(searched.wait(30000));
    const auto found = searched.at(0).at(0).value<SearchOutcome>();
    QVERIFY(found.cancelled);
    QVERIFY(!found.error.has_value());
    QVERIFY(found.ok());

    forward::SendRunner send;
    QSignalSpy sent(&send, &forward::SendRunner::finished);
    QVERIFY(send.start(archive.address(), {"1.2.3", "1.2.4"}));
    send.cancel();
    QVERIFY(sent.wait(30000));
    const auto stored = sent.at(0).at(0).value<SendOutcome>();
    QVERIFY(stored.cancelled);
    QVERIFY(!stored.error.has_value());
  }

  void refusedAssociationComesBackAsError() {
    Archive archive({"--refuse", "called"});
    QVERIFY(archive.ready());
    search::SearchRunner runner;
    const auto finished =
        RunSearchRunner(runner, archive.address(), search::MakeIdentifier(search::BuildIdentifier({}).keys));
    QVERIFY2(finished, "the search did not finish");
    const SearchOutcome& outcome = *finished;
    QVERIFY(outcome.error.has_value());
    QCOMPARE(outcome.error->number,
             static_cast<std::int32_t>(dicom::ErrorCode::AssociationRejected));
    QVERIFY(!outcome.error->description.empty());
    QCOMPARE(outcome.count, std::size_t{0});

    const SendOutcome sent = forward::SendStudies(archive.address(), {"1.2.3"});
    QVERIFY(sent.error.has_value());
    QCOMPARE(sent.done, 0);
    QCOMPARE(archive.journal("store").size(), 0);
  }

  void sendStoresOneRequestPerStudyInOrderSkippingEmptyUids() {
    Archive archive({"--demo", "1"});
    QVERIFY(archive.ready());
    forward::SendRunner runner;
    QSignalSpy progress(&runner, &forward::SendRunner::progress);
    QSignalSpy finished(&runner, &forward::SendRunner::finished);
    QVERIFY(runner.start(archive.address(), {"1.2.3", "", "1.2.4", "1.2.5"}));
    QVERIFY(runner.isRunning());
    QVERIFY(!runner.start(archive.address(), {"9.9"}));
    QVERIFY(finished.wait(30000));
    QVERIFY(!runner.isRunning());
    const auto outcome = finished.at(0).at(0).value<SendOutcome>();
    QVERIFY2(outcome.ok(), outcome.error ? outcome.error->description.c_str() : "");
    QCOMPARE(outcome.done, 3);
    QCOMPARE(outcome.total, 3);
    QCOMPARE(outcome.skipped, 1);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toInt(), 3);
    QCOMPARE(progress.last().at(1).toInt(), 3);

    const auto stores = archive.journal("store");
    QCOMPARE(stores.size(), 3);
    QStringList studies;
    std::set<QString> instances;
    for (const auto& store : stores) {
      studies << store.value("study_uid").toString();
      instances.insert(store.value("sop_instance_uid").toString());
      QCOMPARE(store.value("creator").toString(), QString("REDIRECT"));
      QCOMPARE(store.value("sop_class_uid").toString(), QString("1.2.840.10008.5.1.4.1.1.1"));
      QCOMPARE(store.value("status").toString(), QString("0x0000"));
    }
    QCOMPARE(studies, (QStringList{"1.2.3", "1.2.4", "1.2.5"}));
    QCOMPARE(instances.size(), std::size_t{3});
  }

  // Only success and warning statuses mean the archive kept a request
  // (0xFE00 and 0xFF00 cannot end a C-STORE); a Send that breaks off says
  // how many it had stored, and tries no more.
  void sendEndsAsTheArchiveAnswers_data() {
    QTest::addColumn<QStringList>("archive");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("error");      // 0: none
    QTest::addColumn<QString>("ending");  // of the error's text
    const QString refused = QStringLiteral(" 1 of 3 requests were stored before the refusal.");
    QTest::newRow("warning 0xB007") << QStringList{"--fail-store", "2:B007"} << 3 << 0 << QString();
    QTest::newRow("warning 0x0001") << QStringList{"--fail-store", "2:0001"} << 3 << 0 << QString();
    QTest::newRow("refused 0xA700") << QStringList{"--fail-store", "2"} << 1 << 1007 << refused;
    QTest::newRow("cancel 0xFE00") << QStringList{"--fail-store", "2:FE00"} << 1 << 1007
                                   << "status 0xFE00 (cancelled)." + refused;
    QTest::newRow("pending 0xFF00") << QStringList{"--fail-store", "2:FF00"} << 1 << 1007
                                    << "status 0xFF00 (pending)." + refused;
    QTest::newRow("aborted at the second") << QStringList{"--abort-store", "2"} << 1 << 1005
                                           << " 1 of 3 requests were stored before the connection was aborted.";
    QTest::newRow("second never answered") << QStringList{"--hang-store", "2"} << 1 << 1004
                                           << " 1 of 3 requests were stored before the archive stopped answering.";
  }
  void sendEndsAsTheArchiveAnswers() {
    QFETCH(QStringList, archive);
    QFETCH(int, stored);
    QFETCH(int, error);
    QFETCH(QString, ending);
    Archive peer(archive);
    QVERIFY(peer.ready());
    dicom::ArchiveAddress address = peer.address();
    address.timeoutSeconds = 2;
    const SendOutcome outcome = forward::SendStudies(address, {"1.1", "1.2", "1.3"});
    QCOMPARE(outcome.done, stored);
    QCOMPARE(outcome.total, 3);
    QCOMPARE(outcome.error ? outcome.error->number : 0, error);
    if (outcome.error)
      QVERIFY2(QString::fromStdString(outcome.error->description).endsWith(ending),
               outcome.error->description.c_str());
    // After a failure status the rest are not tried.
    if (error == 1007) QCOMPARE(peer.journal("store").size(), stored + 1);
  }

  // 0xFE00 answers a C-CANCEL; one that comes unasked ends a search early:
  // its rows are kept, and it is reported as a C-FIND failure.
  void searchEndedEarlyByTheArchiveKeepsItsRowsAndSaysSo() {
    Archive archive({"--results", "10", "--find-status", "FE00"});
    QVERIFY(archive.ready());
    search::SearchRunner runner;
    const auto finished =
        RunSearchRunner(runner, archive.address(), search::MakeIdentifier(search::BuildIdentifier({}).keys));
    QVERIFY2(finished, "the search did not finish");
    QVERIFY(finished->ok());
    QCOMPARE(finished->count, std::size_t{10});
    QVERIFY(!finished->truncated);
    QVERIFY(finished->incomplete.has_value());
    QCOMPARE(finished->incomplete->number, static_cast<std::int32_t>(dicom::ErrorCode::FindFailed));
    const QString text = QString::fromStdString(finished->incomplete->description);
    QVERIFY2(text.contains("0xFE00") && text.contains("the 10 results shown may not be all"), qPrintable(text));
  }

  // A move whose every study arrived is done, whatever the release meets.
  void moveWhoseReleaseIsNeverAnsweredIsDone() {
    Archive destination({"--accept-any-aet"});  // called DEST by the archive that moves
    QVERIFY(destination.ready());
    Archive archive({"--demo", "5", "--hang-release", "--node", QStringLiteral("DEST=127.0.0.1:%1").arg(destination.port())});
    QVERIFY(archive.ready());
    dicom::ArchiveAddress address = archive.address();
    address.timeoutSeconds = 2;
    const SendOutcome outcome =
        forward::MoveStudies(address, {"2.25.3141592653589793238462643380000002"}, "DEST", {}, nullptr);
    QVERIFY2(outcome.ok(), outcome.error ? outcome.error->description.c_str() : "");
    QCOMPARE(outcome.done, 1);
    QVERIFY(outcome.imagesSent > 0);
    QVERIFY2(QString::fromStdString(outcome.releaseNote).startsWith("Send: all 1 studies were moved; the release"),
             outcome.releaseNote.c_str());
  }

  void nothingToSendStillOpensAndCloses() {
    Archive archive({});
    QVERIFY(archive.ready());
    const SendOutcome outcome = forward::SendStudies(archive.address(), {"", ""});
    QVERIFY(outcome.ok());
    QCOMPARE(outcome.done, 0);
    QCOMPARE(outcome.total, 0);
    QCOMPARE(outcome.skipped, 2);
    QCOMPARE(archive.journal("store").size(), 0);
  }
};

QTEST_GUILESS_MAIN(RunnersTest)
#include "search_forward_runners_test.moc"
