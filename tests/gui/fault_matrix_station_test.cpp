// The fault matrix's rows about Settings.ini on the station: the file on a
// locked-down station, written by the window running as an ordinary user,
// and values in it that no search can use.

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include "../support/unprivileged.h"
#include "app/node_buttons.h"
#include "app_support.h"
#include "fault_matrix_support.h"

using namespace morvanta;
using namespace morvanta::test;

class FaultMatrixStationTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void lockedStation_data();
  void lockedStation();
  void settingsValues_data();
  void settingsValues();
  void cleanupTestCase() { good_.reset(); }

 private:
  std::unique_ptr<Archive> good_;
};

void FaultMatrixStationTest::initTestCase() {
  good_ = std::make_unique<Archive>(QStringList{"--results", "4"});
  QVERIFY(good_->ready());
}

// Settings.ini on a locked-down station: the window runs as an ordinary user
// (this program started again after dropping root, see StationUser below),
// clicks a node button and closes; the file, its owner and mode, and
// Error.log are then looked at from here.
namespace {

constexpr gid_t kStationGroup = 4242;
constexpr const char* kUserDir = "MORVANTA_FAULT_USER_DIR";
constexpr const char* kUserRemoves = "MORVANTA_FAULT_USER_REMOVES";

struct LockedRow {
  testing::Owner folderOwner;
  unsigned folderMode;
  unsigned fileMode;  // Settings.ini, owned by the folder's owner
  bool shared;        // the file's group is the station's, and the user is in it
  bool removed;       // the user removes Settings.ini after the start
  bool saved;         // else: untouched, each write logged
};

// The window as the user sees it: start, click the second node, close.
// Exit status 0 when nothing was shown and the click held for this run.
int StationUser() {
  const std::filesystem::path dir = qEnvironmentVariable(kUserDir).toStdString();
  RecordingSink sink;
  auto frm = std::make_unique<frmMain>(dir, FixedNow, &sink);
  frm->show();
  QApplication::setActiveWindow(frm.get());
  if (!QTest::qWaitForWindowActive(frm.get()) || !frm->cmdNode[1]->isVisible()) return 3;
  if (qEnvironmentVariableIsSet(kUserRemoves) && !QFile::remove(Path(SettingsPath(dir)))) return 4;
  QTest::mouseClick(frm->cmdNode[1], Qt::LeftButton);
  if (!IsNodeHighlighted(frm->cmdNode[1])) return 5;
  frm->close();
  return sink.shown.empty() ? 0 : 6;
}

}  // namespace

Q_DECLARE_METATYPE(LockedRow)

void FaultMatrixStationTest::lockedStation_data() {
  using testing::Owner;
  QTest::addColumn<LockedRow>("row");
  QTest::newRow("program folder read-only, Settings.ini writable: node click and close save in place")
      << LockedRow{Owner::Root, 0755, 0666, false, false, true};
  QTest::newRow("program folder read-only, Settings.ini group-writable, user in its group: saved in place")
      << LockedRow{Owner::Root, 0755, 0664, true, false, true};
  QTest::newRow("Settings.ini not writable by the user: each write logged, file untouched")
      << LockedRow{Owner::Root, 0777, 0644, false, false, false};
  QTest::newRow("Settings.ini removed while running: node click logged, not created on close")
      << LockedRow{Owner::Child, 0755, 0664, false, true, false};
}

void FaultMatrixStationTest::lockedStation() {
  QFETCH(LockedRow, row);
  ProgramDir dir;
  const QString ini = dir.settingsFile();
  dir.WriteSettings({"[Forward]", "Node0=CT|CTAE", "Node1=MR|MRAE", "Active=CTAE", "[Size]", "SearchHeight=9001"});
  const QByteArray before = dir.ReadSettings();
  const std::filesystem::path logs = dir.path() / "Logs";
  std::filesystem::create_directory(logs);
  testing::Identity user;
  if (row.shared) user.groups = {kStationGroup};
  const auto group = row.shared ? std::optional<gid_t>(kStationGroup) : std::nullopt;
  QVERIFY(testing::Give(SettingsPath(dir.path()), row.folderOwner, std::filesystem::perms(row.fileMode),
                        user, group));
  QVERIFY(testing::Give(logs, testing::Owner::Root, std::filesystem::perms(0777), user));
  QVERIFY(testing::Give(dir.path(), row.folderOwner, std::filesystem::perms(row.folderMode), user));
  struct stat old {};
  QCOMPARE(::stat(QFile::encodeName(ini).constData(), &old), 0);

  std::vector<std::string> environment{std::string(kUserDir) + "=" + dir.path().string()};
  if (row.removed) environment.push_back(std::string(kUserRemoves) + "=1");
  const testing::ChildResult child = testing::RunSelfAs(user, {}, environment, std::chrono::milliseconds(kWaitMs));
  QVERIFY2(!child.timedOut, "the window as the user did not end");
  QCOMPARE(child.status, 0);

  QFile error(Path(logs / "Error.log"));
  const QList<QByteArray> lines =
      error.open(QIODevice::ReadOnly) ? error.readAll().trimmed().split('\n') : QList<QByteArray>{};
  struct stat now {};
  if (row.removed) {
    QVERIFY(!QFileInfo::exists(ini));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].trimmed().endsWith(" - cmdNode_Click") && lines[0].contains("does not exist"),
             lines[0].constData());
    return;
  }
  QCOMPARE(::stat(QFile::encodeName(ini).constData(), &now), 0);
  QCOMPARE(now.st_uid, old.st_uid);
  QCOMPARE(now.st_gid, old.st_gid);
  QCOMPARE(now.st_mode, old.st_mode);
  QCOMPARE(now.st_ino, old.st_ino);
  if (row.saved) {
    const QByteArray after = dir.ReadSettings();
    QVERIFY2(after.contains("Active=MRAE\r\n") && !after.contains("SearchHeight=9001"), after.constData());
    QVERIFY2(lines.isEmpty(), lines.value(0).constData());
  } else {
    QCOMPARE(dir.ReadSettings(), before);
    QCOMPARE(lines.size(), 2);
    for (const QByteArray& line : lines) QVERIFY2(line.contains(QFile::encodeName(ini) + ": "), line.constData());
    QVERIFY2(lines[0].trimmed().endsWith(" - cmdNode_Click"), lines[0].constData());
    QVERIFY2(lines[1].trimmed().endsWith(" - Form_Unload"), lines[1].constData());
  }
}

// Values in Settings.ini that no search can use say what the file holds; a
// value written as Windows reads it works.
void FaultMatrixStationTest::settingsValues_data() {
  QTest::addColumn<QStringList>("lines");  // replace the lines of the same key
  QTest::addColumn<QString>("cause");      // the message, or "" for the rows found
  QTest::addColumn<QString>("procedure");
  const QString port = QStringLiteral("^1010 - Port \"%1\" of ARCHIVE in Settings\\.ini is not a TCP port");
  QTest::newRow("port not a number") << QStringList{"Port=abc"} << port.arg("abc") << "CheckInI";
  QTest::newRow("port of 20 digits") << QStringList{"Port=12345678901234567890"}
                                     << port.arg("12345678901234567890") << "CheckInI";
  QTest::newRow("port with a fraction") << QStringList{"Port=11112.5"} << port.arg("11112\\.5") << "CheckInI";
  // A NUL ends the value, as Windows reads it: the archive is asked as ARCH.
  QTest::newRow("NUL inside the archive's AE title")
      << QStringList{QStringLiteral("AET=ARCH%1IVE").arg(QChar(0))}
      << "^1003 - Association rejected by ARCH at .*called AE title" << "cmdSearch_Click";
  QTest::newRow("control character inside the archive's AE title")
      << QStringList{QStringLiteral("AET=ARCH%1IVE").arg(QChar(1))}
      << "^1010 - The called AE title \"ARCH<01>IVE\" is not valid" << "cmdSearch_Click";
  QTest::newRow("values in single quotes") << QStringList{"AET='ARCHIVE'", "IP='127.0.0.1'"} << QString()
                                           << QString();
}

void FaultMatrixStationTest::settingsValues() {
  QFETCH(QStringList, lines);
  QFETCH(QString, cause);
  QFETCH(QString, procedure);
  Station st;
  QStringList settings = Settings("127.0.0.1", good_->port());
  for (const QString& line : lines) {
    const QString key = line.section('=', 0, 0) + '=';
    // [Local] AET comes first; the archive's keys are in [Query].
    const auto at = std::find_if(settings.begin() + 2, settings.end(),
                                 [&](const QString& l) { return l.startsWith(key); });
    QVERIFY(at != settings.end());
    *at = line;
  }
  st.dir.WriteSettings(settings);
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("*"));
  const bool started = st.Search();
  if (cause.isEmpty()) {
    QVERIFY(started);
    QVERIFY(st.sink.shown.empty());
    QCOMPARE(st.frm->grid1->rowCount(), 4);
    return;
  }
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QVERIFY2(QRegularExpression(cause).match(st.sink.shown[0].text).hasMatch(), qPrintable(st.sink.shown[0].text));
  QCOMPARE(st.LogLines("Error.log", " - " + procedure), 1);
}

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  app.setAttribute(Qt::AA_Use96Dpi, true);
  // A lockedStation row's window, run again as the station's user.
  if (qEnvironmentVariableIsSet(kUserDir)) return StationUser();
  FaultMatrixStationTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "fault_matrix_station_test.moc"
