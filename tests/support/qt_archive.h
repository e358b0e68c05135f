#pragma once
// morvanta-archive in a process of its own for the Qt tests: on a port the
// system picks, with a journal of what it received.

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "archive_banner.h"
#include "dicom/archive.h"

namespace morvanta::test {

class Archive {
 public:
  explicit Archive(QStringList options) {
    journal_ = dir_.filePath(QStringLiteral("journal.jsonl"));
    options << "--port" << "0" << "--aet" << "ARCHIVE" << "--journal" << journal_;
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral(MORVANTA_ARCHIVE_PATH), options);
    QDeadlineTimer deadline(20000);
    // The port the system gave it, named once it takes connections.
    while (port_ == 0 && !deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
      process_.waitForReadyRead(100);
      output_ += process_.readAll();
      port_ = testing::AnnouncedPort(output_.toStdString());
    }
    ready_ = port_ != 0;
    if (!ready_) qWarning("archive did not start: %s", output_.constData());
  }
  ~Archive() {
    process_.kill();
    process_.waitForFinished(5000);
  }
  bool ready() const { return ready_; }
  int port() const { return port_; }
  // The archive as the binding addresses it, with a 10 s time-out.
  dicom::ArchiveAddress address() const { return {"127.0.0.1", port_, "ARCHIVE", "MORVANTA", 10}; }
  QString dir() const { return dir_.path(); }

  // Journal entries of one type ("find", "store") in the order received.
  QList<QJsonObject> journal(const QString& type) const {
    QList<QJsonObject> entries;
    QFile file(journal_);
    if (!file.open(QIODevice::ReadOnly)) return entries;
    for (const QByteArray& line : file.readAll().split('\n')) {
      const QJsonObject entry = QJsonDocument::fromJson(line).object();
      if (entry.value(QStringLiteral("type")).toString() == type) entries << entry;
    }
    return entries;
  }
  QList<QJsonObject> finds() const { return journal(QStringLiteral("find")); }
  QList<QJsonObject> stores() const { return journal(QStringLiteral("store")); }

 private:
  QTemporaryDir dir_;
  QString journal_;
  QProcess process_;
  QByteArray output_;
  int port_ = 0;
  bool ready_ = false;
};

}  // namespace morvanta::test
