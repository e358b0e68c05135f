// The runner every background operation takes, with plain jobs and no
// archive: what reaches the owner, on which thread and in which order, and
// nothing once the owner is gone (a delivery to it would be a use after free
// under ASan).

#include <QScopeGuard>
#include <QThread>
#include <QThreadPool>
#include <QtTest>
#include <atomic>
#include <memory>
#include <semaphore>

#include "work/runner.h"

using morvanta::work::CancelToken;
using morvanta::work::Runner;

namespace {

constexpr int kBoundMs = 10000;
constexpr std::chrono::seconds kJobBound{5};  // below kBoundMs: the test outwaits a job left hanging
enum class Step { OutcomeOnly, RapidStates, StateThenMore, Cancel, DestroyOwner };

}  // namespace

Q_DECLARE_METATYPE(Step)

class WorkRunnerTest : public QObject {
  Q_OBJECT

 private slots:
  void jobReachesItsOwner_data() {
    QTest::addColumn<Step>("step");
    QTest::addColumn<QStringList>("expected");  // what the owner was shown, in order
    QTest::newRow("one outcome, on the owner's thread") << Step::OutcomeOnly << QStringList{"outcome 42"};
    // The owner's thread is busy while the job reports: it sees the latest state only.
    QTest::newRow("rapid states collapse to the latest")
        << Step::RapidStates << QStringList{"state 1000", "outcome 42"};
    // The second state follows the first within the interval, then the job ends.
    QTest::newRow("a state not yet shown comes before the outcome")
        << Step::StateThenMore << QStringList{"state 1", "state 2", "outcome 42"};
    QTest::newRow("cancel reaches the job's token") << Step::Cancel << QStringList{"outcome -1"};
    QTest::newRow("owner destroyed: job cancelled, nothing delivered") << Step::DestroyOwner << QStringList{};
  }

  void jobReachesItsOwner() {
    QFETCH(Step, step);
    QFETCH(QStringList, expected);
    std::binary_semaphore gate{0};
    std::atomic<bool> cancelSeen{false};
    QStringList seen;
    bool offThread = false;
    const auto record = [&](const char* what, int value) {
      seen << QStringLiteral("%1 %2").arg(what).arg(value);
      offThread |= QThread::currentThread() != thread();
    };
    auto runner = std::make_unique<Runner<int, int>>([&](const int& outcome) { record("outcome", outcome); },
                                                     [&](const int& state) {
                                                       record("state", state);
                                                       if (step == Step::StateThenMore && state == 1) gate.release();
                                                     });
    // Whatever fails, the job is gone before what it refers to.
    const auto drain = qScopeGuard([] { QThreadPool::globalInstance()->waitForDone(kBoundMs); });
    const auto job = [&, step](const CancelToken& token, const auto& report) {
      switch (step) {
        case Step::OutcomeOnly: break;
        case Step::RapidStates: for (int i = 1; i <= 1000; ++i) report(i); break;
        case Step::StateThenMore:
          report(1);
          if (!gate.try_acquire_for(kJobBound)) return 0;
          report(2);
          break;
        case Step::Cancel:
          if (!gate.try_acquire_for(kJobBound)) return 0;
          return token.cancelled() ? -1 : 42;
        case Step::DestroyOwner:
          if (!gate.try_acquire_for(kJobBound)) return 0;
          cancelSeen = token.cancelled();
          report(1);
          return 7;
      }
      return 42;
    };
    QVERIFY(runner->start(job));
    QVERIFY(runner->isRunning());
    QVERIFY(!runner->start(job));  // one at a time

    if (step == Step::RapidStates) QVERIFY(QThreadPool::globalInstance()->waitForDone(kBoundMs));
    if (step == Step::Cancel) runner->cancel();
    if (step == Step::DestroyOwner) runner.reset();
    if (step == Step::Cancel || step == Step::DestroyOwner) gate.release();
    if (runner) QTRY_VERIFY_WITH_TIMEOUT(!runner->isRunning(), kBoundMs);
    QVERIFY(QThreadPool::globalInstance()->waitForDone(kBoundMs));
    QCoreApplication::sendPostedEvents();  // anything still on its way arrives now, or never
    QCOMPARE(seen, expected);
    QVERIFY(!offThread);
    if (step == Step::DestroyOwner) QVERIFY(cancelSeen);
  }
};

QTEST_GUILESS_MAIN(WorkRunnerTest)
#include "work_runner_test.moc"
