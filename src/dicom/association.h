#pragma once
// Inside the binding only (it shows DCMTK): one association to one peer, from
// the address lookup and the transport (plain TCP or TLS) through negotiation
// to release or abort, with the cancel that can end it at any point, and the
// mapping of what the toolkit reports to the error table. The DIMSE
// operations (find.cpp, store.cpp, move.cpp, echo.cpp) run on it.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dicom/archive.h"
#include "dicom/dicom.h"
#include "dicom/errors.h"
#include "dicom/resolve.h"
#include "dicom/tls_transport.h"
#include "platform/socket.h"

namespace morvanta::dicom::detail {

[[noreturn]] inline void Throw(ErrorCode code, std::string description) {
  throw Error(static_cast<std::int32_t>(code), std::move(description));
}

// PS3.5 6.2, AE: 1 to 16 characters of the default repertoire without the
// backslash and without control characters. A NUL would cut the title short
// on its way to the toolkit, so it is refused like any other.
inline bool IsValidAeTitle(std::string_view aet) {
  return !aet.empty() && aet.size() <= 16 && std::ranges::all_of(aet, [](char c) {
           return c >= 0x20 && c < 0x7F && c != '\\';
         });
}

// The title as a message can show it: control characters as <XX>.
inline std::string Shown(std::string_view aet) {
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
// The TCP connect is made in slices of this many seconds until the time-out,
// so that a cancel is seen while a host that drops our packets keeps us
// waiting (the toolkit's connect cannot be interrupted).
constexpr int kConnectSliceSeconds = 1;
// How long a release waits for its A-RELEASE-RP before the association is
// aborted: the answer the user waits for is complete by then, and an archive
// answers a release at once or not at all.
constexpr auto kReleaseWait = std::chrono::seconds(1);

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

// The connect time-out is a process-wide DCMTK setting (dcmConnectionTimeout);
// operations set it under this lock just before they connect, so concurrent
// users each connect with their own value.
inline std::mutex& ConnectLock() {
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
    network_.reset();
    // Whatever TLS left in this worker thread goes with the association; left
    // to the thread's end it could outlive the library's own clean-up at exit.
    if (tls_.enabled) ReleaseThreadTlsState();
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

    // The one place the transport is made: plain TCP or TLS, either telling
    // the watcher the socket (a cancel while the archive keeps us waiting for
    // its A-ASSOCIATE-AC shuts it, which ends the wait at once).
    ASC_setTransportLayer(network_.get(), MakeTransportLayer(tls_, peer_.host, timeout_, &socket_, &probe_).release(), 1);
    if (cancel_ != nullptr) StartWatcher();

    std::unique_ptr<T_ASC_Parameters, ParamsDeleter> params;
    const auto connectDeadline = SteadyClock::now() + std::chrono::seconds(timeout_);
    for (;;) {
      params = Parameters(callingAET, address, contexts);
      T_ASC_Association* rawAssoc = nullptr;
      {
        // The connect time-out is process-wide; every request sets the same
        // slice, just before it connects.
        std::lock_guard<std::mutex> guard(ConnectLock());
        dcmConnectionTimeout.set(std::min(timeout_, kConnectSliceSeconds));
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
      // A slice that ended before the connection was made: again, unless
      // the user cancelled or the time-out has passed.
      const bool connectTimedOut = cond.bad() && socket_.load() < 0 && cond.code() == DULC_TCPINITERROR &&
                                   IsTimeoutText(Text(cond));
      if (!connectTimedOut || Cancelled() || SteadyClock::now() >= connectDeadline) break;
      Drop();
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
  // Whether the watcher shut the socket (a cancel's grace, the release's
  // bound). A wait on it asks: on Windows a shut socket never shows as
  // readable, so only the read that follows finds it gone.
  bool Shut() const { return shut_.load(); }

  T_ASC_PresentationContextID ContextFor(const char* abstractSyntax) const {
    return ASC_findAcceptedPresentationContextID(assoc_, abstractSyntax);
  }

  // Waits kReleaseWait at most for the archive's answer: what the user
  // waits for is complete before the release, and an archive that never
  // answers it must not hold the outcome for the whole time-out.
  void Release() {
    if (assoc_ == nullptr) return;
    OFCondition cond;
    StartWatcher();
    {
      std::lock_guard<std::mutex> guard(watchLock_);
      shutAt_ = SteadyClock::now() + kReleaseWait;
    }
    {
      Armed armed(*this, kCancelGrace);
      cond = ASC_releaseAssociation(assoc_);
    }
    bool unanswered = false;
    {
      std::lock_guard<std::mutex> guard(watchLock_);
      shutAt_.reset();
      unanswered = shutDone_;
    }
    if (cond.bad()) {
      Abort();
      if (unanswered && !Cancelled())
        Throw(ErrorCode::Timeout, Describe(peer_) + " did not answer the release of the association within " +
                                      std::to_string(kReleaseWait.count()) + " s; it was aborted");
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
    if (fd >= 0) platform::ShutSocket(fd, platform::kShutRead);
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
    if (cond == DIMSE_NODATAAVAILABLE || cond == DUL_READTIMEOUT || IsTimeoutText(text))
      Throw(ErrorCode::Timeout, TimeoutText(peer_, timeout_));
    if (connecting && cond.code() == DULC_TCPINITERROR)
      Throw(ErrorCode::ConnectFailed, ConnectFailedText(peer_, Detail(text)));
    if (PeerWentAway(cond, text)) Throw(ErrorCode::PeerAborted, AbortedText(peer_, during));
    // Anything else is a protocol error: what the toolkit found wrong in
    // what the archive sent (a PDU over our maximum, a bogus length,
    // garbage). Trying again meets it again.
    Throw(ErrorCode::NetworkError,
          "Network error with " + Describe(peer_) + " during " + during + ": " + OneLine(text));
  }

  // The archive sent what the protocol does not allow; the association is
  // aborted (1009).
  [[noreturn]] void ThrowProtocolError(const std::string& during, const std::string& detail) {
    Abort();
    if (Cancelled()) Throw(ErrorCode::Cancelled, CancelledText(during));
    Throw(ErrorCode::NetworkError, "Network error with " + Describe(peer_) + " during " + during + ": " + detail);
  }

 private:
  static std::string Text(const OFCondition& cond) { return cond.text() ? cond.text() : ""; }

  static bool IsTimeoutText(const std::string& text) {
    return text.find("timed out") != std::string::npos || text.find("Timeout") != std::string::npos ||
           text.find("timeout") != std::string::npos;
  }

  // The toolkit nests the cause of a failed read in its text, a line each.
  static std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
  }

  // The archive aborted or closed the connection: an A-ABORT, the
  // connection ended or reset. DIMSE wraps what DUL met while reading a
  // PDV in DIMSE_READPDVFAILED, with DUL's text inside.
  static bool PeerWentAway(const OFCondition& cond, const std::string& text) {
    if (cond == DUL_PEERABORTEDASSOCIATION || cond == DUL_NETWORKCLOSED || cond.code() == DULC_TCPIOERROR)
      return true;
    if (cond != DIMSE_READPDVFAILED) return false;
    for (const OFConditionConst* gone : {&DUL_PEERABORTEDASSOCIATION, &DUL_NETWORKCLOSED})
      if (text.find(OFCondition(*gone).text()) != std::string::npos) return true;
    return text.find("TCP I/O Error") != std::string::npos;
  }

  std::unique_ptr<T_ASC_Parameters, ParamsDeleter> Parameters(
      const std::string& callingAET, const std::string& address,
      const std::vector<std::pair<const char*, std::vector<const char*>>>& contexts) const {
    T_ASC_Parameters* rawParams = nullptr;
    OFCondition cond = ASC_createAssociationParameters(&rawParams, ASC_DEFAULTMAXPDU);
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
    if (tls_.enabled) ASC_setTransportLayerType(params.get(), OFTrue);
    return params;
  }

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
    if (watcher_.joinable()) return;
    watcher_ = std::jthread([this](std::stop_token stop) {
      std::unique_lock<std::mutex> lock(watchLock_);
      std::optional<SteadyClock::time_point> seen;
      while (!stop.stop_requested()) {
        if (shutAt_ && SteadyClock::now() >= *shutAt_) {
          const int fd = socket_.load();
          if (fd >= 0) platform::ShutSocket(fd, platform::kShutBoth);
          shut_ = true;
          shutDone_ = true;
          return;
        }
        if (armedGrace_ && cancel_ != nullptr && cancel_->Requested()) {
          const auto now = SteadyClock::now();
          if (!seen) seen = now;
          const int fd = socket_.load();
          if (fd >= 0 && now - *seen >= *armedGrace_) {
            platform::ShutSocket(fd, platform::kShutBoth);
            shut_ = true;
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
  std::atomic<bool> shut_{false};  // by the watcher
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
  std::optional<SteadyClock::time_point> shutAt_;  // the release's bound
  bool shutDone_ = false;                          // the bound shut the socket
  std::jthread watcher_;  // last: stopped before anything it uses goes
};

inline const std::vector<const char*> kLittleEndian = {UID_LittleEndianExplicitTransferSyntax,
                                                UID_LittleEndianImplicitTransferSyntax};

// The set-up of the clients that hold an association across requests
// (StoreClient, MoveClient): a new association to the archive with its
// time-out and TLS, watched by the client's cancel, negotiated for
// `contexts`. Throws Error.
inline std::unique_ptr<Association> OpenAssociation(
    const ArchiveAddress& archive, const CancelSource& cancel,
    const std::vector<std::pair<const char*, std::vector<const char*>>>& contexts, const std::string& what,
    const std::string& during) {
  auto association = std::make_unique<Association>(archive.peer(), archive.EffectiveTimeout(), &cancel);
  association->UseTls(archive.tls);
  association->Open(archive.callingAET, contexts, what, during);
  return association;
}

}  // namespace morvanta::dicom::detail
