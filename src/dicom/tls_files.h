#pragma once
// Inside the TLS module only: this station's TLS files into an OpenSSL
// context. Each file is opened once, as a regular file and without waiting
// (a named pipe or a device in its place is refused, never read from), and
// parsed from memory, so that no second open by OpenSSL can block and
// nothing ever asks for a passphrase on a terminal the user cannot see.
// Failures throw TransportFailure (Error 1015 naming the file and the
// Settings.ini key).

#include <openssl/ssl.h>

#include <string>

#include "dicom/tls_transport.h"

namespace morvanta::dicom {

// [TLS] CACertificates: the authorities the archive's certificate must
// chain to, into the context's store.
void LoadTrustedAuthorities(SSL_CTX* ctx, const std::string& file);
// [TLS] CRL: revocation lists into the context's store, and every
// certificate of the archive's chain checked against them.
void LoadRevocationLists(SSL_CTX* ctx, const std::string& file);
// [TLS] Certificate and PrivateKey: this station's certificate (and any
// intermediate authorities after it) and its key, which must be unencrypted
// and not readable by other users.
void LoadStationIdentity(SSL_CTX* ctx, const std::string& certificate, const std::string& privateKey);

}  // namespace morvanta::dicom
