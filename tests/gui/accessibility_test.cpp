// What a screen reader is told through Qt's accessibility interfaces (an
// update handler records every event) about the four windows, and the
// contrast of the focus marks and the selection on their paint.

#include <QAccessible>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <cmath>
#include <memory>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include "main_window_support.h"
#include "search_widgets/result_grid.h"
#include "search_widgets/search_panel.h"
#include "settings_dialog_support.h"
#include "settings_ui/frm_change.h"
#include "settings_ui/frm_login.h"
#include "ui/optional_date_edit.h"

using namespace morvanta;
using morvanta::test::ProgramDir;
using morvanta::test::Window;

namespace {

struct Recorded {
  QAccessible::Event type;
  QPointer<QObject> object;
  bool visible;
  QAccessible::State changed;
};
std::vector<Recorded> g_events;

void Record(QAccessibleEvent* event) {
  QObject* object = event->object();
  const auto* widget = qobject_cast<QWidget*>(object);
  Recorded r{event->type(), object, widget != nullptr && widget->isVisible(), {}};
  if (event->type() == QAccessible::StateChanged)
    r.changed = static_cast<QAccessibleStateChangeEvent*>(event)->changedStates();
  g_events.push_back(r);
}

QAccessibleInterface* Iface(QObject* object) { return QAccessible::queryAccessibleInterface(object); }

double Luminance(QRgb rgb) {
  const auto channel = [](int c) {
    const double v = c / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) + 0.0722 * channel(qBlue(rgb));
}
double Contrast(QRgb a, QRgb b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
// A grab's pixel at a point given in the widget's logical pixels.
QRgb Pixel(const QImage& grab, QPoint at) {
  return grab.pixel((QPointF(at) * grab.devicePixelRatio()).toPoint());
}

const QStringList kStation{
    "[Local]", "AET=WS1", "[Query]", "AET=ARCHIVE", "IP=127.0.0.1", "Port=104", "[GENERAL]", "StudyDate=1",
    "[Forward]", "Node0=CT room|CTAE", "Node1=MR room|MRAE", "Node2=|PACSAE", "Active=CTAE"};

// The four windows, each as the program opens it.
struct Windows {
  Windows() {
    dir.WriteSettings(kStation);
    main = std::make_unique<Window>(dir);
    main->ShowActive();
    login = std::make_unique<settings_ui::frmLogin>(nullptr, sink);
    settings = std::make_unique<settings_ui::testing::Opened>(settings_ui::testing::kFullSettings);
    editor = std::make_unique<settings_ui::frmChange>(nullptr, settings_ui::frmChange::Mode::New, sink);
  }
  QWidget* window(const QString& name) const {
    if (name == "main") return main->frm.get();
    if (name == "login") return login.get();
    if (name == "settings") return settings->dialog.get();
    return editor.get();
  }
  ProgramDir dir;
  settings_ui::testing::RecordingSink sink;
  std::unique_ptr<Window> main;
  std::unique_ptr<settings_ui::frmLogin> login;
  std::unique_ptr<settings_ui::testing::Opened> settings;
  std::unique_ptr<settings_ui::frmChange> editor;
};

QWidget* Find(QWidget* window, const QString& path) {
  // "dtpDOB/edit": a child of a named control.
  QWidget* w = window;
  for (const QString& part : path.split('/')) {
    w = w->findChild<QWidget*>(part);
    if (w == nullptr) return nullptr;
  }
  return w;
}

}  // namespace

class AccessibilityTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QAccessible::installUpdateHandler(&Record);
    QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
    QVERIFY(platform != nullptr);
    platform->setActive(true);
    QVERIFY(QAccessible::isActive());
  }
  void init() { g_events.clear(); }

  // One control for each way a control is named: its role, a name with every
  // word of its visible label (or caption), the label tied to it, its state.
  void controlsAreNamedAfterTheirLabels_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("label");        // the label's object name; "" where none
    QTest::addColumn<QString>("words");        // what the name must hold besides the label's words
    QTest::addColumn<QString>("description");  // a word the description holds
    using A = QAccessible;
    const auto row = [](const char* window, const char* control, A::Role role, const char* label,
                        const char* words = "", const char* description = "") {
      QTest::addRow("%s %s", window, control) << window << control << int(role) << label << words << description;
    };
    row("main", "txtPatID", A::EditableText, "lblSearch_0");
    row("main", "cboMod", A::ComboBox, "lblSearch_5", "", "modality");
    row("main", "cmdSearch", A::Button, "", "Search", "archive");
    row("main", "grid1", A::Table, "", "Studies", "sort");
    row("main", "cmdNode_0", A::CheckBox, "", "CT room", "CTAE");
    row("main", "cmdNode_2", A::CheckBox, "", "PACSAE", "PACSAE");
    row("main", "dtpDOB/edit", A::SpinBox, "lblSearch_3", "", "calendar");
    row("main", "dtpDOB/check", A::CheckBox, "lblSearch_3", "Use");
    row("login", "txtPW", A::EditableText, "Label1");
    row("settings", "lvNodes", A::Tree, "", "Forward nodes", "Alias");
    row("settings", "txtLocAET", A::EditableText, "lblSettings_3", "Local", "station");
    row("settings", "cboForwardMethod", A::ComboBox, "lblForwardMethod", "", "C-MOVE");
    row("editor", "txtAlias", A::EditableText, "lblSettings_4", "", "button");
  }
  void controlsAreNamedAfterTheirLabels() {
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(int, role);
    QFETCH(QString, label);
    QFETCH(QString, words);
    QFETCH(QString, description);
    Windows windows;
    QWidget* top = windows.window(window);
    QWidget* widget = Find(top, control);
    QVERIFY2(widget != nullptr, qPrintable(control));
    QAccessibleInterface* iface = Iface(widget);
    QVERIFY(iface != nullptr);
    QCOMPARE(int(iface->role()), role);
    const QString name = iface->text(QAccessible::Name);
    QStringList expected = words.split(' ', Qt::SkipEmptyParts);
    if (!label.isEmpty()) {
      auto* caption = top->findChild<QLabel*>(label);
      QVERIFY(caption != nullptr);
      // Its words, not its punctuation: "Patient - ID:" names "Patient ID".
      expected += caption->text().split(QRegularExpression("\\W+"), Qt::SkipEmptyParts);
      // A label beside its field labels it (the label-for relation).
      if (!control.endsWith("/check")) {
        QWidget* labelled = caption->buddy();
        QCOMPARE(labelled, control.contains('/') ? widget->parentWidget() : widget);
      }
    }
    for (const QString& word : expected) QVERIFY2(name.contains(word), qPrintable(name + " lacks " + word));
    if (!description.isEmpty()) {
      const QString said = iface->text(QAccessible::Description);
      QVERIFY2(said.contains(description), qPrintable(said));
    }
    if (control == "txtPW") QVERIFY(iface->state().passwordEdit);
  }

  // Nothing Tab reaches is left without a name, in any of the windows.
  void everyFocusableControlHasAName() {
    Windows windows;
    for (const char* name : {"main", "login", "settings", "editor"}) {
      QWidget* top = windows.window(name);
      for (QWidget* w : top->findChildren<QWidget*>()) {
        if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(top) || w->focusProxy() != nullptr) continue;
        // The edit inside a combo box or a date field is a part of it.
        if (qobject_cast<QComboBox*>(w->parentWidget()) || qobject_cast<QAbstractSpinBox*>(w->parentWidget()))
          continue;
        QAccessibleInterface* iface = Iface(w);
        QVERIFY2(iface != nullptr && !iface->text(QAccessible::Name).isEmpty(),
                 qPrintable(QString("%1: %2 has no name").arg(name, w->objectName())));
      }
    }
  }

  // The active node is the checked one, one at a time; choosing one with
  // Space says so to assistive technology, and the look is as before.
  void activeNodeIsTheCheckedOne() {
    Windows windows;
    frmMain& f = *windows.main->frm;
    const auto checked = [&] {
      QList<int> on;
      for (int i = 0; i < kNodeSlots; ++i)
        if (Iface(f.cmdNode[static_cast<std::size_t>(i)])->state().checked) on << i;
      return on;
    };
    QCOMPARE(checked(), QList<int>{0});

    f.ActivateNode(1);
    QCOMPARE(checked(), QList<int>{1});

    g_events.clear();
    f.cmdNode[0]->setFocus();
    QTest::keyClick(f.cmdNode[0], Qt::Key_Space);
    QCOMPARE(checked(), QList<int>{0});
    QVERIFY(windows.dir.ReadSettings().contains("Active=CTAE"));
    const auto changed = [&](QPushButton* button) {
      return std::count_if(g_events.begin(), g_events.end(), [&](const Recorded& r) {
        return r.type == QAccessible::StateChanged && r.object == button && r.changed.checked;
      });
    };
    QCOMPARE(changed(f.cmdNode[0]), 1);
    QCOMPARE(changed(f.cmdNode[1]), 1);
    // Space on the active node again changes nothing.
    g_events.clear();
    QTest::keyClick(f.cmdNode[0], Qt::Key_Space);
    QCOMPARE(checked(), QList<int>{0});
    QCOMPARE(changed(f.cmdNode[0]), 0);
    // Checked, the active button looks as the plain button it was; the
    // arrow keys and Tab move on to the next node and choose nothing.
    f.cmdNode[0]->clearFocus();
    const QImage checkedLook = f.cmdNode[0]->grab().toImage();
    f.cmdNode[0]->setCheckable(false);
    QCOMPARE(f.cmdNode[0]->grab().toImage(), checkedLook);
    f.cmdNode[0]->setCheckable(true);
    f.cmdNode[0]->setChecked(true);
    f.cmdNode[0]->setFocus();
    QTest::keyClick(f.cmdNode[0], Qt::Key_Right);
    QCOMPARE(QApplication::focusWidget(), f.cmdNode[1]);
    QTest::keyClick(f.cmdNode[1], Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.cmdNode[2]);
    QCOMPARE(checked(), QList<int>{0});
  }

  // A search's count is tied to "Count:" and announced: the label's name,
  // and the description of Search, which has the focus after a search.
  void countIsLabelledAndAnnounced() {
    Windows windows;
    frmMain& f = *windows.main->frm;
    QAccessibleInterface* count = Iface(f.lblListCount);
    const auto labels = count->relations(QAccessible::Label);
    QVERIFY(std::any_of(labels.begin(), labels.end(),
                        [&](const auto& r) { return r.first->object() == f.lblSearch[8]; }));
    // A range from yesterday, then Today: no day in common, "0" without
    // asking the archive.
    ui::OptionalDateEdit* from = f.panel().dtpStudy1;
    from->dateEdit()->setFocus();
    QTest::keyClick(from->dateEdit(), Qt::Key_Down);
    QVERIFY(from->date().has_value());
    g_events.clear();
    QTest::mouseClick(f.cmdToday, Qt::LeftButton);
    QTRY_COMPARE(f.lblListCount->text(), QString("0"));
    QCOMPARE(count->text(QAccessible::Name), QString("Count: 0"));
    QVERIFY(std::any_of(g_events.begin(), g_events.end(), [&](const Recorded& r) {
      return r.type == QAccessible::NameChanged && r.object == f.lblListCount;
    }));
    QVERIFY(f.panel().cmdSearch->hasFocus());
    QVERIFY(Iface(f.panel().cmdSearch)->text(QAccessible::Description).startsWith("Count: 0. "));
  }

  // F4 and Alt+Down open the calendar, as in a combo box; the date stays
  // until a day is taken with Enter, and Esc closes it without one. Stepping
  // a date with Up and Down leaves the screen reader in the field: no focus
  // event from the hidden calendar, before or after it was opened.
  void keysOpenTheCalendar_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("pick");
    QTest::newRow("F4, a day picked") << int(Qt::Key_F4) << int(Qt::NoModifier) << true;
    QTest::newRow("Alt+Down, Esc") << int(Qt::Key_Down) << int(Qt::AltModifier) << false;
  }
  void keysOpenTheCalendar() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, pick);
    Windows windows;
    const auto stepsQuietly = [](QDateEdit* edit) {
      edit->setFocus();
      g_events.clear();
      const QDate before = edit->date();
      for (Qt::Key step : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up}) QTest::keyClick(edit, step);
      return edit->date() == before.addDays(-1) &&
             std::none_of(g_events.begin(), g_events.end(),
                          [](const Recorded& r) { return r.type == QAccessible::Focus && !r.visible; });
    };
    QVERIFY(stepsQuietly(windows.main->frm->panel().dtpStudy1->dateEdit()));  // its calendar never opened
    ui::OptionalDateEdit* dob = windows.main->frm->panel().dtpDOB;
    QDateEdit* edit = dob->dateEdit();
    edit->setFocus();
    const QDate before = edit->date();
    QTest::keyClick(edit, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QVERIFY(edit->calendarWidget() != nullptr);
    QWidget* popup = edit->calendarWidget()->window();
    QTRY_VERIFY(popup->isVisible());
    QCOMPARE(edit->date(), before);
    QVERIFY(!dob->date().has_value());
    QVERIFY(QApplication::focusWidget() != nullptr && popup->isAncestorOf(QApplication::focusWidget()));
    if (pick) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTest::keyClick(QApplication::focusWidget(), pick ? Qt::Key_Return : Qt::Key_Escape);
    QTRY_VERIFY(!popup->isVisible());
    QCOMPARE(dob->date(), pick ? std::optional<QDate>(before.addDays(-1)) : std::nullopt);
    QVERIFY(stepsQuietly(edit));
  }

  // What the painted windows show, by the pixels: Search's focus mark and
  // the grid's current-cell frame in a selected row at 3:1 or more, the
  // selection's white text at 4.5:1 or more.
  void focusMarksAndSelectionContrast() {
    Windows windows;
    frmMain& f = *windows.main->frm;
    QPushButton* search = f.panel().cmdSearch;
    f.panel().txtFirstName->setFocus();
    QTest::keyClick(f.panel().txtFirstName, Qt::Key_Tab);
    QVERIFY(search->hasFocus());
    const int y = search->height() / 2;
    QImage shot = search->grab().toImage();
    QVERIFY2(Contrast(Pixel(shot, {4, y}), Pixel(shot, {7, y})) >= 3.0, "Search shows no focus mark");
    QTest::keyClick(search, Qt::Key_Tab);
    shot = search->grab().toImage();
    QVERIFY(Contrast(Pixel(shot, {4, y}), Pixel(shot, {7, y})) < 1.5);  // a mark of the focus only

    // Rows whose Bodypart is empty: the current cell holds nothing but the
    // selection and the frame.
    std::vector<dicom::DataSet> rows(3);
    for (std::size_t i = 0; i < 3; ++i) {
      rows[i].Attributes().Add(0x0008, 0x0020, "20261207");
      rows[i].Attributes().Add(0x0010, 0x0020, "PATIENT" + std::to_string(i));
      rows[i].Attributes().Add(0x0020, 0x000D, "1.2." + std::to_string(i));
    }
    f.grid1->Fill(dicom::DataSetList(std::move(rows)));
    const QModelIndex empty = f.grid1->model()->index(1, search::ViewColumn(search::kColBodypart));
    QTest::mouseClick(f.grid1->viewport(), Qt::LeftButton, {}, f.grid1->visualRect(empty).center());
    QVERIFY(f.grid1->isRowSelected(2) && f.grid1->hasFocus());
    const QImage grid = f.grid1->viewport()->grab().toImage();
    const QRect cell = f.grid1->visualRect(empty);
    const QRgb fill = Pixel(grid, {cell.left() + 6, cell.center().y()});
    QVERIFY2(Contrast(Pixel(grid, {cell.left() + 2, cell.center().y()}), fill) >= 3.0, "no current-cell frame");
    QVERIFY2(Contrast(Pixel(grid, {cell.center().x(), cell.top() + 2}), fill) >= 3.0, "no current-cell frame");

    // The selection's text: its most contrasting pixel against the fill.
    const QRect text = f.grid1->visualRect(f.grid1->model()->index(1, search::ViewColumn(search::kColPatientId)));
    const QRgb background = Pixel(grid, text.topLeft() + QPoint(1, 1));
    QVERIFY(Contrast(background, fill) < 1.1);  // the selection's fill, not the base
    double best = 1;
    for (int x = text.left(); x < text.right(); ++x)
      for (int yy = text.top(); yy < text.bottom(); ++yy) best = std::max(best, Contrast(Pixel(grid, {x, yy}), background));
    QVERIFY2(best >= 4.5, qPrintable(QString::number(best)));
  }
};

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
