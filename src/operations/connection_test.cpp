#include "operations/connection_test.h"

#include <QtConcurrent/QtConcurrentRun>

#include "dicom/dicom.h"
#include "dicom/errors.h"

namespace morvanta::operations {

EchoOutcome TestConnection(const dicom::ArchiveAddress& archive, const std::atomic<bool>* cancel) {
  EchoOutcome outcome;
  try {
    const auto ms = dicom::Echo(archive, cancel);
    outcome.ok = true;
    outcome.text = dicom::EchoWorksText(archive.peer(), ms.count(),
                                        archive.tls.enabled, dicom::TlsIdentity(archive.tls, archive.host));
  } catch (...) {
    const dicom::Failure failure = dicom::CurrentFailure();
    outcome.cancelled = dicom::IsCancel(failure);
    outcome.number = failure.number;
    outcome.text = failure.description;
  }
  return outcome;
}

ConnectionTest::ConnectionTest(QObject* parent) : QObject(parent) {
  connect(&watcher_, &QFutureWatcher<EchoOutcome>::finished, this, [this] { emit finished(watcher_.result()); });
}

ConnectionTest::~ConnectionTest() { cancel(); }

bool ConnectionTest::start(const dicom::ArchiveAddress& archive) {
  if (watcher_.isRunning()) return false;
  // The worker keeps the flag alive: the runner may go while it runs.
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  watcher_.setFuture(QtConcurrent::run(
      [archive, flag = cancel_] { return TestConnection(archive, flag.get()); }));
  return true;
}

void ConnectionTest::cancel() {
  if (cancel_) cancel_->store(true);
}

}  // namespace morvanta::operations
