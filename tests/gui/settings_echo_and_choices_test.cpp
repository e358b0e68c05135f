// The settings dialog's additions: the Test button's C-ECHO with the values
// in the fields (against morvanta-archive on free loopback ports), and the
// ModalityKey and Send method choices with what Apply writes.

#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QThreadPool>

#include "../support/file_opens.h"
#include "app_support.h"
#include "settings_test_support.h"
#include "settings_ui/frm_settings.h"

using namespace morvanta;
using morvanta::test::Archive;
using morvanta::test::FreeLoopbackPort;
using morvanta::test::kWaitMs;
using settings_ui::frmSettings;
using settings_ui::testing::FakeHost;

namespace {

struct Dialog {
  explicit Dialog(const QByteArray& settings) {
    host.WriteSettings(settings);
    dialog = std::make_unique<frmSettings>(nullptr, host);
    dialog->show();
  }
  template <class T>
  T* child(const char* name) {
    T* widget = dialog->findChild<T*>(QLatin1String(name));
    if (widget == nullptr) qWarning("no child %s", name);
    return widget;
  }
  void set(const char* field, const QString& text) { child<QLineEdit>(field)->setText(text); }
  // Clicks Test and waits for the outcome; false when none came in time.
  bool test() {
    QSignalSpy tested(dialog.get(), &frmSettings::connectionTested);
    QTest::mouseClick(child<QPushButton>("cmdTest"), Qt::LeftButton);
    return !tested.isEmpty() || tested.wait(kWaitMs);
  }
  // Test with fields that work against the archive on `port`: [TLS] comes
  // from one read of Settings.ini, and one message tells the outcome.
  bool testWorking(int port) {
    set("txtLocAET", QStringLiteral("MORVANTA"));
    set("txtQuAET", QStringLiteral("ARCHIVE"));
    set("txtQuPort", QString::number(port));
    test::FileOpens opens(host.file);
    return opens.watching() && test() && opens.Take() == 1 && host.sink.shown.size() == 1;
  }
  FakeHost host;
  std::unique_ptr<frmSettings> dialog;
};

// What Settings.ini says before the test: values that would not work, so a
// C-ECHO that works proves the fields' values were used, not the applied ones.
const QByteArray kStale =
    "[Local]\nAET=STALE\n[Query]\nAET=STALE\nIP=127.0.0.1\nPort=1\nTimeout=2\n";

}  // namespace

class SettingsEchoAndChoicesTest : public QObject {
  Q_OBJECT
 private slots:
  void testButtonWorksWithTheFieldsValues();
  void testButtonFailures_data();
  void testButtonFailures();
  void testCanBeStopped_data();
  void testCanBeStopped();
  void badPortIsToldWithoutNetwork_data();
  void badPortIsToldWithoutNetwork();
  void tlsIsShownAndTestedAsSettingsIniHasIt();
  void choicesLoadAndApplyAfterTheDesignedKeys();
  void defaultsLeaveAFreshFileAsBefore();
};

void SettingsEchoAndChoicesTest::testButtonWorksWithTheFieldsValues() {
  Archive archive({});
  QVERIFY(archive.ready());
  Dialog d(kStale);
  QVERIFY(d.testWorking(archive.port()));
  const ui::Message& m = d.host.sink.shown[0];
  QCOMPARE(m.icon, ui::MessageIcon::Information);
  QCOMPARE(m.title, QStringLiteral("Morvanta"));
  const QRegularExpression works(
      QStringLiteral("^Connection to ARCHIVE at 127\\.0\\.0\\.1:%1 works \\(\\d+ ms\\)\\.$")
          .arg(archive.port()));
  QVERIFY2(works.match(m.text).hasMatch(), qPrintable(m.text));
  const QList<QJsonObject> echoes = archive.journal(QStringLiteral("echo"));
  QCOMPARE(echoes.size(), 1);
  QCOMPARE(echoes[0].value("calling").toString(), QStringLiteral("MORVANTA"));
  // Testing applies nothing.
  QCOMPARE(d.host.Read("Query", "Port"), "1");
  QCOMPARE(d.host.Read("Local", "AET"), "STALE");
  QVERIFY(d.child<QPushButton>("cmdTest")->isEnabled());
}

// [TLS] is edited by hand: the dialog shows whether it is on beside the
// archive fields, and Test reads it from the file at the click.
void SettingsEchoAndChoicesTest::tlsIsShownAndTestedAsSettingsIniHasIt() {
  QTemporaryDir pki;
  QVERIFY(pki.isValid());
  QCOMPARE(QProcess::execute(QStringLiteral("sh"), {QStringLiteral(MORVANTA_TLS_CERTS), pki.path()}), 0);
  const QString dir = pki.path();
  Archive archive({"--tls-cert", dir + "/archive.pem", "--tls-key", dir + "/archive.key", "--tls-ca", dir + "/ca.pem"});
  QVERIFY(archive.ready());
  const QByteArray tlsOn = ("[TLS]\nEnabled=1\nCACertificates=" + dir + "/ca.pem\nCertificate=" + dir +
                            "/station.pem\nPrivateKey=" + dir + "/station.key\n").toUtf8();
  Dialog d(kStale + tlsOn);
  QLabel* tls = d.child<QLabel>("lblTls");
  // On, and the name the archive's certificate is checked for: the IP
  // field's, as it is typed.
  QCOMPARE(tls->text(), QStringLiteral("TLS: on (127.0.0.1)"));
  QVERIFY(tls->isVisible());
  auto* ip = d.child<QLineEdit>("txtQuIP");
  ip->setFocus();
  QTest::keyClick(ip, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(ip, QStringLiteral("10.0.0.5"));
  QCOMPARE(tls->text(), QStringLiteral("TLS: on (10.0.0.5)"));
  QTest::keyClick(ip, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(ip, QStringLiteral("127.0.0.1"));
  QVERIFY(d.testWorking(archive.port()));
  const QRegularExpression works(
      QStringLiteral("^Connection to ARCHIVE at 127\\.0\\.0\\.1:%1 works over TLS, certificate checked for "
                     "127\\.0\\.0\\.1 \\(\\d+ ms\\)\\.$")
          .arg(archive.port()));
  QVERIFY2(works.match(d.host.sink.shown[0].text).hasMatch(), qPrintable(d.host.sink.shown[0].text));
  QCOMPARE(archive.journal(QStringLiteral("echo")).size(), 1);

  // [TLS] ServerName names another: the label shows it, and the archive,
  // whose certificate does not carry it, is refused before any DICOM.
  d.host.WriteSettings(kStale + tlsOn + "ServerName=pacs.example\n");
  QVERIFY(d.test());
  QCOMPARE(tls->text(), QStringLiteral("TLS: on (pacs.example)"));
  QCOMPARE(d.host.sink.shown.size(), std::size_t{2});
  const QString impostor = d.host.sink.shown[1].text;
  QVERIFY2(impostor.startsWith(QStringLiteral("1016 - ")) &&
               impostor.contains(QStringLiteral("names localhost, 127.0.0.1, ::1, not pacs.example")),
           qPrintable(impostor));
  QCOMPARE(archive.journal(QStringLiteral("echo")).size(), 1);

  // Switched off in the file while the dialog is open: the next Test goes
  // plain, which this archive's port does not take, and the label follows.
  d.host.WriteSettings(kStale + "[TLS]\nEnabled=0\n");
  QVERIFY(d.test());
  QCOMPARE(tls->text(), QStringLiteral("TLS: off"));
  QCOMPARE(d.host.sink.shown.size(), std::size_t{3});
  const QString refused = d.host.sink.shown[2].text;
  QVERIFY2(refused.startsWith(QStringLiteral("1017 - ")) && refused.contains(QStringLiteral("check [TLS] Enabled")),
           qPrintable(refused));
  QCOMPARE(archive.journal(QStringLiteral("echo")).size(), 1);
}

void SettingsEchoAndChoicesTest::testButtonFailures_data() {
  QTest::addColumn<QStringList>("options");  // the archive's; "closed": no archive at all
  QTest::addColumn<QString>("calledAET");
  QTest::addColumn<int>("number");
  QTest::addColumn<QString>("words");  // part of the description
  QTest::newRow("refused") << QStringList{"closed"} << "ARCHIVE" << 1001 << "Could not connect to ARCHIVE";
  QTest::newRow("called AE not recognised") << QStringList{} << "NOT_ARCHIVE" << 1003
                                            << "check Remote AET";
  QTest::newRow("calling AE not recognised") << QStringList{"--refuse", "calling"} << "ARCHIVE" << 1003
                                             << "Association rejected by ARCHIVE";
  QTest::newRow("time-out") << QStringList{"--hang-association"} << "ARCHIVE" << 1004
                            << "No answer from ARCHIVE";
}

void SettingsEchoAndChoicesTest::testButtonFailures() {
  QFETCH(QStringList, options);
  QFETCH(QString, calledAET);
  QFETCH(int, number);
  QFETCH(QString, words);
  std::unique_ptr<Archive> archive;
  int port = FreeLoopbackPort();  // nobody listens there
  if (options != QStringList{"closed"}) {
    archive = std::make_unique<Archive>(options);
    QVERIFY(archive->ready());
    port = archive->port();
  }
  Dialog d(kStale);  // [Query] Timeout=2: the time-out comes soon
  d.set("txtLocAET", QStringLiteral("MORVANTA"));
  d.set("txtQuAET", calledAET);
  d.set("txtQuPort", QString::number(port));
  QSignalSpy tested(d.dialog.get(), &frmSettings::connectionTested);
  QTest::mouseClick(d.child<QPushButton>("cmdTest"), Qt::LeftButton);
  // The echo runs in the worker: the dialog goes on taking input meanwhile,
  // and the button now stops the test rather than starting a second echo.
  if (tested.isEmpty()) {
    QCOMPARE(d.child<QPushButton>("cmdTest")->text(), QStringLiteral("Stop test"));
    QTest::keyClicks(d.child<QLineEdit>("txtLocAET"), QStringLiteral("X"));
    QCOMPARE(d.child<QLineEdit>("txtLocAET")->text(), QStringLiteral("MORVANTAX"));
    QVERIFY(tested.wait(kWaitMs));
  }
  QCOMPARE(tested.size(), 1);
  QCOMPARE(d.host.sink.shown.size(), std::size_t{1});
  const ui::Message& m = d.host.sink.shown[0];
  QCOMPARE(m.icon, ui::MessageIcon::Critical);
  QVERIFY2(m.text.startsWith(QString::number(number) + QStringLiteral(" - ")), qPrintable(m.text));
  QVERIFY2(m.text.contains(words), qPrintable(m.text));
  QVERIFY(d.child<QPushButton>("cmdTest")->isEnabled());
  QCOMPARE(d.child<QPushButton>("cmdTest")->text(), QStringLiteral("Test"));
}

void SettingsEchoAndChoicesTest::testCanBeStopped_data() {
  QTest::addColumn<QStringList>("options");
  QTest::addColumn<QString>("held");  // the archive's journal line once it holds the test
  QTest::addColumn<QString>("how");
  for (const char* name : {"Stop test", "Esc", "close box"}) {
    const QString how = QString::fromLatin1(name);
    QTest::newRow(qPrintable("association never accepted, " + how))
        << QStringList{"--hang-association"} << "association-held" << how;
    QTest::newRow(qPrintable("echo never answered, " + how)) << QStringList{"--hang"} << "echo" << how;
  }
}

// The archive holds the test far longer than the deadline (Timeout=30):
// only the cancel can end it in time.
void SettingsEchoAndChoicesTest::testCanBeStopped() {
  QFETCH(QStringList, options);
  QFETCH(QString, held);
  QFETCH(QString, how);
  constexpr int kDeadlineMs = 10000;
  Archive archive(options);
  QVERIFY(archive.ready());
  Dialog d("[Local]\nAET=MORVANTA\n[Query]\nAET=ARCHIVE\nIP=127.0.0.1\nPort=1\nTimeout=30\n");
  d.set("txtQuPort", QString::number(archive.port()));
  QSignalSpy tested(d.dialog.get(), &frmSettings::connectionTested);
  auto* test = d.child<QPushButton>("cmdTest");
  QTest::mouseClick(test, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!archive.journal(held).isEmpty(), kDeadlineMs);
  QVERIFY(d.dialog->testing());
  if (how == QLatin1String("Stop test")) {
    QTest::mouseClick(test, Qt::LeftButton);
    QVERIFY2(tested.wait(kDeadlineMs), "the stopped test did not end");
    QCOMPARE(test->text(), QStringLiteral("Test"));
    QVERIFY(test->isEnabled());
  } else {
    if (how == QLatin1String("Esc")) QTest::keyClick(d.child<QLineEdit>("txtQuAET"), Qt::Key_Escape);
    else d.dialog->close();
    QVERIFY(!d.dialog->isVisible());
    d.dialog.reset();
  }
  // What the program's exit waits for: the test's worker in the pool.
  QVERIFY2(QThreadPool::globalInstance()->waitForDone(kDeadlineMs), "the test's worker is still waiting");
  // A cancel is no failure: nothing to tell.
  QVERIFY(d.host.sink.shown.empty());
}

void SettingsEchoAndChoicesTest::badPortIsToldWithoutNetwork_data() {
  QTest::addColumn<QString>("port");
  QTest::newRow("zero") << "0";
  QTest::newRow("too large") << "65536";
  QTest::newRow("empty") << "";
}

void SettingsEchoAndChoicesTest::badPortIsToldWithoutNetwork() {
  QFETCH(QString, port);
  Dialog d(kStale);
  d.set("txtQuPort", port);
  // Told at once: no worker, nothing to wait for.
  QSignalSpy tested(d.dialog.get(), &frmSettings::connectionTested);
  QTest::mouseClick(d.child<QPushButton>("cmdTest"), Qt::LeftButton);
  QCOMPARE(tested.size(), 1);
  QVERIFY(!d.dialog->testing());
  QCOMPARE(d.host.sink.shown.size(), std::size_t{1});
  QCOMPARE(d.host.sink.shown[0].icon, ui::MessageIcon::Warning);
  QVERIFY2(d.host.sink.shown[0].text.contains(QStringLiteral("enter a number from 1 to 65535")),
           qPrintable(d.host.sink.shown[0].text));
}

void SettingsEchoAndChoicesTest::choicesLoadAndApplyAfterTheDesignedKeys() {
  Dialog d("[Query]\nModalityKey=ModalitiesInStudy\n[Forward]\nMethod=move\n");
  auto* modality = d.child<QComboBox>("cboModalityKey");
  auto* method = d.child<QComboBox>("cboForwardMethod");
  QCOMPARE(modality->currentText(), QStringLiteral("ModalitiesInStudy"));
  QCOMPARE(method->currentText(), QStringLiteral("MOVE"));
  QVERIFY(!d.child<QPushButton>("cmdApply")->isEnabled());

  // Back to the defaults: keys already in the file follow the choice.
  modality->setCurrentText(QStringLiteral("Modality"));
  method->setCurrentText(QStringLiteral("REDIRECT"));
  QVERIFY(d.child<QPushButton>("cmdApply")->isEnabled());
  d.set("txtQuPort", QStringLiteral("104"));
  QVERIFY(d.dialog->Apply());
  QCOMPARE(d.host.Read("Query", "ModalityKey"), "Modality");
  QCOMPARE(d.host.Read("Forward", "Method"), "REDIRECT");
  QVERIFY(d.host.settings.QueryModalityKey == ModalityKey::Modality);
  QVERIFY(d.host.settings.ForwardBy == ForwardMethod::Redirect);
}

void SettingsEchoAndChoicesTest::defaultsLeaveAFreshFileAsBefore() {
  Dialog d("");
  d.set("txtQuPort", QStringLiteral("104"));
  QVERIFY(d.dialog->Apply());
  QVERIFY(!d.host.SettingsText().contains("ModalityKey"));
  QVERIFY(!d.host.SettingsText().contains("Method"));

  // A choice other than the default is written after every designed key.
  d.child<QComboBox>("cboModalityKey")->setCurrentText(QStringLiteral("ModalitiesInStudy"));
  d.child<QComboBox>("cboForwardMethod")->setCurrentText(QStringLiteral("MOVE"));
  QVERIFY(d.dialog->Apply());
  const QByteArray text = d.host.SettingsText();
  QVERIFY2(text.endsWith("Node7=\r\nMethod=MOVE\r\n"), text.constData());
  QVERIFY2(text.contains("Port=104\r\nModalityKey=ModalitiesInStudy\r\n"), text.constData());
  SettingsValues values;
  LoadArchiveSettings(values, d.host.file);
  QVERIFY(values.QueryModalityKey == ModalityKey::ModalitiesInStudy);
  QVERIFY(values.ForwardBy == ForwardMethod::Move);
}

QTEST_MAIN(SettingsEchoAndChoicesTest)
#include "settings_echo_and_choices_test.moc"
