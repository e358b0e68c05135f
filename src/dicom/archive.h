#pragma once
// Where the archive is and how to talk to it: the one parameters object that
// travels from the settings to the association. Every operation (search,
// Send, C-MOVE, the connection test) takes a copy before its worker starts,
// and the toolkit clients keep theirs in one; the clients' setters set its
// fields. A plain value; nothing here is shared between threads.

#include <cstdint>
#include <string>
#include <utility>

#include "dicom/errors.h"
#include "dicom/timeout.h"
#include "dicom/tls.h"

namespace morvanta::dicom {

struct ArchiveAddress {
  std::string host;        // [Query] IP
  std::int32_t port = 0;   // [Query] Port
  std::string calledAET;   // [Query] AET
  std::string callingAET;  // [Local] AET
  int timeoutSeconds = kDefaultTimeoutSeconds;
  TlsSettings tls{};       // [TLS]

  // The archive as the error texts name it: "AE at host:port".
  Peer peer() const { return Peer{calledAET, host, port}; }
  // The time-out an association uses: the default where none (or a
  // nonsensical one) was given.
  int EffectiveTimeout() const { return timeoutSeconds > 0 ? timeoutSeconds : kDefaultTimeoutSeconds; }

  // These parameters for another endpoint: the time-out and TLS stay, as
  // the clients' four-argument Open has them.
  ArchiveAddress At(std::string hostName, std::int32_t tcpPort, std::string calling, std::string called) const {
    ArchiveAddress other = *this;
    other.host = std::move(hostName);
    other.port = tcpPort;
    other.callingAET = std::move(calling);
    other.calledAET = std::move(called);
    return other;
  }
};

}  // namespace morvanta::dicom
