// DICOM over TLS against morvanta-archive speaking TLS: the operations work
// over it, and every way TLS can go wrong is refused in words, within the
// time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>

#include "archive_process.h"
#include "dicom/dicom.h"
#include "dicom/errors.h"
#include "tls_peer.h"

namespace morvanta::dicom {
namespace {

using morvanta::testing::Archive;
using morvanta::testing::FreePort;
using morvanta::testing::TestPki;

constexpr int kTimeoutS = 3;

TEST(TlsAgainstTheArchive, EchoSearchAndSendGoOverTls) {
  TestPki pki;
  std::vector<std::string> args = pki.ArchiveArgs();
  args.insert(args.end(), {"--demo", "3"});
  Archive archive(args);

  EXPECT_GE(Echo("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE", kTimeoutS, nullptr, pki.Settings()).count(), 0);

  QueryClient query;
  query.SetHost("127.0.0.1");
  query.SetPort(archive.port());
  query.SetCalledAET("ARCHIVE");
  query.SetCallingAET("MORVANTA");
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
};
void PrintTo(const TlsFault& c, std::ostream* os) { *os << c.label; }

class TlsRefused : public ::testing::TestWithParam<TlsFault> {};

// One message, the error number of the table, and no wait beyond the
// time-out and two seconds (a deadline, not a speed claim).
TEST_P(TlsRefused, InWordsWithinTheTimeout) {
  const TlsFault& c = GetParam();
  TestPki pki;
  std::unique_ptr<Archive> archive;
  if (c.archiveCertificate.empty())
    archive = std::make_unique<Archive>();
  else
    archive = std::make_unique<Archive>(pki.ArchiveArgs(c.archiveCertificate, c.requireClient));
  const auto file = [&](const std::string& name) { return name.empty() ? name : pki / name; };
  const TlsSettings tls{c.enabled, file(c.ca), file(c.certificate), file(c.key)};

  const auto start = std::chrono::steady_clock::now();
  try {
    Echo("127.0.0.1", archive->port(), "MORVANTA", "ARCHIVE", kTimeoutS, nullptr, tls);
    FAIL() << "expected error " << c.number;
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), c.number) << e.description();
    EXPECT_NE(e.description().find(c.says), std::string::npos) << e.description();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(kTimeoutS + 2));
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
                 "[TLS] Certificate is set but [TLS] PrivateKey is not"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace morvanta::dicom
