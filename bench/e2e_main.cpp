// End-to-end figures of the wired main window, in process on the offscreen
// platform, against an archive bench/run has started:
//   morvanta_bench_e2e search PORT REPS   click to filled grid, one line "ms=" each
//   morvanta_bench_e2e send PORT REPS N   N selected rows, Send to sendFinished
//   morvanta_bench_e2e memory PORT        one search, then "peak_kb=" (VmHWM)
// The window is the program's own frmMain over a temporary program directory.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
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
#include "search/result_grid.h"

using namespace morvanta;

namespace {

class NoBoxes : public ui::MessageSink {
 public:
  void Show(const ui::Message& message) override {
    std::fprintf(stderr, "message: %s\n", qPrintable(message.text));
    ++shown;
  }
  int shown = 0;
};

long PeakKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

LocalDateTime Now() { return {2026, 12, 7, 15, 21, 53}; }

int Fail(const char* what) {
  std::fprintf(stderr, "morvanta_bench_e2e: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("TCP_NODELAY", "1");
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 3) return Fail("usage: search|send|memory PORT [REPS] [N]");
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
  QTest::keyClicks(window.txtPatID, QStringLiteral("*"));

  auto search = [&]() -> qint64 {
    QSignalSpy done(&window, &frmMain::searchFinished);
    QElapsedTimer clock;
    clock.start();
    window.cmdSearch->click();
    if (done.isEmpty() && !done.wait(60000)) return -1;
    return clock.nsecsElapsed();
  };

  if (mode == "search" || mode == "memory") {
    for (int i = 0; i < reps; ++i) {
      const qint64 ns = search();
      if (ns < 0 || sink.shown != 0) return Fail("search failed");
      if (window.grid1->rowCount() != 399) return Fail("the grid has not 399 rows");
      if (mode == "search") std::printf("ms=%.3f\n", static_cast<double>(ns) / 1e6);
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
