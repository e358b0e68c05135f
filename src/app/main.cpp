// Start-up: the environment DCMTK reads, the application, the main window.

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/frmMain.h"
#include "audit/program.h"

namespace morvanta {

namespace {

// Start-up measurements (bench/run): with MORVANTA_EXIT_WHEN_SHOWN set, the
// program ends as soon as the main window has been painted once.
class QuitWhenPainted : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      watched->removeEventFilter(this);
      QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
    return false;
  }
};

}  // namespace

int Main(int argc, char* argv[]) {
  // Answered before QApplication exists, so that it works without a display
  // (an administrator checking which version a package installed).
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("morvanta %s\n", MORVANTA_VERSION);
      return 0;
    }
  }

  // DCMTK leaves Nagle's algorithm on unless this is set before the first
  // association; with it on, each forwarding request waits for a delayed ACK.
  qputenv("TCP_NODELAY", "1");

  QApplication app(argc, argv);
  QApplication::setApplicationName(ui::kAppTitle);
  QApplication::setApplicationVersion(QStringLiteral(MORVANTA_VERSION));

  // Settings.ini and Logs/ live beside the executable.
#ifdef _WIN32
  // Wide, as Windows names files: no code page between the folder and us.
  // Qt gives "/"; the files in it are named in messages with Windows' "\".
  const std::filesystem::path programDir =
      std::filesystem::path(QCoreApplication::applicationDirPath().toStdWString()).make_preferred();
#else
  const std::filesystem::path programDir =
      QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
#endif
  // Who used the program, and what for: from start to stop, outliving the
  // window so that its last operation is recorded.
  const audit::ProgramTrail auditTrail(programDir);
  frmMain window(programDir);
  // The Settings menu command opens the password prompt and the dialogs.
  ConnectSettingsMenu(window);
  QuitWhenPainted quitWhenPainted;
  if (qEnvironmentVariableIsSet("MORVANTA_EXIT_WHEN_SHOWN")) window.installEventFilter(&quitWhenPainted);
  window.show();
  return QApplication::exec();
}

}  // namespace morvanta

int main(int argc, char* argv[]) { return morvanta::Main(argc, argv); }
