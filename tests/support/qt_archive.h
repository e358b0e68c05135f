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
#ifdef _WIN32
#include "../integration/dicom_peer.h"
#endif

namespace morvanta::test {

class Archive {
 public:
  explicit Archive(QStringList options) {
    journal_ = dir_.filePath(QStringLiteral("journal.jsonl"));
    options << "--port" << "0" << "--aet" << "ARCHIVE" << "--journal" << journal_;
#ifdef _WIN32
    // Under wine the archive is the Linux program, which QProcess cannot
    // watch or end (tests/support/wine_child.h).
    std::vector<std::string> args{MORVANTA_ARCHIVE_PATH};
    for (const QString& option : options) args.push_back(option.toStdString());
    const std::string output = dir_.dir / "archive.out";
    process_ = std::make_unique<testing::Process>(args, output);
    port_ = testing::WaitForAnnouncedPort(output, *process_);
    output_ = QByteArray::fromStdString(testing::ReadAll(output));
#else
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral(MORVANTA_ARCHIVE_PATH), options);
    QDeadlineTimer deadline(20000);
    // The port the system gave it, named once it takes connections.
    while (port_ == 0 && !deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
      process_.waitForReadyRead(100);
      output_ += process_.readAll();
      port_ = testing::AnnouncedPort(output_.toStdString());
    }
#endif
    ready_ = port_ != 0;
    if (!ready_) qWarning("archive did not start: %s", output_.constData());
  }
#ifndef _WIN32
  ~Archive() {
    process_.kill();
    process_.waitForFinished(5000);
  }
#endif
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
#ifdef _WIN32
  // A folder the Linux archive can be given, with the members it is used by.
  struct LinuxDir {
    testing::TempDir dir;
    QString path() const { return QString::fromStdString(dir.path().string()); }
    QString filePath(const QString& name) const { return path() + '/' + name; }
  } dir_;
  std::unique_ptr<testing::Process> process_;
#else
  QTemporaryDir dir_;
  QProcess process_;
#endif
  QString journal_;
  QByteArray output_;
  int port_ = 0;
  bool ready_ = false;
};

}  // namespace morvanta::test
