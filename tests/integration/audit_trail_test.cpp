// The audit trail end to end: the controller's search and Send against the
// demo archive, recorded to a repository the test runs on loopback (TLS with
// the test certificates, and UDP), and a repository that refuses or hangs,
// which must never hold up a search or the end of the trail.

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <string>
#include <vector>

#include "../support/audit_receiver.h"
#include "../support/qt_archive.h"
#include "audit/events.h"
#include "audit/trail.h"
#include "config/store.h"
#include "dicom/dicom.h"
#include "log/log.h"
#include "operations/controller.h"

using namespace morvanta;
using test::AuditRecord;
using test::TlsReceiver;
using test::UdpReceiver;

namespace {

class RecordingSink : public ui::MessageSink {
 public:
  void Show(const ui::Message& message) override { shown.push_back(message); }
  std::vector<ui::Message> shown;
};

struct Station {
  explicit Station(const QByteArray& settings) {
    QFile file(dir.filePath("Settings.ini"));
    if (file.open(QIODevice::WriteOnly)) file.write(settings);
  }
  QByteArray ErrorLog() const {
    QFile file(dir.filePath("Logs/Error.log"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
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
  QTemporaryDir dir;
  SettingsStore store{SettingsPath(dir.path().toStdString())};
  Log log{dir.path().toStdString()};
  RecordingSink sink;
  operations::Controller controller{store, log, sink};
};

QByteArray Base(int archivePort) {
  return "[Local]\r\nAET=MORVANTA\r\n[Query]\r\nAET=ARCHIVE\r\nIP=127.0.0.1\r\nPort=" +
         QByteArray::number(archivePort) + "\r\nTimeout=10\r\n";
}

search::SearchCriteria ById(const std::string& id) {
  search::SearchCriteria criteria;
  criteria.patientId = QString::fromStdString(id);
  return criteria;
}

// Every message names the person, the station and the archive.
void CheckParties(const AuditRecord& r, int archivePort) {
  const audit::Person person = audit::CurrentPerson();
  QVERIFY2(r.wellFormed, r.xml.constData());
  QVERIFY(r.Has("ActiveParticipant", {{"UserID", QString::fromStdString(person.login)},
                                      {"UserIsRequestor", "true"},
                                      {"NetworkAccessPointID", QString::fromStdString(audit::HostName())}}));
  QVERIFY(r.Has("ActiveParticipant",
                {{"UserID", QString::number(::getpid())}, {"AlternativeUserID", "AETITLES=MORVANTA"}}));
  QVERIFY(r.Has("ActiveParticipant", {{"UserID", "127.0.0.1:" + QString::number(archivePort)},
                                      {"AlternativeUserID", "AETITLES=ARCHIVE"},
                                      {"NetworkAccessPointTypeCode", "2"}}));
  QCOMPARE(r.Attr("AuditSourceIdentification", "AuditSourceID"), QString::fromStdString(audit::HostName()));
  // RFC 5424: authpriv, version 1, our name, the DICOM audit MSGID.
  QVERIFY2(r.header.starts_with("<85>1 ") || r.header.starts_with("<84>1 "), r.header.c_str());
  QVERIFY2(r.header.find(" morvanta " + std::to_string(::getpid()) + " IHE+RFC-3881 [meta sequenceId=\"") !=
               std::string::npos,
           r.header.c_str());
}

}  // namespace

class AuditTrailTest : public QObject {
  Q_OBJECT

  QTemporaryDir pki_;
  std::string Pki(const char* name) const { return (pki_.path() + "/" + name).toStdString(); }
  QByteArray TlsAudit(int repositoryPort) const {
    return "[TLS]\r\nCACertificates=" + QByteArray::fromStdString(Pki("ca.pem")) +
           "\r\nCertificate=" + QByteArray::fromStdString(Pki("station.pem")) +
           "\r\nPrivateKey=" + QByteArray::fromStdString(Pki("station.key")) +
           "\r\n[Audit]\r\nRepository=127.0.0.1:" + QByteArray::number(repositoryPort) + "\r\nTransport=TLS\r\n";
  }

 private slots:
  void initTestCase() {
    QCOMPARE(QProcess::execute(QStringLiteral("sh"), {QStringLiteral(MORVANTA_TLS_CERTS), pki_.path()}), 0);
  }

  // A search over TLS: the query as sent, its results, the patient it names.
  void searchIsRecordedOverTls() {
    test::Archive archive({"--demo", "6"});
    QVERIFY(archive.ready());
    TlsReceiver repository(Pki("archive.pem"), Pki("archive.key"), TlsReceiver::Mode::Serve);
    Station st(Base(archive.port()) + TlsAudit(repository.port()));
    audit::Trail trail(st.Options());
    audit::Install(&trail);
    QSignalSpy results(&st.controller, &operations::Controller::searchResults);
    QSignalSpy finished(&st.controller, &operations::Controller::searchFinished);
    QCOMPARE(st.controller.Search(ById("PID*")).start, operations::Start::Started);
    QVERIFY(finished.wait(30000));
    const auto all = results.at(0).at(0).value<search::SearchOutcome>();
    QVERIFY(all.count > 0);
    const std::string patientId = all.results[0].PatientID();
    QCOMPARE(st.controller.Search(ById(patientId)).start, operations::Start::Started);
    QVERIFY(finished.wait(30000));
    const auto one = results.at(1).at(0).value<search::SearchOutcome>();

    QVERIFY(repository.WaitFor(2));
    const std::vector<AuditRecord> records = repository.Records();
    for (std::size_t i = 0; i < 2; ++i) {
      const AuditRecord& r = records[i];
      CheckParties(r, archive.port());
      QVERIFY(r.Has("EventID", {{"csd-code", "110112"}, {"codeSystemName", "DCM"}, {"originalText", "Query"}}));
      QCOMPARE(r.Attr("EventIdentification", "EventOutcomeIndicator"), QStringLiteral("0"));
      QCOMPARE(r.Attr("EventIdentification", "EventActionCode"), QStringLiteral("E"));
      QVERIFY(QDateTime::fromString(r.Attr("EventIdentification", "EventDateTime"), Qt::ISODateWithMs).isValid());
      QVERIFY(r.Has("RoleIDCode", {{"csd-code", "110153"}}));  // the station asks
      QVERIFY(r.Has("RoleIDCode", {{"csd-code", "110152"}}));  // the archive answers
      QVERIFY(r.Has("ParticipantObjectIdentification", {{"ParticipantObjectID", "1.2.840.10008.5.1.4.1.2.2.1"},
                                                        {"ParticipantObjectTypeCode", "2"},
                                                        {"ParticipantObjectTypeCodeRole", "3"}}));
      QVERIFY(r.Has("ParticipantObjectIDTypeCode", {{"csd-code", "110181"}}));
      // The identifier as sent: what the archive's journal received.
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
    UdpReceiver repository;
    Station st(Base(archive.port()) + "[Audit]\r\nRepository=127.0.0.1:" + QByteArray::number(repository.port()) +
               "\r\nTransport=udp\r\n");
    audit::Trail trail(st.Options());
    audit::Install(&trail);
    QSignalSpy results(&st.controller, &operations::Controller::searchResults);
    QSignalSpy searched(&st.controller, &operations::Controller::searchFinished);
    QSignalSpy sent(&st.controller, &operations::Controller::sendFinished);
    QCOMPARE(st.controller.Search(ById("PID*")).start, operations::Start::Started);
    QVERIFY(searched.wait(30000));
    const auto found = results.at(0).at(0).value<search::SearchOutcome>();
    QVERIFY(found.count >= 3);
    std::vector<operations::SendStudy> studies;
    std::map<std::string, std::vector<std::string>> byPatient;
    for (std::size_t i = 0; i < 3; ++i) {
      const dicom::DataSet& row = found.results[i];
      studies.push_back({row.StudyUID(), row.PatientID(), row.PatientName()});
      byPatient[row.PatientID()].push_back(row.StudyUID());
    }
    QCOMPARE(st.controller.SendStudies(studies), operations::Start::Started);
    QVERIFY(sent.wait(30000));
    QCOMPARE(archive.stores().size(), 3);

    QVERIFY(repository.WaitFor(1 + byPatient.size()));
    const std::vector<AuditRecord> records = repository.Records();
    QCOMPARE(records.size(), 1 + byPatient.size());
    for (std::size_t i = 1; i < records.size(); ++i) {
      const AuditRecord& r = records[i];
      CheckParties(r, archive.port());
      QVERIFY(r.Has("EventID", {{"csd-code", "110102"}, {"originalText", "Begin Transferring DICOM Instances"}}));
      QCOMPARE(r.Attr("EventIdentification", "EventOutcomeIndicator"), QStringLiteral("0"));
      // The archive sends; the station and the person asked for it.
      QVERIFY(r.Has("ActiveParticipant", {{"AlternativeUserID", "AETITLES=ARCHIVE"}, {"UserIsRequestor", "false"}}));
      QVERIFY(r.Has("RoleIDCode", {{"csd-code", "110153"}}));
      QVERIFY(r.Has("ActiveParticipant", {{"AlternativeUserID", "AETITLES=MORVANTA"}, {"UserIsRequestor", "true"}}));
      const auto patient = r.elements.find("ParticipantObjectIdentification");
      std::string patientId;
      for (auto it = patient; it != r.elements.end() && it->first == "ParticipantObjectIdentification"; ++it)
        if (it->second.at("ParticipantObjectTypeCodeRole") == "1")
          patientId = it->second.at("ParticipantObjectID").toStdString();
      QVERIFY(byPatient.count(patientId) == 1);
      for (const dicom::DataSet& row : found.results)
        if (row.PatientID() == patientId)
          QCOMPARE(r.texts.at("ParticipantObjectName").toStdString(), row.PatientName());
      QCOMPARE(r.Count("StudyIDs"), int(byPatient[patientId].size()));
      for (const std::string& uid : byPatient[patientId]) {
        QVERIFY(r.Has("StudyIDs", {{"UID", QString::fromStdString(uid)}}));
        QVERIFY(r.Has("ParticipantObjectIdentification", {{"ParticipantObjectID", QString::fromStdString(uid)},
                                                          {"ParticipantObjectTypeCodeRole", "3"}}));
      }
      const QString counted = QString::number(byPatient[patientId].size());
      QVERIFY(r.texts.at("EventOutcomeDescription").startsWith(counted + " of " + counted + " forwarding requests"));
    }
  }

  // A repository that refuses every connection, or takes it and never
  // answers the handshake: the search's outcome comes while it has received
  // nothing, Error.log says so once however often it was tried, and the
  // trail ends within its flush time.
  void deadRepositoryNeverHoldsUpASearch_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("certificate");  // the repository's
    QTest::addColumn<QString>("why");          // in Error.log
    QTest::newRow("refuses") << int(TlsReceiver::Mode::Refuse) << "archive" << "the TLS handshake failed";
    QTest::newRow("never handshakes") << int(TlsReceiver::Mode::Silent) << "archive" << "no TLS handshake within 2 s";
    // Another machine the CA vouches for: never sent a message.
    QTest::newRow("certificate for another host") << int(TlsReceiver::Mode::Serve) << "evil"
                                                  << "its certificate was refused";
  }
  void deadRepositoryNeverHoldsUpASearch() {
    QFETCH(int, mode);
    QFETCH(QString, certificate);
    QFETCH(QString, why);
    test::Archive archive({"--demo", "4"});
    QVERIFY(archive.ready());
    TlsReceiver repository(Pki((certificate + ".pem").toLatin1()), Pki((certificate + ".key").toLatin1()),
                           TlsReceiver::Mode(mode));
    Station st(Base(archive.port()) + TlsAudit(repository.port()));
    {
      audit::Trail trail(st.Options());
      audit::Install(&trail);
      audit::Record(audit::ApplicationActivity(audit::ContextFrom(st.controller.settings()), true));
      // The trail is at the repository (refused, or stuck in the handshake).
      QTRY_VERIFY_WITH_TIMEOUT(repository.Accepted() >= 1, 20000);
      QSignalSpy finished(&st.controller, &operations::Controller::searchFinished);
      QSignalSpy results(&st.controller, &operations::Controller::searchResults);
      QCOMPARE(st.controller.Search(ById("PID*")).start, operations::Start::Started);
      QVERIFY(finished.wait(30000));
      QCOMPARE(results.size(), 1);
      QCOMPARE(repository.Count(), std::size_t{0});
      // Tried again and again (each silent try ends at the 2 s time-out).
      QTRY_VERIFY_WITH_TIMEOUT(repository.Accepted() >= 3, 20000);
      QTRY_VERIFY_WITH_TIMEOUT(st.ErrorLog().contains("1018"), 20000);
    }
    const QByteArray log = st.ErrorLog();
    QCOMPARE(log.count("cannot be sent to the audit record repository 127.0.0.1:"), 1);
    QVERIFY2(log.contains(why.toLatin1()), log.constData());
    // What never got through is counted once at the end.
    QCOMPARE(log.count("2 audit messages did not reach"), 1);
  }

  // The program itself: Application Start when it starts, Application Stop
  // when it ends, both naming who ran it and on which station.
  void programStartAndStopAreRecorded() {
    UdpReceiver repository;
    QTemporaryDir program;
    QVERIFY(QFile::copy(QStringLiteral(MORVANTA_BINARY), program.filePath("morvanta")));
    QFile settings(program.filePath("Settings.ini"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(Base(104) + "[Audit]\r\nRepository=127.0.0.1:" + QByteArray::number(repository.port()) +
                   "\r\nTransport=UDP\r\n");
    settings.close();
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("MORVANTA_EXIT_WHEN_SHOWN", "1");
    run.setProcessEnvironment(env);
    run.start(program.filePath("morvanta"), {});
    QVERIFY(run.waitForStarted(20000));
    const QString pid = QString::number(run.processId());
    QVERIFY(run.waitForFinished(60000));
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(repository.WaitFor(2));
    const std::vector<AuditRecord> records = repository.Records();
    QCOMPARE(records.size(), std::size_t{2});
    for (std::size_t i = 0; i < 2; ++i) {
      const AuditRecord& r = records[i];
      QVERIFY2(r.wellFormed, r.xml.constData());
      QVERIFY(r.Has("EventID", {{"csd-code", "110100"}, {"originalText", "Application Activity"}}));
      QVERIFY(r.Has("EventTypeCode", i == 0 ? std::map<QString, QString>{{"csd-code", "110120"}}
                                            : std::map<QString, QString>{{"csd-code", "110121"}}));
      QVERIFY(r.Has("ActiveParticipant", {{"UserID", pid}, {"AlternativeUserID", "AETITLES=MORVANTA"},
                                          {"NetworkAccessPointID", QString::fromStdString(audit::HostName())}}));
      QVERIFY(r.Has("ActiveParticipant", {{"UserID", QString::fromStdString(audit::CurrentPerson().login)},
                                          {"UserIsRequestor", "true"}}));
      QVERIFY(r.Has("RoleIDCode", {{"csd-code", "110150"}}));
      QVERIFY(r.Has("RoleIDCode", {{"csd-code", "110151"}}));
      QVERIFY(r.Has("ActiveParticipant", {{"UserID", "127.0.0.1:104"}, {"AlternativeUserID", "AETITLES=ARCHIVE"}}));
    }
  }

  // The program ends within its flush time while the repository holds the
  // handshake, cleanly (the sanitizers' exit checks included), and says what
  // it could not send.
  void programEndsCleanlyWhileTheRepositoryHangs() {
    TlsReceiver repository(Pki("archive.pem"), Pki("archive.key"), TlsReceiver::Mode::Silent);
    QTemporaryDir program;
    QVERIFY(QFile::copy(QStringLiteral(MORVANTA_BINARY), program.filePath("morvanta")));
    QVERIFY(QFile::copy(QStringLiteral(MORVANTA_TLS_MODULE), program.filePath("morvanta-tls.so")));
    QFile settings(program.filePath("Settings.ini"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(Base(104) + TlsAudit(repository.port()));
    settings.close();
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("MORVANTA_EXIT_WHEN_SHOWN", "1");
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::ForwardedChannels);
    run.start(program.filePath("morvanta"), {});
    QVERIFY(run.waitForFinished(60000));
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(repository.Accepted() >= 1);
    QFile log(program.filePath("Logs/Error.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("2 audit messages did not reach the audit record repository"));
  }

  // A repository ends a connection it finds idle: the next message goes
  // over a new one, and that is no failure worth a line in Error.log.
  void idleConnectionClosedByTheRepositoryLosesNothing() {
    TlsReceiver repository(Pki("archive.pem"), Pki("archive.key"), TlsReceiver::Mode::Serve);
    Station st(Base(104) + TlsAudit(repository.port()));
    audit::Trail trail(st.Options());
    const audit::Context context = audit::ContextFrom(st.controller.settings());
    trail.Record(audit::LoginRefused(context));
    QVERIFY(repository.WaitFor(1));
    repository.DropConnection();
    QTRY_COMPARE_WITH_TIMEOUT(repository.Dropped(), 1, 20000);
    trail.Record(audit::LoginRefused(context));
    QVERIFY(repository.WaitFor(2));
    QCOMPARE(repository.Accepted(), 2);
    QCOMPARE(st.ErrorLog(), QByteArray());
  }

  // The queue holds `capacity` messages; what it could not hold is counted,
  // and the count rides on the next message that reaches the repository.
  void lostMessagesAreCountedInTheNextOneThatGetsThrough() {
    TlsReceiver repository(Pki("archive.pem"), Pki("archive.key"), TlsReceiver::Mode::Refuse);
    Station st(Base(104) + TlsAudit(repository.port()));
    audit::TrailOptions options = st.Options();
    options.capacity = 2;
    audit::Trail trail(std::move(options));
    const audit::Context context = audit::ContextFrom(st.controller.settings());
    for (int i = 0; i < 5; ++i) trail.Record(audit::LoginRefused(context));
    QTRY_VERIFY_WITH_TIMEOUT(repository.Accepted() >= 2, 20000);
    repository.SetMode(TlsReceiver::Mode::Serve);
    QVERIFY(repository.WaitFor(2));
    trail.Record(audit::LoginRefused(context));
    QVERIFY(repository.WaitFor(3));
    const std::vector<AuditRecord> records = repository.Records();
    QCOMPARE(records.size(), std::size_t{3});
    QVERIFY2(records[0].header.find("[meta sequenceId=\"1\"][lost@32473 count=\"3\"] ") != std::string::npos,
             records[0].header.c_str());
    QVERIFY2(records[1].header.find("[meta sequenceId=\"2\"] ") != std::string::npos, records[1].header.c_str());
    // The gap in the sequence shows the three that were dropped.
    QVERIFY2(records[2].header.find("[meta sequenceId=\"6\"] ") != std::string::npos, records[2].header.c_str());
    QVERIFY(records[2].wellFormed);
  }
};

QTEST_MAIN(AuditTrailTest)
#include "audit_trail_test.moc"
