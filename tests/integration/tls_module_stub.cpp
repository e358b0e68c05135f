// Stand-ins for the TLS module, for the tests of what the program does with a
// module it cannot use: built without the entry point, or with one that
// answers for another interface (a module left from another version), whose
// functions the program must never call.
#include <cstdlib>

#include "dicom/tls_module.h"

#ifdef MORVANTA_STUB_ENTRY
namespace {
using namespace morvanta::dicom;
DcmTransportLayer* MakeLayer(const TlsSettings&, const std::string&, int, std::atomic<int>*, TransportProbe*,
                             TransportFailure*) {
  std::abort();
}
bool Explain(const TransportProbe&, const TlsSettings&, const Peer&, int, TransportFailure*) { std::abort(); }
void Release() { std::abort(); }
}  // namespace

extern "C" __attribute__((visibility("default"))) const TlsModuleTable* morvanta_tls_module() {
  static const TlsModuleTable table{kTlsModuleInterface + 1, sizeof(TlsSettings), sizeof(TransportProbe),
                                    sizeof(TransportFailure), sizeof(Peer), &MakeLayer, &Explain, &Release};
  return &table;
}
#else
extern "C" __attribute__((visibility("default"))) int morvanta_tls_something_else() { return 0; }
#endif
