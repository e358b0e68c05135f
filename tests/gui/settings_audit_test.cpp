// The settings dialogs' part of the audit trail, typed as a user types: a
// refused password and a saved change each reach a repository on loopback
// as their audit message, and neither says what was typed.

#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QtTest>

#include "../support/audit_receiver.h"
#include "audit/events.h"
#include "audit/trail.h"
#include "settings_test_support.h"
#include "settings_ui/frm_login.h"
#include "settings_ui/frm_settings.h"

using namespace morvanta;
using namespace morvanta::settings_ui;
using morvanta::test::AuditRecord;

namespace {

void CheckPersonAndStation(const AuditRecord& r) {
  QVERIFY2(r.wellFormed, r.xml.constData());
  QVERIFY(r.Has("ActiveParticipant", {{"UserID", QString::fromStdString(audit::CurrentPerson().login)},
                                      {"UserIsRequestor", "true"}}));
  QVERIFY(r.Has("ActiveParticipant", {{"AlternativeUserID", "AETITLES=MORVANTA"},
                                      {"NetworkAccessPointID", QString::fromStdString(audit::HostName())}}));
}

// A station recording to a UDP repository, its main window shown, and the
// password typed into the prompt when it comes (then Cancel, if refused).
struct Audited {
  Audited(const QString& password, bool refused) {
    audit::Install(&trail);
    host.WriteSettings("[Local]\nAET=MORVANTA\n[Query]\nAET=ARCHIVE\nIP=127.0.0.1\nPort=104\n");
    host.GetINI();
    main.show();
    testing::WhenModal<frmLogin>(
        [password, refused](frmLogin* login) {
          QTest::keyClicks(login->findChild<QLineEdit*>("txtPW"), password);
          QTest::keyClick(login->findChild<QLineEdit*>("txtPW"), Qt::Key_Return);
          if (refused) QTest::mouseClick(login->findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
        },
        &missed);
  }
  static audit::TrailOptions Options(int port) {
    audit::TrailOptions options;
    options.syslog = false;
    options.repository = audit::Repository{"127.0.0.1", port, audit::Transport::Udp, {}};
    return options;
  }
  // Opens the settings from the menu; what reached the repository.
  std::vector<AuditRecord> Open() {
    OpenSettingsFromMenu(&main, host);
    repository.WaitFor(1);
    return repository.Records();
  }
  test::UdpReceiver repository;
  audit::Trail trail{Options(repository.port())};
  testing::FakeHost host;
  QMainWindow main;
  bool missed = false;
};

}  // namespace

class SettingsAuditTest : public QObject {
  Q_OBJECT

 private slots:
  void refusedPasswordIsRecorded() {
    Audited station(QStringLiteral("Vorel-guess"), true);
    const std::vector<AuditRecord> records = station.Open();
    QVERIFY(!station.missed);
    QCOMPARE(records.size(), std::size_t{1});
    const AuditRecord& r = records[0];
    CheckPersonAndStation(r);
    QCOMPARE(station.host.sink.shown.size(), std::size_t{1});  // "Incorrect password."
    QVERIFY(r.Has("EventID", {{"csd-code", "110114"}, {"originalText", "User Authentication"}}));
    QVERIFY(r.Has("EventTypeCode", {{"csd-code", "110122"}, {"originalText", "Login"}}));
    QVERIFY(r.Has("ActiveParticipant", {{"UserID", "127.0.0.1:104"}, {"AlternativeUserID", "AETITLES=ARCHIVE"}}));
    QVERIFY(r.Has("EventIdentification", {{"EventOutcomeIndicator", "4"}}));
    QVERIFY(!r.xml.contains("guess"));
  }

  void savedChangeIsRecordedWithItsKeysOnly() {
    Audited station(QStringLiteral("vorel"), false);
    testing::WhenModal<frmSettings>(
        [&](frmSettings* settings) {
          auto* port = settings->findChild<QLineEdit*>("txtQuPort");
          QTest::mouseClick(port, Qt::LeftButton);
          QTest::keyClick(port, Qt::Key_End);
          QTest::keyClicks(port, QStringLiteral("7"));
          QTest::mouseClick(settings->findChild<QPushButton*>("cmdApply"), Qt::LeftButton);
          settings->reject();
        },
        &station.missed);
    const std::vector<AuditRecord> records = station.Open();
    QVERIFY(!station.missed);
    QCOMPARE(records.size(), std::size_t{1});
    const AuditRecord& r = records[0];
    CheckPersonAndStation(r);
    QCOMPARE(station.host.Read("Query", "Port"), std::string("1047"));
    QVERIFY(r.Has("EventID", {{"csd-code", "110113"}, {"originalText", "Security Alert"}}));
    QVERIFY(r.Has("EventTypeCode", {{"csd-code", "110128"}, {"originalText", "Network Configuration"}}));
    QCOMPARE(r.Count("EventTypeCode"), 1);
    QVERIFY(r.Has("EventIdentification", {{"EventOutcomeIndicator", "0"}}));
    QVERIFY(r.Has("ParticipantObjectIdentification", {{"ParticipantObjectTypeCodeRole", "13"}}));
    QCOMPARE(r.texts.at("ParticipantObjectDescription"), QStringLiteral("[Query] Port"));
    QVERIFY(r.Has("ParticipantObjectDetail", {{"type", "Alert Description"},
                                              {"value", QByteArray("[Query] Port").toBase64()}}));
  }
};

QTEST_MAIN(SettingsAuditTest)
#include "settings_audit_test.moc"
