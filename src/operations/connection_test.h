#pragma once
// The settings dialog's connection test: one C-ECHO with the values in its
// fields, off the UI thread. The runner belongs to the dialog that shows its
// answer: closing the dialog ends the test, and the worker, which holds only
// copies, may finish after the dialog is gone.

#include <QObject>
#include <atomic>
#include <cstdint>
#include <string>

#include "dicom/archive.h"
#include "work/runner.h"

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

// The test's runner (work::Runner: destroying it cancels the test without
// waiting). Lives on the UI thread; finished() is emitted there.
class ConnectionTest : public QObject {
  Q_OBJECT
 public:
  explicit ConnectionTest(QObject* parent = nullptr);

  // False (and nothing started) while a test runs.
  bool start(const dicom::ArchiveAddress& archive);
  void cancel() { runner_.cancel(); }
  bool isRunning() const { return runner_.isRunning(); }

 signals:
  void finished(const morvanta::operations::EchoOutcome& outcome);

 private:
  work::Runner<EchoOutcome> runner_;
};

}  // namespace morvanta::operations
