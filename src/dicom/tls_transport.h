#pragma once
// Inside the binding only: the transport layer an association connects with,
// plain or TLS, and what its connection saw, so that a failed association
// request can be told in words (a certificate that failed, a TLS port spoken
// to in plain DICOM, ...).

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/dcmlayer.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/ofstd/ofcond.h>

#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "dicom/errors.h"
#include "dicom/tls.h"

namespace morvanta::dicom {

// Written by the connection on the thread that makes the association; read
// there after the request has failed.
struct TransportProbe {
  bool tls = false;
  bool handshakeStarted = false;
  bool handshakeDone = false;
  bool handshakeTimedOut = false;
  long verifyResult = 0;         // X509_V_OK, or why the archive's certificate failed
  int sslReason = 0;             // OpenSSL's reason of the first error, 0 for none
  std::string sslText;           // its text
  bool bytesReceived = false;    // anything at all came from the archive
  bool closedByPeer = false;     // a read or write found the connection ended or reset
  unsigned char firstByte = 0;   // the first byte that came (plain connections)
  bool certificateSent = false;  // this station presented a certificate
  bool serverHello = false;      // the archive answered the ClientHello
  bool certificateRequested = false;  // the archive asked for this station's certificate
  std::string certificateNames;  // what the archive's certificate names, when that was the failure
};

// The layer for one association: plain TCP, or TLS as `tls` says, with the
// archive's certificate checked for TlsIdentity(tls, host). Either
// tells `socket` the connected socket at once (so a cancel can shut it) and
// records into `probe`. A TLS layer whose files cannot be used throws Error
// 1015 (ErrorCode::TlsSetupFailed) naming the file; so does TLS on when the
// TLS module cannot be loaded (tls_module.h).
std::unique_ptr<DcmTransportLayer> MakeTransportLayer(const TlsSettings& tls, const std::string& host,
                                                      int timeoutSeconds, std::atomic<int>* socket,
                                                      TransportProbe* probe);

// Frees the calling thread's TLS library state (its error queue and random
// generators); the next TLS use in the thread makes it again. Nothing to do
// where TLS was never loaded.
void ReleaseThreadTlsState();

struct TransportFailure {
  ErrorCode code;
  std::string text;
};
// After a failed association request: the TLS reason in words when the
// probe shows one (the certificate, the client certificate, a plain/TLS
// mix-up, a handshake that timed out); nothing when the failure is not about
// TLS.
std::optional<TransportFailure> ExplainTransportFailure(const TransportProbe& probe, const TlsSettings& tls,
                                                        const Peer& peer, int timeoutSeconds);

// A read or write that found the connection gone: ended (0) or reset.
inline void NoteClosed(TransportProbe& probe, ssize_t result) {
  if (result == 0 || (result < 0 && (errno == ECONNRESET || errno == EPIPE))) probe.closedByPeer = true;
}

// Plain DICOM: DCMTK's own connection, noting the first byte the archive sent
// (a TLS port answers a plain A-ASSOCIATE-RQ with a TLS alert record).
class ProbedTcpConnection : public DcmTCPConnection {
 public:
  ProbedTcpConnection(DcmNativeSocketType socket, TransportProbe* probe)
      : DcmTCPConnection(socket), probe_(probe) {}
  ssize_t read(void* buf, size_t nbyte) override {
    const ssize_t got = DcmTCPConnection::read(buf, nbyte);
    if (got > 0 && !probe_->bytesReceived) {
      probe_->bytesReceived = true;
      probe_->firstByte = *static_cast<unsigned char*>(buf);
    }
    NoteClosed(*probe_, got);
    return got;
  }
  ssize_t write(void* buf, size_t nbyte) override {
    const ssize_t put = DcmTCPConnection::write(buf, nbyte);
    NoteClosed(*probe_, put);
    return put;
  }

 private:
  TransportProbe* probe_;
};

}  // namespace morvanta::dicom
