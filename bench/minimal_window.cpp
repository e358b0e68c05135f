// The reference for start-up and memory: the least a Qt Widgets program with
// a main window does. It ends once the window has been painted and prints
// its peak resident memory (kB) as "peak_kb=N".

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

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

long PeakKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Minimal"));
  window.setCentralWidget(new QLabel(QStringLiteral("Hello")));
  window.resize(866, 667);
  QuitWhenPainted quit;
  window.installEventFilter(&quit);
  window.show();
  const int code = QApplication::exec();
  std::printf("peak_kb=%ld\n", PeakKb());
  return code;
}
