// The fault matrix against a hostile archive: the wired main window against
// morvanta-archive sending what no honest archive sends (sequences nested
// thousands of levels deep, pending responses without end after C-CANCEL,
// responses to another request, a PDU over our maximum, a release never
// answered). Every row checks: no crash, an outcome long before a hang,
// the right message and log line, nothing counted that was not stored, the
// earlier results kept, and a good search working right after.

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include "app_support.h"
#include "search_widgets/search_panel.h"

using namespace morvanta;
using namespace morvanta::test;

namespace {

const QString kTooMany = QStringLiteral("There was to many entries.\r\nPlease constrain your search.");
const QString kSendDone = QStringLiteral("Request(s) completed.\r\nThis process might take a few seconds.");

QStringList Settings(int port, int timeoutS) {
  return {"[Local]", "AET=MORVANTA", "[Query]", "AET=ARCHIVE", "IP=127.0.0.1",
          QStringLiteral("Port=%1").arg(port), QStringLiteral("Timeout=%1").arg(timeoutS),
          "[GENERAL]", "StudyDate=0"};
}

enum class Op { Search, Send };
enum class Expect {
  Error,     // one critical message matching `cause`, one Error.log line naming the procedure
  TooMany,   // stopped at the limit: the too-many message, "400+"
  Rows,      // the search's three rows, no message
  SendDone,  // the completion message, all three requests stored
};

struct Row {
  QStringList archive;
  Op op = Op::Search;
  Expect expect = Expect::Error;
  QString cause;
  // Long where the row shows that the outcome does not wait for the time-out.
  int timeoutS = 3;
  // A Send's rows come from the good archive where the bad one cannot answer a search.
  bool rowsFromGood = false;
};

// Far below the 30 s time-outs, well beyond a loaded machine's 3 s + 2 s.
int DeadlineMs(int timeoutS) { return std::min(timeoutS * 3 + 6, 12) * 1000; }

}  // namespace

Q_DECLARE_METATYPE(Row)

class FaultMatrixArchiveTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    good_ = std::make_unique<Archive>(QStringList{"--results", "4"});
    QVERIFY(good_->ready());
  }
  void hostile_data();
  void hostile();
  void cleanupTestCase() { good_.reset(); }

 private:
  std::unique_ptr<Archive> good_;
};

void FaultMatrixArchiveTest::hostile_data() {
  QTest::addColumn<Row>("row");
  const QString protocol = QStringLiteral("^1009 - Network error with ARCHIVE at 127\\.0\\.0\\.1:\\d+ during the study search: ");
  QTest::newRow("sequence nested 10,000 deep") << Row{{"--results", "3", "--nest-depth", "10000"}, Op::Search,
                                                      Expect::Error, protocol + ".*nest deeper than 128 levels"};
  QTest::newRow("sequence nested 128 deep (the bound)")
      << Row{{"--results", "3", "--nest-depth", "128"}, Op::Search, Expect::Rows, {}};
  QTest::newRow("deaf to C-CANCEL, streaming without end")
      << Row{{"--results", "3", "--ignore-cancel"}, Op::Search, Expect::TooMany, {}, 30};
  QTest::newRow("response to another message ID")
      << Row{{"--results", "3", "--wrong-message-id"}, Op::Search, Expect::Error,
             protocol + "a response answers message ID \\d+, not this request's \\d+$"};
  QTest::newRow("PDU over our maximum") << Row{{"--results", "3", "--oversize-pdu"}, Op::Search, Expect::Error,
                                               protocol + ".*Illegal PDU Length"};
  QTest::newRow("a match without end") << Row{{"--results", "3", "--endless-match"}, Op::Search, Expect::Error,
                                              protocol + "a response is over 128 MiB"};
  QTest::newRow("C-STORE response's command nested 10,000 deep")
      << Row{{"--results", "3", "--nest-command", "10000"}, Op::Send, Expect::Error,
             "^1009 - Network error with ARCHIVE at 127\\.0\\.0\\.1:\\d+ during a forwarding request \\(C-STORE\\): "
             "a response's command cannot be read: .*nest deeper than 128 levels.* 0 of 3 requests were stored",
             3, true};
  QTest::newRow("release never answered, search, 30 s time-out")
      << Row{{"--results", "3", "--hang-release"}, Op::Search, Expect::Rows, {}, 30};
  QTest::newRow("release never answered, Send, 30 s time-out")
      << Row{{"--results", "3", "--hang-release"}, Op::Send, Expect::SendDone, {}, 30};
}

void FaultMatrixArchiveTest::hostile() {
  QFETCH(Row, row);
  Archive bad(row.archive);
  QVERIFY(bad.ready());

  Station st;
  const bool fromGood = row.op == Op::Search || row.rowsFromGood;
  st.dir.WriteSettings(Settings(fromGood ? good_->port() : bad.port(), row.timeoutS));
  st.ShowActive();
  QTest::keyClicks(st.frm->panel().txtPatID, QStringLiteral("*"));
  QVERIFY(st.Search());
  QVERIFY(st.sink.shown.empty());
  const int rowsBefore = st.frm->grid1->rowCount();
  QCOMPARE(rowsBefore, fromGood ? 4 : 3);
  const QString firstUid = st.frm->grid1->studyUid(1);
  const QString countBefore = st.frm->lblListCount->text();
  st.dir.WriteSettings(Settings(bad.port(), row.timeoutS));

  const int deadlineMs = DeadlineMs(row.timeoutS);
  if (row.op == Op::Search) {
    QSignalSpy done(st.frm.get(), &frmMain::searchFinished);
    QTest::mouseClick(st.frm->panel().cmdSearch, Qt::LeftButton);
    QVERIFY(st.frm->busy());
    QVERIFY2(done.wait(deadlineMs), "the search did not end");
  } else {
    st.ClickRow(1);
    st.ClickRow(3, Qt::ShiftModifier);
    QSignalSpy done(st.frm.get(), &frmMain::sendFinished);
    QTest::mouseClick(st.frm->cmdSend, Qt::LeftButton);
    QVERIFY(st.frm->busy());
    QVERIFY2(done.wait(deadlineMs), "the Send did not end");
  }
  QVERIFY(!st.frm->busy());

  const QString shown = st.sink.shown.empty() ? QString() : st.sink.shown[0].text;
  const int errorLines = st.LogLines("Error.log", QStringLiteral(" - "));
  switch (row.expect) {
    case Expect::Error:
      QCOMPARE(st.sink.shown.size(), std::size_t{1});
      QCOMPARE(st.sink.shown[0].icon, ui::MessageIcon::Critical);
      QVERIFY2(QRegularExpression(row.cause).match(shown).hasMatch(), qPrintable(shown));
      QCOMPARE(errorLines, 1);
      QCOMPARE(st.LogLines("Error.log", row.op == Op::Search ? QStringLiteral(" - cmdSearch_Click")
                                                             : QStringLiteral(" - Send")),
               1);
      QCOMPARE(st.frm->lblListCount->text(), countBefore);
      break;
    case Expect::TooMany:
      QCOMPARE(st.sink.shown.size(), std::size_t{1});
      QCOMPARE(shown, kTooMany);
      QCOMPARE(errorLines, 0);
      QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("400+"));
      break;
    case Expect::Rows:
      QVERIFY2(st.sink.shown.empty(), qPrintable(shown));
      QCOMPARE(errorLines, 0);
      QCOMPARE(st.frm->grid1->rowCount(), 3);
      QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("3"));
      break;
    case Expect::SendDone:
      QCOMPARE(st.sink.shown.size(), std::size_t{1});
      QCOMPARE(shown, kSendDone);
      QCOMPARE(errorLines, 0);
      // Every request counted was stored, and the release's failure is a
      // note for the curious only.
      QCOMPARE(bad.stores().size(), 3);
      QCOMPARE(st.LogLines("Debug.log", QStringLiteral("release of the association failed")), 1);
      break;
  }
  if (row.expect != Expect::Rows) {
    QCOMPARE(st.frm->grid1->rowCount(), rowsBefore);
    QCOMPARE(st.frm->grid1->studyUid(1), firstUid);
  }

  // Still usable: a good search right after shows its rows.
  st.dir.WriteSettings(Settings(good_->port(), 3));
  const std::size_t messages = st.sink.shown.size();
  QVERIFY(st.Search());
  QCOMPARE(st.sink.shown.size(), messages);
  QCOMPARE(st.frm->grid1->rowCount(), 4);
}

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  app.setAttribute(Qt::AA_Use96Dpi, true);
  FaultMatrixArchiveTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "fault_matrix_archive_test.moc"
