// The audit trail end to end: the controller's search and Send against the
// demo archive, and the real program's start and stop, recorded to
// repositories on loopback (TLS with the test certificates, and UDP), and
// ones that refuse or hang, which must never hold up a search or the end.

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <set>

#include "../support/audit_receiver.h"
#include "../support/qt_archive.h"
#include "../support/station.h"
#include "audit/events.h"
#include "audit/trail.h"
#include "tls_peer.h"

using namespace morvanta;
using test::AuditRecord;
using test::ReadFile;
using test::SettingsFor;
using test::TlsReceiver;

namespace {

QByteArray Udp(int repositoryPort) {
  return "[Audit]\r\nRepository=127.0.0.1:" + QByteArray::number(repositoryPort) + "\r\nTransport=UDP\r\n";
}

struct Station : test::Station {
  explicit Station(const QByteArray& settings) : test::Station(settings) {}
  // The trail as the program makes it from [Audit], reporting to this log.
  audit::TrailOptions Options() {
    audit::TrailOptions options;
    std::string problem;
    options.repository = audit::ReadRepository(store.file(), &problem);
    if (!problem.empty()) qWarning("%s", problem.c_str());
    options.syslog = false;
    options.retry = std::chrono::milliseconds(50);
    options.timeoutSeconds = 2;
    options.reportError = [this](const std::string& text) { (void)log.LogError(1018, text, "Audit"); };
    return options;
  }
  audit::Context Context() { return audit::ContextFrom(controller.settings()); }
  // Searches for `patientId` and waits for the outcome.
  search::SearchOutcome Search(const std::string& patientId) {
    QSignalSpy results(&controller, &operations::Controller::searchResults);
    QSignalSpy finished(&controller, &operations::Controller::searchFinished);
    search::SearchCriteria criteria;
    criteria.patientId = QString::fromStdString(patientId);
    if (controller.Search(criteria).start != operations::Start::Started || !finished.wait(30000) || results.size() != 1)
      return {};
    return results.at(0).at(0).value<search::SearchOutcome>();
  }
};

// The real program in a folder of its own, shown and closed at once; its exit code, -1 when it did not end.
int RunProgram(const QTemporaryDir& program, const QByteArray& settings, qint64* pid) {
  QFile::copy(QStringLiteral(MORVANTA_BINARY), program.filePath("morvanta"));
  QFile::copy(QStringLiteral(MORVANTA_TLS_MODULE), program.filePath("morvanta-tls.so"));
  QFile file(program.filePath("Settings.ini"));
  if (!file.open(QIODevice::WriteOnly) || file.write(settings) != settings.size()) return -1;
  file.close();
  QProcess run;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("MORVANTA_EXIT_WHEN_SHOWN", "1");
  run.setProcessEnvironment(env);
  run.setProcessChannelMode(QProcess::ForwardedChannels);
  run.start(program.filePath("morvanta"), {});
  *pid = run.waitForStarted(20000) ? run.processId() : 0;
  return run.waitForFinished(60000) && run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
}

// Every message names the person, the station (by its process) and the archive, under an RFC 5424 header:
// authpriv, version 1, our name, the DICOM audit MSGID.
void CheckParties(const AuditRecord& r, int archivePort, qint64 pid = ::getpid()) {
  QVERIFY2(r.wellFormed, r.xml.constData());
  const QString host = QString::fromStdString(audit::HostName());
  QVERIFY(r.Has("ActiveParticipant", {{"UserID", QString::fromStdString(audit::CurrentPerson().login)},
                                      {"UserIsRequestor", "true"}, {"NetworkAccessPointID", host}}));
  QVERIFY(r.Has("ActiveParticipant", {{"UserID", QString::number(pid)}, {"AlternativeUserID", "AETITLES=MORVANTA"}}));
  QVERIFY(r.Has("ActiveParticipant", {{"UserID", "127.0.0.1:" + QString::number(archivePort)},
                                      {"AlternativeUserID", "AETITLES=ARCHIVE"},
                                      {"NetworkAccessPointTypeCode", "2"}}));
  QVERIFY(r.Has("AuditSourceIdentification", {{"AuditSourceID", host}}));
  QVERIFY2(r.header.starts_with("<85>1 ") || r.header.starts_with("<84>1 "), r.header.c_str());
  QVERIFY2(r.header.find(" morvanta " + std::to_string(pid) + " IHE+RFC-3881 [meta sequenceId=\"") !=
               std::string::npos,
           r.header.c_str());
}

}  // namespace

class AuditTrailTest : public QObject {
  Q_OBJECT

  testing::TestPki pki_;
  QByteArray TlsAudit(int repositoryPort) const {
    return "[TLS]\r\nCACertificates=" + QByteArray::fromStdString(pki_ / "ca.pem") +
           "\r\nCertificate=" + QByteArray::fromStdString(pki_ / "station.pem") +
           "\r\nPrivateKey=" + QByteArray::fromStdString(pki_ / "station.key") +
           "\r\n[Audit]\r\nRepository=127.0.0.1:" + QByteArray::number(repositoryPort) + "\r\nTransport=TLS\r\n";
  }

 private slots:
  // A search over TLS: the query as sent, its results, the patient it names.
  void searchIsRecordedOverTls() {
    test::Archive archive({"--demo", "6"});
    QVERIFY(archive.ready());
    TlsReceiver repository(pki_ / "archive", TlsReceiver::Mode::Serve);
    Station st(SettingsFor(archive.port()) + TlsAudit(repository.port()));
    audit::Trail trail(st.Options());
    audit::Install(&trail);
    const search::SearchOutcome all = st.Search("PID*");
    QVERIFY(all.count > 0);
    const std::string patientId = all.results[0].PatientID();
    const search::SearchOutcome one = st.Search(patientId);

    QVERIFY(repository.WaitFor(2));
    const std::vector<AuditRecord> records = repository.Records();
    for (std::size_t i = 0; i < 2; ++i) {
      const AuditRecord& r = records[i];
      CheckParties(r, archive.port());
      QVERIFY(r.Has("EventID", {{"csd-code", "110112"}, {"codeSystemName", "DCM"}, {"originalText", "Query"}}));
      QVERIFY(r.Has("EventIdentification", {{"EventOutcomeIndicator", "0"}, {"EventActionCode", "E"}}));
      QVERIFY(QDateTime::fromString(r.elements.find("EventIdentification")->second.at("EventDateTime"),
                                    Qt::ISODateWithMs).isValid());
      QVERIFY(r.Has("RoleIDCode", {{"csd-code", "110153"}}));  // the station asks
      QVERIFY(r.Has("RoleIDCode", {{"csd-code", "110152"}}));  // the archive answers
      QVERIFY(r.Has("ParticipantObjectIdentification", {{"ParticipantObjectID", "1.2.840.10008.5.1.4.1.2.2.1"},
                                                        {"ParticipantObjectTypeCode", "2"},
                                                        {"ParticipantObjectTypeCodeRole", "3"}}));
      QVERIFY(r.Has("ParticipantObjectIDTypeCode", {{"csd-code", "110181"}}));
      const QByteArray identifier = QByteArray::fromBase64(r.texts.at("ParticipantObjectQuery").toLatin1());
      QVERIFY(identifier.contains(i == 0 ? QByteArray("PID*") : QByteArray::fromStdString(patientId)));
      QVERIFY(r.Has("ParticipantObjectDetail",
                    {{"type", "NumberOfResults"},
                     {"value", QByteArray::number(qulonglong(i == 0 ? all.count : one.count)).toBase64()}}));
    }
    QCOMPARE(records[0].Count("ParticipantObjectIdentification"), 1);  // "PID*" names no one
    QVERIFY(records[1].Has("ParticipantObjectIdentification",
                           {{"ParticipantObjectID", QString::fromStdString(patientId)},
                            {"ParticipantObjectTypeCode", "1"},
                            {"ParticipantObjectTypeCodeRole", "1"}}));
    QCOMPARE(archive.finds().size(), 2);
  }

  // A Send over UDP: one message per patient, naming its studies.
  void sendIsRecordedPerPatientOverUdp() {
    test::Archive archive({"--demo", "8"});
    QVERIFY(archive.ready());
    test::UdpReceiver repository;
    Station st(SettingsFor(archive.port()) + Udp(repository.port()));
    audit::Trail trail(st.Options());
    audit::Install(&trail);
    QSignalSpy sent(&st.controller, &operations::Controller::sendFinished);
    const search::SearchOutcome found = st.Search("PID*");
    QVERIFY(found.count >= 3);
    std::vector<operations::SendStudy> studies;
    std::set<std::string> patients;
    for (std::size_t i = 0; i < 3; ++i) {
      const dicom::DataSet& row = found.results[i];
      studies.push_back({row.StudyUID(), row.PatientID(), row.PatientName()});
      patients.insert(row.PatientID());
    }
    QCOMPARE(st.controller.SendStudies(studies), operations::Start::Started);
    QVERIFY(sent.wait(30000));
    QCOMPARE(archive.stores().size(), 3);

    QVERIFY(repository.WaitFor(1 + patients.size()));
    const std::vector<AuditRecord> records = repository.Records();
    QCOMPARE(records.size(), 1 + patients.size());
    for (auto r = records.begin() + 1; r != records.end(); ++r) {
      CheckParties(*r, archive.port());
      QVERIFY(r->Has("EventID", {{"csd-code", "110102"}, {"originalText", "Begin Transferring DICOM Instances"}}));
      QVERIFY(r->Has("EventIdentification", {{"EventOutcomeIndicator", "0"}}));
      // The archive sends; the station and the person asked for it.
      QVERIFY(r->Has("ActiveParticipant", {{"AlternativeUserID", "AETITLES=ARCHIVE"}, {"UserIsRequestor", "false"}}));
      QVERIFY(r->Has("ActiveParticipant", {{"AlternativeUserID", "AETITLES=MORVANTA"}, {"UserIsRequestor", "true"}}));
      QVERIFY(r->Has("RoleIDCode", {{"csd-code", "110153"}}));
      // One patient, all of whose studies it names, and no other's.
      int named = 0;
      for (const operations::SendStudy& study : studies) {
        const QString patient = QString::fromStdString(study.patientId);
        if (!r->Has("ParticipantObjectIdentification",
                    {{"ParticipantObjectID", patient}, {"ParticipantObjectTypeCodeRole", "1"}}))
          continue;
        ++named;
        QCOMPARE(r->texts.at("ParticipantObjectName").toStdString(), study.patientName);
        QVERIFY(r->Has("StudyIDs", {{"UID", QString::fromStdString(study.uid)}}));
        QVERIFY(r->Has("ParticipantObjectIdentification", {{"ParticipantObjectID", QString::fromStdString(study.uid)},
                                                           {"ParticipantObjectTypeCodeRole", "3"}}));
      }
      QVERIFY(named > 0);
      QCOMPARE(r->Count("StudyIDs"), named);
    }
  }

  // A repository that refuses, never handshakes or is another host: the
  // search's outcome comes while it has received nothing, Error.log says so
  // once however often it was tried, and what was lost once at the end.
  void deadRepositoryNeverHoldsUpASearch_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("certificate");  // the repository's
    QTest::addColumn<QString>("why");          // in Error.log
    QTest::newRow("refuses") << int(TlsReceiver::Mode::Refuse) << "archive" << "the TLS handshake failed";
    QTest::newRow("never handshakes") << int(TlsReceiver::Mode::Silent) << "archive" << "no TLS handshake within 2 s";
    QTest::newRow("certificate for another host") << int(TlsReceiver::Mode::Serve) << "evil"
                                                  << "its certificate was refused";
  }
  void deadRepositoryNeverHoldsUpASearch() {
    QFETCH(int, mode);
    QFETCH(QString, certificate);
    QFETCH(QString, why);
    test::Archive archive({"--demo", "4"});
    QVERIFY(archive.ready());
    TlsReceiver repository(pki_ / certificate.toStdString(), TlsReceiver::Mode(mode));
    Station st(SettingsFor(archive.port()) + TlsAudit(repository.port()));
    {
      audit::Trail trail(st.Options());
      audit::Install(&trail);
      audit::Record(audit::ApplicationActivity(st.Context(), true));
      QTRY_VERIFY_WITH_TIMEOUT(repository.Accepted() >= 1, 20000);  // refused, or stuck in the handshake
      QVERIFY(st.Search("PID*").count > 0);
      QVERIFY(repository.Records().empty());
      QTRY_VERIFY_WITH_TIMEOUT(repository.Accepted() >= 3, 20000);  // each silent try ends at the 2 s time-out
      QTRY_VERIFY_WITH_TIMEOUT(st.ErrorLog().contains("1018"), 20000);
    }
    const QByteArray log = st.ErrorLog();
    QCOMPARE(log.count("cannot be sent to the audit record repository 127.0.0.1:"), 1);
    QVERIFY2(log.contains(why.toLatin1()), log.constData());
    QCOMPARE(log.count("2 audit messages did not reach"), 1);
  }

  // The program itself records its start and its stop.
  void programStartAndStopAreRecorded() {
    test::UdpReceiver repository;
    QTemporaryDir program;
    qint64 pid = 0;
    QCOMPARE(RunProgram(program, SettingsFor(104) + Udp(repository.port()), &pid), 0);
    QVERIFY(repository.WaitFor(2));
    const std::vector<AuditRecord> records = repository.Records();
    QCOMPARE(records.size(), std::size_t{2});
    for (std::size_t i = 0; i < 2; ++i) {
      CheckParties(records[i], 104, pid);
      QVERIFY(records[i].Has("EventID", {{"csd-code", "110100"}, {"originalText", "Application Activity"}}));
      QVERIFY(records[i].Has("EventTypeCode", {{"csd-code", i == 0 ? "110120" : "110121"}}));
      QVERIFY(records[i].Has("RoleIDCode", {{"csd-code", "110150"}}));
      QVERIFY(records[i].Has("RoleIDCode", {{"csd-code", "110151"}}));
    }
  }

  // The program ends cleanly (the sanitizers' exit checks included) within
  // its flush time while the repository holds the handshake, and says what
  // it could not send.
  void programEndsCleanlyWhileTheRepositoryHangs() {
    TlsReceiver repository(pki_ / "archive", TlsReceiver::Mode::Silent);
    QTemporaryDir program;
    qint64 pid = 0;
    QCOMPARE(RunProgram(program, SettingsFor(104) + TlsAudit(repository.port()), &pid), 0);
    QVERIFY(repository.Accepted() >= 1);
    QVERIFY(ReadFile(program.filePath("Logs/Error.log"))
                .contains("2 audit messages did not reach the audit record repository"));
  }

  // An idle connection the repository ends: the next message goes over a
  // new one, and that is no failure worth a line in Error.log.
  void idleConnectionClosedByTheRepositoryLosesNothing() {
    TlsReceiver repository(pki_ / "archive", TlsReceiver::Mode::OneEach);
    Station st(SettingsFor(104) + TlsAudit(repository.port()));
    audit::Trail trail(st.Options());
    trail.Record(audit::LoginRefused(st.Context()));
    QVERIFY(repository.WaitFor(1));
    trail.Record(audit::LoginRefused(st.Context()));
    QVERIFY(repository.WaitFor(2));
    QCOMPARE(repository.Accepted(), 2);
    QCOMPARE(st.ErrorLog(), QByteArray());
  }

  // What the queue could not hold is counted, and the count rides on the
  // next message that reaches the repository; the sequence shows the gap.
  void lostMessagesAreCountedInTheNextOneThatGetsThrough() {
    TlsReceiver repository(pki_ / "archive", TlsReceiver::Mode::Refuse);
    Station st(SettingsFor(104) + TlsAudit(repository.port()));
    audit::TrailOptions options = st.Options();
    options.capacity = 2;
    audit::Trail trail(std::move(options));
    for (int i = 0; i < 5; ++i) trail.Record(audit::LoginRefused(st.Context()));
    QTRY_VERIFY_WITH_TIMEOUT(repository.Accepted() >= 2, 20000);
    repository.SetMode(TlsReceiver::Mode::Serve);
    QVERIFY(repository.WaitFor(2));
    trail.Record(audit::LoginRefused(st.Context()));
    QVERIFY(repository.WaitFor(3));
    const std::vector<AuditRecord> records = repository.Records();
    QCOMPARE(records.size(), std::size_t{3});
    const char* expected[] = {"[meta sequenceId=\"1\"][lost@32473 count=\"3\"] ", "[meta sequenceId=\"2\"] ",
                              "[meta sequenceId=\"6\"] "};
    for (std::size_t i = 0; i < 3; ++i)
      QVERIFY2(records[i].header.find(expected[i]) != std::string::npos, records[i].header.c_str());
    QVERIFY(records[2].wellFormed);
  }
};

QTEST_MAIN(AuditTrailTest)
#include "audit_trail_test.moc"
