#include "forward/send.h"

#include <memory>

namespace morvanta::forward {

dicom::DataSet ForwardRequest(const std::string& studyUid) {
  dicom::DataSet request;
  request.Attributes().Add(0x0019, 0x0010, "REDIRECT");
  request.Attributes().Add(0x0019, 0x0030, studyUid);
  return request;
}

namespace {

// A study the archive listed without a Study Instance UID cannot be named
// in a request; asking the archive to forward it could only fail or, worse,
// match something. Such studies are counted, so the user is told.
std::vector<const std::string*> StudiesToSend(const std::vector<std::string>& studyUids,
                                              SendOutcome& outcome) {
  std::vector<const std::string*> toSend;
  toSend.reserve(studyUids.size());
  for (const std::string& uid : studyUids) {
    if (uid.empty()) {
      ++outcome.skipped;
    } else {
      toSend.push_back(&uid);
    }
  }
  outcome.total = static_cast<int>(toSend.size());
  return toSend;
}

bool Cancelled(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(); }

// Appended to the error of a Send that broke off once its association was
// open: what is already at the archive stays there, and the user must know
// how much of the selection that is before sending the rest again.
void SayHowFarItGot(const SendOutcome& outcome, dicom::Failure& error) {
  const char* before = "the error";
  switch (static_cast<dicom::ErrorCode>(error.number)) {
    case dicom::ErrorCode::StoreFailed:
    case dicom::ErrorCode::MoveFailed: before = "the refusal"; break;
    case dicom::ErrorCode::Timeout: before = "the archive stopped answering"; break;
    case dicom::ErrorCode::PeerAborted: before = "the connection was aborted"; break;
    default: break;
  }
  if (!error.description.empty() && error.description.back() != '.') error.description += '.';
  const std::string what = outcome.moved ? " studies were moved to " + outcome.destination : " requests were stored";
  error.description += " " + std::to_string(outcome.done) + " of " + std::to_string(outcome.total) + what +
                       " before " + before + ".";
}

// Once every request is stored (or every study moved), the Send did its
// work whatever the release meets: an archive that never answers it, or a
// cancel then. A release that fails earlier is the failure it is.
template <class Client>
void CloseAfterTheWork(Client& client, SendOutcome& outcome) {
  try {
    client.Close();
  } catch (...) {
    if (outcome.cancelled || outcome.done < outcome.total) throw;
    outcome.releaseNote = "Send: all " + std::to_string(outcome.total) +
                          (outcome.moved ? " studies were moved" : " requests were stored") +
                          "; the release of the association failed: " + dicom::CurrentFailure().description;
  }
}

}  // namespace

SendOutcome SendStudies(const dicom::ArchiveAddress& archive,
                        const std::vector<std::string>& studyUids,
                        const SendProgress& progress) {
  return SendStudies(archive, studyUids, progress, nullptr);
}

SendOutcome SendStudies(const dicom::ArchiveAddress& archive,
                        const std::vector<std::string>& studyUids,
                        const SendProgress& progress,
                        const std::atomic<bool>* cancel) {
  SendOutcome outcome;
  outcome.archive = dicom::Describe({archive.calledAET, archive.host, archive.port});
  const std::vector<const std::string*> toSend = StudiesToSend(studyUids, outcome);
  bool open = false;

  try {
    auto client = std::make_unique<dicom::StoreClient>();
    client->SetCancelFlag(cancel);
    client->Open(archive);
    open = true;
    dicom::UidGenerator uids;
    for (const std::string* studyUid : toSend) {
      // Between requests the cancel needs nothing from the archive; during
      // one, the binding gives it a second to answer, then ends it: only
      // requests the archive answered are counted as sent.
      if (Cancelled(cancel)) {
        outcome.cancelled = true;
        break;
      }
      if (progress) progress(outcome.done + 1, outcome.total);
      const dicom::DataSet request = ForwardRequest(*studyUid);
      client->Store(request, kStoreOption, uids.NewUID(), kRequestSopClassUid);
      ++outcome.done;
    }
    CloseAfterTheWork(*client, outcome);
  } catch (...) {
    // The client went out of scope without Close: the binding aborts the
    // association, so the archive does not take a half-finished Send for a
    // completed one.
    dicom::Failure error = dicom::CurrentFailure();
    if (outcome.cancelled || dicom::IsCancel(error)) {
      // The user's choice, not a failure.
      outcome.cancelled = true;
    } else {
      if (open) SayHowFarItGot(outcome, error);
      // An archive that refuses the very first request most likely does not
      // take forwarding requests at all (a standard archive keeps nothing
      // without patient, study and series): say what does work with it.
      if (error.number == static_cast<std::int32_t>(dicom::ErrorCode::StoreFailed) && outcome.done == 0)
        error.description +=
            " If the archive does not take forwarding requests, set [Forward] Method=MOVE to forward by C-MOVE.";
      outcome.error = std::move(error);
    }
  }
  return outcome;
}

SendOutcome MoveStudies(const dicom::ArchiveAddress& archive,
                        const std::vector<std::string>& studyUids,
                        const std::string& destinationAET, const MoveProgress& progress,
                        const std::atomic<bool>* cancel) {
  SendOutcome outcome;
  outcome.moved = true;
  outcome.destination = destinationAET;
  outcome.archive = dicom::Describe({archive.calledAET, archive.host, archive.port});
  const std::vector<const std::string*> toSend = StudiesToSend(studyUids, outcome);
  bool open = false;
  try {
    auto client = std::make_unique<dicom::MoveClient>();
    client->SetCancelFlag(cancel);
    client->Open(archive);
    open = true;
    for (const std::string* studyUid : toSend) {
      if (Cancelled(cancel)) {
        outcome.cancelled = true;
        break;
      }
      MoveProgressInfo info{outcome.done + 1, outcome.total, {}};
      if (progress) progress(info);
      const dicom::MoveCounts counts =
          client->Move(*studyUid, destinationAET, [&](const dicom::MoveCounts& pending) {
            info.counts = pending;
            if (progress) progress(info);
          });
      ++outcome.done;
      outcome.imagesSent += counts.completed;
      outcome.imagesFailed += counts.failed;
      outcome.imagesWarning += counts.warning;
    }
    CloseAfterTheWork(*client, outcome);
  } catch (...) {
    dicom::Failure error = dicom::CurrentFailure();
    // A cancel during a study's move is the user's choice, not a failure.
    if (dicom::IsCancel(error)) {
      outcome.cancelled = true;
    } else {
      if (open) SayHowFarItGot(outcome, error);
      outcome.error = std::move(error);
    }
  }
  return outcome;
}

QString SendingText(int k, int n) {
  return QStringLiteral("Sending %1 of %2").arg(k).arg(n);
}

QString MovingText(const MoveProgressInfo& info) {
  return QStringLiteral("Moving study %1 of %2: %3 images sent, %4 failed")
      .arg(info.study)
      .arg(info.studies)
      .arg(info.counts.completed)
      .arg(info.counts.failed);
}

QString NoStudyUidText(const std::string& archive, int withoutUid, int selected) {
  return QStringLiteral("%1 of %2 selected studies have no Study Instance UID from %3 and cannot be forwarded; "
                        "they were not sent.")
      .arg(withoutUid)
      .arg(selected)
      .arg(QString::fromStdString(archive));
}

QString SendCancelledText(const SendOutcome& outcome) {
  if (outcome.moved) {
    return QStringLiteral("Sending cancelled: %1 of %2 studies were moved to %3 (%4 images). "
                          "Send the rest again when you are ready.")
        .arg(outcome.done)
        .arg(outcome.total)
        .arg(QString::fromStdString(outcome.destination))
        .arg(outcome.imagesSent);
  }
  return QStringLiteral("Sending cancelled: %1 of %2 requests were sent.")
      .arg(outcome.done)
      .arg(outcome.total);
}

QString MoveDoneText(const SendOutcome& outcome) {
  const QString destination = QString::fromStdString(outcome.destination);
  QString text = QStringLiteral("%1 of %2 studies were moved to %3: %4 images sent, %5 failed.")
                     .arg(outcome.done)
                     .arg(outcome.total)
                     .arg(destination)
                     .arg(outcome.imagesSent)
                     .arg(outcome.imagesFailed);
  if (outcome.imagesFailed > 0) {
    text += QStringLiteral(
                "\r\n%1 did not take every image: check that it is running and has room, "
                "then send the studies again.")
                .arg(destination);
  }
  return text;
}

SendRunner::SendRunner(QObject* parent)
    : QObject(parent),
      runner_([this](const SendOutcome& outcome) { emit finished(outcome); },
              [this](const MoveProgressInfo& info) {
                if (moving_) {
                  emit moveProgress(info);
                } else {
                  emit progress(info.study, info.studies);
                }
              }) {
  qRegisterMetaType<MoveProgressInfo>();
}

bool SendRunner::start(const dicom::ArchiveAddress& archive,
                       std::vector<std::string> studyUids) {
  if (runner_.isRunning()) return false;
  moving_ = false;
  return runner_.start([archive, uids = std::move(studyUids)](const work::CancelToken& cancel,
                                                               const auto& report) {
    return SendStudies(
        archive, uids, [&report](int k, int n) { report(MoveProgressInfo{k, n, {}}); }, cancel.flag());
  });
}

bool SendRunner::startMove(const dicom::ArchiveAddress& archive, std::vector<std::string> studyUids,
                           std::string destinationAET) {
  if (runner_.isRunning()) return false;
  moving_ = true;
  return runner_.start([archive, uids = std::move(studyUids), destination = std::move(destinationAET)](
                           const work::CancelToken& cancel, const auto& report) {
    return MoveStudies(archive, uids, destination, report, cancel.flag());
  });
}

}  // namespace morvanta::forward
