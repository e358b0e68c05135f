// The TLS module (morvanta-tls.so): the TLS transport after the BCP 195
// non-downgrading profile (PS3.15 B.9) on DCMTK's dcmtls and OpenSSL, loaded
// by the program only when an association is made with TLS on
// (tls_module.h). Its connections record what they saw in a TransportProbe,
// because DUL reports a failed handshake as one opaque condition; the probe
// lets the error say which it was.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmtls/tlscond.h>
#include <dcmtk/dcmtls/tlslayer.h>
#include <dcmtk/dcmtls/tlstrans.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "dicom/tls_files.h"
#include "dicom/tls_module.h"

namespace morvanta::dicom {

namespace {

// Failures of the set-up travel inside the module as the plain value the
// program turns into its Error; no exception crosses into the program.
[[noreturn]] void Throw(ErrorCode code, std::string description) {
  throw TransportFailure{code, std::move(description)};
}

// Takes OpenSSL's oldest error off this thread's queue (and clears the
// rest, so that no stale error misleads the next connection on the thread).
void TakeSslError(TransportProbe& probe) {
  const unsigned long error = ERR_peek_error();
  if (error != 0 && probe.sslReason == 0) {
    probe.sslReason = ERR_GET_REASON(error);
    const char* text = ERR_reason_error_string(error);
    probe.sslText = text != nullptr ? text : "";
  }
  ERR_clear_error();
}

// The TLS connection, with a handshake bounded by the association's
// time-out: OpenSSL's SSL_connect blocks on the socket, and an archive that
// takes the TCP connection but never answers the ClientHello would otherwise
// hold it for the system's socket time-out.
class ProbedTlsConnection : public DcmTLSConnection {
 public:
  ProbedTlsConnection(DcmNativeSocketType socket, SSL* ssl, TransportProbe* probe, int timeoutSeconds,
                      bool certificateSent)
      : DcmTLSConnection(socket, ssl), ssl_(ssl), probe_(probe), timeout_(timeoutSeconds) {
    probe_->certificateSent = certificateSent;
  }

  OFCondition clientSideHandshake() override {
    probe_->handshakeStarted = true;
    const int fd = static_cast<int>(getSocket());
    timeval previousRead{};
    timeval previousWrite{};
    socklen_t length = sizeof previousRead;
    getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &previousRead, &length);
    length = sizeof previousWrite;
    getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &previousWrite, &length);
    const timeval bound{timeout_, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);

    ERR_clear_error();
    errno = 0;
    const int rc = SSL_connect(ssl_);
    const int error = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, rc);
    const int systemError = errno;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &previousRead, sizeof previousRead);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &previousWrite, sizeof previousWrite);

    if (error == SSL_ERROR_NONE) {
      probe_->handshakeDone = true;
      return EC_Normal;
    }
    probe_->verifyResult = SSL_get_verify_result(ssl_);
    TakeSslError(*probe_);
    if (error == SSL_ERROR_SYSCALL && (systemError == EAGAIN || systemError == EWOULDBLOCK))
      probe_->handshakeTimedOut = true;
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) probe_->handshakeTimedOut = true;
    return DCMTLS_EC_OtherSSLError;
  }

  // After a TLS 1.3 handshake the archive checks this station's certificate
  // and says what it thinks of it in an alert, which arrives with the first
  // read.
  ssize_t read(void* buf, size_t nbyte) override {
    ERR_clear_error();
    const ssize_t got = DcmTLSConnection::read(buf, nbyte);
    if (got > 0) {
      probe_->bytesReceived = true;
    } else {
      NoteClosed(*probe_, got);
      TakeSslError(*probe_);
    }
    return got;
  }

  ssize_t write(void* buf, size_t nbyte) override {
    ERR_clear_error();
    const ssize_t put = DcmTLSConnection::write(buf, nbyte);
    if (put <= 0) {
      NoteClosed(*probe_, put);
      TakeSslError(*probe_);
    }
    return put;
  }

 private:
  SSL* ssl_;  // owned by DcmTLSConnection
  TransportProbe* probe_;
  int timeout_;
};

// Where a connection's SSL keeps its probe, for the callbacks.
int ProbeIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

TransportProbe* ProbeOf(const SSL* ssl) { return static_cast<TransportProbe*>(SSL_get_ex_data(ssl, ProbeIndex())); }

// What a certificate names: its DNS and IP subjectAltNames, or its common
// name where it has none (the only names OpenSSL then checks). The first
// few: a certificate may carry hundreds, and the message is one line.
std::string NamesOf(X509* certificate) {
  constexpr int kShown = 6;
  std::string names;
  int count = 0;
  const auto add = [&](const std::string& name) {
    if (++count <= kShown) names += (names.empty() ? "" : ", ") + name;
    if (count == kShown + 1) names += ", ...";
  };
  auto* alternatives =
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; i < sk_GENERAL_NAME_num(alternatives); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives, i);
    if (name->type == GEN_DNS) {
      const ASN1_STRING* text = name->d.dNSName;
      add(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                      static_cast<std::size_t>(ASN1_STRING_length(text))));
    } else if (name->type == GEN_IPADD) {
      const ASN1_OCTET_STRING* bytes = name->d.iPAddress;
      char text[INET6_ADDRSTRLEN] = "";
      const int length = ASN1_STRING_length(bytes);
      if ((length == 4 || length == 16) &&
          inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(bytes), text, sizeof text) != nullptr)
        add(text);
    }
  }
  GENERAL_NAMES_free(alternatives);
  if (names.empty()) {
    char common[256] = "";
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, common, sizeof common) > 0)
      names = common;
  }
  return names.empty() ? "no name at all" : names;
}

// OpenSSL's verdict on the archive's chain stands; this notes what the
// certificate names when the name was what failed, for the message.
int NoteVerification(int ok, X509_STORE_CTX* store) {
  if (ok != 0) return ok;
  const int error = X509_STORE_CTX_get_error(store);
  if (error != X509_V_ERR_HOSTNAME_MISMATCH && error != X509_V_ERR_IP_ADDRESS_MISMATCH) return ok;
  const auto* ssl = static_cast<const SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  TransportProbe* probe = ssl != nullptr ? ProbeOf(ssl) : nullptr;
  if (probe != nullptr && probe->certificateNames.empty()) probe->certificateNames = NamesOf(X509_STORE_CTX_get0_cert(store));
  return ok;
}

// How far the archive went with the handshake: an archive that refuses the
// ClientHello (no version or cipher in common) has sent no ServerHello; one
// that wants this station's certificate has sent a CertificateRequest.
void NoteMessage(int written, int /*version*/, int contentType, const void* buffer, size_t length, SSL* ssl,
                 void* /*arg*/) {
  if (written != 0 || contentType != SSL3_RT_HANDSHAKE || length == 0) return;
  TransportProbe* probe = ProbeOf(ssl);
  if (probe == nullptr) return;
  const int type = *static_cast<const unsigned char*>(buffer);
  if (type == SSL3_MT_SERVER_HELLO) probe->serverHello = true;
  if (type == SSL3_MT_CERTIFICATE_REQUEST) probe->certificateRequested = true;
}

bool IsAddress(const std::string& text) {
  unsigned char bytes[sizeof(in6_addr)];
  return inet_pton(AF_INET, text.c_str(), bytes) == 1 || inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

class TlsLayer : public DcmTLSTransportLayer {
 public:
  TlsLayer(std::atomic<int>* socket, TransportProbe* probe, int timeoutSeconds, bool certificate)
      : DcmTLSTransportLayer(NET_REQUESTOR, nullptr, OFTrue), socket_(socket), probe_(probe),
        timeout_(timeoutSeconds), certificate_(certificate) {}

  // The name sent in the ClientHello (SNI), for an archive that serves
  // several; never an address (RFC 6066 3).
  void SetServerName(std::string name) { serverName_ = std::move(name); }

  DcmTransportConnection* createConnection(DcmNativeSocketType socket, OFBool secure) override {
    socket_->store(static_cast<int>(socket));
    probe_->tls = secure;
    if (!secure) return new ProbedTcpConnection(socket, probe_);
    SSL* ssl = SSL_new(getNativeHandle());
    if (ssl == nullptr) return nullptr;
    SSL_set_fd(ssl, static_cast<int>(socket));
    SSL_set_ex_data(ssl, ProbeIndex(), probe_);
    SSL_set_msg_callback(ssl, NoteMessage);
    SSL_set_verify(ssl, SSL_get_verify_mode(ssl), NoteVerification);
    if (!serverName_.empty()) SSL_set_tlsext_host_name(ssl, serverName_.c_str());
    return new ProbedTlsConnection(socket, ssl, probe_, timeout_, certificate_);
  }

 private:
  std::atomic<int>* socket_;
  TransportProbe* probe_;
  int timeout_;
  bool certificate_;
  std::string serverName_;
};

std::string ConditionText(const OFCondition& cond) { return cond.text() != nullptr ? cond.text() : ""; }

// A TLS connection still shuts down cleanly when the archive has gone:
// OpenSSL writes to the socket, and a write to a closed socket must be an
// error, not the end of the program.
void IgnoreBrokenPipes() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigaction(SIGPIPE, &ignore, nullptr);
    }
  });
}

// The archive must prove to be `identity` (RFC 6125): an address is
// matched against the certificate's IP subjectAltNames, a name against its
// DNS ones (its common name only where it has none), inside the handshake,
// so that no DICOM reaches an archive that is not the one meant.
void ExpectIdentity(TlsLayer& layer, const std::string& identity) {
  X509_VERIFY_PARAM* param = SSL_CTX_get0_param(layer.getNativeHandle());
  bool set = false;
  if (IsAddress(identity)) {
    set = X509_VERIFY_PARAM_set1_ip_asc(param, identity.c_str()) == 1;
  } else {
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    set = X509_VERIFY_PARAM_set1_host(param, identity.c_str(), identity.size()) == 1;
    layer.SetServerName(identity);
  }
  ERR_clear_error();
  if (!set)
    Throw(ErrorCode::TlsSetupFailed, "\"" + identity + "\" is no host name or address the archive's TLS "
                                     "certificate could be checked for: check [TLS] ServerName and [Query] IP.");
}

std::unique_ptr<DcmTransportLayer> MakeTlsLayer(const TlsSettings& tls, const std::string& host, int timeoutSeconds,
                                                std::atomic<int>* socket, TransportProbe* probe) {
  // The files in the order a site sets them up, each named when it fails:
  // OpenSSL's own messages say little more than "system lib".
  if (tls.caCertificates.empty())
    Throw(ErrorCode::TlsSetupFailed,
          TlsFileText("CACertificates", "", "TLS is on and no file is set; the archive's certificate cannot be "
                                            "checked without one"));
  const bool hasCertificate = !tls.certificate.empty();
  if (hasCertificate != !tls.privateKey.empty())
    Throw(ErrorCode::TlsSetupFailed, TlsHalfIdentityText(hasCertificate ? "PrivateKey" : "Certificate"));
  const std::string identity = TlsIdentity(tls, host);
  if (identity.empty())
    Throw(ErrorCode::TlsSetupFailed, "TLS is on and there is no archive name to check its certificate for: "
                                     "set [Query] IP.");

  IgnoreBrokenPipes();
  auto layer = std::make_unique<TlsLayer>(socket, probe, timeoutSeconds, hasCertificate);
  if (!*layer) Throw(ErrorCode::TlsSetupFailed, "TLS could not be set up (OpenSSL did not start).");
  SSL_CTX* ctx = layer->getNativeHandle();
  // Nothing here ever asks on a terminal: the program has none the user sees.
  SSL_CTX_set_default_passwd_cb(ctx, [](char*, int, int, void*) { return -1; });
  OFCondition cond = layer->setTLSProfile(TSP_Profile_BCP195_ND);
  if (cond.good()) cond = layer->activateCipherSuites();
  if (cond.bad()) Throw(ErrorCode::TlsSetupFailed, "TLS could not be set up: " + ConditionText(cond));
  LoadTrustedAuthorities(ctx, tls.caCertificates);
  if (!tls.crl.empty()) LoadRevocationLists(ctx, tls.crl);
  if (hasCertificate) LoadStationIdentity(ctx, tls.certificate, tls.privateKey);
  ExpectIdentity(*layer, identity);
  // The archive's certificate is always verified: no certificate, no association.
  layer->setCertificateVerification(DCV_requireCertificate);
  ERR_clear_error();
  return layer;
}

// The reasons OpenSSL gives when the other end does not speak TLS at all.
bool NotTls(int reason) {
  return reason == SSL_R_WRONG_VERSION_NUMBER || reason == SSL_R_UNKNOWN_PROTOCOL ||
         reason == SSL_R_PACKET_LENGTH_TOO_LONG || reason == SSL_R_HTTP_REQUEST ||
         reason == SSL_R_RECORD_LENGTH_MISMATCH || reason == SSL_R_UNEXPECTED_EOF_WHILE_READING ||
         reason == SSL_R_BAD_PACKET_LENGTH || reason == SSL_R_UNEXPECTED_RECORD || reason == 0;
}

// The archive's alerts about this station's certificate (RFC 8446 6.2).
bool ClientCertificateAlert(int reason) {
  return reason == SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED || reason == SSL_R_SSLV3_ALERT_BAD_CERTIFICATE ||
         reason == SSL_R_TLSV1_ALERT_UNKNOWN_CA || reason == SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN ||
         reason == SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED || reason == SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED ||
         reason == SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE || reason == SSL_R_TLSV1_ALERT_ACCESS_DENIED ||
         reason == SSL_R_TLSV1_ALERT_DECRYPT_ERROR;
}

// The archive refused what this station offered: no TLS version, cipher or
// key exchange in common (the alert, or OpenSSL's own finding).
bool NoCommonGround(int reason) {
  return reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION || reason == SSL_R_UNSUPPORTED_PROTOCOL ||
         reason == SSL_R_NO_PROTOCOLS_AVAILABLE || reason == SSL_R_WRONG_CIPHER_RETURNED ||
         reason == SSL_R_NO_CIPHERS_AVAILABLE || reason == SSL_R_TLSV1_ALERT_INSUFFICIENT_SECURITY ||
         reason == SSL_R_VERSION_TOO_LOW || reason == SSL_R_WRONG_CURVE || reason == SSL_R_NO_SUITABLE_KEY_SHARE;
}

TransportFailure Rejected(const Peer& peer, const std::string& why, const std::string& remedy) {
  return {ErrorCode::TlsCertificateRejected, TlsCertificateText(peer, why, remedy)};
}

std::optional<TransportFailure> CertificateFailure(const TransportProbe& probe, const TlsSettings& tls,
                                                   const Peer& peer) {
  const std::string checkArchive = "have the archive's certificate renewed, or check this computer's clock";
  const std::string impostor = "another machine may be answering for the archive";
  switch (probe.verifyResult) {
    case X509_V_OK: return std::nullopt;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return Rejected(peer, "names " + probe.certificateNames + ", not " + TlsIdentity(tls, peer.host),
                      tls.serverName.empty()
                          ? impostor + "; if it is the archive, set [TLS] ServerName to a name its certificate gives"
                          : impostor + ", or [TLS] ServerName is not the name its certificate gives");
    case X509_V_ERR_CERT_REVOKED:
      return Rejected(peer, "has been revoked (the list in \"" + tls.crl + "\" says so)",
                      impostor + ", or the archive needs a new certificate");
    case X509_V_ERR_CRL_HAS_EXPIRED:
      return Rejected(peer, "cannot be checked: the revocation list in \"" + tls.crl + "\" is out of date",
                      "put a current one from the certificate authority in [TLS] CRL");
    case X509_V_ERR_CRL_NOT_YET_VALID:
      return Rejected(peer, "cannot be checked: the revocation list in \"" + tls.crl + "\" is not yet valid",
                      "check this computer's clock and [TLS] CRL");
    case X509_V_ERR_UNABLE_TO_GET_CRL:
      return Rejected(peer,
                      "cannot be checked: \"" + tls.crl +
                          "\" holds no revocation list of an authority that signed its chain",
                      "add each authority's list to [TLS] CRL");
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return TransportFailure{ErrorCode::TlsCertificateRejected,
                              TlsCertificateText(peer, "has expired", checkArchive)};
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return TransportFailure{ErrorCode::TlsCertificateRejected,
                              TlsCertificateText(peer, "is not yet valid", checkArchive)};
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
      return TransportFailure{
          ErrorCode::TlsCertificateRejected,
          TlsCertificateText(peer, "is not signed by a certificate authority in \"" + tls.caCertificates + "\"",
                             "put the certificate of the authority that signed it in [TLS] CACertificates")};
    default:
      return TransportFailure{
          ErrorCode::TlsCertificateRejected,
          TlsCertificateText(peer, std::string("was refused (") + X509_verify_cert_error_string(probe.verifyResult) +
                                       ")",
                             "check the archive's certificate and [TLS] CACertificates")};
  }
}

// After a failed association request over TLS: the TLS reason in words.
std::optional<TransportFailure> ExplainTlsFailure(const TransportProbe& probe, const TlsSettings& tls,
                                                  const Peer& peer, int timeoutSeconds) {
  if (!probe.handshakeStarted) return std::nullopt;
  if (probe.handshakeTimedOut)
    return TransportFailure{ErrorCode::Timeout, TimeoutText(peer, timeoutSeconds)};
  if (!probe.handshakeDone) {
    if (auto failure = CertificateFailure(probe, tls, peer)) return failure;
    // A handshake failure before any ServerHello is the archive refusing
    // the ClientHello: it wants nothing of this station's certificate yet.
    if (NoCommonGround(probe.sslReason) ||
        (probe.sslReason == SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE && !probe.serverHello))
      return TransportFailure{ErrorCode::TlsHandshakeFailed, TlsNegotiationText(peer, probe.sslText)};
    if (ClientCertificateAlert(probe.sslReason) ||
        (probe.sslReason == SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE && probe.certificateRequested &&
         !probe.certificateSent))
      return TransportFailure{ErrorCode::TlsHandshakeFailed, TlsClientCertificateText(peer, probe.certificateSent)};
    if (NotTls(probe.sslReason))
      return TransportFailure{ErrorCode::TlsHandshakeFailed, TlsPortMismatchText(peer, true)};
    return TransportFailure{ErrorCode::TlsHandshakeFailed, TlsHandshakeText(peer, probe.sslText)};
  }
  // Handshake done: a TLS 1.3 archive tells what it thinks of this
  // station's certificate only now.
  // The alert often does not arrive: the archive closes with our
  // A-ASSOCIATE-RQ unread, and the reset drops the alert on its way. An
  // archive that hangs up on a completed handshake without one byte of DICOM
  // (not even a rejection) has refused this station's certificate, or the
  // lack of one: nothing else is decided at that point.
  if (ClientCertificateAlert(probe.sslReason) || (!probe.bytesReceived && probe.closedByPeer))
    return TransportFailure{ErrorCode::TlsHandshakeFailed, TlsClientCertificateText(peer, probe.certificateSent)};
  return std::nullopt;
}

DcmTransportLayer* MakeLayerEntry(const TlsSettings& tls, const std::string& host, int timeoutSeconds,
                                  std::atomic<int>* socket, TransportProbe* probe, TransportFailure* failure) {
  try {
    return MakeTlsLayer(tls, host, timeoutSeconds, socket, probe).release();
  } catch (TransportFailure& thrown) {
    *failure = std::move(thrown);
    return nullptr;
  }
}

bool ExplainEntry(const TransportProbe& probe, const TlsSettings& tls, const Peer& peer, int timeoutSeconds,
                  TransportFailure* out) {
  auto failure = ExplainTlsFailure(probe, tls, peer, timeoutSeconds);
  if (!failure) return false;
  *out = std::move(*failure);
  return true;
}

void ReleaseThreadStateEntry() { OPENSSL_thread_stop(); }

// A plain byte stream over TLS (the audit trail's RFC 5425 transport): the
// association's layer and connection, without DICOM on top.
struct Stream {
  std::atomic<int> socket{-1};
  TransportProbe probe;
  std::unique_ptr<DcmTransportLayer> layer;
  std::unique_ptr<DcmTransportConnection> connection;
};

// Why a stream's handshake failed, in words that fit any peer.
std::string StreamFailureText(const TransportProbe& probe, int timeoutSeconds) {
  if (probe.handshakeTimedOut) return "no TLS handshake within " + std::to_string(timeoutSeconds) + " s";
  if (probe.verifyResult != X509_V_OK)
    return std::string("its certificate was refused (") + X509_verify_cert_error_string(probe.verifyResult) +
           (probe.certificateNames.empty() ? "" : "; it names " + probe.certificateNames) + ")";
  return "the TLS handshake failed (" + (probe.sslText.empty() ? std::string("no reason given") : probe.sslText) +
         ")";
}

void* OpenStreamEntry(const TlsSettings& tls, const std::string& host, int fd, int timeoutSeconds,
                      TransportFailure* failure) {
  auto stream = std::make_unique<Stream>();
  try {
    stream->layer = MakeTlsLayer(tls, host, timeoutSeconds, &stream->socket, &stream->probe);
  } catch (TransportFailure& thrown) {
    ::close(fd);
    *failure = std::move(thrown);
    return nullptr;
  }
  stream->connection.reset(stream->layer->createConnection(fd, OFTrue));
  if (!stream->connection) {
    ::close(fd);
    *failure = {ErrorCode::TlsSetupFailed, "TLS could not be set up (OpenSSL did not start)."};
    return nullptr;
  }
  if (stream->connection->clientSideHandshake().bad()) {
    *failure = {ErrorCode::TlsHandshakeFailed, StreamFailureText(stream->probe, timeoutSeconds)};
    stream->connection->close();
    return nullptr;
  }
  return stream.release();
}

bool WriteStreamEntry(void* opaque, const char* data, std::size_t size) {
  auto* stream = static_cast<Stream*>(opaque);
  while (size > 0) {
    const ssize_t put = stream->connection->write(const_cast<char*>(data), size);
    if (put <= 0) return false;
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

void CloseStreamEntry(void* opaque) {
  std::unique_ptr<Stream> stream(static_cast<Stream*>(opaque));
  stream->connection->close();
}

}  // namespace

}  // namespace morvanta::dicom

// The module's one exported symbol.
extern "C" __attribute__((visibility("default"))) const morvanta::dicom::TlsModuleTable* morvanta_tls_module() {
  using namespace morvanta::dicom;
  static const TlsModuleTable table{kTlsModuleInterface, sizeof(TlsSettings), sizeof(TransportProbe),
                                    sizeof(TransportFailure), sizeof(Peer), &MakeLayerEntry, &ExplainEntry,
                                    &ReleaseThreadStateEntry, &OpenStreamEntry, &WriteStreamEntry,
                                    &CloseStreamEntry};
  return &table;
}
