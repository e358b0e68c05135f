// The network half of the binding: QueryClient and StoreClient on DCMTK's
// association (ASC_) and message (DIMSE_) layers. Every DCMTK allocation is
// owned by an RAII holder from the line it arrives on.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dcmlayer.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "dicom/charset.h"
#include "dicom/dicom.h"
#include "dicom/errors.h"
#include "dicom/tls_transport.h"
#include "dicom/resolve.h"

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

// PS3.5 6.2, AE: 1 to 16 characters of the default repertoire without the
// backslash and without control characters. A NUL would cut the title short
// on its way to the toolkit, so it is refused like any other.
bool IsValidAeTitle(std::string_view aet) {
  return !aet.empty() && aet.size() <= 16 && std::ranges::all_of(aet, [](char c) {
           return c >= 0x20 && c < 0x7F && c != '\\';
         });
}

// The title as a message can show it: control characters as <XX>.
std::string Shown(std::string_view aet) {
  std::string out;
  for (const char c : aet) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += {'<', kHex[b >> 4], kHex[b & 15], '>'};
    } else {
      out += c;
    }
  }
  return out;
}

constexpr const char* kAeRule = "(1 to 16 characters, no backslash or control character)";

using SteadyClock = std::chrono::steady_clock;

// How long a cancelled operation waits for the archive to answer its
// C-CANCEL before the association is aborted; with the 50 ms polling this
// keeps a cancel within about 1.1 s whatever the archive does.
constexpr auto kCancelGrace = std::chrono::seconds(1);
constexpr int kPollMilliseconds = 50;

// What ends an operation early: the client's own Cancel(), or a flag the
// caller owns.
struct CancelSource {
  const std::atomic<bool>* flag = nullptr;
  std::atomic<bool> own{false};
  bool Requested() const {
    return own.load(std::memory_order_relaxed) ||
           (flag != nullptr && flag->load(std::memory_order_relaxed));
  }
};

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

// How a received element's value is read: the VRs that Specific Character
// Set applies to (PS3.5 6.1.2.3), with the delimiters that end a code
// extension in them; the others hold the default repertoire.
std::optional<TextKind> TextKindOf(DcmEVR vr) {
  switch (vr) {
    case EVR_PN: return TextKind::PersonName;
    case EVR_SH:
    case EVR_LO:
    case EVR_UC: return TextKind::MultiValued;
    case EVR_ST:
    case EVR_LT:
    case EVR_UT: return TextKind::Text;
    default: return std::nullopt;
  }
}

// A received data set as the program's DataSet, texts decoded into UTF-8 by
// the set's own (0008,0005); without one, text beyond ASCII is read as
// ISO_IR 100, as most archives that omit it mean (PS3.5 6.1.2.3 makes the
// default repertoire ASCII, so anything else is the archive's local habit).
// The decoding is our own rather than the toolkit's, which as built here
// knows neither the ISO 2022 code extensions nor GB18030.
DataSet ToDataSet(DcmDataset& dataset) {
  OFString declared;
  if (dataset.findAndGetOFStringArray(DCM_SpecificCharacterSet, declared).bad()) declared.clear();
  const std::string charset(declared.c_str(), declared.length());

  DataSet result;
  for (unsigned long i = 0; i < dataset.card(); ++i) {
    DcmElement* element = dataset.getElement(i);
    if (element == nullptr || element->ident() == EVR_SQ || element->getTag() == DCM_PixelData)
      continue;
    OFString value;
    const bool isNull = element->getLength() == 0;
    if (!isNull) element->getOFStringArray(value);
    const std::string_view bytes(value.c_str(), value.length());
    const std::optional<TextKind> kind = TextKindOf(element->getVR());
    std::string text = kind ? DecodeText(bytes, charset, *kind)
                            : DecodeText(bytes, "", TextKind::MultiValued);
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
  Association(Peer peer, int timeoutSeconds, const CancelSource* cancel = nullptr)
      : peer_(std::move(peer)), timeout_(timeoutSeconds), cancel_(cancel) {}
  ~Association() {
    Abort();
    StopWatcher();
  }
  // Every association of a client with TLS on goes over TLS.
  void UseTls(const TlsSettings& tls) { tls_ = tls; }
  Association(const Association&) = delete;
  Association& operator=(const Association&) = delete;

  // While one lives, a cancel shuts the association's socket once `grace`
  // has passed (counted from the later of the cancel and the arming), which
  // ends whatever blocking toolkit call waits on it. The grace lets an
  // archive that answers finish the request under way, so counts stay exact.
  class Armed {
   public:
    Armed(Association& association, std::chrono::milliseconds grace) : association_(association) {
      std::lock_guard<std::mutex> guard(association_.watchLock_);
      association_.armedGrace_ = grace;
    }
    ~Armed() {
      std::lock_guard<std::mutex> guard(association_.watchLock_);
      association_.armedGrace_.reset();
    }
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;

   private:
    Association& association_;
  };

  void Open(const std::string& callingAET,
            const std::vector<std::pair<const char*, std::vector<const char*>>>& contexts,
            const std::string& what, const std::string& during = "") {
    Validate(callingAET);
    cancelledText_ = CancelledText(during.empty() ? what : during);
    if (Cancelled()) Throw(ErrorCode::Cancelled, cancelledText_);
    const std::string address = Resolve();

    T_ASC_Network* rawNetwork = nullptr;
    OFCondition cond = ASC_initializeNetwork(NET_REQUESTOR, 0, timeout_, &rawNetwork);
    network_.reset(rawNetwork);
    if (cond.bad()) Throw(ErrorCode::NetworkError, "Network could not be initialised: " + Text(cond));

    T_ASC_Parameters* rawParams = nullptr;
    cond = ASC_createAssociationParameters(&rawParams, ASC_DEFAULTMAXPDU);
    std::unique_ptr<T_ASC_Parameters, ParamsDeleter> params(rawParams);
    if (cond.bad()) Throw(ErrorCode::NetworkError, "Association could not be prepared: " + Text(cond));
    ASC_setAPTitles(params.get(), callingAET.c_str(), peer_.aet.c_str(), nullptr);
    ASC_setPresentationAddresses(params.get(), OFStandard::getHostName().c_str(), address.c_str());
    T_ASC_PresentationContextID id = 1;
    for (const auto& [abstractSyntax, transferSyntaxes] : contexts) {
      std::vector<const char*> syntaxes = transferSyntaxes;
      cond = ASC_addPresentationContext(params.get(), id, abstractSyntax, syntaxes.data(),
                                        static_cast<int>(syntaxes.size()));
      if (cond.bad()) Throw(ErrorCode::NetworkError, "Association could not be prepared: " + Text(cond));
      id += 2;
    }

    // The one place the transport is made: plain TCP or TLS, either telling
    // the watcher the socket (a cancel while the archive keeps us waiting for
    // its A-ASSOCIATE-AC shuts it, which ends the wait at once).
    ASC_setTransportLayer(network_.get(), MakeTransportLayer(tls_, timeout_, &socket_, &probe_).release(), 1);
    if (tls_.enabled) ASC_setTransportLayerType(params.get(), OFTrue);
    StartWatcher();

    T_ASC_Association* rawAssoc = nullptr;
    {
      // The connect time-out is process-wide; it is set just before the
      // request but not held over it, so a search that waits on a silent
      // archive does not hold up a connection test. A concurrent request
      // may connect with the other's value: only the TCP connect is affected.
      std::lock_guard<std::mutex> guard(ConnectLock());
      dcmConnectionTimeout.set(timeout_);
    }
    {
      Armed armed(*this, std::chrono::milliseconds(0));
      // The association takes the parameters over, also when the request fails.
      cond = ASC_requestAssociation(network_.get(), params.get(), &rawAssoc);
    }
    if (rawAssoc != nullptr) {
      params.release();
      assoc_ = rawAssoc;
    }
    if (cond.bad() && Cancelled()) {
      Abort();
      Throw(ErrorCode::Cancelled, cancelledText_);
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
      if (auto failure = ExplainTransportFailure(probe_, tls_, peer_, timeout_)) {
        Drop();
        Throw(failure->code, failure->text);
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
  bool Cancelled() const { return cancel_ != nullptr && cancel_->Requested(); }

  // The association's socket, for waiting on it in short slices; -1 when gone.
  int Socket() const {
    return assoc_ != nullptr ? socket_.load() : -1;
  }

  T_ASC_PresentationContextID ContextFor(const char* abstractSyntax) const {
    return ASC_findAcceptedPresentationContextID(assoc_, abstractSyntax);
  }

  void Release() {
    if (assoc_ == nullptr) return;
    OFCondition cond;
    {
      Armed armed(*this, kCancelGrace);
      cond = ASC_releaseAssociation(assoc_);
    }
    if (cond.bad()) {
      Abort();
      ThrowTransport(cond, "the release", false);
    }
    Drop();
  }

  // The release of an operation whose answer is complete: an archive that
  // aborts, or never answers the release, has answered all the same.
  bool ReleaseAfterAnswer() {
    try {
      Release();
      return true;
    } catch (const Error&) {
      return false;
    }
  }

  void Abort() {
    if (assoc_ == nullptr) return;
    // After sending A-ABORT, DCMTK waits for the peer to close the connection,
    // as long as the time-out: an archive that hangs would double every
    // wait. Closing our reading side first makes that wait end at once; the
    // A-ABORT still goes out.
    const int fd = socket_.load();
    if (fd >= 0) ::shutdown(fd, SHUT_RD);
    ASC_abortAssociation(assoc_);
    Drop();
  }

  // Maps a failed transport condition to the table; the association is gone.
  [[noreturn]] void ThrowTransport(const OFCondition& cond, const std::string& during,
                                   bool connecting) {
    Abort();
    // Whatever the toolkit met after a cancel (most often the socket the
    // watcher shut), the user ended it: no failure to report.
    if (Cancelled()) Throw(ErrorCode::Cancelled, CancelledText(during));
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
      if (!IsValidAeTitle(aet))
        Throw(ErrorCode::InvalidArgument, std::string("The ") + role + " AE title \"" + Shown(aet) +
                                              "\" is not valid " + kAeRule);
    }
  }

  // The address to connect to; the lookup is cancellable and bounded by the
  // time-out, and the toolkit is then given the number, so it looks up nothing.
  std::string Resolve() const {
    const Resolution found =
        ResolveHost(peer_.host, std::chrono::seconds(timeout_), [this] { return Cancelled(); });
    switch (found.outcome) {
      case Resolution::Outcome::Found: break;
      case Resolution::Outcome::Unknown: Throw(ErrorCode::UnknownHost, UnknownHostText(peer_));
      case Resolution::Outcome::Cancelled: Throw(ErrorCode::Cancelled, cancelledText_);
      case Resolution::Outcome::TimedOut: Throw(ErrorCode::Timeout, TimeoutText(peer_, timeout_));
    }
    return found.address + ":" + std::to_string(peer_.port);
  }

  // One thread for the association's life, and only where a cancel can come.
  // It looks at the cancel flag between short waits (the flag notifies no
  // one), but its stop wakes it at once: ending an association never waits
  // for the rest of a slice.
  void StartWatcher() {
    if (cancel_ == nullptr || watcher_.joinable()) return;
    watcher_ = std::jthread([this](std::stop_token stop) {
      std::unique_lock<std::mutex> lock(watchLock_);
      std::optional<SteadyClock::time_point> seen;
      while (!stop.stop_requested()) {
        if (armedGrace_ && cancel_->Requested()) {
          const auto now = SteadyClock::now();
          if (!seen) seen = now;
          const int fd = socket_.load();
          if (fd >= 0 && now - *seen >= *armedGrace_) {
            ::shutdown(fd, SHUT_RDWR);
            return;
          }
        } else {
          seen.reset();
        }
        // Nothing notifies `wake_` but the stop request itself.
        wake_.wait_for(lock, stop, std::chrono::milliseconds(kPollMilliseconds / 2), [] { return false; });
      }
    });
  }

  void StopWatcher() {
    if (!watcher_.joinable()) return;
    watcher_.request_stop();
    watcher_.join();
  }

  void Drop() {
    // Not while the watcher may be shutting it: the number may be reused.
    std::lock_guard<std::mutex> guard(watchLock_);
    if (assoc_ != nullptr) ASC_destroyAssociation(&assoc_);
    assoc_ = nullptr;
    socket_.store(-1);
  }

  Peer peer_;
  int timeout_;
  const CancelSource* cancel_;
  // The connected socket, told by the transport layer (DCMTK keeps its own
  // copy out of reach).
  std::atomic<int> socket_{-1};
  TlsSettings tls_;
  TransportProbe probe_;
  std::unique_ptr<T_ASC_Network, NetworkDeleter> network_;
  T_ASC_Association* assoc_ = nullptr;
  std::string cancelledText_;
  // The watcher's state, under watchLock_; the watcher holds the lock except
  // while it waits, so Drop and Armed never race its shutdown.
  std::mutex watchLock_;
  std::condition_variable_any wake_;
  std::optional<std::chrono::milliseconds> armedGrace_;
  std::jthread watcher_;  // last: stopped before anything it uses goes
};

const std::vector<const char*> kLittleEndian = {UID_LittleEndianExplicitTransferSyntax,
                                                UID_LittleEndianImplicitTransferSyntax};

const char* FindModel(const std::string& queryRoot) {
  // The program queries with the Study Root model; Patient Root stays
  // available for a root given as "PATIENT" (PS3.4 C.3).
  return queryRoot == "PATIENT" ? UID_FINDPatientRootQueryRetrieveInformationModel
                                : UID_FINDStudyRootQueryRetrieveInformationModel;
}

// The responses of one request (C-FIND or C-MOVE) on an open association,
// read in slices of 50 ms so that a cancel is seen while the archive is
// silent; the cancel itself goes out as C-CANCEL (PS3.7 9.3.2.3, 9.3.4.3).
class Exchange {
 public:
  Exchange(Association& association, const CancelSource& cancel, T_ASC_PresentationContextID presId,
           DIC_US messageId, std::string during)
      : association_(association), cancel_(cancel), presId_(presId), messageId_(messageId),
        during_(std::move(during)) {}

  void Send(T_DIMSE_Message& request, DcmDataset* dataset) {
    const OFCondition cond = DIMSE_sendMessageUsingMemoryData(association_.get(), presId_, &request, nullptr,
                                                              dataset, nullptr, nullptr);
    if (cond.bad()) association_.ThrowTransport(cond, during_, false);
  }

  void SendCancel() {
    if (cancelSent_) return;
    // A cancel that cannot be sent changes nothing: the grace ends in an abort.
    DIMSE_sendCancelRequest(association_.get(), presId_, messageId_);
    cancelSent_ = true;
    cancelDeadline_ = SteadyClock::now() + kCancelGrace;
  }

  bool cancelSent() const { return cancelSent_; }
  bool userCancelled() const { return userCancelled_; }

  // The next response and its data set (null when it has none). False: the
  // archive let the cancel's grace pass, or broke off after a cancel; the
  // caller aborts.
  bool Receive(T_DIMSE_Message& message, std::unique_ptr<DcmDataset>& dataset) {
    const auto deadline = SteadyClock::now() + std::chrono::seconds(association_.timeout());
    int wait = association_.timeout();
    for (;;) {
      if (!userCancelled_ && cancel_.Requested()) {
        userCancelled_ = true;
        SendCancel();
      }
      if (ASC_dataWaiting(association_.get(), 0)) break;
      const auto now = SteadyClock::now();
      if (cancelSent_ && now >= cancelDeadline_) return false;
      // DUL may hold PDVs of a PDU it has read already, which the socket no
      // longer shows: a read that does not wait (0 s) finds them before the
      // time-out is reported.
      if (!cancelSent_ && now >= deadline) {
        wait = 0;
        break;
      }
      pollfd waiting{association_.Socket(), POLLIN, 0};
      if (waiting.fd < 0) break;
      ::poll(&waiting, 1, kPollMilliseconds);
    }
    if (cancelSent_) wait = 1;
    T_ASC_PresentationContextID presId = 0;
    DcmDataset* rawDetail = nullptr;
    OFCondition cond = DIMSE_receiveCommand(association_.get(), DIMSE_NONBLOCKING, wait, &presId, &message, &rawDetail);
    delete rawDetail;
    if (cond.bad()) {
      if (cancelSent_) return false;
      association_.ThrowTransport(cond, during_, false);
    }
    dataset.reset();
    if (DataSetTypeOf(message) != DIMSE_DATASET_NULL) {
      DcmDataset* raw = nullptr;
      // The data set follows its command at once; a slice of 0 s must not end it.
      cond = DIMSE_receiveDataSetInMemory(association_.get(), DIMSE_NONBLOCKING, std::max(wait, 1), &presId, &raw, nullptr,
                                          nullptr);
      dataset.reset(raw);
      if (cond.bad()) {
        if (cancelSent_) return false;
        association_.ThrowTransport(cond, during_, false);
      }
    }
    return true;
  }

 private:
  static T_DIMSE_DataSetType DataSetTypeOf(const T_DIMSE_Message& message) {
    switch (message.CommandField) {
      case DIMSE_C_FIND_RSP: return message.msg.CFindRSP.DataSetType;
      case DIMSE_C_MOVE_RSP: return message.msg.CMoveRSP.DataSetType;
      default: return DIMSE_DATASET_NULL;
    }
  }

  Association& association_;
  const CancelSource& cancel_;
  T_ASC_PresentationContextID presId_;
  DIC_US messageId_;
  std::string during_;
  bool cancelSent_ = false;
  bool userCancelled_ = false;
  SteadyClock::time_point cancelDeadline_{};
};

[[noreturn]] void ThrowUnexpected(Association& association, const T_DIMSE_Message& message,
                                  const std::string& during) {
  association.Abort();
  Throw(ErrorCode::NetworkError, "Network error with " + Describe(association.peer()) + " during " + during +
                                     ": unexpected message (command field " +
                                     HexStatus(static_cast<std::uint16_t>(message.CommandField)) + ")");
}

}  // namespace

// ---------------------------------------------------------------- QueryClient

struct QueryClient::Impl {
  Peer peer;
  std::string callingAET;
  std::string queryRoot = "STUDY";
  int timeout = kDefaultTimeoutSeconds;
  std::size_t limit = 0;
  CancelSource cancel;
  DataSet identifier;
  TlsSettings tls;
  FindPhases phases;
};

QueryClient::QueryClient() : impl_(std::make_unique<Impl>()) {}
QueryClient::~QueryClient() = default;

void QueryClient::SetPort(std::int32_t port) { impl_->peer.port = port; }
void QueryClient::SetHost(std::string host) { impl_->peer.host = std::move(host); }
void QueryClient::SetCalledAET(std::string aet) { impl_->peer.aet = std::move(aet); }
void QueryClient::SetCallingAET(std::string aet) { impl_->callingAET = std::move(aet); }
void QueryClient::SetQueryRoot(std::string level) { impl_->queryRoot = std::move(level); }
void QueryClient::SetTimeout(int seconds) { impl_->timeout = seconds > 0 ? seconds : kDefaultTimeoutSeconds; }
void QueryClient::SetResultLimit(std::size_t limit) { impl_->limit = limit; }
void QueryClient::SetCancelFlag(const std::atomic<bool>* flag) { impl_->cancel.flag = flag; }
void QueryClient::Cancel() { impl_->cancel.own.store(true); }
void QueryClient::SetTls(const TlsSettings& tls) { impl_->tls = tls; }
DataSet& QueryClient::Identifier() { return impl_->identifier; }
const FindPhases& QueryClient::LastPhases() const { return impl_->phases; }

DataSetList QueryClient::Find(const DataSet& identifier) {
  static const std::string kDuring = "the study search";
  std::unique_ptr<DcmDataset> query = BuildDataset(identifier.Attributes());
  // Return keys the grid shows, empty, where the program set no value.
  for (const DcmTagKey& key : kReturnKeys)
    if (!query->tagExists(key)) query->insertEmptyElement(key);
  if (!query->tagExists(DCM_QueryRetrieveLevel))
    query->putAndInsertString(DCM_QueryRetrieveLevel, impl_->queryRoot.c_str());

  const char* model = FindModel(impl_->queryRoot);
  FindPhases phases;
  auto mark = SteadyClock::now();
  auto lap = [&mark](std::chrono::nanoseconds& phase) {
    const auto now = SteadyClock::now();
    phase += now - mark;
    mark = now;
  };
  Association association(impl_->peer, impl_->timeout, &impl_->cancel);
  association.UseTls(impl_->tls);
  association.Open(impl_->callingAET, {{model, kLittleEndian}}, "study search (C-FIND)", kDuring);
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
    Throw(ErrorCode::EncodingFailed, "A search result from " + Describe(impl_->peer) +
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
  if (IsFailureStatus(*finalStatus)) {
    association.Abort();
    Throw(ErrorCode::FindFailed, FailureStatusText("C-FIND", impl_->peer, *finalStatus));
  }
  association.ReleaseAfterAnswer();
  lap(phases.release);
  impl_->phases = phases;
  return DataSetList(std::move(results));
}

// ---------------------------------------------------------------- StoreClient

struct StoreClient::Impl {
  int timeout = kDefaultTimeoutSeconds;
  TlsSettings tls;
  CancelSource cancel;
  std::unique_ptr<Association> association;
};

StoreClient::StoreClient() : impl_(std::make_unique<Impl>()) {}
// Destroying the Association aborts it when Close was not called.
StoreClient::~StoreClient() = default;

void StoreClient::SetTimeout(int seconds) { impl_->timeout = seconds > 0 ? seconds : kDefaultTimeoutSeconds; }
void StoreClient::SetTls(const TlsSettings& tls) { impl_->tls = tls; }
void StoreClient::SetCancelFlag(const std::atomic<bool>* flag) { impl_->cancel.flag = flag; }
void StoreClient::Cancel() { impl_->cancel.own.store(true); }

void StoreClient::Open(const std::string& host, std::int32_t port, const std::string& callingAET,
                       const std::string& calledAET) {
  impl_->association.reset();
  auto association = std::make_unique<Association>(Peer{calledAET, host, port}, impl_->timeout, &impl_->cancel);
  association->UseTls(impl_->tls);
  association->Open(callingAET, {{kCrImageStorage, kLittleEndian}},
                    "Computed Radiography Image Storage (C-STORE)", "the forwarding (C-STORE)");
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
  OFCondition cond;
  {
    Association::Armed armed(association, kCancelGrace);
    cond = DIMSE_storeUser(association.get(), presId, &request, nullptr, dataset.get(), nullptr, nullptr,
                           DIMSE_NONBLOCKING, association.timeout(), &response, &rawDetail);
  }
  std::unique_ptr<DcmDataset, DatasetDeleter> detail(rawDetail);
  if (cond.bad()) association.ThrowTransport(cond, "a forwarding request (C-STORE)", false);
  if (IsFailureStatus(response.DimseStatus))
    Throw(ErrorCode::StoreFailed, StoreRefusedText(association.peer(), response.DimseStatus));
}

void StoreClient::Close() {
  if (!impl_->association) return;
  std::unique_ptr<Association> association = std::move(impl_->association);
  association->Release();
}

// ---------------------------------------------------------------- MoveClient

struct MoveClient::Impl {
  int timeout = kDefaultTimeoutSeconds;
  CancelSource cancel;
  TlsSettings tls;
  std::unique_ptr<Association> association;
};

MoveClient::MoveClient() : impl_(std::make_unique<Impl>()) {}
// Destroying the Association aborts it when Close was not called.
MoveClient::~MoveClient() = default;

void MoveClient::SetTimeout(int seconds) { impl_->timeout = seconds > 0 ? seconds : kDefaultTimeoutSeconds; }
void MoveClient::SetCancelFlag(const std::atomic<bool>* flag) { impl_->cancel.flag = flag; }
void MoveClient::Cancel() { impl_->cancel.own.store(true); }
void MoveClient::SetTls(const TlsSettings& tls) { impl_->tls = tls; }

void MoveClient::Open(const std::string& host, std::int32_t port, const std::string& callingAET,
                      const std::string& calledAET) {
  impl_->association.reset();
  auto association =
      std::make_unique<Association>(Peer{calledAET, host, port}, impl_->timeout, &impl_->cancel);
  association->UseTls(impl_->tls);
  association->Open(callingAET, {{UID_MOVEStudyRootQueryRetrieveInformationModel, kLittleEndian}},
                    "moving studies (Study Root C-MOVE)", "the move of a study (C-MOVE)");
  impl_->association = std::move(association);
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
