#include "operations/connection_test.h"

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

ConnectionTest::ConnectionTest(QObject* parent)
    : QObject(parent), runner_([this](const EchoOutcome& outcome) { emit finished(outcome); }) {}

bool ConnectionTest::start(const dicom::ArchiveAddress& archive) {
  return runner_.start(
      [archive](const work::CancelToken& cancel, const auto&) { return TestConnection(archive, cancel.flag()); });
}

}  // namespace morvanta::operations
