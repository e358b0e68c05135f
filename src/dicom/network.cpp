// The network half of the binding: QueryClient and StoreClient on DCMTK's
// association (ASC_) and message (DIMSE_) layers. Every DCMTK allocation is
// owned by an RAII holder from the line it arrives on.
#include <netdb.h>
#include <sys/socket.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>

#include <memory>
#include <mutex>

#include "dicom/charset.h"
#include "dicom/dicom.h"
#include "dicom/errors.h"

namespace morvanta::dicom {

namespace {

constexpr const char* kCrImageStorage = UID_ComputedRadiographyImageStorage;

// The return keys the result grid shows; sent empty where the identifier
// holds no value of its own (PS3.4 C.2.2.1.2).
const DcmTagKey kReturnKeys[] = {
    DCM_StudyInstanceUID, DCM_StudyDate,       DCM_StudyTime,         DCM_PatientName,
    DCM_PatientID,        DCM_PatientBirthDate, DCM_PatientSex,       DCM_Modality,
    DCM_ModalitiesInStudy, DCM_BodyPartExamined, DCM_StudyDescription, DCM_AccessionNumber,
};

[[noreturn]] void Throw(ErrorCode code, std::string description) {
  throw Error(static_cast<std::int32_t>(code), std::move(description));
}

// A data set built from the program's attribute list. Values arrive as UTF-8;
// the narrowest character set that holds them is chosen and declared.
std::unique_ptr<DcmDataset> BuildDataset(const AttributeList& attributes) {
  auto dataset = std::make_unique<DcmDataset>();
  std::vector<std::string> texts;
  for (const Attribute& a : attributes.items()) texts.push_back(a.Value());
  const Charset charset = ChooseCharset(texts);

  for (const Attribute& a : attributes.items()) {
    DcmTag tag(a.tag().group, a.tag().element);
    const DcmEVR vr = tag.getEVR();
    // Private and unknown tags travel as LO (the forwarding request's
    // (0019,0010) creator and (0019,0030) study UID among them).
    if (vr == EVR_UNKNOWN || vr == EVR_UN || vr == EVR_UNKNOWN2B) tag.setVR(DcmVR(EVR_LO));
    if (tag.getEVR() == EVR_SQ)
      Throw(ErrorCode::InvalidArgument, "Attribute " + std::string(tag.toString().c_str()) +
                                            " is a sequence and cannot be given as text");
    DcmElement* raw = nullptr;
    if (DcmItem::newDicomElementWithVR(raw, tag).bad() || raw == nullptr)
      Throw(ErrorCode::InvalidArgument,
            "Attribute " + std::string(tag.toString().c_str()) + " cannot be sent");
    std::unique_ptr<DcmElement> element(raw);
    const std::string value = charset == Charset::Latin1 ? Utf8ToLatin1(a.Value()) : a.Value();
    if (element->putString(value.c_str(), static_cast<Uint32>(value.size())).bad())
      Throw(ErrorCode::InvalidArgument, "Value \"" + a.Value() + "\" does not fit attribute " +
                                            std::string(tag.toString().c_str()));
    // A later Add of the same tag replaces the earlier one: a data set holds each tag once.
    if (dataset->insert(element.get(), OFTrue).bad())
      Throw(ErrorCode::EncodingFailed, "Attribute " + std::string(tag.toString().c_str()) +
                                           " could not be added to the data set");
    element.release();
  }
  if (charset != Charset::Ascii)
    dataset->putAndInsertString(DCM_SpecificCharacterSet, DefinedTerm(charset).c_str());
  else
    dataset->findAndDeleteElement(DCM_SpecificCharacterSet);
  return dataset;
}

// A received data set as the program's DataSet, texts decoded into UTF-8 by
// the set's own (0008,0005); without one, text beyond ASCII is read as
// ISO_IR 100, as most archives that omit it mean (PS3.5 6.1.2.3 makes the
// default repertoire ASCII, so anything else is the archive's local habit).
DataSet ToDataSet(DcmDataset& dataset) {
  OFString declared;
  const bool hasCharset = dataset.findAndGetOFStringArray(DCM_SpecificCharacterSet, declared).good() &&
                          !declared.empty();
  bool converted = false;
  if (hasCharset) converted = dataset.convertToUTF8().good();

  DataSet result;
  for (unsigned long i = 0; i < dataset.card(); ++i) {
    DcmElement* element = dataset.getElement(i);
    if (element == nullptr || element->ident() == EVR_SQ || element->getTag() == DCM_PixelData)
      continue;
    OFString value;
    const bool isNull = element->getLength() == 0;
    if (!isNull) element->getOFStringArray(value);
    std::string text(value.c_str(), value.length());
    if (!converted && !IsAscii(text) && (!hasCharset || !IsValidUtf8(text))) {
      // Undeclared, or declared but not convertible and not UTF-8 either:
      // read as Latin-1.
      text = Latin1ToUtf8(text);
    }
    const DcmTagKey key = element->getTag();
    result.Attributes().Set(key.getGroup(), key.getElement(), std::move(text), isNull);
  }
  return result;
}

// The connect time-out is a process-wide DCMTK setting (dcmConnectionTimeout);
// operations set it under this lock just before they connect, so concurrent
// users each connect with their own value.
std::mutex& ConnectLock() {
  static std::mutex lock;
  return lock;
}

struct NetworkDeleter {
  void operator()(T_ASC_Network* network) const { ASC_dropNetwork(&network); }
};
struct ParamsDeleter {
  void operator()(T_ASC_Parameters* params) const { ASC_destroyAssociationParameters(&params); }
};
struct DatasetDeleter {
  void operator()(DcmDataset* dataset) const { delete dataset; }
};

// One association to one peer; aborts in its destructor unless released.
class Association {
 public:
  Association(Peer peer, int timeoutSeconds) : peer_(std::move(peer)), timeout_(timeoutSeconds) {}
  ~Association() { Abort(); }
  Association(const Association&) = delete;
  Association& operator=(const Association&) = delete;

  void Open(const std::string& callingAET,
            const std::vector<std::pair<const char*, std::vector<const char*>>>& contexts,
            const std::string& what) {
    Validate(callingAET);
    Resolve();

    T_ASC_Network* rawNetwork = nullptr;
    OFCondition cond = ASC_initializeNetwork(NET_REQUESTOR, 0, timeout_, &rawNetwork);
    network_.reset(rawNetwork);
    if (cond.bad()) Throw(ErrorCode::NetworkError, "Network could not be initialised: " + Text(cond));

    T_ASC_Parameters* rawParams = nullptr;
    cond = ASC_createAssociationParameters(&rawParams, ASC_DEFAULTMAXPDU);
    std::unique_ptr<T_ASC_Parameters, ParamsDeleter> params(rawParams);
    if (cond.bad()) Throw(ErrorCode::NetworkError, "Association could not be prepared: " + Text(cond));
    ASC_setAPTitles(params.get(), callingAET.c_str(), peer_.aet.c_str(), nullptr);
    const std::string address = Address(peer_);
    ASC_setPresentationAddresses(params.get(), OFStandard::getHostName().c_str(), address.c_str());
    T_ASC_PresentationContextID id = 1;
    for (const auto& [abstractSyntax, transferSyntaxes] : contexts) {
      std::vector<const char*> syntaxes = transferSyntaxes;
      cond = ASC_addPresentationContext(params.get(), id, abstractSyntax, syntaxes.data(),
                                        static_cast<int>(syntaxes.size()));
      if (cond.bad()) Throw(ErrorCode::NetworkError, "Association could not be prepared: " + Text(cond));
      id += 2;
    }

    T_ASC_Association* rawAssoc = nullptr;
    {
      std::lock_guard<std::mutex> guard(ConnectLock());
      dcmConnectionTimeout.set(timeout_);
      // The association takes the parameters over, also when the request fails.
      cond = ASC_requestAssociation(network_.get(), params.get(), &rawAssoc);
    }
    if (rawAssoc != nullptr) {
      params.release();
      assoc_ = rawAssoc;
    }
    if (cond.bad()) {
      if (cond == DUL_ASSOCIATIONREJECTED) {
        T_ASC_RejectParameters reject{};
        ASC_getRejectParameters(assoc_ != nullptr ? assoc_->params : params.get(), &reject);
        Drop();
        Throw(ErrorCode::AssociationRejected,
              RejectedText(peer_, static_cast<int>(reject.result), static_cast<int>(reject.source),
                           // DCMTK folds the source into the reason's high byte.
                           static_cast<int>(reject.reason) & 0xFF));
      }
      Drop();
      ThrowTransport(cond, "the association request", true);
    }
    for (const auto& context : contexts) {
      if (ASC_findAcceptedPresentationContextID(assoc_, context.first) == 0) {
        Abort();
        Throw(ErrorCode::NoPresentationContext, NoPresentationContextText(peer_, what));
      }
    }
  }

  T_ASC_Association* get() const { return assoc_; }
  const Peer& peer() const { return peer_; }
  int timeout() const { return timeout_; }

  T_ASC_PresentationContextID ContextFor(const char* abstractSyntax) const {
    return ASC_findAcceptedPresentationContextID(assoc_, abstractSyntax);
  }

  void Release() {
    if (assoc_ == nullptr) return;
    const OFCondition cond = ASC_releaseAssociation(assoc_);
    if (cond.bad()) {
      Abort();
      ThrowTransport(cond, "the release", false);
    }
    Drop();
  }

  void Abort() {
    if (assoc_ == nullptr) return;
    ASC_abortAssociation(assoc_);
    Drop();
  }

  // Maps a failed transport condition to the table; the association is gone.
  [[noreturn]] void ThrowTransport(const OFCondition& cond, const std::string& during,
                                   bool connecting) {
    Abort();
    const std::string text = Text(cond);
    if (cond == DIMSE_NODATAAVAILABLE || cond == DUL_READTIMEOUT ||
        text.find("timed out") != std::string::npos || text.find("Timeout") != std::string::npos ||
        text.find("timeout") != std::string::npos)
      Throw(ErrorCode::Timeout, TimeoutText(peer_, timeout_));
    if (connecting && cond.code() == DULC_TCPINITERROR)
      Throw(ErrorCode::ConnectFailed, ConnectFailedText(peer_, Detail(text)));
    if (cond == DUL_PEERABORTEDASSOCIATION || cond == DUL_NETWORKCLOSED ||
        cond.code() == DULC_TCPIOERROR || cond == DIMSE_READPDVFAILED)
      Throw(ErrorCode::PeerAborted, AbortedText(peer_, during));
    Throw(ErrorCode::NetworkError,
          "Network error with " + Describe(peer_) + " during " + during + ": " + text);
  }

 private:
  static std::string Text(const OFCondition& cond) { return cond.text() ? cond.text() : ""; }

  // "TCP Initialization Error: Connection refused" -> "connection refused"
  static std::string Detail(std::string text) {
    const auto colon = text.rfind(": ");
    if (colon != std::string::npos) text = text.substr(colon + 2);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
  }

  void Validate(const std::string& callingAET) const {
    if (peer_.port <= 0 || peer_.port > 65535)
      Throw(ErrorCode::InvalidArgument,
            "Port " + std::to_string(peer_.port) + " of " + (peer_.aet.empty() ? "the archive" : peer_.aet) +
                " is not a TCP port (1 to 65535)");
    if (peer_.host.empty()) Throw(ErrorCode::InvalidArgument, "No host given for " + peer_.aet);
    // AE titles: 1 to 16 characters of the default repertoire (PS3.5 6.2, AE).
    for (const auto& [role, aet] : {std::pair<const char*, const std::string&>{"called", peer_.aet},
                                    std::pair<const char*, const std::string&>{"calling", callingAET}}) {
      if (aet.empty() || aet.size() > 16 || !IsAscii(aet) || aet.find('\\') != std::string::npos)
        Throw(ErrorCode::InvalidArgument, std::string("The ") + role + " AE title \"" + aet +
                                              "\" is not valid (1 to 16 characters, no backslash)");
    }
  }

  void Resolve() const {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(peer_.host.c_str(), nullptr, &hints, &found);
    if (found != nullptr) freeaddrinfo(found);
    if (rc == EAI_NONAME || rc == EAI_FAIL
#ifdef EAI_NODATA
        || rc == EAI_NODATA
#endif
    )
      Throw(ErrorCode::UnknownHost, UnknownHostText(peer_));
  }

  void Drop() {
    if (assoc_ != nullptr) ASC_destroyAssociation(&assoc_);
    assoc_ = nullptr;
  }

  Peer peer_;
  int timeout_;
  std::unique_ptr<T_ASC_Network, NetworkDeleter> network_;
  T_ASC_Association* assoc_ = nullptr;
};

const std::vector<const char*> kLittleEndian = {UID_LittleEndianExplicitTransferSyntax,
                                                UID_LittleEndianImplicitTransferSyntax};

const char* FindModel(const std::string& queryRoot) {
  // The program queries with the Study Root model; Patient Root stays
  // available for a root given as "PATIENT" (PS3.4 C.3).
  return queryRoot == "PATIENT" ? UID_FINDPatientRootQueryRetrieveInformationModel
                                : UID_FINDStudyRootQueryRetrieveInformationModel;
}

struct FindState {
  std::vector<DataSet> results;
  // Room for stopping early (C-CANCEL, PS3.7 9.3.2.3): a limit the callback
  // checks. Zero collects every response.
  std::size_t stopAfter = 0;
  bool cancelSent = false;
  T_ASC_Association* assoc = nullptr;
  T_ASC_PresentationContextID presId = 0;
  std::string decodeError;
};

void OnFindResponse(void* data, T_DIMSE_C_FindRQ* request, int /*responseCount*/,
                    T_DIMSE_C_FindRSP* /*response*/, DcmDataset* identifier) {
  auto* state = static_cast<FindState*>(data);
  if (identifier == nullptr) return;
  try {
    state->results.push_back(ToDataSet(*identifier));
  } catch (const std::exception& e) {
    // Exceptions must not cross DCMTK's C-style callback.
    state->decodeError = e.what();
  }
  if (state->stopAfter != 0 && !state->cancelSent && state->results.size() >= state->stopAfter) {
    DIMSE_sendCancelRequest(state->assoc, state->presId, request->MessageID);
    state->cancelSent = true;
  }
}

}  // namespace

// ---------------------------------------------------------------- QueryClient

struct QueryClient::Impl {
  Peer peer;
  std::string callingAET;
  std::string queryRoot = "STUDY";
  int timeout = kDefaultTimeoutSeconds;
  DataSet identifier;
};

QueryClient::QueryClient() : impl_(std::make_unique<Impl>()) {}
QueryClient::~QueryClient() = default;

void QueryClient::SetPort(std::int32_t port) { impl_->peer.port = port; }
void QueryClient::SetHost(std::string host) { impl_->peer.host = std::move(host); }
void QueryClient::SetCalledAET(std::string aet) { impl_->peer.aet = std::move(aet); }
void QueryClient::SetCallingAET(std::string aet) { impl_->callingAET = std::move(aet); }
void QueryClient::SetQueryRoot(std::string level) { impl_->queryRoot = std::move(level); }
void QueryClient::SetTimeout(int seconds) { impl_->timeout = seconds > 0 ? seconds : kDefaultTimeoutSeconds; }
DataSet& QueryClient::Identifier() { return impl_->identifier; }

DataSetList QueryClient::Find(const DataSet& identifier) {
  std::unique_ptr<DcmDataset> query = BuildDataset(identifier.Attributes());
  // Return keys the grid shows, empty, where the program set no value.
  for (const DcmTagKey& key : kReturnKeys)
    if (!query->tagExists(key)) query->insertEmptyElement(key);
  if (!query->tagExists(DCM_QueryRetrieveLevel))
    query->putAndInsertString(DCM_QueryRetrieveLevel, impl_->queryRoot.c_str());

  const char* model = FindModel(impl_->queryRoot);
  Association association(impl_->peer, impl_->timeout);
  association.Open(impl_->callingAET, {{model, kLittleEndian}}, "study search (C-FIND)");

  T_DIMSE_C_FindRQ request{};
  request.MessageID = association.get()->nextMsgID++;
  OFStandard::strlcpy(request.AffectedSOPClassUID, model, sizeof request.AffectedSOPClassUID);
  request.DataSetType = DIMSE_DATASET_PRESENT;
  request.Priority = DIMSE_PRIORITY_MEDIUM;

  FindState state;
  state.assoc = association.get();
  state.presId = association.ContextFor(model);
  T_DIMSE_C_FindRSP response{};
  DcmDataset* rawDetail = nullptr;
  int responseCount = 0;
  const OFCondition cond =
      DIMSE_findUser(association.get(), state.presId, &request, query.get(), responseCount,
                     OnFindResponse, &state, DIMSE_NONBLOCKING, association.timeout(), &response,
                     &rawDetail);
  std::unique_ptr<DcmDataset, DatasetDeleter> detail(rawDetail);
  if (cond.bad()) association.ThrowTransport(cond, "the study search", false);
  if (!state.decodeError.empty())
    Throw(ErrorCode::EncodingFailed, "A search result from " + Describe(impl_->peer) +
                                         " could not be read: " + state.decodeError);
  if (IsFailureStatus(response.DimseStatus)) {
    association.Abort();
    Throw(ErrorCode::FindFailed, FailureStatusText("C-FIND", impl_->peer, response.DimseStatus));
  }
  association.Release();
  return DataSetList(std::move(state.results));
}

// ---------------------------------------------------------------- StoreClient

struct StoreClient::Impl {
  int timeout = kDefaultTimeoutSeconds;
  std::unique_ptr<Association> association;
};

StoreClient::StoreClient() : impl_(std::make_unique<Impl>()) {}
// Destroying the Association aborts it when Close was not called.
StoreClient::~StoreClient() = default;

void StoreClient::SetTimeout(int seconds) { impl_->timeout = seconds > 0 ? seconds : kDefaultTimeoutSeconds; }

void StoreClient::Open(const std::string& host, std::int32_t port, const std::string& callingAET,
                       const std::string& calledAET) {
  impl_->association.reset();
  auto association = std::make_unique<Association>(Peer{calledAET, host, port}, impl_->timeout);
  association->Open(callingAET, {{kCrImageStorage, kLittleEndian}},
                    "Computed Radiography Image Storage (C-STORE)");
  impl_->association = std::move(association);
}

// `option` (10 in the program's forwarding requests) carried a priority in
// the component the program was first written against; it has no effect
// here: every request goes with priority MEDIUM.
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

  T_DIMSE_C_StoreRSP response{};
  DcmDataset* rawDetail = nullptr;
  const OFCondition cond =
      DIMSE_storeUser(association.get(), presId, &request, nullptr, dataset.get(), nullptr, nullptr,
                      DIMSE_NONBLOCKING, association.timeout(), &response, &rawDetail);
  std::unique_ptr<DcmDataset, DatasetDeleter> detail(rawDetail);
  if (cond.bad()) association.ThrowTransport(cond, "a forwarding request (C-STORE)", false);
  if (IsFailureStatus(response.DimseStatus))
    Throw(ErrorCode::StoreFailed, FailureStatusText("C-STORE", association.peer(), response.DimseStatus));
}

void StoreClient::Close() {
  if (!impl_->association) return;
  std::unique_ptr<Association> association = std::move(impl_->association);
  association->Release();
}

}  // namespace morvanta::dicom
