// Echo: the connection test, one C-ECHO over an association of its own.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

#include "dicom/association.h"
#include "dicom/codec.h"
#include "dicom/dicom.h"
#include "dicom/errors.h"
#include "dicom/exchange.h"

namespace morvanta::dicom {

using namespace detail;

// ---------------------------------------------------------------- Echo

std::chrono::milliseconds Echo(const std::string& host, std::int32_t port, const std::string& callingAET,
                               const std::string& calledAET, int timeoutSeconds, const std::atomic<bool>* cancel,
                               const TlsSettings& tls) {
  const auto start = SteadyClock::now();
  CancelSource source;
  source.flag = cancel;
  Association association(Peer{calledAET, host, port},
                          timeoutSeconds > 0 ? timeoutSeconds : kDefaultTimeoutSeconds,
                          cancel != nullptr ? &source : nullptr);
  association.UseTls(tls);
  association.Open(callingAET, {{UID_VerificationSOPClass, kLittleEndian}}, "the connection test (C-ECHO)");
  DIC_US status = 0;
  DcmDataset* rawDetail = nullptr;
  OFCondition cond;
  {
    // Nothing to finish: a cancelled test ends at once.
    Association::Armed armed(association, std::chrono::milliseconds(0));
    cond = DIMSE_echoUser(association.get(), association.get()->nextMsgID++, DIMSE_NONBLOCKING,
                          association.timeout(), &status, &rawDetail);
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
  std::unique_ptr<DcmDataset, DatasetDeleter> detail(rawDetail);
  if (cond.bad()) association.ThrowTransport(cond, "the connection test (C-ECHO)", false);
  if (status != STATUS_Success) {
    association.Abort();
    Throw(ErrorCode::EchoFailed, FailureStatusText("C-ECHO", association.peer(), status));
  }
  association.Release();
  return elapsed;
}

}  // namespace morvanta::dicom
