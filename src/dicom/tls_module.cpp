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
#include <sys/socket.h>
#include <sys/time.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmtls/tlscond.h>
#include <dcmtk/dcmtls/tlslayer.h>
#include <dcmtk/dcmtls/tlstrans.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>

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

class TlsLayer : public DcmTLSTransportLayer {
 public:
  TlsLayer(std::atomic<int>* socket, TransportProbe* probe, int timeoutSeconds, bool certificate)
      : DcmTLSTransportLayer(NET_REQUESTOR, nullptr, OFTrue), socket_(socket), probe_(probe),
        timeout_(timeoutSeconds), certificate_(certificate) {}

  DcmTransportConnection* createConnection(DcmNativeSocketType socket, OFBool secure) override {
    socket_->store(static_cast<int>(socket));
    probe_->tls = secure;
    if (!secure) return new ProbedTcpConnection(socket, probe_);
    SSL* ssl = SSL_new(getNativeHandle());
    if (ssl == nullptr) return nullptr;
    SSL_set_fd(ssl, static_cast<int>(socket));
    return new ProbedTlsConnection(socket, ssl, probe_, timeout_, certificate_);
  }

 private:
  std::atomic<int>* socket_;
  TransportProbe* probe_;
  int timeout_;
  bool certificate_;
};

// Empty when the file can be opened for reading; otherwise why not.
std::string Unreadable(const std::string& file) {
  if (file.empty()) return "no file given";
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) return std::strerror(errno);
  std::fclose(f);
  return {};
}

std::string ConditionText(const OFCondition& cond) { return cond.text() != nullptr ? cond.text() : ""; }

// "error:0A080009:SSL routines::PEM lib" -> "PEM lib"
std::string OpenSslReason(const OFCondition& cond) {
  std::string text = ConditionText(cond);
  const auto colon = text.rfind(':');
  if (colon != std::string::npos) text = text.substr(colon + 1);
  return text.empty() ? "not in PEM form" : text;
}

// OpenSSL's reason for the last failure on this thread; clears the queue.
std::string TakeReason() {
  const char* text = ERR_reason_error_string(ERR_peek_last_error());
  ERR_clear_error();
  return text != nullptr ? text : "not in PEM form";
}

void CheckReadable(const char* key, const std::string& file) {
  const std::string why = Unreadable(file);
  if (!why.empty()) Throw(ErrorCode::TlsSetupFailed, TlsFileText(key, file, why));
}

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

std::unique_ptr<DcmTransportLayer> MakeTlsLayer(const TlsSettings& tls, int timeoutSeconds,
                                                std::atomic<int>* socket, TransportProbe* probe) {
  // The files first, in the order a site sets them up, each named when it
  // fails: OpenSSL's own messages say little more than "system lib".
  if (tls.caCertificates.empty())
    Throw(ErrorCode::TlsSetupFailed,
          TlsFileText("CACertificates", "", "TLS is on and no file is set; the archive's certificate cannot be "
                                            "checked without one"));
  CheckReadable("CACertificates", tls.caCertificates);
  const bool hasCertificate = !tls.certificate.empty();
  if (hasCertificate != !tls.privateKey.empty())
    Throw(ErrorCode::TlsSetupFailed, TlsHalfIdentityText(hasCertificate ? "PrivateKey" : "Certificate"));
  if (hasCertificate) {
    CheckReadable("Certificate", tls.certificate);
    CheckReadable("PrivateKey", tls.privateKey);
  }

  IgnoreBrokenPipes();
  auto layer = std::make_unique<TlsLayer>(socket, probe, timeoutSeconds, hasCertificate);
  if (!*layer) Throw(ErrorCode::TlsSetupFailed, "TLS could not be set up (OpenSSL did not start).");
  OFCondition cond = layer->setTLSProfile(TSP_Profile_BCP195_ND);
  if (cond.good()) cond = layer->activateCipherSuites();
  if (cond.bad()) Throw(ErrorCode::TlsSetupFailed, "TLS could not be set up: " + ConditionText(cond));
  cond = layer->addTrustedCertificateFile(tls.caCertificates.c_str(), DCF_Filetype_PEM);
  if (cond.bad())
    Throw(ErrorCode::TlsSetupFailed,
          TlsFileText("CACertificates", tls.caCertificates, "no certificate in PEM form: " + OpenSslReason(cond)));
  if (hasCertificate) {
    // Straight into OpenSSL: DCMTK's setCertificateFile keeps a reference to
    // the certificate's key on every call (3.6.7), which a long-running
    // station would pile up.
    ERR_clear_error();
    if (SSL_CTX_use_certificate_chain_file(layer->getNativeHandle(), tls.certificate.c_str()) <= 0)
      Throw(ErrorCode::TlsSetupFailed,
            TlsFileText("Certificate", tls.certificate, "no certificate in PEM form: " + TakeReason()));
    if (SSL_CTX_use_PrivateKey_file(layer->getNativeHandle(), tls.privateKey.c_str(), SSL_FILETYPE_PEM) <= 0) {
      const unsigned long error = ERR_peek_last_error();
      const std::string reason = TakeReason();
      if (ERR_GET_REASON(error) == X509_R_KEY_VALUES_MISMATCH)
        Throw(ErrorCode::TlsSetupFailed, TlsKeyMismatchText(tls.certificate, tls.privateKey));
      Throw(ErrorCode::TlsSetupFailed,
            TlsFileText("PrivateKey", tls.privateKey, "no unencrypted private key in PEM form: " + reason));
    }
    if (!layer->checkPrivateKeyMatchesCertificate()) {
      ERR_clear_error();
      Throw(ErrorCode::TlsSetupFailed, TlsKeyMismatchText(tls.certificate, tls.privateKey));
    }
  }
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

std::optional<TransportFailure> CertificateFailure(const TransportProbe& probe, const TlsSettings& tls,
                                                   const Peer& peer) {
  const std::string checkArchive = "have the archive's certificate renewed, or check this computer's clock";
  switch (probe.verifyResult) {
    case X509_V_OK: return std::nullopt;
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
    if (ClientCertificateAlert(probe.sslReason) ||
        (probe.sslReason == SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE && !probe.certificateSent))
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

DcmTransportLayer* MakeLayerEntry(const TlsSettings& tls, int timeoutSeconds, std::atomic<int>* socket,
                                  TransportProbe* probe, TransportFailure* failure) {
  try {
    return MakeTlsLayer(tls, timeoutSeconds, socket, probe).release();
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

}  // namespace

}  // namespace morvanta::dicom

// The module's one exported symbol.
extern "C" __attribute__((visibility("default"))) const morvanta::dicom::TlsModuleTable* morvanta_tls_module() {
  using namespace morvanta::dicom;
  static const TlsModuleTable table{kTlsModuleInterface, sizeof(TlsSettings), sizeof(TransportProbe),
                                    sizeof(TransportFailure), sizeof(Peer), &MakeLayerEntry, &ExplainEntry,
                                    &ReleaseThreadStateEntry};
  return &table;
}
