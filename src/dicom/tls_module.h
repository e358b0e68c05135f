#pragma once
// Inside the binding only: the seam between the program and its TLS module.
//
// Everything that needs dcmtls and OpenSSL lives in a module beside the
// executable (morvanta-tls.so in the program folder), loaded the first time
// an association is made with TLS on. A station without TLS never maps the
// TLS libraries: the dynamic loader's work for them was a good part of the
// program's start-up.
//
// The module is built with the program from the same headers; the table below
// carries a version and the sizes of the structures it shares, so that a
// module from another build is refused instead of misread.

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>

#include "dicom/tls_transport.h"

namespace morvanta::dicom {

#ifdef _WIN32
inline constexpr const char* kTlsModuleFile = "morvanta-tls.dll";
#else
inline constexpr const char* kTlsModuleFile = "morvanta-tls.so";
#endif
inline constexpr const char* kTlsModuleEntry = "morvanta_tls_module";
inline constexpr int kTlsModuleInterface = 3;

struct TlsModuleTable {
  int interface = 0;
  std::size_t settingsSize = 0;
  std::size_t probeSize = 0;
  std::size_t failureSize = 0;
  std::size_t peerSize = 0;
  // A TLS layer for one association (as MakeTransportLayer), owned by the
  // caller; nullptr with `failure` set (Error 1015 and its text) when this
  // station's TLS files cannot be used.
  DcmTransportLayer* (*makeLayer)(const TlsSettings& tls, const std::string& host, int timeoutSeconds,
                                  std::atomic<int>* socket, TransportProbe* probe,
                                  TransportFailure* failure) = nullptr;
  // ExplainTransportFailure for an association that went over TLS: true with
  // `out` set when the probe shows a TLS reason.
  bool (*explain)(const TransportProbe& probe, const TlsSettings& tls, const Peer& peer, int timeoutSeconds,
                  TransportFailure* out) = nullptr;
  // ReleaseThreadTlsState.
  void (*releaseThreadState)() = nullptr;
  // A TLS stream (TlsStream, tls_stream.h) over the connected socket `fd`,
  // which it takes over: the same profile and files as an association, the
  // peer's certificate checked for `host`; the handshake bounded by
  // `timeoutSeconds`. nullptr with `failure` set when it cannot be had.
  void* (*openStream)(const TlsSettings& tls, const std::string& host, int fd, int timeoutSeconds,
                      TransportFailure* failure) = nullptr;
  // Writes all of `size` bytes or fails (false).
  bool (*writeStream)(void* stream, const char* data, std::size_t size) = nullptr;
  // Ends the stream and closes its socket.
  void (*closeStream)(void* stream) = nullptr;
};

// What the module's entry point returns: a table only a module of this very
// interface fills in this way.
inline bool Matches(const TlsModuleTable& table) {
  return table.interface == kTlsModuleInterface && table.settingsSize == sizeof(TlsSettings) &&
         table.probeSize == sizeof(TransportProbe) && table.failureSize == sizeof(TransportFailure) &&
         table.peerSize == sizeof(Peer) && table.makeLayer != nullptr && table.explain != nullptr &&
         table.releaseThreadState != nullptr && table.openStream != nullptr && table.writeStream != nullptr &&
         table.closeStream != nullptr;
}

using TlsModuleEntry = const TlsModuleTable* (*)();

// The TLS module of the folder `folder`, loaded once and kept for the
// process's life (its layers' code lives in it). Safe from any thread.
// Throws Error 1015 naming the module's path and the loader's reason when it
// cannot be loaded; a later call tries again, so that a module put back does
// not need a restart. An empty `folder` (the program's folder unknown) is
// refused the same way: a bare file name would have the loader search the
// system's library paths for whatever answers to it.
const TlsModuleTable& LoadTlsModule(const std::string& folder);

// The folder of the running executable (links resolved), where the program
// keeps its files; empty when the system does not say.
std::string ProgramFolder();

// The module already loaded, or nullptr.
const TlsModuleTable* LoadedTlsModule();

}  // namespace morvanta::dicom
