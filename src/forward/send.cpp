#include "forward/send.h"

#include <QPromise>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <memory>

namespace morvanta::forward {

dicom::DataSet ForwardRequest(const std::string& studyUid) {
  dicom::DataSet request;
  request.Attributes().Add(0x0019, 0x0010, "REDIRECT");
  request.Attributes().Add(0x0019, 0x0030, studyUid);
  return request;
}

SendOutcome SendStudies(const ArchiveAddress& archive,
                        const std::vector<std::string>& studyUids,
                        const SendProgress& progress) {
  SendOutcome outcome;
  std::vector<const std::string*> toSend;
  toSend.reserve(studyUids.size());
  for (const std::string& uid : studyUids) {
    // A row without a study UID (the "No Data" row) names no study; asking
    // the archive to forward it could only fail or, worse, match something.
    if (uid.empty()) {
      ++outcome.skipped;
    } else {
      toSend.push_back(&uid);
    }
  }
  outcome.total = static_cast<int>(toSend.size());

  try {
    auto client = std::make_unique<dicom::StoreClient>();
    client->SetTimeout(archive.timeoutSeconds);
    client->Open(archive.host, archive.port, archive.callingAET, archive.calledAET);
    dicom::UidGenerator uids;
    for (const std::string* studyUid : toSend) {
      if (progress) progress(outcome.stored + 1, outcome.total);
      const dicom::DataSet request = ForwardRequest(*studyUid);
      client->Store(request, kStoreOption, uids.NewUID(), kRequestSopClassUid);
      ++outcome.stored;
    }
    client->Close();
  } catch (...) {
    // The client went out of scope without Close: the binding aborts the
    // association, so the archive does not take a half-finished Send for a
    // completed one.
    outcome.error = search::CurrentToolkitError();
  }
  return outcome;
}

QString SendingText(int k, int n) {
  return QStringLiteral("Sending %1 of %2").arg(k).arg(n);
}

SendRunner::SendRunner(QObject* parent) : QObject(parent) {
  connect(&watcher_, &QFutureWatcher<SendOutcome>::progressValueChanged, this,
          [this](int k) {
            if (running_ && k > 0) emit progress(k, total_);
          });
  connect(&watcher_, &QFutureWatcher<SendOutcome>::finished, this, [this] {
    SendOutcome outcome = watcher_.result();
    running_ = false;
    emit finished(outcome);
  });
}

SendRunner::~SendRunner() {
  watcher_.disconnect(this);
  watcher_.waitForFinished();
}

bool SendRunner::start(const ArchiveAddress& archive,
                       std::vector<std::string> studyUids) {
  if (running_) return false;
  running_ = true;
  total_ = static_cast<int>(std::count_if(studyUids.begin(), studyUids.end(),
                                          [](const std::string& u) { return !u.empty(); }));
  watcher_.setFuture(QtConcurrent::run(
      [](QPromise<SendOutcome>& promise, ArchiveAddress address,
         std::vector<std::string> uids, int total) {
        promise.setProgressRange(0, std::max(total, 1));
        SendOutcome outcome = SendStudies(address, uids, [&promise](int k, int) {
          promise.setProgressValue(k);
        });
        promise.addResult(std::move(outcome));
      },
      archive, std::move(studyUids), total_));
  return true;
}

}  // namespace morvanta::forward
