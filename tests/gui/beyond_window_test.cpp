// The main window's additions beyond the plain search and Send, against
// morvanta-archive on free loopback ports: the result limit, cancelling a
// search or a Send, the modality key for standard archives and forwarding by
// C-MOVE.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>

#include "app_support.h"

using namespace morvanta;
using namespace morvanta::test;

namespace {

const QString kTooMany = QStringLiteral("There was to many entries.\r\nPlease constrain your search.");

}  // namespace

class BeyondWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void searchStopsAtTheLimit();
};

void BeyondWindowTest::searchStopsAtTheLimit() {
  // 5,000 studies, each match a millisecond apart: pulling them all would
  // take seconds; the search stops at the 400th and says there are more.
  Archive large({"--demo", "5000", "--delay", "1"});
  Archive exact({"--results", "400"});
  QVERIFY(large.ready() && exact.ready());
  Station st;
  st.dir.WriteSettings(StationSettings(large.port()));
  st.ShowActive();
  QTest::keyClicks(st.frm->txtPatID, QStringLiteral("*"));
  QVERIFY(st.Search());
  QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("400+"));
  QCOMPARE(st.sink.shown.size(), std::size_t{1});
  QCOMPARE(st.sink.shown[0].text, kTooMany);
  QTRY_VERIFY_WITH_TIMEOUT(!large.journal(QStringLiteral("find-done")).isEmpty(), kWaitMs);
  const int sent = large.journal(QStringLiteral("find-done"))[0].value("sent").toInt();
  QVERIFY2(sent >= 400 && sent < 5000, qPrintable(QString::number(sent)));
  QCOMPARE(st.LogLines("Error.log", QStringLiteral("cmdSearch_Click")), 0);

  // Exactly 400 matches is a complete list: no "+", the message all the same.
  st.dir.WriteSettings(StationSettings(exact.port()));
  QVERIFY(st.Search());
  QCOMPARE(st.frm->lblListCount->text(), QStringLiteral("400"));
  QCOMPARE(st.sink.shown.size(), std::size_t{2});
  QCOMPARE(st.sink.shown[1].text, kTooMany);
  QCOMPARE(exact.journal(QStringLiteral("find-done"))[0].value("sent").toInt(), 400);
}

QTEST_MAIN(BeyondWindowTest)
#include "beyond_window_test.moc"
