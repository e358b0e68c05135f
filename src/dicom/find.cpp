// QueryClient: one C-FIND per association, its responses collected with a
// result limit and a cancel.

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

// ---------------------------------------------------------------- QueryClient

struct QueryClient::Impl {
  ArchiveAddress archive;
  std::string queryRoot = "STUDY";
  std::size_t limit = 0;
  std::vector<Tag> returnKeys;
  CancelSource cancel;
  DataSet identifier;
  FindPhases phases;
};

QueryClient::QueryClient() : impl_(std::make_unique<Impl>()) {}
QueryClient::~QueryClient() = default;

void QueryClient::SetParameters(const ArchiveAddress& archive) { impl_->archive = archive; }
const ArchiveAddress& QueryClient::Parameters() const { return impl_->archive; }
void QueryClient::SetPort(std::int32_t port) { impl_->archive.port = port; }
void QueryClient::SetHost(std::string host) { impl_->archive.host = std::move(host); }
void QueryClient::SetCalledAET(std::string aet) { impl_->archive.calledAET = std::move(aet); }
void QueryClient::SetCallingAET(std::string aet) { impl_->archive.callingAET = std::move(aet); }
void QueryClient::SetQueryRoot(std::string level) { impl_->queryRoot = std::move(level); }
void QueryClient::SetTimeout(int seconds) { impl_->archive.timeoutSeconds = seconds; }
void QueryClient::SetReturnKeys(std::vector<Tag> keys) { impl_->returnKeys = std::move(keys); }
void QueryClient::SetResultLimit(std::size_t limit) { impl_->limit = limit; }
void QueryClient::SetCancelFlag(const std::atomic<bool>* flag) { impl_->cancel.flag = flag; }
void QueryClient::Cancel() { impl_->cancel.own.store(true); }
void QueryClient::SetTls(const TlsSettings& tls) { impl_->archive.tls = tls; }
DataSet& QueryClient::Identifier() { return impl_->identifier; }
const FindPhases& QueryClient::LastPhases() const { return impl_->phases; }

DataSetList QueryClient::Find(const DataSet& identifier) {
  static const std::string kDuring = "the study search";
  std::unique_ptr<DcmDataset> query = BuildDataset(identifier.Attributes());
  // The caller's return keys, empty, where it set no value.
  for (const Tag& tag : impl_->returnKeys) {
    const DcmTagKey key(tag.group, tag.element);
    if (!query->tagExists(key)) query->insertEmptyElement(key);
  }
  if (!query->tagExists(DCM_QueryRetrieveLevel))
    query->putAndInsertString(DCM_QueryRetrieveLevel, impl_->queryRoot.c_str());

  // Studies are asked for in the Study Root model (PS3.4 C.3.3).
  const char* model = UID_FINDStudyRootQueryRetrieveInformationModel;
  FindPhases phases;
  auto mark = SteadyClock::now();
  auto lap = [&mark](std::chrono::nanoseconds& phase) {
    const auto now = SteadyClock::now();
    phase += now - mark;
    mark = now;
  };
  const ArchiveAddress& archive = impl_->archive;
  const Peer peer = archive.peer();
  Association association(peer, archive.EffectiveTimeout(), &impl_->cancel);
  association.UseTls(archive.tls);
  association.Open(archive.callingAET, {{model, kLittleEndian}}, "study search (C-FIND)", kDuring);
  lap(phases.associate);

  T_DIMSE_Message request{};
  request.CommandField = DIMSE_C_FIND_RQ;
  T_DIMSE_C_FindRQ& find = request.msg.CFindRQ;
  find.MessageID = association.get()->nextMsgID++;
  OFStandard::strlcpy(find.AffectedSOPClassUID, model, sizeof find.AffectedSOPClassUID);
  find.DataSetType = DIMSE_DATASET_PRESENT;
  find.Priority = DIMSE_PRIORITY_MEDIUM;

  Exchange exchange(association, impl_->cancel, association.ContextFor(model), find.MessageID, kDuring);
  exchange.Send(request, query.get());

  std::vector<DataSet> results;
  std::string decodeError;
  bool limitReached = false;
  bool droppedAfterCancel = false;
  std::optional<std::uint16_t> finalStatus;
  for (;;) {
    T_DIMSE_Message response{};
    std::unique_ptr<DcmDataset> dataset;
    if (!exchange.Receive(response, dataset)) break;
    if (response.CommandField != DIMSE_C_FIND_RSP) ThrowUnexpected(association, response, kDuring);
    const std::uint16_t status = response.msg.CFindRSP.DimseStatus;
    if (!DICOM_PENDING_STATUS(status)) {
      finalStatus = status;
      break;
    }
    // After a cancel the archive may still send what was on its way; it is
    // read and dropped.
    if (exchange.cancelSent() || dataset == nullptr) {
      droppedAfterCancel = droppedAfterCancel || exchange.cancelSent();
      continue;
    }
    lap(phases.responses);
    try {
      results.push_back(ToDataSet(*dataset));
    } catch (const std::exception& e) {
      decodeError = e.what();
    }
    lap(phases.decode);
    if (impl_->limit != 0 && results.size() >= impl_->limit) {
      limitReached = true;
      exchange.SendCancel();
    }
  }

  if (exchange.userCancelled()) {
    association.Abort();
    Throw(ErrorCode::Cancelled, CancelledText(kDuring));
  }
  if (!finalStatus) {
    // Only a cancel ends the loop without a final response: the archive
    // went on past its grace.
    association.Abort();
    return DataSetList(std::move(results), true);
  }
  if (!decodeError.empty()) {
    association.Abort();
    Throw(ErrorCode::EncodingFailed, "A search result from " + Describe(peer) +
                                         " could not be read: " + decodeError);
  }
  lap(phases.responses);
  if (limitReached) {
    // 0xFE00: matching stopped, more were left; success: the limit-th was the
    // last, unless more came before the archive saw the C-CANCEL. Its final
    // response may have crossed our C-CANCEL; whatever the release then
    // meets, the answer is complete.
    association.ReleaseAfterAnswer();
    lap(phases.release);
    impl_->phases = phases;
    return DataSetList(std::move(results), *finalStatus != STATUS_Success || droppedAfterCancel);
  }
  if (*finalStatus == STATUS_FIND_Cancel_MatchingTerminatedDueToCancelRequest && !exchange.cancelSent()) {
    // 0xFE00 answers a C-CANCEL (PS3.4 C.4.1.2.2); we sent none, so the
    // archive stopped matching on its own. What came is kept and shown, but
    // it is no complete answer and must not pass for one.
    association.ReleaseAfterAnswer();
    lap(phases.release);
    impl_->phases = phases;
    DataSetList list(std::move(results));
    list.SetEndedEarly({static_cast<std::int32_t>(ErrorCode::FindFailed),
                        Describe(peer) + " ended the search itself with status " + HexStatus(*finalStatus) +
                            " (cancelled), though this station did not cancel it: the " +
                            std::to_string(list.Count()) +
                            " results shown may not be all the studies that match. Search again; if it "
                            "recurs, see the archive's log."});
    return list;
  }
  if (IsFailureStatus(*finalStatus)) {
    association.Abort();
    Throw(ErrorCode::FindFailed, FailureStatusText("C-FIND", peer, *finalStatus));
  }
  association.ReleaseAfterAnswer();
  lap(phases.release);
  impl_->phases = phases;
  return DataSetList(std::move(results));
}

}  // namespace morvanta::dicom
