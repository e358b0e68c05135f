#pragma once
// Send: one storage association to the archive and one forwarding request per
// selected study. SendStudies is the worker's whole job and touches no
// widget; SendRunner starts it off the UI thread and reports progress and the
// outcome back on the UI thread.

#include <QMetaType>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dicom/archive.h"
#include "dicom/dicom.h"
#include "dicom/errors.h"
#include "work/runner.h"

namespace morvanta::forward {

// The class the archive accepts forwarding requests under: the one the
// storage association negotiates.
inline constexpr const char* kRequestSopClassUid = dicom::kComputedRadiographyStorage;
// Passed to Store as the binding's option value; it has no effect there.
inline constexpr std::int16_t kStoreOption = 10;

// The request for one study: private creator "REDIRECT" at (0019,0010) and
// the Study Instance UID at (0019,0030) (PS3.5 7.8.1, private block 0x10).
dicom::DataSet ForwardRequest(const std::string& studyUid);

struct SendOutcome {
  int done = 0;     // requests carried out: forwarding requests stored, or with MOVE studies moved
  int total = 0;    // requests there were to send (UIDs not empty)
  int skipped = 0;  // selected studies without a Study Instance UID ("" given): never sent
  std::string archive;  // "AE at host:port", for the texts
  std::optional<dicom::Failure> error;  // set: stopped at the first failure
  bool ok() const { return !error.has_value(); }
  // Ended by the cancel flag after `done` of `total`: no error, not logged.
  bool cancelled = false;
  // Set when every request was stored but the release failed: still a
  // success; this is for the debug log only.
  std::string releaseNote;
  // With MOVE: the studies' images the destination took, did not take, and
  // took with a warning (the final responses' sub-operation counts).
  bool moved = false;
  std::string destination;
  int imagesSent = 0;
  int imagesFailed = 0;
  int imagesWarning = 0;
};

// Called from the worker before each request: request k (from 1) of n.
using SendProgress = std::function<void(int k, int n)>;

// Opens one association (even with nothing to send), stores one request per
// non-empty study UID in the given order, each under a new SOP Instance UID,
// and releases the association. An empty UID is a study the archive listed
// without one: never sent, counted in `skipped`. On the first failure it
// stops: requests already stored stay stored, the rest are not attempted,
// the association is aborted rather than released, and once the association
// was open the error's text ends with how many were stored before it.
// Never throws.
SendOutcome SendStudies(const dicom::ArchiveAddress& archive,
                        const std::vector<std::string>& studyUids,
                        const SendProgress& progress = {});

// The same, checking `cancel` (set from any thread) before each request: once
// set, the request in flight is given a second to be answered, no further
// one is sent, the association is released (aborted if the archive does not
// answer) and the outcome says cancelled.
SendOutcome SendStudies(const dicom::ArchiveAddress& archive,
                        const std::vector<std::string>& studyUids,
                        const SendProgress& progress,
                        const std::atomic<bool>* cancel);

// Where a C-MOVE is: study k (from 1) of n, and the latest pending response's
// sub-operation counts for it.
struct MoveProgressInfo {
  int study = 0;
  int studies = 0;
  dicom::MoveCounts counts;
};
using MoveProgress = std::function<void(const MoveProgressInfo&)>;

// Forwarding by C-MOVE: one association (Study Root Query/Retrieve - MOVE)
// to the archive, one C-MOVE per non-empty study UID asking it to send the
// study to `destinationAET`. Stops at the first failure (the error's text
// names cause and remedy); a cancel stops the study in flight with C-CANCEL.
// Never throws.
SendOutcome MoveStudies(const dicom::ArchiveAddress& archive,
                        const std::vector<std::string>& studyUids,
                        const std::string& destinationAET,
                        const MoveProgress& progress = {},
                        const std::atomic<bool>* cancel = nullptr);

// "Sending 3 of 25", the status bar text while request k of n is under way.
QString SendingText(int k, int n);
// "Moving study 2 of 3: 14 images sent, 1 failed"
QString MovingText(const MoveProgressInfo& info);
// "1 of 3 selected studies have no Study Instance UID from ARCHIVE at
// 10.0.0.5:104 and cannot be forwarded; they were not sent."
QString NoStudyUidText(const std::string& archive, int withoutUid, int selected);
// "Sending cancelled: 2 of 5 requests were sent." (or studies were moved)
QString SendCancelledText(const SendOutcome& outcome);
// The completion message of a C-MOVE Send: studies and images moved, and
// what failed with the likely cause.
QString MoveDoneText(const SendOutcome& outcome);

// Runs one Send at a time in the thread pool (work::Runner: destroying it
// cancels the Send without waiting). Lives on the UI thread; its signals are
// emitted there.
class SendRunner : public QObject {
  Q_OBJECT
 public:
  explicit SendRunner(QObject* parent = nullptr);

  // False (and nothing started) while a Send is running.
  bool start(const dicom::ArchiveAddress& archive, std::vector<std::string> studyUids);
  // Forwarding by C-MOVE to destinationAET; moveProgress() reports it.
  bool startMove(const dicom::ArchiveAddress& archive, std::vector<std::string> studyUids,
                 std::string destinationAET);
  bool isRunning() const { return runner_.isRunning(); }
  // Ends the running Send after the request in flight, which the archive
  // has a second to answer (a C-MOVE: with C-CANCEL); within about a second
  // whatever the archive does, finished() carries an outcome with cancelled set.
  void cancel() { runner_.cancel(); }

 signals:
  // The progress signals carry the Send's latest state only, at most a few
  // dozen times a second (the archive may answer an image at a time, far
  // faster than the window repaints); the last state before finished() is
  // always reported.
  // Forwarding requests: request k of n is being sent.
  void progress(int k, int n);
  // C-MOVE: the study under way and its latest counts.
  void moveProgress(const morvanta::forward::MoveProgressInfo& info);
  void finished(const morvanta::forward::SendOutcome& outcome);

 private:
  // Forwarding requests report as a C-MOVE without counts: request k of n.
  bool moving_ = false;
  work::Runner<SendOutcome, MoveProgressInfo> runner_;
};

}  // namespace morvanta::forward

Q_DECLARE_METATYPE(morvanta::forward::SendOutcome)
Q_DECLARE_METATYPE(morvanta::forward::MoveProgressInfo)
