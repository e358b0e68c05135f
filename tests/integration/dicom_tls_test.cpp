// DICOM over TLS against morvanta-archive speaking TLS: the operations work
// over it, and every way TLS can go wrong is refused in words, within the
// time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <ostream>

#include "archive_process.h"
#include "dicom/dicom.h"
#include "search/return_keys.h"
#include "dicom/errors.h"
#include "tls_peer.h"

namespace morvanta::dicom {
namespace {

using morvanta::testing::Archive;
using morvanta::testing::FreePort;
using morvanta::testing::TestPki;

constexpr int kTimeoutS = 3;
// A refusal comes at once; a station still waiting after kHangBoundS hangs,
// and would until kNeverTimeoutS.
constexpr int kHangBoundS = 30;
constexpr int kNeverTimeoutS = 600;

TEST(TlsAgainstTheArchive, EchoSearchAndSendGoOverTls) {
  TestPki pki;
  std::vector<std::string> args = pki.ArchiveArgs();
  args.insert(args.end(), {"--demo", "3"});
  Archive archive(args);

  EXPECT_GE(
      Echo(ArchiveAddress{"127.0.0.1", archive.port(), "ARCHIVE", "MORVANTA", kTimeoutS, pki.Settings()}).count(),
      0);

  QueryClient query;
  query.SetHost("127.0.0.1");
  query.SetPort(archive.port());
  query.SetCalledAET("ARCHIVE");
  query.SetCallingAET("MORVANTA");
  query.SetReturnKeys(morvanta::search::kReturnKeys);
  query.SetTimeout(kTimeoutS);
  query.SetTls(pki.Settings());
  query.Identifier().SetPatientName("*");
  const DataSetList found = query.Find(query.Identifier());
  ASSERT_EQ(found.Count(), 3u);

  StoreClient store;
  store.SetTimeout(kTimeoutS);
  store.SetTls(pki.Settings());
  store.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
  DataSet request;
  request.Attributes().Add(0x0019, 0x0010, "REDIRECT");
  request.Attributes().Add(0x0019, 0x0030, found[0].StudyUID());
  store.Store(request, 10, UidGenerator().NewUID(), "1.2.840.10008.5.1.4.1.1.1");
  store.Close();
  const auto stores = archive.Lines("store");
  ASSERT_EQ(stores.size(), 1u);
  EXPECT_NE(stores[0].find(found[0].StudyUID()), std::string::npos) << stores[0];
}

struct TlsFault {
  const char* label;
  // The archive: its certificate ("" for plain DICOM) and whether it asks
  // for a client certificate.
  std::string archiveCertificate;
  bool requireClient;
  // The station's [TLS], from the test PKI: enabled, CA, certificate, key
  // (names in the PKI folder; "" for none, "missing" for a file not there).
  bool enabled;
  std::string ca, certificate, key;
  std::int32_t number;
  const char* says;  // a piece of the description
  // [TLS] ServerName and CRL (a name in the PKI folder); the host the
  // station connects to.
  std::string serverName{};
  std::string crl{};
  std::string host = "127.0.0.1";
};
void PrintTo(const TlsFault& c, std::ostream* os) { *os << c.label; }

class TlsRefused : public ::testing::TestWithParam<TlsFault> {};

// One message and the error number of the table, without waiting for the
// time-out: that is set far beyond the bound waited here, which only catches
// a station that waits (the cancel then ends its Echo).
TEST_P(TlsRefused, InWordsWithinTheTimeout) {
  const TlsFault& c = GetParam();
  TestPki pki;
  std::unique_ptr<Archive> archive;
  if (c.archiveCertificate.empty())
    archive = std::make_unique<Archive>();
  else
    archive = std::make_unique<Archive>(pki.ArchiveArgs(c.archiveCertificate, c.requireClient));
  const auto file = [&](const std::string& name) { return name.empty() ? name : pki / name; };
  const TlsSettings tls{c.enabled, file(c.ca), file(c.certificate), file(c.key), c.serverName, file(c.crl)};

  std::atomic<bool> cancel{false};
  auto echo = std::async(std::launch::async, [&]() -> std::optional<Error> {
    try {
      Echo(ArchiveAddress{c.host, archive->port(), "ARCHIVE", "MORVANTA", kNeverTimeoutS, tls}, &cancel);
    } catch (const Error& e) {
      return e;
    }
    return std::nullopt;
  });
  if (echo.wait_for(std::chrono::seconds(kHangBoundS)) == std::future_status::timeout) {
    cancel = true;
    ADD_FAILURE() << "the station waited instead of refusing";
  }
  const std::optional<Error> refused = echo.get();
  ASSERT_TRUE(refused) << "expected error " << c.number;
  EXPECT_EQ(refused->number(), c.number) << refused->description();
  EXPECT_NE(refused->description().find(c.says), std::string::npos) << refused->description();
  // The archive is still there for the next station.
  EXPECT_TRUE(morvanta::testing::Accepts(archive->port()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TlsRefused,
    ::testing::Values(
        // The archive's certificate.
        TlsFault{"UntrustedCA", "stranger", true, true, "ca.pem", "station.pem", "station.key", 1016,
                 "is not signed by a certificate authority in"},
        TlsFault{"WrongCAFile", "archive", true, true, "otherca.pem", "station.pem", "station.key", 1016,
                 "put the certificate of the authority that signed it in [TLS] CACertificates"},
        TlsFault{"Expired", "expired", false, true, "ca.pem", "", "", 1016, "certificate of ARCHIVE at "},
        TlsFault{"ExpiredSaysSo", "expired", false, true, "ca.pem", "", "", 1016, "has expired"},
        TlsFault{"NotYetValid", "future", false, true, "ca.pem", "", "", 1016, "is not yet valid"},
        // This station's certificate.
        TlsFault{"NoClientCertificate", "archive", true, true, "ca.pem", "", "", 1017,
                 "requires a TLS certificate from this station and none is configured"},
        TlsFault{"ClientCertificateNotTrusted", "archive", true, true, "ca.pem", "stranger.pem", "stranger.key",
                 1017, "did not accept this station's TLS certificate"},
        // The wrong protocol for the port.
        TlsFault{"TlsToPlainPort", "", false, true, "ca.pem", "", "", 1017, "check [TLS] Enabled and the port"},
        TlsFault{"PlainToTlsPort", "archive", false, false, "", "", "", 1017, "check [TLS] Enabled and the port"},
        // This station's files, refused before any traffic.
        TlsFault{"CAFileMissing", "archive", true, true, "missing.pem", "", "", 1015, "missing.pem\""},
        TlsFault{"CAFileNotSet", "archive", true, true, "", "", "", 1015, "check [TLS] CACertificates"},
        TlsFault{"CAFileNotPem", "archive", true, true, "ca.cnf", "", "", 1015, "ca.cnf\" cannot be used"},
        TlsFault{"KeyFileMissing", "archive", true, true, "ca.pem", "station.pem", "missing.key", 1015,
                 "missing.key\" cannot be used (No such file or directory): check [TLS] PrivateKey."},
        TlsFault{"KeyOfAnotherCertificate", "archive", true, true, "ca.pem", "station.pem", "other.key", 1015,
                 "check [TLS] Certificate and PrivateKey"},
        TlsFault{"CertificateWithoutKey", "archive", true, true, "ca.pem", "station.pem", "", 1015,
                 "[TLS] Certificate is set but [TLS] PrivateKey is not"},
        // Who the archive is: a certificate the trusted CA made for another
        // machine, for a name only, or revoked.
        TlsFault{"AnotherMachinesCertificate", "evil", false, true, "ca.pem", "", "", 1016,
                 "names evil.example, not 127.0.0.1: another machine may be answering for the archive; if it is "
                 "the archive, set [TLS] ServerName"},
        TlsFault{"AnotherMachinesCertificateByName", "evil", false, true, "ca.pem", "", "", 1016,
                 "names evil.example, not localhost", "", "", "localhost"},
        // An address is matched against IP names only.
        TlsFault{"NameOnlyCertificateForAnAddress", "named", false, true, "ca.pem", "", "", 1016,
                 "names archive.example, not 127.0.0.1"},
        TlsFault{"ServerNameNotInTheCertificate", "archive", false, true, "ca.pem", "", "", 1016,
                 "names localhost, 127.0.0.1, ::1, not archive.example: another machine may be answering for the "
                 "archive, or [TLS] ServerName is not the name",
                 "archive.example"},
        TlsFault{"Revoked", "revoked", false, true, "ca.pem", "", "", 1016, "has been revoked", "", "crl.pem"},
        TlsFault{"RevocationListOutOfDate", "archive", false, true, "ca.pem", "", "", 1016,
                 "the revocation list in \"", "", "crl-expired.pem"},
        TlsFault{"RevocationListMissing", "archive", false, true, "ca.pem", "", "", 1015,
                 "The certificate revocation list file \"", "", "gone-crl.pem"},
        // This station's key: never a prompt, never a wait, never one others read.
        TlsFault{"KeyUnderAPassphrase", "archive", true, true, "ca.pem", "station.pem", "protected.key", 1015,
                 "protected.key\" cannot be used (it is protected by a passphrase"},
        TlsFault{"KeyReadableByOthers", "archive", true, true, "ca.pem", "station.pem", "open.key", 1015,
                 "open.key\" may be read by other users (mode 0644), so it is not used: chmod o-rwx \""},
        TlsFault{"KeyIsANamedPipe", "archive", true, true, "ca.pem", "station.pem", "fifo.key", 1015,
                 "fifo.key\" cannot be used (a named pipe, not a file): check [TLS] PrivateKey."}),
    [](const auto& info) { return std::string(info.param.label); });

struct Accepted {
  const char* label;
  std::string archiveCertificate;
  std::string host;
  std::string serverName;
  std::string crl;
  std::string key = "station.key";  // this station's, for station.pem
};
void PrintTo(const Accepted& c, std::ostream* os) { *os << c.label; }

class TlsAccepted : public ::testing::TestWithParam<Accepted> {};

// The archive that is who the station expects: by the address or the name
// it connects to, by [TLS] ServerName, and not on the revocation list; and
// a station key its group may read, as on a shared station.
TEST_P(TlsAccepted, WhenTheCertificateNamesWhoIsExpected) {
  const Accepted& c = GetParam();
  TestPki pki;
  Archive archive(pki.ArchiveArgs(c.archiveCertificate));
  TlsSettings tls = pki.Settings();
  tls.serverName = c.serverName;
  tls.crl = c.crl.empty() ? "" : pki / c.crl;
  tls.privateKey = pki / c.key;
  try {
    Echo(ArchiveAddress{c.host, archive.port(), "ARCHIVE", "MORVANTA", kTimeoutS, tls});
  } catch (const Error& e) {
    ADD_FAILURE() << e.number() << " - " << e.description();
  }
}

INSTANTIATE_TEST_SUITE_P(Table, TlsAccepted,
                         ::testing::Values(Accepted{"ItsName", "archive", "localhost", "", ""},
                                           Accepted{"ServerName", "named", "127.0.0.1", "archive.example", ""},
                                           Accepted{"NotRevoked", "archive", "127.0.0.1", "", "crl.pem"},
                                           // The station's group may read its key.
                                           Accepted{"KeyReadableByItsGroup", "archive", "127.0.0.1", "", "",
                                                    "group.key"}),
                         [](const auto& info) { return std::string(info.param.label); });

// A TLS peer that shares no version or cipher with this station refuses its
// ClientHello with a handshake failure: that is said, not taken for a
// missing client certificate.
TEST(TlsNegotiation, NothingInCommonIsSaidSo) {
  TestPki pki;
  const struct {
    const char* label;
    std::vector<std::string> offer;
  } cases[] = {
      {"no cipher", {"-tls1_2", "-cipher", "ECDHE-ECDSA-AES128-SHA"}},
      {"no version", {"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"}},
  };
  for (const auto& c : cases) {
    const int port = FreePort();
    std::vector<std::string> args = {"/usr/bin/openssl", "s_server", "-quiet", "-accept",
                                     "127.0.0.1:" + std::to_string(port), "-cert", pki / "archive.pem", "-key",
                                     pki / "archive.key"};
    args.insert(args.end(), c.offer.begin(), c.offer.end());
    morvanta::testing::Process server(args, pki / "s_server.out");
    ASSERT_TRUE(morvanta::testing::WaitForPort(port)) << c.label;
    try {
      Echo(ArchiveAddress{"127.0.0.1", port, "ARCHIVE", "MORVANTA", kTimeoutS, pki.Settings()});
      ADD_FAILURE() << c.label << ": expected error 1017";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), 1017) << c.label << ": " << e.description();
      EXPECT_NE(e.description().find("have no TLS version or cipher in common"), std::string::npos)
          << c.label << ": " << e.description();
    }
  }
}

// An archive serving several names picks its certificate by the name in the
// ClientHello (SNI): here another machine's certificate unless "localhost"
// is asked for. The station connecting to localhost gets the right one and
// gets through the handshake (the peer, no DICOM archive, then hangs up);
// by address it sends no name and meets the other.
TEST(TlsServerName, AHostNameIsSentInTheClientHello) {
  TestPki pki;
  const int port = FreePort();
  morvanta::testing::Process server(
      {"/usr/bin/openssl", "s_server", "-quiet", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
       pki / "evil.pem", "-key", pki / "evil.key", "-servername", "localhost", "-cert2", pki / "archive.pem",
       "-key2", pki / "archive.key"},
      pki / "s_server.out");
  ASSERT_TRUE(morvanta::testing::WaitForPort(port));
  const auto certificateRefused = [&](const std::string& host) {
    try {
      Echo(ArchiveAddress{host, port, "ARCHIVE", "MORVANTA", kTimeoutS, pki.Settings(false)});
    } catch (const Error& e) {
      return e.number() == 1016 && e.description().find("names evil.example") != std::string::npos;
    }
    return false;
  };
  EXPECT_FALSE(certificateRefused("localhost"));
  EXPECT_TRUE(certificateRefused("127.0.0.1"));
}

}  // namespace
}  // namespace morvanta::dicom
