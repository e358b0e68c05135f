#pragma once
// Send: one storage association to the archive and one forwarding request per
// selected study. SendStudies is the worker's whole job and touches no
// widget; SendRunner starts it off the UI thread and reports progress and the
// outcome back on the UI thread.

#include <QFutureWatcher>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dicom/dicom.h"
#include "search/archive.h"

namespace morvanta::forward {

using search::ArchiveAddress;
using search::ToolkitError;

// Computed Radiography Image Storage (PS3.4 B.5): the class the archive
// accepts forwarding requests under.
inline constexpr const char* kRequestSopClassUid = "1.2.840.10008.5.1.4.1.1.1";
// Passed to Store as the binding's option value; it has no effect there.
inline constexpr std::int16_t kStoreOption = 10;

// The request for one study: private creator "REDIRECT" at (0019,0010) and
// the Study Instance UID at (0019,0030) (PS3.5 7.8.1, private block 0x10).
dicom::DataSet ForwardRequest(const std::string& studyUid);

struct SendOutcome {
  int stored = 0;   // requests the archive accepted
  int total = 0;    // requests there were to send (UIDs not empty)
  int skipped = 0;  // rows without a study UID, never sent
  std::optional<ToolkitError> error;  // set: stopped at the first failure
  bool ok() const { return !error.has_value(); }
};

// Called from the worker before each request: request k (from 1) of n.
using SendProgress = std::function<void(int k, int n)>;

// Opens one association (even with nothing to send), stores one request per
// non-empty study UID in the given order, each under a new SOP Instance UID,
// and releases the association. On the first failure it stops: requests
// already stored stay stored, the rest are not attempted, and the association
// is aborted rather than released. Never throws.
SendOutcome SendStudies(const ArchiveAddress& archive,
                        const std::vector<std::string>& studyUids,
                        const SendProgress& progress = {});

// "Sending 3 of 25", the status bar text while request k of n is under way.
QString SendingText(int k, int n);

// Runs one Send at a time in the thread pool. Lives on the UI thread; its
// signals are emitted there.
class SendRunner : public QObject {
  Q_OBJECT
 public:
  explicit SendRunner(QObject* parent = nullptr);
  ~SendRunner() override;

  // False (and nothing started) while a Send is running.
  bool start(const ArchiveAddress& archive, std::vector<std::string> studyUids);
  bool isRunning() const { return running_; }

 signals:
  // Request k of n is being sent. Progress is reported at most a few dozen
  // times a second; the last request is always reported.
  void progress(int k, int n);
  void finished(const morvanta::forward::SendOutcome& outcome);

 private:
  QFutureWatcher<SendOutcome> watcher_;
  int total_ = 0;
  bool running_ = false;
};

}  // namespace morvanta::forward

Q_DECLARE_METATYPE(morvanta::forward::SendOutcome)
