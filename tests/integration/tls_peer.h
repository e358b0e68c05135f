#pragma once
// A fresh test PKI (tests/tls/make-test-certs.sh) in a folder of its own, for
// the TLS tests: the CA the station trusts, a CA it does not, archive
// certificates good, expired and not yet valid, and client certificates.

#include <stdexcept>
#include <string>

#include "dicom/tls.h"
#include "dicom_peer.h"

namespace morvanta::testing {

class TestPki {
 public:
  TestPki() {
    if (Shell(std::string("sh '") + MORVANTA_TLS_CERTS + "' '" + dir_.path().string() + "'") != 0)
      throw std::runtime_error("the test certificates could not be made");
  }
  // "<dir>/name"
  std::string operator/(const std::string& name) const { return dir_ / name; }
  // TLS on, trusting the test CA; with this station's certificate when asked.
  morvanta::dicom::TlsSettings Settings(bool clientCertificate = true) const {
    morvanta::dicom::TlsSettings tls;
    tls.enabled = true;
    tls.caCertificates = *this / "ca.pem";
    if (clientCertificate) {
      tls.certificate = *this / "station.pem";
      tls.privateKey = *this / "station.key";
    }
    return tls;
  }
  // morvanta-archive's options for TLS with the named certificate; with
  // `requireClient`, it asks for a client certificate signed by the test CA.
  std::vector<std::string> ArchiveArgs(const std::string& certificate = "archive",
                                       bool requireClient = true) const {
    std::vector<std::string> args = {"--tls-cert", *this / (certificate + ".pem"), "--tls-key",
                                     *this / (certificate + ".key")};
    if (requireClient) {
      args.push_back("--tls-ca");
      args.push_back(*this / "ca.pem");
    }
    return args;
  }

 private:
  TempDir dir_;
};

}  // namespace morvanta::testing
