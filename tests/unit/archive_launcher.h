#pragma once
// morvanta-archive in a process of its own for the Qt tests without a window:
// on a port the system picks, with a journal of what it received.

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "../support/archive_banner.h"
#include "dicom/archive.h"

namespace morvanta::test {

class Archive {
 public:
  explicit Archive(QStringList options) {
    journal_ = dir_.filePath("journal.jsonl");
    options << "--port" << "0" << "--aet" << "ARCHIVE" << "--journal" << journal_;
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral(MORVANTA_ARCHIVE_PATH), options);
    QByteArray output;
    QDeadlineTimer deadline(20000);
    // The port the system gave it, named once it takes connections.
    while (port_ == 0 && !deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
      process_.waitForReadyRead(200);
      output += process_.readAll();
      port_ = morvanta::testing::AnnouncedPort(output.toStdString());
    }
    ready_ = port_ != 0;
    if (!ready_) qWarning("archive did not start: %s", output.constData());
  }
  ~Archive() {
    process_.kill();
    process_.waitForFinished(5000);
  }
  bool ready() const { return ready_; }
  dicom::ArchiveAddress address() const {
    return {"127.0.0.1", port_, "ARCHIVE", "MORVANTA", 10};
  }
  QList<QJsonObject> journal(const QString& type) const {
    QFile file(journal_);
    QList<QJsonObject> entries;
    if (!file.open(QIODevice::ReadOnly)) return entries;
    for (const QByteArray& line : file.readAll().split('\n')) {
      const QJsonObject entry = QJsonDocument::fromJson(line).object();
      if (entry.value("type").toString() == type) entries << entry;
    }
    return entries;
  }

 private:
  QTemporaryDir dir_;
  QString journal_;
  QProcess process_;
  int port_ = 0;
  bool ready_ = false;
};

}  // namespace morvanta::test
