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

std::chrono::milliseconds Echo(const ArchiveAddress& archive, const std::atomic<bool>* cancel) {
  const auto start = SteadyClock::now();
  CancelSource source;
  source.flag = cancel;
  Association association(archive.peer(), archive.EffectiveTimeout(), cancel != nullptr ? &source : nullptr);
  association.UseTls(archive.tls);
  association.Open(archive.callingAET, {{UID_VerificationSOPClass, kLittleEndian}}, "the connection test (C-ECHO)");
  // The response is read as a C-FIND's is: the toolkit's own reader would
  // hand its command set to the recursive parser unchecked.
  constexpr const char* kDuring = "the connection test (C-ECHO)";
  T_DIMSE_Message message{};
  message.CommandField = DIMSE_C_ECHO_RQ;
  T_DIMSE_C_EchoRQ& request = message.msg.CEchoRQ;
  request.MessageID = association.get()->nextMsgID++;
  OFStandard::strlcpy(request.AffectedSOPClassUID, UID_VerificationSOPClass, sizeof request.AffectedSOPClassUID);
  request.DataSetType = DIMSE_DATASET_NULL;
  T_DIMSE_Message answer{};
  {
    // Nothing to finish: a cancelled test ends at once.
    Association::Armed armed(association, std::chrono::milliseconds(0));
    Exchange exchange(association, kNoCancel, association.ContextFor(UID_VerificationSOPClass), request.MessageID,
                      kDuring);
    exchange.Send(message, nullptr);
    std::unique_ptr<DcmDataset> none;
    exchange.Receive(answer, none);
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
  if (answer.CommandField != DIMSE_C_ECHO_RSP) ThrowUnexpected(association, answer, kDuring);
  const DIC_US status = answer.msg.CEchoRSP.DimseStatus;
  if (status != STATUS_Success) {
    association.Abort();
    Throw(ErrorCode::EchoFailed, FailureStatusText("C-ECHO", association.peer(), status));
  }
  association.Release();
  return elapsed;
}

}  // namespace morvanta::dicom
