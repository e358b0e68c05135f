#pragma once
// The fault matrix's station set-up, shared by its files: Settings.ini lines
// for an archive at a host and port, with the rows' time-out.

#include <QString>
#include <QStringList>
#include <filesystem>

#include "fault_matrix_row.h"

namespace {

inline QStringList Settings(const QString& host, int port, int timeoutS = kTimeoutS) {
  return {"[Local]", "AET=MORVANTA", "[Query]", "AET=ARCHIVE", "IP=" + host,
          QStringLiteral("Port=%1").arg(port), QStringLiteral("Timeout=%1").arg(timeoutS),
          "[GENERAL]", "StudyDate=0"};
}

inline QString Path(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

}  // namespace
