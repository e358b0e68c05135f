// The node editor behind the settings dialog's node list: the rows it
// loads, Add, Edit and Delete, the editor's fields and what Save and Cancel
// leave in the list.

#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "settings_dialog_support.h"
#include "settings_ui/frm_change.h"

using namespace morvanta;
using namespace morvanta::settings_ui;
using namespace morvanta::settings_ui::testing;

class SettingsNodeEditorTest : public QObject {
  Q_OBJECT

 private slots:
  // The node editor: Enter on the focused Cancel cancels; an AE title stored
  // longer than the field allows survives an unchanged Save.
  void editorEnterOnButtonsAndLongStoredTitle_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("kept");
    QTest::newRow("Enter on Cancel") << "CT room|CTAE" << "cmdCancel" << "CT room|CTAE";
    QTest::newRow("Enter on Save") << "CT room|CTAE" << "cmdOK" << "Changed|CTAE";
    QTest::newRow("long title, Enter in the field")
        << "Long|ABCDEFGHIJKLMNOPQRS" << "txtAET" << "Long|ABCDEFGHIJKLMNOPQRS";
    QTest::newRow("long title, Enter on Save")
        << "Long|ABCDEFGHIJKLMNOPQRS" << "cmdOK" << "Long|ABCDEFGHIJKLMNOPQRS";
  }

  void editorEnterOnButtonsAndLongStoredTitle() {
    QFETCH(QString, stored);
    QFETCH(QString, control);
    QFETCH(QString, kept);
    const std::string settings = "[Forward]\nNode0=" + stored.toStdString() + "\n[Query]\nPort=104\n";
    Opened o(settings.c_str());
    o.select(0);
    bool missed = false;
    QString shownTitle;
    WhenModal<frmChange>(
        [&](frmChange* editor) {
          auto* alias = Child<QLineEdit>(editor, "txtAlias");
          shownTitle = Child<QLineEdit>(editor, "txtAET")->text();
          if (!stored.startsWith("Long")) {
            alias->selectAll();
            QTest::keyClicks(alias, QStringLiteral("Changed"));
          }
          for (int tabs = 0; tabs < 6 && QApplication::focusWidget()->objectName() != control; ++tabs)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
          if (QApplication::focusWidget()->objectName() != control) {
            editor->reject();
            return;
          }
          QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
          if (editor->isVisible()) editor->reject();  // Enter did nothing
        },
        &missed);
    o.click("cmdEdit");
    QVERIFY(!missed);
    QCOMPARE(shownTitle, stored.section('|', 1));
    QCOMPARE(o.rows().at(0), QString(kept).replace('|', '/'));
    QCOMPARE(o.applyEnabled(), control != "cmdCancel");
    if (o.applyEnabled()) {
      o.click("cmdApply");
      QCOMPARE(QString::fromStdString(o.host.Read("Forward", "Node0")), kept);
    }
  }

  // Every slot holding an entry becomes a row, in slot order; a bar-less
  // entry is an alias without AE title; pieces after a second bar are dropped.
  void listFilledFromEverySlot() {
    Opened o("[Forward]\nNode0=\nNode1=CT room|CTAE\nNode2=Bare alias\n"
             "Node4=A|B|C\nNode7=Last|LASTAE\n[Query]\nPort=104\n");
    QCOMPARE(o.rows(), (QStringList{"CT room/CTAE", "Bare alias/", "A/B", "Last/LASTAE"}));
    o.click("cmdOK");
    QCOMPARE(o.host.Read("Forward", "Node0"), "CT room|CTAE");
    QCOMPARE(o.host.Read("Forward", "Node1"), "Bare alias|");
    QCOMPARE(o.host.Read("Forward", "Node2"), "A|B");
    QCOMPARE(o.host.Read("Forward", "Node3"), "Last|LASTAE");
    QCOMPARE(o.host.Read("Forward", "Node4"), "");
  }

  void addRefusedAtEightRows() {
    Opened o(kFullSettings);
    int opened = 0;
    for (const char* alias : {"Six", "Seven", "Eight"}) {
      bool missed = false;
      WhenModal<frmChange>(
          [&, alias](frmChange* editor) {
            ++opened;
            QCOMPARE(editor->windowTitle(), QStringLiteral("New Entry"));
            QCOMPARE(Child<QPushButton>(editor, "cmdOK")->text(), QStringLiteral("Add"));
            QVERIFY(Child<QLineEdit>(editor, "txtAlias")->text().isEmpty());
            QTest::keyClicks(Child<QLineEdit>(editor, "txtAlias"), QLatin1String(alias));
            QTest::keyClick(Child<QLineEdit>(editor, "txtAlias"), Qt::Key_Return);
          },
          &missed);
      o.click("cmdAdd");
      QVERIFY(!missed);
    }
    QCOMPARE(opened, 3);
    QCOMPARE(o.list()->topLevelItemCount(), 8);
    QCOMPARE(o.rows().last(), QStringLiteral("Eight/"));
    QVERIFY(o.applyEnabled());

    // An editor opened now would block the click; none may open.
    o.click("cmdAdd");
    QCOMPARE(o.host.sink.shown.size(), std::size_t{1});
    QCOMPARE(o.host.sink.shown[0].text, QStringLiteral("You can\u00B4t add more then 8 nodes."));
    QCOMPARE(o.host.sink.shown[0].title, QStringLiteral("Morvanta"));
    QCOMPARE(o.host.sink.shown[0].icon, ui::MessageIcon::Information);
    QCOMPARE(o.list()->topLevelItemCount(), 8);
    o.click("cmdApply");
    QCOMPARE(o.host.Read("Forward", "Node7"), "Eight|");
  }

  void editSavesRowAndEnablesApplyWithoutChange() {
    Opened o(kFullSettings);
    o.select(1);
    QString title, okText, alias, aet;
    WhenModal<frmChange>([&](frmChange* editor) {
      title = editor->windowTitle();
      okText = Child<QPushButton>(editor, "cmdOK")->text();
      alias = Child<QLineEdit>(editor, "txtAlias")->text();
      aet = Child<QLineEdit>(editor, "txtAET")->text();
      QTest::mouseClick(Child<QPushButton>(editor, "cmdOK"), Qt::LeftButton);
    });
    o.click("cmdEdit");
    QCOMPARE(title, QStringLiteral("Edit Entry"));
    QCOMPARE(okText, QStringLiteral("Save"));
    QCOMPARE(alias, QStringLiteral("MR room"));
    QCOMPARE(aet, QStringLiteral("MRAE"));
    QCOMPARE(o.rows().at(1), QStringLiteral("MR room/MRAE"));
    QVERIFY(o.applyEnabled());

    // A double-click edits too; emptied fields are allowed and store "|".
    WhenModal<frmChange>([&](frmChange* editor) {
      Child<QLineEdit>(editor, "txtAlias")->clear();
      Child<QLineEdit>(editor, "txtAET")->clear();
      QTest::keyClick(Child<QLineEdit>(editor, "txtAET"), Qt::Key_Return);
    });
    QTreeWidget* list = o.list();
    const QRect rect = list->visualItemRect(list->topLevelItem(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(o.rows().at(2), QStringLiteral("/"));
    o.click("cmdApply");
    QCOMPARE(o.host.Read("Forward", "Node2"), "|");
  }

  void cancelInEditorChangesNothing() {
    Opened o(kFullSettings);
    o.select(0);
    WhenModal<frmChange>([&](frmChange* editor) {
      Child<QLineEdit>(editor, "txtAlias")->setText(QStringLiteral("Other"));
      QTest::mouseClick(Child<QPushButton>(editor, "cmdCancel"), Qt::LeftButton);
    });
    o.click("cmdEdit");
    QCOMPARE(o.rows().at(0), QStringLiteral("CT room/CTAE"));
    QVERIFY(!o.applyEnabled());
  }

  void editAndDeleteNeedASelectedRow() {
    Opened o(kFullSettings);
    o.click("cmdEdit");  // would block on an editor if one opened
    o.click("cmdDelete");
    QCOMPARE(o.list()->topLevelItemCount(), 5);
    QVERIFY(!o.applyEnabled());
    o.select(0);
    o.click("cmdDelete");
    o.click("cmdDelete");  // the selection went with the row
    QCOMPARE(o.rows().first(), QStringLiteral("MR room/MRAE"));
    QCOMPARE(o.list()->topLevelItemCount(), 4);
    QVERIFY(o.applyEnabled());

    Opened e(nullptr);
    e.click("cmdEdit");
    e.click("cmdDelete");
    QVERIFY(e.rows().isEmpty());
  }

  void editorFields() {
    RecordingSink sink;
    frmChange editor(nullptr, frmChange::Mode::New, sink);
    editor.show();
    auto* alias = Child<QLineEdit>(&editor, "txtAlias");
    auto* aet = Child<QLineEdit>(&editor, "txtAET");
    QCOMPARE(editor.windowTitle(), QStringLiteral("New Entry"));
    const qreal dpi = editor.logicalDpiY();
    QCOMPARE(editor.size(), QSize(ui::Twips(4635, dpi), ui::Twips(2280, dpi)));
    QVERIFY(Child<QPushButton>(&editor, "cmdOK")->isDefault());
    QCOMPARE(NextFocus(alias), static_cast<QWidget*>(aet));
    QCOMPARE(NextFocus(aet), Child<QWidget>(&editor, "cmdOK"));
    QCOMPARE(NextFocus(Child<QWidget>(&editor, "cmdOK")), Child<QWidget>(&editor, "cmdCancel"));

    QTest::keyClicks(aet, QStringLiteral("ABCDEFGHIJKLMNOPQ"));
    QCOMPARE(aet->text(), QStringLiteral("ABCDEFGHIJKLMNOP"));  // the 17th is refused
    const QString longAlias(40, QLatin1Char('x'));
    QTest::keyClicks(alias, longAlias);
    QCOMPARE(alias->text(), longAlias);

    // "|" would split the stored entry: never taken, typed or pasted.
    alias->clear();
    QTest::keyClicks(alias, QStringLiteral("CT|room"));
    QCOMPARE(alias->text(), QStringLiteral("CTroom"));
    aet->clear();
    QGuiApplication::clipboard()->setText(QStringLiteral("A|B|C"));
    QTest::keyClick(aet, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(aet->text(), QStringLiteral("ABC"));

    // Focus puts the caret after the last character, nothing selected.
    QVERIFY(QTest::qWaitForWindowActive(&editor));
    aet->setFocus(Qt::TabFocusReason);
    QVERIFY(!aet->hasSelectedText());
    QCOMPARE(aet->cursorPosition(), 3);

    // Esc leaves the editor open.
    QTest::keyClick(alias, Qt::Key_Escape);
    QVERIFY(editor.isVisible());
  }

  void newEntryNeedsOneFilledField_data() {
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("aet");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("both empty") << "" << "" << false;
    QTest::newRow("space in alias") << " " << "" << true;
    QTest::newRow("space in AET") << "" << " " << true;
    QTest::newRow("alias only") << "CT" << "" << true;
    QTest::newRow("AET only") << "" << "CTAE" << true;
  }
  void newEntryNeedsOneFilledField() {
    QFETCH(QString, alias);
    QFETCH(QString, aet);
    QFETCH(bool, accepted);
    RecordingSink sink;
    frmChange editor(nullptr, frmChange::Mode::New, sink);
    editor.show();
    QTest::keyClicks(Child<QLineEdit>(&editor, "txtAlias"), alias);
    QTest::keyClicks(Child<QLineEdit>(&editor, "txtAET"), aet);
    QTest::keyClick(Child<QLineEdit>(&editor, "txtAlias"), Qt::Key_Return);
    QCOMPARE(editor.isVisible(), !accepted);
    QCOMPARE(editor.result(), int(accepted ? QDialog::Accepted : QDialog::Rejected));
    if (accepted) {
      QVERIFY(sink.shown.empty());
      QCOMPARE(editor.alias(), alias);
      QCOMPARE(editor.aet(), aet);
    } else {
      QCOMPARE(sink.shown.size(), std::size_t{1});
      QCOMPARE(sink.shown[0].text, QStringLiteral("Please fill the fields with data."));
      QCOMPARE(sink.shown[0].title, QStringLiteral("Morvanta"));
      QCOMPARE(sink.shown[0].icon, ui::MessageIcon::Information);
    }
  }
};

QTEST_MAIN(SettingsNodeEditorTest)
#include "settings_node_editor_test.moc"
