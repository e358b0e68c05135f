#pragma once
// A byte stream over TLS to a peer that is not an archive (the audit record
// repository): the station's [TLS] files and profile, the peer's certificate
// checked for the host it was reached by. The TLS module is loaded as for an
// association (tls_module.h), so a station that never uses TLS never maps
// OpenSSL.

#include <memory>
#include <string>

#include "dicom/tls.h"

namespace morvanta::dicom {

class TlsStream {
 public:
  // Takes over the connected socket `fd` (closed on failure as well) and
  // makes the handshake within `timeoutSeconds`; the peer's certificate must
  // name `host` (RFC 6125; `tls.serverName` is not used). Throws Error 1015
  // when the station's files or the module cannot be used, 1017 with the
  // reason when the handshake fails.
  static std::unique_ptr<TlsStream> Open(const TlsSettings& tls, const std::string& host, int fd,
                                         int timeoutSeconds);
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // All of `data`, or false (the stream is then of no further use).
  bool Write(const std::string& data);

 private:
  explicit TlsStream(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace morvanta::dicom
