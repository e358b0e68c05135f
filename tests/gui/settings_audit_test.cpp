// The settings dialogs' part of the audit trail, typed as a user types: a
// refused password, then a saved change, each reach a repository on loopback
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

audit::TrailOptions ToReceiver(int port) {
  audit::TrailOptions options;
  options.syslog = false;
  options.repository = audit::Repository{"127.0.0.1", port, audit::Transport::Udp, {}};
  return options;
}

// The password typed into the prompt when it comes, then Cancel if refused.
void TypePassword(const QString& password, bool refused, bool* missed) {
  testing::WhenModal<frmLogin>(
      [password, refused](frmLogin* login) {
        QTest::keyClicks(login->findChild<QLineEdit*>("txtPW"), password);
        QTest::keyClick(login->findChild<QLineEdit*>("txtPW"), Qt::Key_Return);
        if (refused) QTest::mouseClick(login->findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
      },
      missed);
}

}  // namespace

class SettingsAuditTest : public QObject {
  Q_OBJECT

 private slots:
  void refusedPasswordAndSavedChangeAreRecorded() {
    test::UdpReceiver repository;
    audit::Trail trail(ToReceiver(repository.port()));
    audit::Install(&trail);
    testing::FakeHost host;
    host.WriteSettings("[Local]\nAET=MORVANTA\n[Query]\nAET=ARCHIVE\nIP=127.0.0.1\nPort=104\n");
    host.GetINI();
    QMainWindow main;
    main.show();
    bool missed = false;
    TypePassword(QStringLiteral("Vorel-guess"), true, &missed);
    OpenSettingsFromMenu(&main, host);
    QCOMPARE(host.sink.shown.size(), std::size_t{1});  // "Incorrect password."
    TypePassword(QStringLiteral("vorel"), false, &missed);
    testing::WhenModal<frmSettings>(
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

    QVERIFY(repository.WaitFor(2));
    const std::vector<AuditRecord> records = repository.Records();
    QCOMPARE(records.size(), std::size_t{2});
    for (const AuditRecord& r : records) {
      QVERIFY2(r.wellFormed, r.xml.constData());
      QVERIFY(r.Has("ActiveParticipant", {{"UserID", QString::fromStdString(audit::CurrentPerson().login)},
                                          {"UserIsRequestor", "true"}}));
      QVERIFY(r.Has("ActiveParticipant", {{"AlternativeUserID", "AETITLES=MORVANTA"},
                                          {"NetworkAccessPointID", QString::fromStdString(audit::HostName())}}));
      QVERIFY(!r.xml.contains("guess") && !r.xml.contains("vorel"));
    }
    const AuditRecord& refused = records[0];
    QVERIFY(refused.Has("EventID", {{"csd-code", "110114"}, {"originalText", "User Authentication"}}));
    QVERIFY(refused.Has("EventTypeCode", {{"csd-code", "110122"}, {"originalText", "Login"}}));
    QVERIFY(refused.Has("EventIdentification", {{"EventOutcomeIndicator", "4"}}));
    QVERIFY(refused.Has("ActiveParticipant", {{"UserID", "127.0.0.1:104"}, {"AlternativeUserID", "AETITLES=ARCHIVE"}}));
    const AuditRecord& changed = records[1];
    QVERIFY(changed.Has("EventID", {{"csd-code", "110113"}, {"originalText", "Security Alert"}}));
    QVERIFY(changed.Has("EventTypeCode", {{"csd-code", "110128"}, {"originalText", "Network Configuration"}}));
    QCOMPARE(changed.Count("EventTypeCode"), 1);
    QVERIFY(changed.Has("EventIdentification", {{"EventOutcomeIndicator", "0"}}));
    QVERIFY(changed.Has("ParticipantObjectIdentification", {{"ParticipantObjectTypeCodeRole", "13"}}));
    QCOMPARE(changed.texts.at("ParticipantObjectDescription"), QStringLiteral("[Query] Port"));
    QVERIFY(changed.Has("ParticipantObjectDetail", {{"type", "Alert Description"},
                                                    {"value", QByteArray("[Query] Port").toBase64()}}));
  }
};

QTEST_MAIN(SettingsAuditTest)
#include "settings_audit_test.moc"
