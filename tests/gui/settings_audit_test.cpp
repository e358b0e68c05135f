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
using morvanta::settings_ui::testing::FakeHost;
using morvanta::settings_ui::testing::WhenModal;
using morvanta::test::AuditRecord;

namespace {

audit::TrailOptions ToReceiver(int port) {
  audit::TrailOptions options;
  options.syslog = false;
  options.repository = audit::Repository{"127.0.0.1", port, audit::Transport::Udp, {}};
  return options;
}

void CheckPersonAndStation(const AuditRecord& r) {
  QVERIFY2(r.wellFormed, r.xml.constData());
  QVERIFY(r.Has("ActiveParticipant", {{"UserID", QString::fromStdString(audit::CurrentPerson().login)},
                                      {"UserIsRequestor", "true"}}));
  QVERIFY(r.Has("ActiveParticipant", {{"AlternativeUserID", "AETITLES=MORVANTA"},
                                      {"NetworkAccessPointID", QString::fromStdString(audit::HostName())}}));
  QVERIFY(r.Has("ActiveParticipant", {{"UserID", "127.0.0.1:104"}, {"AlternativeUserID", "AETITLES=ARCHIVE"}}));
}

}  // namespace

class SettingsAuditTest : public QObject {
  Q_OBJECT

 private slots:
  void refusedPasswordIsRecorded() {
    test::UdpReceiver repository;
    audit::Trail trail(ToReceiver(repository.port()));
    audit::Install(&trail);
    FakeHost host;
    host.WriteSettings("[Local]\nAET=MORVANTA\n[Query]\nAET=ARCHIVE\nIP=127.0.0.1\nPort=104\n");
    host.GetINI();
    QMainWindow main;
    main.show();
    bool missed = false;
    WhenModal<frmLogin>(
        [&](frmLogin* login) {
          auto* txtPW = login->findChild<QLineEdit*>("txtPW");
          QTest::keyClicks(txtPW, QStringLiteral("Vorel-guess"));
          QTest::keyClick(txtPW, Qt::Key_Return);
          QTest::mouseClick(login->findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
        },
        &missed);
    OpenSettingsFromMenu(&main, host);
    QVERIFY(!missed);
    QCOMPARE(host.sink.shown.size(), std::size_t{1});  // "Incorrect password."

    QVERIFY(repository.WaitFor(1));
    const AuditRecord r = repository.Records()[0];
    CheckPersonAndStation(r);
    QVERIFY(r.Has("EventID", {{"csd-code", "110114"}, {"originalText", "User Authentication"}}));
    QVERIFY(r.Has("EventTypeCode", {{"csd-code", "110122"}, {"originalText", "Login"}}));
    QCOMPARE(r.Attr("EventIdentification", "EventOutcomeIndicator"), QStringLiteral("4"));
    QVERIFY(!r.xml.contains("guess"));
  }

  void savedChangeIsRecordedWithItsKeysOnly() {
    test::UdpReceiver repository;
    audit::Trail trail(ToReceiver(repository.port()));
    audit::Install(&trail);
    FakeHost host;
    host.WriteSettings("[Local]\nAET=MORVANTA\n[Query]\nAET=ARCHIVE\nIP=127.0.0.1\nPort=104\n");
    QMainWindow main;
    main.show();
    bool missed = false;
    WhenModal<frmLogin>(
        [&](frmLogin* login) {
          auto* txtPW = login->findChild<QLineEdit*>("txtPW");
          QTest::keyClicks(txtPW, QStringLiteral("vorel"));
          QTest::keyClick(txtPW, Qt::Key_Return);
        },
        &missed);
    WhenModal<frmSettings>(
        [&](frmSettings* settings) {
          auto* port = settings->findChild<QLineEdit*>("txtQuPort");
          QTest::mouseClick(port, Qt::LeftButton);
          QTest::keyClick(port, Qt::Key_End);
          QTest::keyClicks(port, QStringLiteral("7"));
          QTest::mouseClick(settings->findChild<QPushButton*>("cmdApply"), Qt::LeftButton);
          settings->reject();
        },
        &missed);
    OpenSettingsFromMenu(&main, host);
    QVERIFY(!missed);
    QCOMPARE(host.Read("Query", "Port"), std::string("1047"));

    QVERIFY(repository.WaitFor(1));
    const AuditRecord r = repository.Records()[0];
    QVERIFY2(r.wellFormed, r.xml.constData());
    QVERIFY(r.Has("ActiveParticipant", {{"UserID", QString::fromStdString(audit::CurrentPerson().login)},
                                        {"UserIsRequestor", "true"}}));
    QVERIFY(r.Has("ActiveParticipant", {{"AlternativeUserID", "AETITLES=MORVANTA"}}));
    QVERIFY(r.Has("EventID", {{"csd-code", "110113"}, {"originalText", "Security Alert"}}));
    QVERIFY(r.Has("EventTypeCode", {{"csd-code", "110128"}, {"originalText", "Network Configuration"}}));
    QCOMPARE(r.Count("EventTypeCode"), 1);
    QCOMPARE(r.Attr("EventIdentification", "EventOutcomeIndicator"), QStringLiteral("0"));
    QVERIFY(r.Has("ParticipantObjectIdentification", {{"ParticipantObjectTypeCodeRole", "13"}}));
    QCOMPARE(r.texts.at("ParticipantObjectDescription"), QStringLiteral("[Query] Port"));
    QVERIFY(r.Has("ParticipantObjectDetail", {{"type", "Alert Description"},
                                              {"value", QByteArray("[Query] Port").toBase64()}}));
    QCOMPARE(repository.Count(), std::size_t{1});
  }
};

QTEST_MAIN(SettingsAuditTest)
#include "settings_audit_test.moc"
