#pragma once
// The settings dialog's connection test: one C-ECHO with the values in its
// fields, off the UI thread. The runner belongs to the dialog that shows its
// answer: closing the dialog ends the test, and the worker, which holds only
// copies, may finish after the dialog is gone.

#include <QFutureWatcher>
#include <QObject>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "dicom/archive.h"

namespace morvanta::operations {

struct EchoOutcome {
  bool ok = false;
  bool cancelled = false;   // stopped by the user or by closing the dialog: nothing to show
  std::int32_t number = 0;  // the binding's error number when not ok
  std::string text;         // "Connection to ... works (12 ms)." or the error's description
};

// One C-ECHO to the archive; never throws. `cancel`, set from another
// thread, ends it at once. Over TLS when archive.tls.enabled; a success then
// says "over TLS".
EchoOutcome TestConnection(const dicom::ArchiveAddress& archive, const std::atomic<bool>* cancel = nullptr);

class ConnectionTest : public QObject {
  Q_OBJECT
 public:
  explicit ConnectionTest(QObject* parent = nullptr);
  // Ends a test still running without waiting for it.
  ~ConnectionTest() override;

  // False (and nothing started) while a test runs.
  bool start(const dicom::ArchiveAddress& archive);
  void cancel();
  bool isRunning() const { return watcher_.isRunning(); }

 signals:
  void finished(const morvanta::operations::EchoOutcome& outcome);

 private:
  QFutureWatcher<EchoOutcome> watcher_;
  std::shared_ptr<std::atomic<bool>> cancel_;
};

}  // namespace morvanta::operations
