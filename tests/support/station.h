#pragma once
// A program folder with its Settings.ini, its log and a controller on them,
// and no window: what the controller shows the user is kept in `sink`.

#include <QFile>
#include <QTemporaryDir>

#include <vector>

#include "config/store.h"
#include "log/log.h"
#include "operations/controller.h"
#include "recording_sink.h"

namespace morvanta::test {

// MORVANTA asking ARCHIVE on loopback at `port`, then `more`.
inline QByteArray SettingsFor(int port, const char* more = "") {
  return QByteArray("[Local]\r\nAET=MORVANTA\r\n[Query]\r\nAET=ARCHIVE\r\nIP=127.0.0.1\r\nPort=") +
         QByteArray::number(port) + "\r\nTimeout=10\r\n" + more;
}

inline QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Station {
  // A null `settings`: no Settings.ini.
  explicit Station(const QByteArray& settings) {
    if (!settings.isNull()) {
      QFile file(dir.filePath("Settings.ini"));
      if (file.open(QIODevice::WriteOnly)) file.write(settings);
    }
  }
  QByteArray ErrorLog() const { return ReadFile(dir.filePath("Logs/Error.log")); }
  QTemporaryDir dir;
  SettingsStore store{SettingsPath(dir.path().toStdString())};
  Log log{dir.path().toStdString()};
  RecordingSink sink;
  operations::Controller controller{store, log, sink};
};

}  // namespace morvanta::test
