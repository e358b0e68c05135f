// A program as the tests of the TLS module need one: it runs the connection
// test and a search through the binding from whatever folder it was copied
// to, so that the binding looks for the module there, as the program does in
// its own folder, and then tells what it saw and what the process has mapped.
//
//   tls_module_probe PORT TLS(0|1) [CA CERTIFICATE KEY]
//   tls_module_probe bare    (loads the module as if the program's folder
//                             were unknown: "result loaded" or the error)
//
// Prints "result ok found=N" or "result NUMBER DESCRIPTION", then
// "mapped libssl=0|1 module=0|1".
#include <fstream>
#include <iostream>
#include <string>

#include "dicom/dicom.h"
#include "search/return_keys.h"
#include "dicom/errors.h"
#include "dicom/tls_module.h"

namespace {

bool Mapped(const std::string& name) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(name) != std::string::npos) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace morvanta::dicom;
  if (argc == 2 && std::string(argv[1]) == "bare") {
    try {
      LoadTlsModule("");
      std::cout << "result loaded\n";
    } catch (...) {
      const Failure failure = CurrentFailure();
      std::cout << "result " << failure.number << " " << failure.description << "\n";
    }
    std::cout << "mapped libssl=" << Mapped("/libssl.so") << " module=" << Mapped("morvanta-tls.so") << "\n";
    return 0;
  }
  if (argc != 3 && argc != 6) {
    std::cerr << "usage: tls_module_probe PORT TLS(0|1) [CA CERTIFICATE KEY]\n";
    return 2;
  }
  const int port = std::stoi(argv[1]);
  TlsSettings tls;
  tls.enabled = std::string(argv[2]) == "1";
  if (argc == 6) {
    tls.caCertificates = argv[3];
    tls.certificate = argv[4];
    tls.privateKey = argv[5];
  }
  try {
    Echo(ArchiveAddress{"127.0.0.1", port, "ARCHIVE", "MORVANTA", 10, tls});
    QueryClient query;
    query.SetHost("127.0.0.1");
    query.SetPort(port);
    query.SetCalledAET("ARCHIVE");
    query.SetCallingAET("MORVANTA");
    query.SetReturnKeys(morvanta::search::kReturnKeys);
    query.SetTimeout(10);
    query.SetTls(tls);
    query.Identifier().SetPatientName("*");
    std::cout << "result ok found=" << query.Find(query.Identifier()).Count() << "\n";
  } catch (...) {
    const Failure failure = CurrentFailure();
    std::cout << "result " << failure.number << " " << failure.description << "\n";
  }
  std::cout << "mapped libssl=" << Mapped("/libssl.so") << " module=" << Mapped("morvanta-tls.so") << "\n";
  return 0;
}
