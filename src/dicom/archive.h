#pragma once
// Where the archive is and how to talk to it: what every operation (search,
// Send, C-MOVE, the connection test) needs, copied from the settings before
// its worker starts. A plain value; nothing here is shared between threads.

#include <cstdint>
#include <string>

#include "dicom/dicom.h"
#include "dicom/tls.h"

namespace morvanta::dicom {

struct ArchiveAddress {
  std::string host;        // [Query] IP
  std::int32_t port = 0;   // [Query] Port
  std::string calledAET;   // [Query] AET
  std::string callingAET;  // [Local] AET
  int timeoutSeconds = kDefaultTimeoutSeconds;
  TlsSettings tls{};       // [TLS]
};

}  // namespace morvanta::dicom
