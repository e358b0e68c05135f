// The transport an association connects with: plain TCP here, TLS through the
// TLS module (tls_module.h), loaded the first time it is needed. Both record
// what they saw in a TransportProbe, because DUL reports a failed handshake or
// a peer that spoke the other protocol as one opaque condition; the probe lets
// the error say which it was.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/dcmtrans.h>

#include <mutex>

#include "dicom/dicom.h"
#include "dicom/tls_loader.h"
#include "dicom/tls_module.h"
#include "dicom/tls_stream.h"
#include "dicom/tls_transport.h"
#include "platform/socket.h"

namespace morvanta::dicom {

namespace {

[[noreturn]] void Throw(ErrorCode code, std::string description) {
  throw Error(static_cast<std::int32_t>(code), std::move(description));
}

class PlainLayer : public DcmTransportLayer {
 public:
  PlainLayer(std::atomic<int>* socket, TransportProbe* probe) : socket_(socket), probe_(probe) {}
  DcmTransportConnection* createConnection(DcmNativeSocketType socket, OFBool /*secure*/) override {
    socket_->store(static_cast<int>(socket));
    return new ProbedTcpConnection(socket, probe_);
  }

 private:
  std::atomic<int>* socket_;
  TransportProbe* probe_;
};

// Written once, under the lock, and never taken back: the layers the module
// made run its code for as long as they live.
std::atomic<const TlsModuleTable*> loaded{nullptr};
std::mutex loadLock;

}  // namespace

const TlsModuleTable* LoadedTlsModule() { return loaded.load(std::memory_order_acquire); }

const TlsModuleTable& LoadTlsModule(const std::string& folder) {
  if (folder.empty())
    Throw(ErrorCode::TlsSetupFailed,
          TlsModuleText(kTlsModuleFile, "the program's own folder, where it is kept, could not be found"));
  if (const TlsModuleTable* table = LoadedTlsModule()) return *table;
  std::lock_guard<std::mutex> guard(loadLock);
  if (const TlsModuleTable* table = LoadedTlsModule()) return *table;

  const std::string path = InFolder(folder, kTlsModuleFile);
  const OpenedModule opened = OpenModule(path);
  if (opened.handle == nullptr) Throw(ErrorCode::TlsSetupFailed, TlsModuleText(path, opened.why));
  void* handle = opened.handle;
  const TlsModuleEntry entry = opened.entry;
  const TlsModuleTable* table = entry();
  if (table == nullptr || !Matches(*table)) {
    CloseModule(handle);
    Throw(ErrorCode::TlsSetupFailed, TlsModuleText(path, "it belongs to another version of the program"));
  }
  // The handle is kept for the process's life: nothing closes the module.
  loaded.store(table, std::memory_order_release);
  return *table;
}

std::unique_ptr<DcmTransportLayer> MakeTransportLayer(const TlsSettings& tls, const std::string& host,
                                                      int timeoutSeconds, std::atomic<int>* socket,
                                                      TransportProbe* probe) {
  if (!tls.enabled) return std::make_unique<PlainLayer>(socket, probe);
  const TlsModuleTable& module = LoadTlsModule(ProgramFolder());
  TransportFailure failure{ErrorCode::TlsSetupFailed, {}};
  std::unique_ptr<DcmTransportLayer> layer(module.makeLayer(tls, host, timeoutSeconds, socket, probe, &failure));
  if (!layer) Throw(failure.code, std::move(failure.text));
  return layer;
}

std::optional<TransportFailure> ExplainTransportFailure(const TransportProbe& probe, const TlsSettings& tls,
                                                        const Peer& peer, int timeoutSeconds) {
  if (!tls.enabled) {
    // 0x15 and 0x16 open TLS alert and handshake records; no DICOM PDU
    // starts with either (PS3.8 9.3).
    // A TLS port also just closes the connection on bytes that are no TLS;
    // a DICOM archive answers an A-ASSOCIATE-RQ with at least a rejection
    // or an A-ABORT (PS3.8 9.3).
    if ((probe.bytesReceived && (probe.firstByte == 0x15 || probe.firstByte == 0x16)) ||
        (!probe.bytesReceived && probe.closedByPeer))
      return TransportFailure{ErrorCode::TlsHandshakeFailed, TlsPortMismatchText(peer, false)};
    return std::nullopt;
  }
  // Over TLS the association got as far as a layer, so the module is in.
  const TlsModuleTable* module = LoadedTlsModule();
  if (module == nullptr) return std::nullopt;
  TransportFailure failure{ErrorCode::TlsHandshakeFailed, {}};
  if (!module->explain(probe, tls, peer, timeoutSeconds, &failure)) return std::nullopt;
  return failure;
}

std::unique_ptr<TlsStream> TlsStream::Open(const TlsSettings& tls, const std::string& host, int fd,
                                           int timeoutSeconds) {
  const TlsModuleTable* module = nullptr;
  try {
    module = &LoadTlsModule(ProgramFolder());
  } catch (...) {
    platform::CloseSocket(fd);
    throw;
  }
  TlsSettings peer = tls;
  peer.serverName.clear();  // that name is the archive's
  TransportFailure failure{ErrorCode::TlsSetupFailed, {}};
  void* handle = module->openStream(peer, host, fd, timeoutSeconds, &failure);
  if (handle == nullptr) Throw(failure.code, std::move(failure.text));
  return std::unique_ptr<TlsStream>(new TlsStream(handle));
}

TlsStream::~TlsStream() { LoadedTlsModule()->closeStream(handle_); }

bool TlsStream::Write(const std::string& data) {
  return LoadedTlsModule()->writeStream(handle_, data.data(), data.size());
}

void ReleaseThreadTlsState() {
  if (const TlsModuleTable* module = LoadedTlsModule()) module->releaseThreadState();
}

}  // namespace morvanta::dicom
