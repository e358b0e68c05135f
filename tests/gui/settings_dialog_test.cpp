// The settings dialog: loading, the character filters, what Apply and OK
// write, and the refusals that keep the user's values when Settings.ini
// cannot take them. The node editor's own cases: settings_node_editor_test.cpp.

#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>

#include "settings_dialog_support.h"
#include "settings_ui/frm_change.h"
#include "settings_ui/frm_settings.h"

using namespace morvanta;
using namespace morvanta::settings_ui;
using namespace morvanta::settings_ui::testing;

class SettingsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void loadFillsFieldsAndLeavesApplyDisabled() {
    Opened o(kFullSettings);
    QCOMPARE(o.host.getIniCalls, 1);
    QCOMPARE(o.field("txtLocAET")->text(), QStringLiteral("STATION1"));
    QCOMPARE(o.field("txtQuAET")->text(), QStringLiteral("ARCHIVE"));
    QCOMPARE(o.field("txtQuIP")->text(), QStringLiteral("10.0.0.5"));
    QCOMPARE(o.field("txtQuPort")->text(), QStringLiteral("104"));
    QVERIFY(!o.check()->isChecked());
    QCOMPARE(o.rows(), (QStringList{"CT room/CTAE", "MR room/MRAE", "PACS/PACSAE", "Lab/LABAE",
                                    "Film/FILMAE"}));
    QCOMPARE(o.list()->headerItem()->text(0), QStringLiteral("Alias"));
    QCOMPARE(o.list()->headerItem()->text(1), QStringLiteral("AET"));
    QVERIFY(!o.applyEnabled());

    // A file without the keys: port "0", box clear, still Apply disabled.
    Opened empty(nullptr);
    QCOMPARE(empty.field("txtQuPort")->text(), QStringLiteral("0"));
    QVERIFY(!empty.check()->isChecked());
    QVERIFY(empty.rows().isEmpty());
    QVERIFY(!empty.applyEnabled());
  }

  void frameFocusOrderAndNoDefaultButton() {
    Opened o(kFullSettings);
    frmSettings& d = *o.dialog;
    QCOMPARE(d.windowTitle(), QStringLiteral("Settings"));
    const qreal dpi = d.logicalDpiY();
    // 7140 as designed, and the row of the modality key and Send method below it.
    QCOMPARE(d.size(), QSize(ui::Twips(6555, dpi), ui::Twips(7140 + 705, dpi)));
    QCOMPARE(d.minimumSize(), d.maximumSize());
    QVERIFY(!(d.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(Child<QGroupBox>(&d, "Frame1_0")->title(), QStringLiteral("Archive"));
    QCOMPARE(Child<QGroupBox>(&d, "Frame1_1")->title(), QStringLiteral("Local"));
    QVERIFY(Child<QGroupBox>(&d, "fraSettings")->title().isEmpty());
    QVERIFY(!Child<QGroupBox>(&d, "Frame1_0")->font().bold());
    QVERIFY(Child<QWidget>(&d, "lblSettings_2")->font().bold());
    QVERIFY(o.check()->font().bold());
    QVERIFY(!o.field("txtQuIP")->font().bold());

    const char* order[] = {"cmdAdd",    "cmdEdit",  "cmdDelete", "txtLocAET", "txtQuAET", "txtQuIP",
                           "txtQuPort", "cmdApply", "cmdCancel", "lvNodes",   "cmdOK",    "chkExtStudy"};
    for (std::size_t i = 1; i < std::size(order); ++i) {
      QCOMPARE(NextFocus(Child<QWidget>(&d, order[i - 1]))->objectName(),
               QString::fromLatin1(order[i]));
    }
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(o.button("cmdAdd")));
    for (QPushButton* b : d.findChildren<QPushButton*>()) {
      QVERIFY2(!b->isDefault() && !b->autoDefault(), qPrintable(b->objectName()));
    }
  }

  // Tab to a control, then Enter, as a user does.
  void enterPressesTheFocusedButton_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("effect");
    QTest::newRow("Add New") << "cmdAdd" << "editor";
    QTest::newRow("Cancel") << "cmdCancel" << "rejected";
    QTest::newRow("OK") << "cmdOK" << "accepted";
    QTest::newRow("a field") << "txtQuAET" << "nothing";
  }

  void enterPressesTheFocusedButton() {
    QFETCH(QString, control);
    QFETCH(QString, effect);
    Opened o(kFullSettings);
    QVERIFY(QTest::qWaitForWindowActive(o.dialog.get()));
    o.field("txtLocAET")->setText(QStringLiteral("CHANGED"));
    const QByteArray before = o.host.SettingsText();
    for (int tabs = 0; tabs < 20 && QApplication::focusWidget()->objectName() != control; ++tabs)
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), control);

    bool editorMissed = false;
    QString editorTitle;
    if (effect == "editor") {
      WhenModal<frmChange>(
          [&](frmChange* editor) {
            editorTitle = editor->windowTitle();
            editor->reject();
          },
          &editorMissed);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    if (effect == "editor") {
      // Without an editor the watch for it runs on: let it end before this
      // row does, so that no later row's editor meets it.
      if (editorTitle.isEmpty()) QTRY_VERIFY_WITH_TIMEOUT(editorMissed, 12000);
      QCOMPARE(editorTitle, QStringLiteral("New Entry"));
    }
    const bool closes = effect == "rejected" || effect == "accepted";
    QCOMPARE(o.dialog->isVisible(), !closes);
    if (closes) {
      QCOMPARE(o.dialog->result(),
               int(effect == "accepted" ? QDialog::Accepted : QDialog::Rejected));
    }
    QCOMPARE(o.host.Read("Local", "AET"), effect == "accepted" ? "CHANGED" : "STATION1");
    if (effect != "accepted") QCOMPARE(o.host.SettingsText(), before);
  }

  void characterFilters_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("applyEnabled");
    QTest::newRow("IP letter") << "txtQuIP" << "a" << "" << false;
    QTest::newRow("IP space") << "txtQuIP" << " " << "" << false;
    QTest::newRow("IP minus") << "txtQuIP" << "-" << "" << false;
    QTest::newRow("IP bar") << "txtQuIP" << "|" << "" << false;
    QTest::newRow("IP dot") << "txtQuIP" << "." << "." << true;
    QTest::newRow("IP address among junk") << "txtQuIP" << "1x0. 0-.5" << "10.0.5" << true;
    QTest::newRow("port dot") << "txtQuPort" << "." << "" << false;
    QTest::newRow("port letter") << "txtQuPort" << "k" << "" << false;
    QTest::newRow("port space and minus") << "txtQuPort" << " -" << "" << false;
    QTest::newRow("port digits") << "txtQuPort" << "0104" << "0104" << true;
  }
  void characterFilters() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QFETCH(bool, applyEnabled);
    Opened o(kFullSettings);
    QLineEdit* edit = o.field(qPrintable(field));
    edit->clear();
    QVERIFY(!o.applyEnabled());
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), expected);
    QCOMPARE(o.applyEnabled(), applyEnabled);
  }

  void deleteAndArrowsEditWithoutEnablingApply() {
    Opened o(kFullSettings);
    QLineEdit* port = o.field("txtQuPort");
    QTest::keyClick(port, Qt::Key_Home);
    QTest::keyClick(port, Qt::Key_Delete);
    QTest::keyClick(port, Qt::Key_Right);
    QCOMPARE(port->text(), QStringLiteral("04"));
    QLineEdit* ip = o.field("txtQuIP");
    QTest::keyClick(ip, Qt::Key_End);
    QTest::keyClick(ip, Qt::Key_Left);
    QTest::keyClick(ip, Qt::Key_Delete);
    QCOMPARE(ip->text(), QStringLiteral("10.0.0."));
    QVERIFY(!o.applyEnabled());

    // OK still writes the changed fields, exactly as they stand.
    o.click("cmdOK");
    QCOMPARE(o.dialog->result(), int(QDialog::Accepted));
    QCOMPARE(o.host.Read("Query", "Port"), "04");
    QCOMPARE(o.host.Read("Query", "IP"), "10.0.0.");

    // Backspace is a typed character: it enables Apply.
    Opened again(kFullSettings);
    QTest::keyClick(again.field("txtQuPort"), Qt::Key_Backspace);
    QCOMPARE(again.field("txtQuPort")->text(), QStringLiteral("10"));
    QVERIFY(again.applyEnabled());
  }

  void pasteIsFilteredToo() {
    Opened o(kFullSettings);
    QLineEdit* ip = o.field("txtQuIP");
    ip->clear();
    QGuiApplication::clipboard()->setText(QStringLiteral(" 192.168.a1.7-\n"));
    QTest::keyClick(ip, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(ip->text(), QStringLiteral("192.168.1.7"));
    QVERIFY(o.applyEnabled());

    Opened p(kFullSettings);
    QLineEdit* port = p.field("txtQuPort");
    port->selectAll();
    QGuiApplication::clipboard()->setText(QStringLiteral("abc"));
    QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(port->text(), QStringLiteral("104"));  // nothing left to paste
    QVERIFY(!p.applyEnabled());

    // The context menu's Paste calls paste() without a key press.
    QGuiApplication::clipboard()->setText(QStringLiteral("8 0-x"));
    port->setCursorPosition(1);
    port->paste();
    QCOMPARE(port->text(), QStringLiteral("18004"));
    QCOMPARE(port->cursorPosition(), 3);
    QVERIFY(p.applyEnabled());
  }

  void changesEnableApply() {
    Opened o(kFullSettings);
    o.field("txtLocAET")->setText(QStringLiteral("X"));  // any change of the AE titles
    QVERIFY(o.applyEnabled());
    o.click("cmdApply");
    QVERIFY(!o.applyEnabled());
    QTest::keyClick(o.field("txtQuAET"), Qt::Key_Z);
    QVERIFY(o.applyEnabled());
    o.click("cmdApply");
    o.check()->click();
    QVERIFY(o.applyEnabled());
  }

  // A fresh file shows the order of the writes: each missing section and key
  // is appended when it is first written.
  void applyWritesKeysInOrderIntoFreshFile() {
    Opened o(nullptr);
    o.field("txtLocAET")->setText(QStringLiteral("LOCAL"));
    o.check()->setChecked(true);
    o.field("txtQuAET")->setText(QStringLiteral("ARCH"));
    o.field("txtQuIP")->setText(QStringLiteral("127.0.0.1"));
    o.field("txtQuPort")->setText(QStringLiteral("11112"));
    WhenModal<frmChange>([](frmChange* editor) {
      QTest::keyClicks(Child<QLineEdit>(editor, "txtAlias"), QStringLiteral("CT room"));
      QTest::keyClicks(Child<QLineEdit>(editor, "txtAET"), QStringLiteral("CTAE"));
      QTest::keyClick(Child<QLineEdit>(editor, "txtAET"), Qt::Key_Return);
    });
    o.click("cmdAdd");
    o.click("cmdApply");
    QCOMPARE(o.host.SettingsText(),
             QByteArray("[Local]\r\nAET=LOCAL\r\n[GENERAL]\r\nStudyDate=1\r\n"
                        "[Query]\r\nAET=ARCH\r\nIP=127.0.0.1\r\nPort=11112\r\n"
                        "[Forward]\r\nNode0=CT room|CTAE\r\nNode1=\r\nNode2=\r\nNode3=\r\n"
                        "Node4=\r\nNode5=\r\nNode6=\r\nNode7=\r\n"));
    QVERIFY(o.host.sink.shown.empty());
  }

  void applyWithThreeRowsEmptiesTheOtherSlots() {
    Opened o(kFullSettings);
    o.select(1);
    o.click("cmdDelete");
    o.select(3);
    o.click("cmdDelete");
    QCOMPARE(o.rows(), (QStringList{"CT room/CTAE", "PACS/PACSAE", "Lab/LABAE"}));
    o.click("cmdApply");
    QCOMPARE(o.host.Read("Forward", "Node0"), "CT room|CTAE");
    QCOMPARE(o.host.Read("Forward", "Node1"), "PACS|PACSAE");
    QCOMPARE(o.host.Read("Forward", "Node2"), "Lab|LABAE");
    for (int i = 3; i < kNodeSlots; ++i) {
      QCOMPARE(o.host.Read("Forward", NodeKey(i)), "");  // present, empty
      QVERIFY(o.host.SettingsText().contains(QByteArray("\r\nNode") + QByteArray::number(i) +
                                             "=\r\n"));
    }
    QVERIFY(o.host.settings.ForwardNodes[1] == (NodeEntry{"PACS", "PACSAE", true}));
    QVERIFY(!o.host.settings.ForwardNodes[4]);
    QCOMPARE(o.host.loadNodeButtonsCalls, 1);
    // Apply leaves alone what is not its own.
    QCOMPARE(o.host.Read("Forward", "Active"), "CTAE");
    QCOMPARE(o.host.Read("Local", "Port"), "4006");
    QCOMPARE(o.host.Read("Size", "SearchHeight"), "9000");
  }

  void okWithoutChangeRewritesSameValues() {
    Opened o(kFullSettings);
    o.host.WriteSettings(kFullSettings);
    const QByteArray before = o.host.SettingsText();
    o.click("cmdOK");
    QCOMPARE(o.dialog->result(), int(QDialog::Accepted));
    QVERIFY(!o.dialog->isVisible());
    // Every key existed and was rewritten in place with its value; only the
    // empty slots Node5..Node7 are new.
    QByteArray expected = before;
    expected.replace("Node4=Film|FILMAE\r\n",
                     "Node4=Film|FILMAE\r\nNode5=\r\nNode6=\r\nNode7=\r\n");
    QCOMPARE(o.host.SettingsText(), expected);
    QCOMPARE(o.host.loadNodeButtonsCalls, 1);
  }

  void emptyListEmptiesEverySlot() {
    Opened o(kFullSettings);
    while (o.list()->topLevelItemCount() > 0) {
      o.select(0);
      o.click("cmdDelete");
    }
    o.click("cmdOK");
    for (int i = 0; i < kNodeSlots; ++i) QCOMPARE(o.host.Read("Forward", NodeKey(i)), "");
    QVERIFY(o.host.settings.ForwardNodes == NodeEntries{});
  }

  void dateRangeRowFollowsTheBoxAtOnce() {
    Opened o(kFullSettings);
    QCOMPARE(o.host.dateRangeVisible, std::optional<bool>(false));  // GetINI at load
    o.check()->click();
    QCOMPARE(o.host.dateRangeVisible, std::optional<bool>(false));  // not before Apply
    o.click("cmdApply");
    QCOMPARE(o.host.dateRangeVisible, std::optional<bool>(true));
    QCOMPARE(o.host.Read("GENERAL", "StudyDate"), "1");
    o.check()->click();
    o.click("cmdApply");
    QCOMPARE(o.host.dateRangeVisible, std::optional<bool>(false));
    QCOMPARE(o.host.Read("GENERAL", "StudyDate"), "0");
    QCOMPARE(o.host.loadNodeButtonsCalls, 2);
  }

  void cancelAndEscDiscard() {
    Opened o(kFullSettings);
    const QByteArray before = o.host.SettingsText();
    o.field("txtLocAET")->setText(QStringLiteral("CHANGED"));
    o.select(0);
    o.click("cmdDelete");
    QTest::keyClick(o.field("txtLocAET"), Qt::Key_Escape);
    QVERIFY(!o.dialog->isVisible());
    QCOMPARE(o.dialog->result(), int(QDialog::Rejected));

    Opened c(kFullSettings);
    c.field("txtQuAET")->setText(QStringLiteral("CHANGED"));
    c.click("cmdCancel");
    QVERIFY(!c.dialog->isVisible());
    QCOMPARE(o.host.SettingsText(), before);
    QCOMPARE(c.host.SettingsText(), before);
    QCOMPARE(o.host.loadNodeButtonsCalls + c.host.loadNodeButtonsCalls, 0);
  }

  // Settings.ini that cannot be written: the user hears which file and why,
  // and the dialog stays open with every value. Made to fail in ways that
  // hold for root too: a file without write permission (WriteINI honours the
  // mode bits itself), a directory where the file should be, a folder that
  // has vanished.
  void failedWriteKeepsDialogAndValues_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("reason");
    QTest::newRow("read-only file") << "readonly" << "read-only";
    QTest::newRow("directory in its place") << "directory" << "not a file";
    QTest::newRow("folder vanished") << "vanished" << "folder does not exist";
  }
  void failedWriteKeepsDialogAndValues() {
    QFETCH(QString, how);
    QFETCH(QString, reason);
    Opened o(kFullSettings);
    const auto ini = o.host.file;
    if (how == "readonly") {
      std::filesystem::permissions(ini, std::filesystem::perms::owner_read |
                                            std::filesystem::perms::group_read |
                                            std::filesystem::perms::others_read);
    } else if (how == "directory") {
      std::filesystem::remove(ini);
      std::filesystem::create_directory(ini);
    } else {
      o.host.file = ini.parent_path() / "gone" / "Settings.ini";
    }
    o.field("txtLocAET")->setText(QStringLiteral("NEWSTATION"));
    o.select(0);
    o.click("cmdDelete");
    o.click("cmdOK");

    QVERIFY(o.dialog->isVisible());
    QCOMPARE(o.dialog->result(), int(QDialog::Rejected));
    QCOMPARE(o.host.sink.shown.size(), std::size_t{1});
    const ui::Message& m = o.host.sink.shown[0];
    QVERIFY2(m.text.contains(QString::fromStdString(o.host.file.string())), qPrintable(m.text));
    QVERIFY2(m.text.contains(reason), qPrintable(m.text));
    QCOMPARE(m.icon, ui::MessageIcon::Critical);
    QCOMPARE(o.field("txtLocAET")->text(), QStringLiteral("NEWSTATION"));
    QCOMPARE(o.list()->topLevelItemCount(), 4);
    QVERIFY(o.applyEnabled());
    QCOMPARE(o.host.loadNodeButtonsCalls, 0);
    QVERIFY(o.host.settings.ForwardNodes[0] == (NodeEntry{"CT room", "CTAE", true}));

    // Once the file can be written again, OK saves what the dialog kept.
    if (how == "readonly") {
      std::filesystem::permissions(ini, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
    } else if (how == "directory") {
      std::filesystem::remove(ini);
    } else {
      o.host.file = ini;
    }
    o.click("cmdOK");
    QCOMPARE(o.dialog->result(), int(QDialog::Accepted));
    QCOMPARE(o.host.Read("Local", "AET"), "NEWSTATION");
    QCOMPARE(o.host.Read("Forward", "Node0"), "MR room|MRAE");
  }

  void portOutsideRangeIsRefused_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("zero") << "0" << false;
    QTest::newRow("65536") << "65536" << false;
    QTest::newRow("beyond 32 bits") << "99999999999" << false;
    QTest::newRow("negative from file") << "-104" << false;
    QTest::newRow("1") << "1" << true;
    QTest::newRow("65535") << "65535" << true;
    QTest::newRow("leading zeros kept") << "00104" << true;
  }
  void portOutsideRangeIsRefused() {
    QFETCH(QString, port);
    QFETCH(bool, accepted);
    Opened o(kFullSettings);
    const QByteArray before = o.host.SettingsText();
    o.field("txtQuPort")->setText(port);
    o.field("txtLocAET")->setText(QStringLiteral("CHANGED"));
    o.click("cmdOK");
    if (accepted) {
      QCOMPARE(o.dialog->result(), int(QDialog::Accepted));
      QCOMPARE(o.host.Read("Query", "Port"), port.toStdString());
      QVERIFY(o.host.sink.shown.empty());
      return;
    }
    QVERIFY(o.dialog->isVisible());
    QCOMPARE(o.host.SettingsText(), before);  // nothing written
    QCOMPARE(o.host.sink.shown.size(), std::size_t{1});
    QVERIFY(o.host.sink.shown[0].text.contains(QStringLiteral("1 to 65535")));
    QCOMPARE(o.field("txtQuPort")->text(), port);
    QVERIFY(o.applyEnabled());
    QCOMPARE(o.host.loadNodeButtonsCalls, 0);
  }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"
