// The forward-node buttons as the user sees them (shown, caption, colour,
// weight) and [Forward] Active in Settings.ini.

#include <QImage>
#include <QPushButton>

#include "app/node_buttons.h"
#include "config/profile.h"
#include "main_window_support.h"

using namespace morvanta;
using namespace morvanta::test;

namespace {

// What one button should show: "" hidden; "Caption" shown normal;
// "*Caption" shown green and bold.
using Looks = QStringList;

QString LookOf(const QPushButton* b) {
  if (b->isHidden()) return QString();
  return (IsNodeHighlighted(b) ? QStringLiteral("*") : QString()) + b->text();
}

QStringList LooksOf(const frmMain& f) {
  QStringList looks;
  for (const QPushButton* b : f.cmdNode) looks << LookOf(b);
  return looks;
}

std::string ActiveInFile(const ProgramDir& dir) {
  return ReadINI("Forward", "Active", "(missing)",
                 dir.path() / "Settings.ini");
}

// A normal button has the application's button face and regular weight; an
// active one pure green and bold. Checked on the palette and the font the
// button paints with, not on our own bookkeeping.
void VerifyColours(const frmMain& f) {
  const QColor face = QApplication::palette().color(QPalette::Button);
  for (const QPushButton* b : f.cmdNode) {
    const bool active = LookOf(b).startsWith('*');
    QCOMPARE(b->palette().color(QPalette::Button),
             active ? QColor(0, 255, 0) : face);
    QCOMPARE(b->font().bold(), active);
  }
}

}  // namespace

class NodeButtonsTest : public QObject {
  Q_OBJECT

 private slots:
  void buildsButtonsFromSettings_data();
  void buildsButtonsFromSettings();
  void clickMovesTheHighlightAndWritesActive();
  void undefinedWindows1252ByteKeepsItsNodeAcrossRestarts();
  void rebuildAfterActiveNodeRemovedHighlightsNothing();
  void rebuildFollowsChangedEntries();
  void activeButtonIsPaintedGreen();
  void activateNodeIgnoresIndexOutsideTheRow();
};

void NodeButtonsTest::buildsButtonsFromSettings_data() {
  QTest::addColumn<QStringList>("forward");  // lines of [Forward]
  QTest::addColumn<Looks>("looks");
  QTest::addColumn<QStringList>("aets");     // per shown button, in order
  QTest::addColumn<QString>("active");       // [Forward] Active afterwards

  QTest::newRow("no entries")
      << QStringList{} << Looks{"", "", "", "", "", "", "", ""} << QStringList{}
      << "(missing)";
  QTest::newRow("Node0 and Node2 only")
      << QStringList{"Node0=CT|CTAE", "Node2=MR|MRAE"}
      << Looks{"CT", "", "MR", "", "", "", "", ""} << QStringList{"CTAE", "MRAE"}
      << "(missing)";
  QTest::newRow("active node is green and written again")
      << QStringList{"Node0=CT room|CTAE", "Active = \"CTAE\""}
      << Looks{"*CT room", "", "", "", "", "", "", ""} << QStringList{"CTAE"}
      << "CTAE";
  QTest::newRow("active compared with case")
      << QStringList{"Node0=CT room|CTAE", "Active=ctae"}
      << Looks{"CT room", "", "", "", "", "", "", ""} << QStringList{"CTAE"}
      << "ctae";
  QTest::newRow("same AE title twice: the later button")
      << QStringList{"Node1=A|SAME", "Node3=B|SAME", "Active=SAME"}
      << Looks{"", "A", "", "*B", "", "", "", ""} << QStringList{"SAME", "SAME"}
      << "SAME";
  QTest::newRow("no AE title never matches an empty Active")
      << QStringList{"Node0=Room|", "Active="}
      << Looks{"Room", "", "", "", "", "", "", ""} << QStringList{""} << "";
  QTest::newRow("no AE title never matches a missing Active")
      << QStringList{"Node0=Room|"}
      << Looks{"Room", "", "", "", "", "", "", ""} << QStringList{""}
      << "(missing)";
  QTest::newRow("three pieces: alias and AE title")
      << QStringList{"Node4=A|B|C"} << Looks{"", "", "", "", "A", "", "", ""}
      << QStringList{"B"} << "(missing)";
  QTest::newRow("entry without bar keeps later buttons")
      << QStringList{"Node1=Plain", "Node2=X|XAE", "Node7=Y|YAE", "Active=XAE"}
      << Looks{"", "Plain", "*X", "", "", "", "", "Y"}
      << QStringList{"", "XAE", "YAE"} << "XAE";
  QTest::newRow("all eight, last active")
      << QStringList{"Node0=N0|A0", "Node1=N1|A1", "Node2=N2|A2", "Node3=N3|A3",
                     "Node4=N4|A4", "Node5=N5|A5", "Node6=N6|A6", "Node7=N7|A7",
                     "Active=A7"}
      << Looks{"N0", "N1", "N2", "N3", "N4", "N5", "N6", "*N7"}
      << QStringList{"A0", "A1", "A2", "A3", "A4", "A5", "A6", "A7"} << "A7";
}

void NodeButtonsTest::buildsButtonsFromSettings() {
  QFETCH(QStringList, forward);
  QFETCH(Looks, looks);
  QFETCH(QStringList, aets);
  QFETCH(QString, active);
  ProgramDir dir;
  if (!forward.isEmpty()) dir.WriteSettings(QStringList{"[Forward]"} + forward);
  Window w(dir);
  w.ShowActive();
  QCOMPARE(LooksOf(*w.frm), looks);
  QStringList shownAets;
  for (const QPushButton* b : w.frm->cmdNode) {
    if (!b->isHidden()) shownAets << NodeAET(b);
  }
  QCOMPARE(shownAets, aets);
  VerifyColours(*w.frm);
  QCOMPARE(QString::fromStdString(ActiveInFile(dir)), active);
  if (active != "(missing)") {
    QCOMPARE(QString::fromStdString(w.frm->settings().ActiveForwardAET), active);
  }
  // The rewrite of a matching Active is a real write: the quotes are gone.
  if (looks.join("").contains('*')) {
    QVERIFY(!dir.ReadSettings().contains("\"CTAE\""));
  }
}

void NodeButtonsTest::clickMovesTheHighlightAndWritesActive() {
  ProgramDir dir;
  dir.WriteSettings({"[Forward]", "Node2=Two|AE2", "Node5=Five|AE5", "Active=AE2"});
  Window w(dir);
  w.ShowActive();
  QCOMPARE(LooksOf(*w.frm), (Looks{"", "", "*Two", "", "", "Five", "", ""}));

  QTest::mouseClick(w.frm->cmdNode[5], Qt::LeftButton);
  QCOMPARE(LooksOf(*w.frm), (Looks{"", "", "Two", "", "", "*Five", "", ""}));
  VerifyColours(*w.frm);
  QCOMPARE(w.frm->settings().ActiveForwardAET, std::string("AE5"));
  QCOMPARE(ActiveInFile(dir), std::string("AE5"));

  // The choice survives a restart.
  w.frm->close();
  Window again(dir);
  QCOMPARE(LooksOf(*again.frm), (Looks{"", "", "Two", "", "", "*Five", "", ""}));
}

// Bytes Windows-1252 leaves undefined are still bytes of an AE title that a
// station's file may hold: the choice goes back to the file byte for byte.
void NodeButtonsTest::undefinedWindows1252ByteKeepsItsNodeAcrossRestarts() {
  ProgramDir dir;
  const QString odd = QStringLiteral("LAB%1%2").arg(QChar(0x81)).arg(QChar(0x9D));
  dir.WriteSettings({"[Forward]", "Node0=CT|CTAE", "Node1=Lab|" + odd, "Active=" + odd});
  Window w(dir);
  w.ShowActive();
  QCOMPARE(LooksOf(*w.frm), (Looks{"CT", "*Lab", "", "", "", "", "", ""}));
  QTest::mouseClick(w.frm->cmdNode[0], Qt::LeftButton);
  QTest::mouseClick(w.frm->cmdNode[1], Qt::LeftButton);
  QVERIFY2(dir.ReadSettings().contains("Active=LAB\x81\x9D\r\n"), dir.ReadSettings().constData());
  w.frm->close();
  Window again(dir);
  QCOMPARE(LooksOf(*again.frm), (Looks{"CT", "*Lab", "", "", "", "", "", ""}));
}

void NodeButtonsTest::rebuildAfterActiveNodeRemovedHighlightsNothing() {
  ProgramDir dir;
  dir.WriteSettings({"[Forward]", "Node0=A|AE_A", "Node1=B|AE_B", "Active=AE_B"});
  Window w(dir);
  w.ShowActive();
  QCOMPARE(LooksOf(*w.frm), (Looks{"A", "*B", "", "", "", "", "", ""}));

  // The settings dialog removed node B and moved another node into slot 1.
  QVERIFY(WriteINI("Forward", "Node1", "C|AE_C", dir.path() / "Settings.ini"));
  w.frm->LoadNodeButtons();
  QCOMPARE(LooksOf(*w.frm), (Looks{"A", "C", "", "", "", "", "", ""}));
  VerifyColours(*w.frm);
  QCOMPARE(ActiveInFile(dir), std::string("AE_B"));
}

void NodeButtonsTest::rebuildFollowsChangedEntries() {
  ProgramDir dir;
  dir.WriteSettings({"[Forward]", "Node0=A|AE_A", "Node1=B|AE_B", "Node2=C|AE_C",
                     "Active=AE_C"});
  Window w(dir);
  w.ShowActive();
  const std::filesystem::path ini = dir.path() / "Settings.ini";
  QVERIFY(WriteINI("Forward", "Node0", "C|AE_C", ini));
  QVERIFY(WriteINI("Forward", "Node1", "", ini));
  QVERIFY(WriteINI("Forward", "Node2", "", ini));
  w.frm->LoadNodeButtons();
  QCOMPARE(LooksOf(*w.frm), (Looks{"*C", "", "", "", "", "", "", ""}));
  QVERIFY(w.frm->settings().ForwardNodes[0] == (NodeEntry{"C", "AE_C", true}));
  QVERIFY(!w.frm->settings().ForwardNodes[1]);
  // A hidden slot keeps nothing of its old node.
  QCOMPARE(NodeAET(w.frm->cmdNode[2]), QString());
}

void NodeButtonsTest::activeButtonIsPaintedGreen() {
  ProgramDir dir;
  dir.WriteSettings({"[Forward]", "Node0=A|AE_A", "Node1=B|AE_B", "Active=AE_B"});
  Window w(dir);
  w.ShowActive();
  const QImage active = w.frm->cmdNode[1]->grab().toImage();
  const QImage normal = w.frm->cmdNode[0]->grab().toImage();
  const QColor a = active.pixelColor(active.width() / 6, active.height() / 2);
  const QColor n = normal.pixelColor(normal.width() / 6, normal.height() / 2);
  QCOMPARE(a, QColor(0, 255, 0));
  QCOMPARE(n, QApplication::palette().color(QPalette::Button));
}

void NodeButtonsTest::activateNodeIgnoresIndexOutsideTheRow() {
  ProgramDir dir;
  dir.WriteSettings({"[Forward]", "Node0=A|AE_A", "Active=AE_A"});
  Window w(dir);
  for (const std::int16_t index : {std::int16_t{-1}, std::int16_t{8}}) {
    w.frm->ActivateNode(index);
    QCOMPARE(LooksOf(*w.frm), (Looks{"*A", "", "", "", "", "", "", ""}));
    QCOMPARE(ActiveInFile(dir), std::string("AE_A"));
  }
}

QTEST_MAIN(NodeButtonsTest)
#include "node_buttons_test.moc"
