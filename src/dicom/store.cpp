// StoreClient: one storage association, one C-STORE per forwarding request.

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

namespace {

// A C-STORE response means the request was kept only with success or a
// warning (PS3.4 B.2.3: 0000; B000, B006, B007 and the rest of Bxxx; 0001).
// Pending (FF00) and cancel (FE00) cannot end a C-STORE: an archive that
// answers with them did not say it kept the request, so they are refusals.
bool StoreKept(std::uint16_t status) {
  return status == 0x0000 || status == 0x0001 || (status & 0xF000) == 0xB000;
}

}  // namespace

// ---------------------------------------------------------------- StoreClient

struct StoreClient::Impl {
  ArchiveAddress archive;
  CancelSource cancel;
  std::unique_ptr<Association> association;
};

StoreClient::StoreClient() : impl_(std::make_unique<Impl>()) {}
// Destroying the Association aborts it when Close was not called.
StoreClient::~StoreClient() = default;

void StoreClient::SetTimeout(int seconds) { impl_->archive.timeoutSeconds = seconds; }
void StoreClient::SetTls(const TlsSettings& tls) { impl_->archive.tls = tls; }
void StoreClient::SetCancelFlag(const std::atomic<bool>* flag) { impl_->cancel.flag = flag; }
void StoreClient::Cancel() { impl_->cancel.own.store(true); }

void StoreClient::Open(const std::string& host, std::int32_t port, const std::string& callingAET,
                       const std::string& calledAET) {
  Open(impl_->archive.At(host, port, callingAET, calledAET));
}

void StoreClient::Open(const ArchiveAddress& archive) {
  impl_->association.reset();
  impl_->archive = archive;
  impl_->association = OpenAssociation(archive, impl_->cancel, {{kComputedRadiographyStorage, kLittleEndian}},
                                       "Computed Radiography Image Storage (C-STORE)", "the forwarding (C-STORE)");
}

// `option` (10 in the program's forwarding requests) has no effect: every
// request goes with priority MEDIUM.
void StoreClient::Store(const DataSet& dataSet, std::int16_t /*option*/,
                        const std::string& sopInstanceUID, const std::string& sopClassUID) {
  if (!impl_->association || impl_->association->get() == nullptr)
    Throw(ErrorCode::InvalidArgument, "C-STORE without an open association (Open was not called, "
                                      "or the association has ended)");
  Association& association = *impl_->association;

  std::unique_ptr<DcmDataset> dataset = BuildDataset(dataSet.Attributes());
  // The command and the data set name the same SOP Class and Instance (PS3.7 9.3.1.1).
  dataset->putAndInsertString(DCM_SOPClassUID, sopClassUID.c_str());
  dataset->putAndInsertString(DCM_SOPInstanceUID, sopInstanceUID.c_str());

  const T_ASC_PresentationContextID presId = association.ContextFor(sopClassUID.c_str());
  if (presId == 0)
    Throw(ErrorCode::NoPresentationContext,
          NoPresentationContextText(association.peer(), "SOP class " + sopClassUID));

  T_DIMSE_C_StoreRQ request{};
  request.MessageID = association.get()->nextMsgID++;
  OFStandard::strlcpy(request.AffectedSOPClassUID, sopClassUID.c_str(), sizeof request.AffectedSOPClassUID);
  OFStandard::strlcpy(request.AffectedSOPInstanceUID, sopInstanceUID.c_str(),
                      sizeof request.AffectedSOPInstanceUID);
  request.DataSetType = DIMSE_DATASET_PRESENT;
  request.Priority = DIMSE_PRIORITY_MEDIUM;

  // The response is read as a C-FIND's is: the toolkit's own reader would
  // hand its command set to the recursive parser unchecked.
  constexpr const char* kDuring = "a forwarding request (C-STORE)";
  T_DIMSE_Message message{};
  message.CommandField = DIMSE_C_STORE_RQ;
  message.msg.CStoreRQ = request;
  T_DIMSE_Message answer{};
  {
    Association::Armed armed(association, kCancelGrace);
    Exchange exchange(association, kNoCancel, presId, request.MessageID, kDuring);
    exchange.Send(message, dataset.get());
    std::unique_ptr<DcmDataset> none;
    exchange.Receive(answer, none);
  }
  if (answer.CommandField != DIMSE_C_STORE_RSP) ThrowUnexpected(association, answer, kDuring);
  const T_DIMSE_C_StoreRSP& response = answer.msg.CStoreRSP;
  if (!StoreKept(response.DimseStatus))
    Throw(ErrorCode::StoreFailed, StoreRefusedText(association.peer(), response.DimseStatus));
}

void StoreClient::Close() {
  if (!impl_->association) return;
  std::unique_ptr<Association> association = std::move(impl_->association);
  association->Release();
}

}  // namespace morvanta::dicom
