#pragma once
// What the wired main window's GUI tests share: morvanta-archive on a
// loopback port of the system's choosing with its journal, a counting TCP relay in front of it (to see
// how many associations a click opened), a station whose Settings.ini points
// at it, and waits with deadlines.

#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "../support/qt_archive.h"
#include "search_widgets/search_panel.h"
#include "app/frmMain.h"
#include "main_window_support.h"
#include "search_widgets/result_grid.h"

namespace morvanta::test {

// 30 s: generous for a loaded two-core machine, short of the ctest time-out.
inline constexpr int kWaitMs = 30000;

inline int FreeLoopbackPort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return probe.serverPort();
}

// Passes bytes between the program and the archive and counts the
// connections made and closed: one DICOM association is one connection.
class Relay : public QObject {
 public:
  explicit Relay(int target) : target_(static_cast<quint16>(target)) {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* in = server_.nextPendingConnection()) {
        ++opened;
        auto* out = new QTcpSocket(in);
        connect(in, &QTcpSocket::readyRead, out, [in, out] {
          if (out->state() == QAbstractSocket::ConnectedState) out->write(in->readAll());
        });
        connect(out, &QTcpSocket::connected, in, [in, out] { out->write(in->readAll()); });
        connect(out, &QTcpSocket::readyRead, in, [in, out] { in->write(out->readAll()); });
        connect(out, &QTcpSocket::disconnected, in, [in] { in->disconnectFromHost(); });
        connect(in, &QTcpSocket::disconnected, this, [this, in, out] {
          ++closed;
          out->disconnectFromHost();
          in->deleteLater();
        });
        out->connectToHost(QHostAddress::LocalHost, target_);
      }
    });
  }
  int port() const { return server_.serverPort(); }
  int opened = 0;
  int closed = 0;

 private:
  QTcpServer server_;
  quint16 target_;
};

// The settings a station needs to reach the archive on `port`.
inline QStringList StationSettings(int port, bool extStudyDate = false) {
  return {"[Local]",
          "AET=MORVANTA",
          "[Query]",
          "AET=ARCHIVE",
          "IP=127.0.0.1",
          QStringLiteral("Port=%1").arg(port),
          "Timeout=10",
          "[GENERAL]",
          QStringLiteral("StudyDate=%1").arg(extStudyDate ? 1 : 0)};
}

// A main window with its own clock over a program directory.
struct Station {
  explicit Station(Clock clock = FixedNow) {
    frm = std::make_unique<frmMain>(dir.path(), std::move(clock), &sink);
  }
  void ShowActive() {
    frm->show();
    QApplication::setActiveWindow(frm.get());
    QVERIFY(QTest::qWaitForWindowActive(frm.get()));
  }
  // Clicks `button` and waits until the search it started has been applied.
  // False when nothing was started, or when it did not end in time.
  bool SearchBy(QAbstractButton* button) {
    QSignalSpy done(frm.get(), &frmMain::searchFinished);
    QTest::mouseClick(button, Qt::LeftButton);
    if (!done.isEmpty()) return true;
    if (!frm->busy()) return false;
    return done.wait(kWaitMs);
  }
  bool Search() { return SearchBy(frm->panel().cmdSearch); }
  // Clicks Send and waits for the outcome; false when nothing started.
  bool Send() {
    QSignalSpy done(frm.get(), &frmMain::sendFinished);
    QTest::mouseClick(frm->cmdSend, Qt::LeftButton);
    if (!frm->busy()) return false;
    return done.wait(kWaitMs);
  }
  // Lines of Logs/<name> that mention `text`.
  int LogLines(const char* name, const QString& text) const {
    QFile file(QString::fromStdString((dir.path() / "Logs" / name).string()));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    int n = 0;
    for (const QByteArray& line : file.readAll().split('\n'))
      if (QString::fromLatin1(line).contains(text)) ++n;
    return n;
  }
  // Clicks grid row `row` (from 1) with the given modifiers, as a user does.
  void ClickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    search::ResultGrid* grid = frm->grid1;
    grid->scrollTo(grid->model()->index(row - 1, search::ViewColumn(search::kColPatientId)));
    const QRect cell = grid->visualRect(grid->model()->index(row - 1, search::ViewColumn(search::kColPatientId)));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers, cell.center());
  }

  ProgramDir dir;
  RecordingSink sink;  // outlives the window
  std::unique_ptr<frmMain> frm;
};

// Rejects every modal dialog still open at the deadline, so a test that
// expected none ends instead of hanging.
inline void RejectStrayDialogs(int afterMs = 10000) {
  QTimer::singleShot(afterMs, qApp, [] {
    while (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget())) open->reject();
  });
}

}  // namespace morvanta::test
