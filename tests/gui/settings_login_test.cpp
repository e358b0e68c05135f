// The password prompt: which texts open the settings dialog, what a wrong one
// leaves behind, and the keys Enter and Esc.

#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "settings_test_support.h"
#include "settings_ui/frm_login.h"
#include "settings_ui/frm_settings.h"

using namespace morvanta;
using namespace morvanta::settings_ui;
using namespace morvanta::settings_ui::testing;

class SettingsLoginTest : public QObject {
  Q_OBJECT

 private slots:
  void passwordCheck_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("vorel") << "vorel" << true;
    QTest::newRow("grimsal") << "grimsal" << true;
    QTest::newRow("capital first letter") << "Vorel" << false;
    QTest::newRow("all capitals") << "GRIMSAL" << false;
    QTest::newRow("leading space") << " vorel" << false;
    QTest::newRow("trailing space") << "grimsal " << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("longer") << "vorels" << false;
    QTest::newRow("both") << "vorelgrimsal" << false;
  }
  void passwordCheck() {
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    QCOMPARE(IsAcceptedPassword(typed), accepted);
  }

  void wrongPasswordKeepsPromptAndText_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("other case") << "vOrel";
    QTest::newRow("leading space") << " grimsal";
    QTest::newRow("trailing space") << "vorel ";
    QTest::newRow("empty") << "";
  }
  void wrongPasswordKeepsPromptAndText() {
    QFETCH(QString, typed);
    RecordingSink sink;
    frmLogin login(nullptr, sink);
    login.show();
    auto* txtPW = login.findChild<QLineEdit*>("txtPW");
    QVERIFY(txtPW);
    QTest::keyClicks(txtPW, typed);
    QTest::keyClick(txtPW, Qt::Key_Return);

    QCOMPARE(sink.shown.size(), std::size_t{1});
    QCOMPARE(sink.shown[0].text, QStringLiteral("Incorrect password."));
    QCOMPARE(sink.shown[0].title, QStringLiteral("Login"));
    QCOMPARE(sink.shown[0].icon, ui::MessageIcon::Critical);
    QCOMPARE(sink.shown[0].buttons, ui::MessageButtons::Ok);
    QVERIFY(login.isVisible());
    QCOMPARE(login.result(), int(QDialog::Rejected));
    // The characters stay, masked, and are not selected for overtyping.
    QCOMPARE(txtPW->text(), typed);
    QCOMPARE(txtPW->displayText(), QString(typed.size(), QLatin1Char('*')));
    QVERIFY(!txtPW->hasSelectedText());

    // Corrected and pressed again: no limit on attempts.
    txtPW->setText(QStringLiteral("vorel"));
    QTest::mouseClick(login.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
    QCOMPARE(sink.shown.size(), std::size_t{1});
    QCOMPARE(login.result(), int(QDialog::Accepted));
    QVERIFY(!login.isVisible());
  }

  void enterAcceptsAndEscDoesNothing() {
    RecordingSink sink;
    frmLogin login(nullptr, sink);
    login.show();
    auto* txtPW = login.findChild<QLineEdit*>("txtPW");
    QTest::keyClicks(txtPW, QStringLiteral("grimsal"));
    QTest::keyClick(txtPW, Qt::Key_Escape);
    QTest::keyClick(&login, Qt::Key_Escape);
    QVERIFY(login.isVisible());
    QCOMPARE(txtPW->text(), QStringLiteral("grimsal"));

    // Enter presses OK even while Cancel has the focus.
    auto* cmdCancel = login.findChild<QPushButton*>("cmdCancel");
    QTest::keyClick(cmdCancel, Qt::Key_Return);
    QVERIFY(sink.shown.empty());
    QCOMPARE(login.result(), int(QDialog::Accepted));
    QVERIFY(!login.isVisible());
  }

  void cancelCloses() {
    RecordingSink sink;
    frmLogin login(nullptr, sink);
    login.show();
    QTest::keyClicks(login.findChild<QLineEdit*>("txtPW"), QStringLiteral("vorel"));
    QTest::mouseClick(login.findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
    QVERIFY(!login.isVisible());
    QCOMPARE(login.result(), int(QDialog::Rejected));
    QVERIFY(sink.shown.empty());
  }

  void frameFocusAndDefaultButton() {
    RecordingSink sink;
    frmLogin login(nullptr, sink);
    QCOMPARE(login.windowTitle(), QStringLiteral("Login"));
    const qreal dpi = login.logicalDpiY();
    QCOMPARE(login.size(), QSize(ui::Twips(4395, dpi), ui::Twips(1170, dpi)));
    QCOMPARE(login.minimumSize(), login.maximumSize());
    QVERIFY(!(login.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(login.windowFlags() & Qt::WindowMaximizeButtonHint));
    auto* txtPW = login.findChild<QLineEdit*>("txtPW");
    auto* cmdOK = login.findChild<QPushButton*>("cmdOK");
    auto* cmdCancel = login.findChild<QPushButton*>("cmdCancel");
    QVERIFY(cmdOK->isDefault());
    QVERIFY(!cmdCancel->isDefault());
    QVERIFY(login.findChild<QWidget*>("Label1")->font().bold());
    QVERIFY(cmdOK->font().bold());
    QVERIFY(!txtPW->font().bold());
    QCOMPARE(txtPW->echoMode(), QLineEdit::Password);
    // Tab goes field, Cancel, OK.
    QCOMPARE(txtPW->nextInFocusChain(), static_cast<QWidget*>(cmdCancel));
    QCOMPARE(cmdCancel->nextInFocusChain(), static_cast<QWidget*>(cmdOK));
    login.show();
    QVERIFY(QTest::qWaitForWindowActive(&login));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(txtPW));
  }

  // Through the menu entry point: a fresh, empty prompt each time, and the
  // settings dialog only after the prompt has gone, over the main window.
  void menuOpensFreshPromptThenSettingsOverMainWindow() {
    FakeHost host;
    host.WriteSettings("[Query]\nPort=104\n");
    QMainWindow main;
    main.setGeometry(100, 100, 900, 700);
    main.show();
    bool missed = false;

    QString firstText = QStringLiteral("<not seen>");
    WhenModal<frmLogin>(
        [&](frmLogin* login) {
          auto* txtPW = login->findChild<QLineEdit*>("txtPW");
          firstText = txtPW->text();
          QTest::keyClicks(txtPW, QStringLiteral("wrong"));
          QTest::keyClick(txtPW, Qt::Key_Return);
          QTest::mouseClick(login->findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
        },
        &missed);
    OpenSettingsFromMenu(&main, host);
    QVERIFY(!missed);
    QCOMPARE(firstText, QString());
    QCOMPARE(host.sink.shown.size(), std::size_t{1});
    QCOMPARE(host.getIniCalls, 0);  // no settings dialog after Cancel

    QString secondText = QStringLiteral("<not seen>");
    bool loginGoneWhenSettingsShown = false;
    QWidget* settingsParent = nullptr;
    QPoint settingsCentre;
    WhenModal<frmLogin>(
        [&](frmLogin* login) {
          auto* txtPW = login->findChild<QLineEdit*>("txtPW");
          secondText = txtPW->text();
          QTest::keyClicks(txtPW, QStringLiteral("vorel"));
          QTest::keyClick(txtPW, Qt::Key_Return);
        },
        &missed);
    WhenModal<frmSettings>(
        [&](frmSettings* settings) {
          loginGoneWhenSettingsShown = main.findChildren<frmLogin*>().isEmpty();
          settingsParent = settings->parentWidget();
          settingsCentre = settings->geometry().center();
          settings->reject();
        },
        &missed);
    OpenSettingsFromMenu(&main, host);
    QVERIFY(!missed);
    QCOMPARE(secondText, QString());
    QCOMPARE(host.sink.shown.size(), std::size_t{1});
    QVERIFY(loginGoneWhenSettingsShown);
    QCOMPARE(settingsParent, static_cast<QWidget*>(&main));
    QVERIFY((settingsCentre - main.geometry().center()).manhattanLength() <= 4);
    QCOMPARE(host.getIniCalls, 1);

    // After a successful login the next prompt is empty again.
    WhenModal<frmLogin>(
        [&](frmLogin* login) {
          secondText = login->findChild<QLineEdit*>("txtPW")->text();
          login->reject();
        },
        &missed);
    OpenSettingsFromMenu(&main, host);
    QVERIFY(!missed);
    QCOMPARE(secondText, QString());
  }
};

QTEST_MAIN(SettingsLoginTest)
#include "settings_login_test.moc"
