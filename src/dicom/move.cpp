// MoveClient: Study Root C-MOVE at STUDY level, one study per request.

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

// ---------------------------------------------------------------- MoveClient

struct MoveClient::Impl {
  ArchiveAddress archive;
  CancelSource cancel;
  std::unique_ptr<Association> association;
};

MoveClient::MoveClient() : impl_(std::make_unique<Impl>()) {}
// Destroying the Association aborts it when Close was not called.
MoveClient::~MoveClient() = default;

void MoveClient::SetTimeout(int seconds) { impl_->archive.timeoutSeconds = seconds; }
void MoveClient::SetCancelFlag(const std::atomic<bool>* flag) { impl_->cancel.flag = flag; }
void MoveClient::Cancel() { impl_->cancel.own.store(true); }
void MoveClient::SetTls(const TlsSettings& tls) { impl_->archive.tls = tls; }

void MoveClient::Open(const std::string& host, std::int32_t port, const std::string& callingAET,
                      const std::string& calledAET) {
  Open(impl_->archive.At(host, port, callingAET, calledAET));
}

void MoveClient::Open(const ArchiveAddress& archive) {
  impl_->association.reset();
  impl_->archive = archive;
  impl_->association =
      OpenAssociation(archive, impl_->cancel, {{UID_MOVEStudyRootQueryRetrieveInformationModel, kLittleEndian}},
                      "moving studies (Study Root C-MOVE)", "the move of a study (C-MOVE)");
}

MoveCounts MoveClient::Move(const std::string& studyUid, const std::string& destinationAET,
                            const std::function<void(const MoveCounts&)>& progress) {
  static const std::string kDuring = "the move of a study (C-MOVE)";
  if (!impl_->association || impl_->association->get() == nullptr)
    Throw(ErrorCode::InvalidArgument, "C-MOVE without an open association (Open was not called, "
                                      "or the association has ended)");
  Association& association = *impl_->association;
  const Peer peer = association.peer();
  if (!IsValidAeTitle(destinationAET))
    Throw(ErrorCode::InvalidArgument, "The destination AE title \"" + Shown(destinationAET) +
                                          "\" is not valid " + kAeRule);
  if (studyUid.empty() || studyUid.size() > 64)
    Throw(ErrorCode::InvalidArgument, "The study UID \"" + studyUid + "\" is not valid");

  // Study Root, STUDY level: the level and the unique key only (PS3.4 C.4.2.2.1).
  DcmDataset identifier;
  identifier.putAndInsertString(DCM_QueryRetrieveLevel, "STUDY");
  identifier.putAndInsertString(DCM_StudyInstanceUID, studyUid.c_str());

  const char* model = UID_MOVEStudyRootQueryRetrieveInformationModel;
  T_DIMSE_Message request{};
  request.CommandField = DIMSE_C_MOVE_RQ;
  T_DIMSE_C_MoveRQ& move = request.msg.CMoveRQ;
  move.MessageID = association.get()->nextMsgID++;
  OFStandard::strlcpy(move.AffectedSOPClassUID, model, sizeof move.AffectedSOPClassUID);
  OFStandard::strlcpy(move.MoveDestination, destinationAET.c_str(), sizeof move.MoveDestination);
  move.DataSetType = DIMSE_DATASET_PRESENT;
  move.Priority = DIMSE_PRIORITY_MEDIUM;

  Exchange exchange(association, impl_->cancel, association.ContextFor(model), move.MessageID, kDuring);
  exchange.Send(request, &identifier);

  MoveCounts counts;
  bool final = false;
  for (;;) {
    T_DIMSE_Message response{};
    std::unique_ptr<DcmDataset> dataset;  // the failed SOP instances, if any: not used
    if (!exchange.Receive(response, dataset)) break;
    if (response.CommandField != DIMSE_C_MOVE_RSP) ThrowUnexpected(association, response, kDuring);
    const T_DIMSE_C_MoveRSP& r = response.msg.CMoveRSP;
    counts.status = r.DimseStatus;
    // Counts the response leaves out keep their last value (PS3.7 C.4.2.1.6
    // makes them optional in the final response).
    counts.remaining = (r.opts & O_MOVE_NUMBEROFREMAININGSUBOPERATIONS) ? r.NumberOfRemainingSubOperations
                       : DICOM_PENDING_STATUS(r.DimseStatus)            ? -1
                                                                        : 0;
    if (r.opts & O_MOVE_NUMBEROFCOMPLETEDSUBOPERATIONS) counts.completed = r.NumberOfCompletedSubOperations;
    if (r.opts & O_MOVE_NUMBEROFFAILEDSUBOPERATIONS) counts.failed = r.NumberOfFailedSubOperations;
    if (r.opts & O_MOVE_NUMBEROFWARNINGSUBOPERATIONS) counts.warning = r.NumberOfWarningSubOperations;
    if (!DICOM_PENDING_STATUS(r.DimseStatus)) {
      final = true;
      break;
    }
    if (progress && !exchange.cancelSent()) progress(counts);
  }

  if (exchange.userCancelled()) {
    // Answered in time, the association serves the next study; otherwise it is gone.
    if (!final) impl_->association.reset();
    Throw(ErrorCode::Cancelled, CancelledText(kDuring));
  }
  if (!final) {
    impl_->association.reset();
    Throw(ErrorCode::PeerAborted, AbortedText(peer, kDuring));
  }
  if (counts.status == STATUS_Success || (counts.status & 0xF000) == 0xB000) return counts;
  Throw(ErrorCode::MoveFailed, MoveFailureText(peer, destinationAET, counts.status, counts));
}

void MoveClient::Close() {
  if (!impl_->association) return;
  std::unique_ptr<Association> association = std::move(impl_->association);
  association->Release();
}

}  // namespace morvanta::dicom
