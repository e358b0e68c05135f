#pragma once
// DICOM over TLS (PS3.15 B.9, the BCP 195 non-downgrading profile): what an
// association needs to know to use it. Plain values; the paths are absolute
// (the settings loader resolves them against the program folder).

#include <string>

namespace morvanta::dicom {

struct TlsSettings {
  bool enabled = false;
  // PEM file of the certificate authorities the archive's certificate must
  // chain to. Required when enabled: there is no "trust anything" mode.
  std::string caCertificates;
  // This station's certificate and unencrypted private key (PEM), for
  // archives that require client certificates; both or neither.
  std::string certificate;
  std::string privateKey;
  // The name or address the archive's certificate must carry, where it
  // differs from the address the station connects to; empty: that address.
  std::string serverName;
  // PEM file of certificate revocation lists the archive's chain is checked
  // against; empty: none.
  std::string crl;
};

// Who the archive must prove to be (RFC 6125): [TLS] ServerName when set,
// otherwise the host the station connects to.
inline std::string TlsIdentity(const TlsSettings& tls, const std::string& host) {
  return tls.serverName.empty() ? host : tls.serverName;
}

}  // namespace morvanta::dicom
