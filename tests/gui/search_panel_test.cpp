// The search panel on its own: what the user types is what criteria() gives
// a search, and the date row and reset behave as the window relies on.

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "search_widgets/search_panel.h"
#include "ui/optional_date_edit.h"

using namespace morvanta;

class SearchPanelTest : public QObject {
  Q_OBJECT

 private slots:
  void typedFieldsAreTheCriteria_data() {
    QTest::addColumn<QString>("field");  // objectName of the line edit or combo box
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("patientId");
    QTest::addColumn<QString>("lastName");
    QTest::addColumn<QString>("firstName");
    QTest::addColumn<QString>("modality");
    QTest::newRow("patient id as typed") << "txtPatID" << " 0042 " << " 0042 " << "" << "" << "";
    QTest::newRow("last name with wildcard") << "txtLastName" << "O'Brien*" << "" << "O'Brien*" << "" << "";
    QTest::newRow("first name with one-letter wildcard") << "txtFirstName" << "J?rg" << "" << "" << "J?rg" << "";
    QTest::newRow("modality typed, not completed") << "cboMod" << "c" << "" << "" << "" << "c";
    QTest::newRow("modality in lower case stays so") << "cboMod" << "mr" << "" << "" << "" << "mr";
  }
  void typedFieldsAreTheCriteria() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    search::SearchPanel panel;
    panel.Reset(QDate(2026, 12, 7));
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QWidget* target = panel.findChild<QWidget*>(field);
    QVERIFY(target != nullptr);
    if (auto* box = qobject_cast<QComboBox*>(target)) target = box->lineEdit();
    target->setFocus();
    QTest::keyClicks(target, typed);
    QTest::keyClick(target, Qt::Key_Return);

    const search::SearchCriteria c = panel.criteria();
    QTEST(c.patientId, "patientId");
    QTEST(c.lastName, "lastName");
    QTEST(c.firstName, "firstName");
    QTEST(c.modality, "modality");
    QCOMPARE(c.birthDate, std::optional<QDate>());
    QCOMPARE(c.rangeStart, std::optional<QDate>());
    // The panel never adds a shortcut's day: a shortcut adds its own.
    QCOMPARE(c.shortcutDate, std::optional<QDate>());
    QCOMPARE(c.shortcutRange, QString());
  }

  void datesChosenWithTheKeyboardAreTheCriteria() {
    search::SearchPanel panel;
    panel.Reset(QDate(2026, 12, 7));
    panel.SetDateRangeVisible(true);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    for (ui::OptionalDateEdit* d : {panel.dtpDOB, panel.dtpStudy1}) {
      d->setFocus();
      QTRY_COMPARE(QApplication::focusWidget(), d->dateEdit());
      QTest::keyClick(d->dateEdit(), Qt::Key_Space);  // today, as shown
    }
    const search::SearchCriteria c = panel.criteria();
    QCOMPARE(c.birthDate, std::optional<QDate>(QDate(2026, 12, 7)));
    QCOMPARE(c.rangeStart, std::optional<QDate>(QDate(2026, 12, 7)));
    QCOMPARE(c.rangeEnd, std::optional<QDate>());
    QVERIFY(search::HasCriteria(c));

    // Reset clears every date and the modality, whatever was chosen.
    panel.cboMod->setCurrentIndex(3);
    panel.Reset(QDate(2026, 12, 8));
    const search::SearchCriteria cleared = panel.criteria();
    QCOMPARE(cleared.birthDate, std::optional<QDate>());
    QCOMPARE(cleared.rangeStart, std::optional<QDate>());
    QCOMPARE(cleared.modality, QString());
    QCOMPARE(panel.dtpStudy2->shownDate(), QDate(2026, 12, 8));
    QVERIFY(!search::HasCriteria(cleared));
  }

  // The four controls of the study-date row come and go together; a hidden
  // picker still counts for the search.
  void dateRowShowsAndHidesTogether() {
    search::SearchPanel panel;
    panel.Reset(QDate(2026, 12, 7));
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const QList<QWidget*> row{panel.lblSearch[6], panel.dtpStudy1, panel.lblSearch[7], panel.dtpStudy2};
    for (bool visible : {false, true, false}) {
      panel.SetDateRangeVisible(visible);
      for (QWidget* w : row) QCOMPARE(w->isVisible(), visible);
      QVERIFY(panel.txtPatID->isVisible());
    }
    panel.dtpStudy2->setDate(QDate(2026, 11, 30));
    QCOMPARE(panel.criteria().rangeEnd, std::optional<QDate>(QDate(2026, 11, 30)));
  }
};

QTEST_MAIN(SearchPanelTest)
#include "search_panel_test.moc"
