// End-to-end figures of the wired main window, in process on the offscreen
// platform, against an archive bench/run has started:
//   morvanta_bench_e2e search PORT REPS   click to filled grid, one line "ms=" each
//   morvanta_bench_e2e send PORT REPS N   N selected rows, Send to sendFinished
//   morvanta_bench_e2e memory PORT        one search, then "peak_kb=" (VmHWM)
//   morvanta_bench_e2e breakdown PORT REPS where a search's time goes, one line
//                                          of phases in ms each (see Breakdown)
//   morvanta_bench_e2e toomany PORT REPS  click to the too-many message, "ms="
// The window is the program's own frmMain over a temporary program directory.
// search, breakdown and toomany do one untimed search first, as the reference
// programs do, so that no figure carries the first search's one-off set-up.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "app/frmMain.h"
#include "search/query.h"
#include "search_widgets/result_grid.h"
#include "search_widgets/search_panel.h"
#include "search/search_worker.h"

using namespace morvanta;

namespace {

class NoBoxes : public ui::MessageSink {
 public:
  void Show(const ui::Message& message) override {
    if (clock != nullptr) shownAtNs = clock->nsecsElapsed();
    std::fprintf(stderr, "message: %s\n", qPrintable(message.text));
    ++shown;
  }
  int shown = 0;
  QElapsedTimer* clock = nullptr;  // when set, the time of the last message
  qint64 shownAtNs = -1;
};

long PeakKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

LocalDateTime Now() { return {2026, 12, 7, 15, 21, 53}; }

double Ms(qint64 ns) { return static_cast<double>(ns) / 1e6; }

int Fail(const char* what) {
  std::fprintf(stderr, "morvanta_bench_e2e: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("TCP_NODELAY", "1");
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 3) return Fail("usage: search|send|memory|breakdown|toomany PORT [REPS] [N]");
  const std::string mode = argv[1];
  const int port = std::atoi(argv[2]);
  const int reps = argc > 3 ? std::atoi(argv[3]) : 1;
  const int rows = argc > 4 ? std::atoi(argv[4]) : 500;

  QTemporaryDir dir;
  {
    QFile ini(dir.filePath(QStringLiteral("Settings.ini")));
    if (!ini.open(QIODevice::WriteOnly)) return Fail("cannot write Settings.ini");
    ini.write(QStringLiteral("[Local]\r\nAET=MORVANTA\r\n[Query]\r\nAET=ARCHIVE\r\nIP=127.0.0.1\r\n"
                             "Port=%1\r\nTimeout=30\r\n[GENERAL]\r\nStudyDate=0\r\n")
                  .arg(port)
                  .toLatin1());
  }
  NoBoxes sink;
  frmMain window(QFile::encodeName(dir.path()).toStdString(), Now, &sink);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return Fail("window not shown");
  QTest::keyClicks(window.panel().txtPatID, QStringLiteral("*"));

  auto search = [&]() -> qint64 {
    QSignalSpy done(&window, &frmMain::searchFinished);
    QElapsedTimer clock;
    clock.start();
    window.panel().cmdSearch->click();
    if (done.isEmpty() && !done.wait(60000)) return -1;
    return clock.nsecsElapsed();
  };

  if (mode == "toomany") {
    // The archive holds more matches than the grid lists: the search stops
    // at the limit and the message comes up.
    for (int i = 0; i <= reps; ++i) {
      QElapsedTimer clock;
      sink.clock = &clock;
      const int before = sink.shown;
      QSignalSpy done(&window, &frmMain::searchFinished);
      clock.start();
      window.panel().cmdSearch->click();
      if (done.isEmpty() && !done.wait(60000)) return Fail("search did not end");
      if (sink.shown != before + 1 || !search::IsTooMany(window.lblListCount->text().remove('+').toULongLong()))
        return Fail("no too-many message");
      if (i > 0) std::printf("ms=%.3f\n", Ms(sink.shownAtNs));
    }
    return 0;
  }
  if (mode == "breakdown") {
    // The window's click to filled grid, then its parts measured one by one
    // in the same process: the search on a runner of its own (association,
    // responses, decoding, release and the hand-off to the UI thread), the
    // grid's fill from that outcome, and the first paint after it.
    const dicom::ArchiveAddress archive{"127.0.0.1", port, "ARCHIVE", "MORVANTA", 30};
    const dicom::DataSet identifier =
        search::MakeIdentifier(search::BuildIdentifier(window.panel().criteria()).keys);
    search::SearchRunner runner;
    runner.setResultLimit(search::kSearchResultLimit);
    for (int i = 0; i <= reps; ++i) {
      const qint64 total = search();
      if (total < 0 || window.grid1->rowCount() != 399) return Fail("search failed");
      QSignalSpy finished(&runner, &search::SearchRunner::finished);
      QElapsedTimer clock;
      clock.start();
      if (!runner.start(archive, identifier)) return Fail("runner busy");
      if (finished.isEmpty() && !finished.wait(60000)) return Fail("runner did not finish");
      const qint64 worker = clock.nsecsElapsed();
      const auto outcome = finished.takeFirst().at(0).value<search::SearchOutcome>();
      if (!outcome.ok() || outcome.count != 399) return Fail("runner search failed");
      clock.restart();
      window.grid1->Fill(outcome.results);
      const qint64 fill = clock.nsecsElapsed();
      clock.restart();
      QCoreApplication::processEvents();  // the delayed layout and the paint
      const qint64 paint = clock.nsecsElapsed();
      const auto& p = outcome.phases;
      const qint64 inFind = (p.associate + p.responses + p.decode + p.release).count();
      if (i > 0)
        std::printf("total=%.3f associate=%.3f responses=%.3f decode=%.3f release=%.3f "
                    "handoff=%.3f fill=%.3f paint=%.3f\n",
                    Ms(total), Ms(p.associate.count()), Ms(p.responses.count()), Ms(p.decode.count()),
                    Ms(p.release.count()), Ms(worker - inFind), Ms(fill), Ms(paint));
    }
    return 0;
  }
  if (mode == "search" && search() < 0) return Fail("search failed");
  if (mode == "search" || mode == "memory") {
    for (int i = 0; i < reps; ++i) {
      const qint64 ns = search();
      if (ns < 0 || sink.shown != 0) return Fail("search failed");
      if (window.grid1->rowCount() != 399) return Fail("the grid has not 399 rows");
      if (mode == "search") std::printf("ms=%.3f\n", Ms(ns));
    }
    if (mode == "memory") std::printf("peak_kb=%ld\n", PeakKb());
    return 0;
  }
  if (mode == "send") {
    // The rows a user would have found and selected: N studies in the grid.
    std::vector<dicom::DataSet> sets;
    for (int i = 0; i < rows; ++i) {
      dicom::DataSet ds;
      ds.Attributes().Add(0x0008, 0x0020, "20261207");
      ds.Attributes().Add(0x0010, 0x0010, "BENCH^PATIENT");
      ds.Attributes().Add(0x0010, 0x0020, "PID" + std::to_string(i));
      ds.Attributes().Add(0x0020, 0x000D, "1.2.826.0.1.3680043.8.498.77." + std::to_string(i + 1));
      sets.push_back(std::move(ds));
    }
    const dicom::DataSetList list(std::move(sets));
    for (int i = 0; i < reps; ++i) {
      window.grid1->Fill(list);
      window.grid1->selectAll();
      if (window.grid1->selectedStudyUids().size() != static_cast<std::size_t>(rows))
        return Fail("not every row selected");
      window.cmdSend->setEnabled(true);
      QSignalSpy done(&window, &frmMain::sendFinished);
      QElapsedTimer clock;
      clock.start();
      window.cmdSend->click();
      if (done.isEmpty() && !done.wait(120000)) return Fail("Send did not end");
      const qint64 ns = clock.nsecsElapsed();
      // One message: "Request(s) completed." — anything else is a failure.
      if (sink.shown != i + 1) return Fail("Send reported more than its completion");
      std::printf("ms=%.3f\n", static_cast<double>(ns) / 1e6);
    }
    return 0;
  }
  return Fail("unknown mode");
}
