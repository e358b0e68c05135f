// The fault matrix: the wired main window against an archive told to
// misbehave, and a program directory with something wrong in it. Every row
// checks the same promises: one error line naming the procedure and one
// message naming the cause (or, for what is not an error, none), no hang
// beyond the time-out, Settings.ini untouched, the previous result still
// shown, and a good search working right after.

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <functional>

#include "app_support.h"

using namespace morvanta;
using namespace morvanta::test;

namespace {

// [Query] Timeout for every row: a hung archive costs two seconds.
constexpr int kTimeoutS = 2;
// A wait well beyond the time-out, but short of "hangs".
constexpr int kDeadlineMs = (kTimeoutS * 3 + 6) * 1000;

const QString kTooMany = QStringLiteral("There was to many entries.\r\nPlease constrain your search.");
const QString kSendDone = QStringLiteral("Request(s) completed.\r\nThis process might take a few seconds.");

QStringList Settings(const QString& host, int port) {
  return {"[Local]", "AET=MORVANTA", "[Query]", "AET=ARCHIVE", "IP=" + host,
          QStringLiteral("Port=%1").arg(port), QStringLiteral("Timeout=%1").arg(kTimeoutS),
          "[GENERAL]", "StudyDate=0"};
}

enum class Op { Search, Send };
enum class Expect {
  Error,    // one error line naming the procedure, one critical message
  TooMany,  // the too-many message, no error line, the grid as it was
  Rows,     // the search shows its rows, no message
  SendDone, // Send ends with its completion message
};
// What the row does to the program directory before the operation.
enum class Disk { None, ReadOnly, Missing, Folder, Garbage, LogsIsAFile, ErrorLogFull };
// Where Settings.ini sends the operation.
enum class Target { Bad, Refused, UnknownHost, Good };

struct Row {
  QStringList archive;  // the misbehaving archive's options
  Target target = Target::Bad;
  Op op = Op::Search;
  Disk disk = Disk::None;
  bool killBeforeSend = false;  // the archive goes away between search and send
  Expect expect = Expect::Error;
  QString procedure;  // in the error line
  QString cause;      // a pattern the message must match
  int rows = 0;       // Expect::Rows: the grid's rows
};

QString Path(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

}  // namespace

Q_DECLARE_METATYPE(Row)

class FaultMatrixTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void faults_data();
  void faults();
  void cleanupTestCase() { good_.reset(); }

 private:
  std::unique_ptr<Archive> good_;
};

void FaultMatrixTest::initTestCase() {
  good_ = std::make_unique<Archive>(QStringList{"--results", "4"});
  QVERIFY(good_->ready());
}

void FaultMatrixTest::faults_data() {
  QTest::addColumn<Row>("row");
  const QString search = QStringLiteral("cmdSearch_Click");
  const QString send = QStringLiteral("Send");
  auto add = [](const char* name, Row row) { QTest::newRow(name) << row; };

  // The network, during a search.
  add("connection refused", {{}, Target::Refused, Op::Search, Disk::None, false, Expect::Error, search, "^1001 - "});
  add("unknown host", {{}, Target::UnknownHost, Op::Search, Disk::None, false, Expect::Error, search,
                       "^1002 - .*nosuchhost\\.invalid"});
  add("rejected: called AE", {{"--refuse", "called"}, Target::Bad, Op::Search, Disk::None, false, Expect::Error,
                              search, "^1003 - .*called AE title"});
  add("rejected: calling AE", {{"--refuse", "calling"}, Target::Bad, Op::Search, Disk::None, false, Expect::Error,
                               search, "^1003 - .*calling AE title"});
  add("rejected: no reason", {{"--refuse", "noreason"}, Target::Bad, Op::Search, Disk::None, false, Expect::Error,
                              search, "^1003 - .*rejected"});
  add("never answers a request", {{"--hang"}, Target::Bad, Op::Search, Disk::None, false, Expect::Error, search,
                                  "^1004 - .*2 s"});
  add("never answers the association", {{"--hang-association"}, Target::Bad, Op::Search, Disk::None, false,
                                        Expect::Error, search, "^1004 - .*2 s"});
  add("abort during C-FIND", {{"--results", "3", "--find-abort"}, Target::Bad, Op::Search, Disk::None, false,
                              Expect::Error, search, "^1005 - "});
  add("C-FIND failure status", {{"--results", "3", "--find-status", "C001"}, Target::Bad, Op::Search, Disk::None,
                                false, Expect::Error, search, "^1006 - .*0xC001"});
  add("32,768 results", {{"--results", "32768"}, Target::Bad, Op::Search, Disk::None, false, Expect::TooMany, {}, {}, 0});
  add("100,000 results", {{"--results", "100000"}, Target::Bad, Op::Search, Disk::None, false, Expect::TooMany, {}, {}, 0});
  add("64 KB patient name", {{"--results", "3", "--odd-first", "long"}, Target::Bad, Op::Search, Disk::None, false,
                             Expect::Rows, {}, "^LONG N{65529}$", 3});
  add("bytes invalid for the character set", {{"--results", "3", "--odd-first", "invalid"}, Target::Bad,
                                              Op::Search, Disk::None, false, Expect::Rows, {}, "^BAD.* NAME", 3});
  add("unknown character set", {{"--results", "3", "--odd-first", "charset"}, Target::Bad, Op::Search,
                                Disk::None, false, Expect::Rows, {}, QStringLiteral("^M\u00fcLLER HANS$"), 3});
  // Names in the character sets of the Far East, never shown as escape bytes.
  add("ISO 2022 IR 87 name", {{"--results", "3", "--odd-first", "japanese"}, Target::Bad, Op::Search,
                              Disk::None, false, Expect::Rows, {}, "^Yamada Tarou=山田 太郎=やまだ たろう$", 3});
  add("ISO 2022 IR 149 name", {{"--results", "3", "--odd-first", "korean"}, Target::Bad, Op::Search,
                               Disk::None, false, Expect::Rows, {}, "^Hong Gildong=洪 吉洞=홍 길동$", 3});
  add("GB18030 name", {{"--results", "3", "--odd-first", "chinese"}, Target::Bad, Op::Search, Disk::None,
                       false, Expect::Rows, {}, "^Wang XiaoDong=王 小东=$", 3});

  // The network, during a Send (the rows come from the same archive).
  add("abort during C-STORE", {{"--results", "3", "--abort-store", "2"}, Target::Bad, Op::Send, Disk::None, false,
                               Expect::Error, send, "^1005 - "});
  add("C-STORE failure status", {{"--results", "3", "--fail-store", "2:A700"}, Target::Bad, Op::Send, Disk::None,
                                 false, Expect::Error, send, "^1007 - .*0xA700"});
  add("C-STORE warning status", {{"--results", "3", "--fail-store", "2:B000"}, Target::Bad, Op::Send, Disk::None,
                                 false, Expect::SendDone, {}, {}, 0});
  add("archive gone between search and send", {{"--results", "3"}, Target::Bad, Op::Send, Disk::None, true,
                                               Expect::Error, send, "^1001 - "});

  // The program directory.
  add("Settings.ini read-only", {{}, Target::Good, Op::Search, Disk::ReadOnly, false, Expect::Rows, {}, {}, 4});
  add("Settings.ini missing", {{}, Target::Good, Op::Search, Disk::Missing, false, Expect::Error, "CheckInI",
                               "^0 - Settings\\.ini existiert nicht\\.$"});
  add("Settings.ini is a folder", {{}, Target::Good, Op::Search, Disk::Folder, false, Expect::Error, "CheckInI",
                                   "^0 - Settings\\.ini existiert nicht\\.$"});
  add("Settings.ini garbage", {{}, Target::Good, Op::Search, Disk::Garbage, false, Expect::Error, search,
                               "^\\d+ - .+"});
  add("Logs is a file", {{}, Target::Refused, Op::Search, Disk::LogsIsAFile, false, Expect::Error, {}, "^1001 - "});
  add("Error.log full, rotation name taken", {{}, Target::Refused, Op::Search, Disk::ErrorLogFull, false,
                                              Expect::Error, search, "^1001 - "});
}

void FaultMatrixTest::faults() {
  QFETCH(Row, row);
  std::unique_ptr<Archive> bad;
  if (row.target == Target::Bad) {
    bad = std::make_unique<Archive>(row.archive);
    QVERIFY(bad->ready());
  }

  Station st;
  const std::filesystem::path logs = st.dir.path() / "Logs";
  const QString errorLog = Path(logs / "Error.log");
  st.dir.WriteSettings(Settings("127.0.0.1", good_->port()));
  st.ShowActive();
  QTest::keyClicks(st.frm->txtPatID, QStringLiteral("*"));

  // A good search first: its rows must survive whatever follows.
  if (row.op == Op::Search) {
    QVERIFY(st.Search());
    QCOMPARE(st.frm->grid1->rowCount(), 4);
  } else {
    st.dir.WriteSettings(Settings("127.0.0.1", bad->port()));
    QVERIFY(st.Search());
    QCOMPARE(st.frm->grid1->rowCount(), 3);
  }
  QVERIFY(st.sink.shown.empty());
  const int rowsBefore = st.frm->grid1->rowCount();
  const QString firstUid = st.frm->grid1->studyUid(1);
  const QString countBefore = st.frm->lblListCount->text();

  // The fault.
  switch (row.target) {
    case Target::Bad: st.dir.WriteSettings(Settings("127.0.0.1", bad->port())); break;
    case Target::Refused: st.dir.WriteSettings(Settings("127.0.0.1", FreeLoopbackPort())); break;
    case Target::UnknownHost: st.dir.WriteSettings(Settings("nosuchhost.invalid", good_->port())); break;
    case Target::Good: break;
  }
  const QString ini = st.dir.settingsFile();
  switch (row.disk) {
    case Disk::None: break;
    case Disk::ReadOnly:
      QVERIFY(QFile::setPermissions(ini, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
      break;
    case Disk::Missing: QVERIFY(QFile::remove(ini)); break;
    case Disk::Folder:
      QVERIFY(QFile::remove(ini));
      QVERIFY(QDir().mkdir(ini));
      break;
    case Disk::Garbage: {
      QFile f(ini);
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      QByteArray junk;
      for (int i = 0; i < 4096; ++i) junk.append(static_cast<char>((i * 7919 + 13) % 256));
      junk.replace('[', '\x01');  // no section at all: nothing to read
      f.write(junk);
      break;
    }
    case Disk::LogsIsAFile: {
      std::filesystem::remove_all(logs);
      QFile f(Path(logs));
      QVERIFY(f.open(QIODevice::WriteOnly));
      break;
    }
    case Disk::ErrorLogFull: {
      std::filesystem::create_directories(logs);
      QFile f(errorLog);
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(QByteArray(1000001, 'x'));
      f.close();
      QFile taken(Path(logs / "Error_07.12.2026-15.21.53.log"));
      QVERIFY(taken.open(QIODevice::WriteOnly));
      taken.write("older\r\n");
      break;
    }
  }
  const bool iniExisted = QFileInfo(ini).isFile();
  const QByteArray iniBefore = st.dir.ReadSettings();
  auto errorLines = [&] {
    QFile f(errorLog);
    if (!f.open(QIODevice::ReadOnly)) return QList<QByteArray>{};
    QList<QByteArray> lines;
    for (const QByteArray& line : f.readAll().split('\n'))
      if (line.contains(" - ")) lines << line;
    return lines;
  };
  const int errorLinesBefore = static_cast<int>(errorLines().size());

  // The operation, waited on with a deadline beyond the time-out.
  if (row.op == Op::Search) {
    QSignalSpy done(st.frm.get(), &frmMain::searchFinished);
    QTest::mouseClick(st.frm->cmdSearch, Qt::LeftButton);
    if (st.frm->busy()) QVERIFY2(done.wait(kDeadlineMs), "the search did not end");
  } else {
    if (row.killBeforeSend) bad.reset();
    st.ClickRow(1);
    st.ClickRow(3, Qt::ShiftModifier);
    QVERIFY(st.frm->cmdSend->isEnabled());
    QSignalSpy done(st.frm.get(), &frmMain::sendFinished);
    QTest::mouseClick(st.frm->cmdSend, Qt::LeftButton);
    QVERIFY(st.frm->busy());
    QVERIFY2(done.wait(kDeadlineMs), "the Send did not end");
  }
  QVERIFY(!st.frm->busy());
  QVERIFY(QApplication::overrideCursor() == nullptr);

  const QString shown = st.sink.shown.empty() ? QString() : st.sink.shown[0].text;
  if (!shown.isEmpty()) qInfo("message: %s", qPrintable(shown));
  const int newErrorLines = static_cast<int>(errorLines().size()) - (row.disk == Disk::ErrorLogFull ? 0 : errorLinesBefore);
  switch (row.expect) {
    case Expect::Error: {
      QCOMPARE(st.sink.shown.size(), std::size_t{1});
      QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Critical);
      QVERIFY2(QRegularExpression(row.cause).match(shown).hasMatch(), qPrintable(shown));
      if (row.disk == Disk::LogsIsAFile) {
        // No log can be written: the message is all there is, and the file
        // named Logs is left alone.
        QVERIFY(QFileInfo(Path(logs)).isFile());
        QCOMPARE(QFileInfo(Path(logs)).size(), 0);
      } else {
        QCOMPARE(newErrorLines, 1);
        const QByteArray line = errorLines().constLast();
        QVERIFY2(line.trimmed().endsWith(" - " + row.procedure.toLatin1()), line.constData());
        // The logged description is the one shown.
        QVERIFY2(line.contains(shown.section(QStringLiteral(" - "), 1).left(40).toLatin1()), line.constData());
      }
      break;
    }
    case Expect::TooMany:
      QCOMPARE(st.sink.shown.size(), std::size_t{1});
      QCOMPARE(shown, kTooMany);
      QCOMPARE(newErrorLines, 0);
      {
        const QString label = st.frm->lblListCount->text();
        const QString n = row.archive.value(1);
        QVERIFY2(label == n || label == QStringLiteral("400+"), qPrintable(label));
      }
      break;
    case Expect::Rows:
      QVERIFY2(st.sink.shown.empty(), qPrintable(shown));
      QCOMPARE(newErrorLines, 0);
      QCOMPARE(st.frm->grid1->rowCount(), row.rows);
      QCOMPARE(st.frm->lblListCount->text(), QString::number(row.rows));
      // The odd match is a row like the others, with its name shown as
      // well as its bytes allow (text in an unknown or broken character set
      // reads as Latin-1).
      {
        const QString name = st.frm->grid1->cellText(1, search::kColPatientName);
        QVERIFY(!name.isEmpty());
        QVERIFY2(QRegularExpression(row.cause).match(name).hasMatch(), qPrintable(name.left(80)));
      }
      QVERIFY(!st.frm->grid1->studyUid(1).isEmpty());
      break;
    case Expect::SendDone:
      QCOMPARE(st.sink.shown.size(), std::size_t{1});
      QCOMPARE(shown, kSendDone);
      QCOMPARE(newErrorLines, 0);
      QCOMPARE(bad->stores().size(), 3);
      break;
  }
  if (row.disk == Disk::ErrorLogFull) {
    // The full log went to the next free name; the older one is untouched.
    QCOMPARE(QFileInfo(Path(logs / "Error_07.12.2026-15.21.53_2.log")).size(), 1000001);
    QFile older(Path(logs / "Error_07.12.2026-15.21.53.log"));
    QVERIFY(older.open(QIODevice::ReadOnly));
    QCOMPARE(older.readAll(), QByteArray("older\r\n"));
    QCOMPARE(errorLines().size(), 1);
  }

  // Nothing written to Settings.ini, and nothing earlier lost (a failing or
  // refused search leaves the grid; a Send never touches it).
  QCOMPARE(QFileInfo(ini).isFile(), iniExisted);
  QCOMPARE(st.dir.ReadSettings(), iniBefore);
  if (row.expect != Expect::Rows) {
    QCOMPARE(st.frm->grid1->rowCount(), rowsBefore);
    QCOMPARE(st.frm->grid1->studyUid(1), firstUid);
    if (row.expect == Expect::Error) QCOMPARE(st.frm->lblListCount->text(), countBefore);
  }

  // Still usable: a good search right after shows its rows.
  if (row.disk == Disk::Folder) QVERIFY(QDir().rmdir(ini));
  if (row.disk == Disk::ReadOnly) QVERIFY(QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner));
  st.dir.WriteSettings(Settings("127.0.0.1", good_->port()));
  const std::size_t messages = st.sink.shown.size();
  QVERIFY(st.Search());
  QCOMPARE(st.sink.shown.size(), messages);
  QCOMPARE(st.frm->grid1->rowCount(), 4);
  QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("4"));
}

QTEST_MAIN(FaultMatrixTest)
#include "fault_matrix_test.moc"
