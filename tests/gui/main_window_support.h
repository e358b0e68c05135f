#pragma once
// What the main window's GUI tests share: a temporary program directory, a
// fixed clock and a message sink that records instead of blocking.

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/frmMain.h"
#include "log/clock.h"
#include "ui/ui.h"
#include "../support/recording_sink.h"

namespace morvanta::test {

inline LocalDateTime FixedNow() { return {2026, 12, 7, 15, 21, 53}; }

class ProgramDir {
 public:
  // A user's own log folder, where lines go when Logs/ takes none, is kept
  // in here too, never in the real home. Set before a window makes its log.
  ProgramDir() {
    QVERIFY(dir_.isValid());
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("user-state"))));
  }
  std::filesystem::path path() const {
    return QFile::encodeName(dir_.path()).toStdString();
  }
  std::filesystem::path userLogs() const { return path() / "user-state" / "morvanta" / "Logs"; }
  QString settingsFile() const { return dir_.filePath(QStringLiteral("Settings.ini")); }
  // Writes Settings.ini as a station's file is: CR LF line ends.
  void WriteSettings(const QStringList& lines) const {
    QFile file(settingsFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    for (const QString& line : lines) file.write((line + QStringLiteral("\r\n")).toLatin1());
  }
  QByteArray ReadSettings() const {
    QFile file(settingsFile());
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
  }
  bool HasSettings() const { return QFile::exists(settingsFile()); }

 private:
  QTemporaryDir dir_;
};

// A main window over `dir`, shown and active, with its messages recorded.
struct Window {
  explicit Window(const ProgramDir& dir)
      : frm(std::make_unique<frmMain>(dir.path(), FixedNow, &sink)) {}
  void ShowActive() {
    frm->show();
    QApplication::setActiveWindow(frm.get());
    QVERIFY(QTest::qWaitForWindowActive(frm.get()));
  }
  RecordingSink sink;  // outlives the window
  std::unique_ptr<frmMain> frm;
};

// Pixels of a length given in twips at 96 DPI.
constexpr int Px(int twips) { return (twips + 7) / 15; }

}  // namespace morvanta::test
