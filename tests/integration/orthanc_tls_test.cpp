// Against Orthanc, an archive no one here wrote, speaking DICOM over TLS only
// and requiring client certificates: the window's search, C-MOVE forwarding
// and REDIRECT Send workers, and the refusals a site meets while setting TLS
// up. Each test starts its own Orthanc on free ports with a generated
// configuration, loads studies through its REST API, and stops it.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>

#include <chrono>
#include <fstream>
#include <ostream>

#include "dicom_peer.h"
#include "forward/send.h"
#include "search/search_worker.h"
#include "tls_peer.h"

namespace morvanta {
namespace {

using testing::FreePort;
using testing::Process;
using testing::Shell;
using testing::StoreScp;
using testing::TempDir;
using testing::TestPki;
using testing::WaitForPort;

constexpr int kTimeoutS = 5;
constexpr const char* kStudyA = "2.25.71000000000000000000000000001";
constexpr const char* kStudyB = "2.25.71000000000000000000000000002";

// A one-shot HTTP/1.0 request to loopback; the response's body, or "" when
// the status is not 200. Bounded by a 10 s receive time-out.
std::string Http(int port, const std::string& method, const std::string& path, const std::string& body = {}) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const timeval wait{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  std::string response;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    std::size_t sent = 0;
    while (sent < request.size()) {
      const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) response.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (response.rfind("HTTP/1.", 0) != 0 || response.find(" 200 ") != response.find(' ')) return {};
  const auto start = response.find("\r\n\r\n");
  return start == std::string::npos ? std::string() : response.substr(start + 4);
}

// Orthanc with DICOM TLS (the test PKI's archive certificate, or the one
// named, trusting its CA, client certificates required), MORVANTA as a
// known modality and DEST as a C-MOVE destination reached over TLS.
class Orthanc {
 public:
  Orthanc(const TestPki& pki, int destPort, const std::string& certificate = "archive")
      : httpPort_(FreePort()), dicomPort_(FreePort()) {
    const std::string config = dir_ / "orthanc.json";
    std::ofstream out(config);
    out << "{\n"
        << "  \"Name\": \"MorvantaTest\",\n"
        << "  \"StorageDirectory\": \"" << dir_ / "db" << "\",\n"
        << "  \"IndexDirectory\": \"" << dir_ / "db" << "\",\n"
        << "  \"Plugins\": [],\n"
        << "  \"HttpPort\": " << httpPort_ << ",\n"
        << "  \"RemoteAccessAllowed\": false,\n"
        << "  \"AuthenticationEnabled\": false,\n"
        << "  \"DicomAet\": \"ORTHANC\",\n"
        << "  \"DicomPort\": " << dicomPort_ << ",\n"
        << "  \"DicomCheckCalledAet\": true,\n"
        << "  \"DicomTlsEnabled\": true,\n"
        << "  \"DicomTlsCertificate\": \"" << pki / (certificate + ".pem") << "\",\n"
        << "  \"DicomTlsPrivateKey\": \"" << pki / (certificate + ".key") << "\",\n"
        << "  \"DicomTlsTrustedCertificates\": \"" << pki / "ca.pem" << "\",\n"
        << "  \"DicomTlsRemoteCertificateRequired\": true,\n"
        << "  \"DicomModalities\": {\n"
        << "    \"morvanta\": { \"AET\": \"MORVANTA\", \"Host\": \"127.0.0.1\", \"Port\": 104 },\n"
        << "    \"dest\": { \"AET\": \"DEST\", \"Host\": \"127.0.0.1\", \"Port\": " << destPort
        << ", \"UseDicomTls\": true }\n"
        << "  }\n"
        << "}\n";
    out.close();
    process_ = std::make_unique<Process>(std::vector<std::string>{"/usr/sbin/Orthanc", config}, dir_ / "orthanc.out");
    if (!WaitForPort(httpPort_) || !WaitForPort(dicomPort_)) throw std::runtime_error("Orthanc did not start");
  }
  int port() const { return dicomPort_; }
  // One instance of a study, made with dump2dcm and POSTed to /instances.
  void Load(const std::string& name, const std::string& studyUid, int instance) {
    const std::string dump = dir_ / "instance.dump";
    const std::string file = dir_ / "instance.dcm";
    std::ofstream(dump) << "(0002,0010) UI =LittleEndianExplicit\n"
                        << "(0008,0005) CS [ISO_IR 100]\n"
                        << "(0008,0016) UI =SecondaryCaptureImageStorage\n"
                        << "(0008,0018) UI [" << studyUid << "." << instance << "]\n"
                        << "(0008,0020) DA [20261207]\n"
                        << "(0008,0060) CS [OT]\n"
                        << "(0010,0010) PN [" << name << "]\n"
                        << "(0010,0020) LO [PID-" << studyUid.back() << "]\n"
                        << "(0020,000d) UI [" << studyUid << "]\n"
                        << "(0020,000e) UI [" << studyUid << ".1]\n";
    ASSERT_EQ(Shell("dump2dcm '" + dump + "' '" + file + "'"), 0);
    ASSERT_NE(Http(httpPort_, "POST", "/instances", testing::ReadAll(file)).find("\"Success\""),
              std::string::npos);
  }
  std::string Get(const std::string& path) const { return Http(httpPort_, "GET", path); }

 private:
  TempDir dir_;
  int httpPort_;
  int dicomPort_;
  std::unique_ptr<Process> process_;
};

// storescp speaking TLS only, as the destination of Orthanc's C-MOVE.
std::vector<std::string> TlsOnly(const TestPki& pki) {
  return {"+tls", pki / "dest.key", pki / "dest.pem", "+cf", pki / "ca.pem"};
}

dicom::ArchiveAddress Address(int port, const dicom::TlsSettings& tls, const std::string& host = "127.0.0.1") {
  dicom::ArchiveAddress archive;
  archive.host = host;
  archive.port = port;
  archive.calledAET = "ORTHANC";
  archive.callingAET = "MORVANTA";
  archive.timeoutSeconds = kTimeoutS;
  archive.tls = tls;
  return archive;
}

dicom::DataSet AllStudies() {
  dicom::DataSet identifier;
  identifier.SetPatientName("*");
  return identifier;
}

struct OrthancWithStudies : ::testing::Test {
  void SetUp() override {
    orthanc = std::make_unique<Orthanc>(pki, dest.port());
    orthanc->Load("M\xFCller^Anna", kStudyA, 1);
    orthanc->Load("M\xFCller^Anna", kStudyA, 2);
    orthanc->Load("Berg^Otto", kStudyB, 1);
  }
  TestPki pki;
  StoreScp dest{"DEST", TlsOnly(pki)};
  std::unique_ptr<Orthanc> orthanc;
};

TEST_F(OrthancWithStudies, SearchOverTlsFindsItsStudiesWithTheirNames) {
  const search::SearchOutcome outcome = search::RunSearch(Address(orthanc->port(), pki.Settings()), AllStudies());
  ASSERT_FALSE(outcome.error) << outcome.error->description;
  ASSERT_EQ(outcome.count, 2u);
  std::vector<std::string> names;
  for (const dicom::DataSet& study : outcome.results) names.push_back(study.PatientName());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Berg^Otto", "M\u00fcller^Anna"}));
}

TEST_F(OrthancWithStudies, MoveOverTlsReachesTheDestinationOverTls) {
  const forward::SendOutcome outcome =
      forward::MoveStudies(Address(orthanc->port(), pki.Settings()), {kStudyA}, "DEST", {}, nullptr);
  ASSERT_FALSE(outcome.error) << outcome.error->description;
  EXPECT_EQ(outcome.stored, 1);
  EXPECT_EQ(outcome.imagesSent, 2);
  EXPECT_EQ(outcome.imagesFailed, 0);
  EXPECT_EQ(dest.Files(), 2);
}

// Orthanc has no use for the forwarding request: it is a C-STORE of an
// instance without patient, study and series, which Orthanc refuses with its
// general failure status. The Send says so, names Orthanc and the status, and
// points to C-MOVE; Orthanc keeps nothing.
TEST_F(OrthancWithStudies, RedirectSendIsRefusedAndSaysWhy) {
  const std::string before = orthanc->Get("/instances");
  const forward::SendOutcome outcome =
      forward::SendStudies(Address(orthanc->port(), pki.Settings()), {kStudyA, kStudyB}, {});
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->number, 1007);
  EXPECT_EQ(outcome.stored, 0);
  const std::string& text = outcome.error->description;
  EXPECT_NE(text.find("ORTHANC at 127.0.0.1:" + std::to_string(orthanc->port()) +
                      " refused to store the forwarding request (C-STORE status 0xA700)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("0 of 2 requests were stored"), std::string::npos) << text;
  EXPECT_NE(text.find("[Forward] Method=MOVE"), std::string::npos) << text;
  EXPECT_EQ(orthanc->Get("/instances"), before);
}

struct Refusal {
  const char* label;
  std::string ca, certificate, key;  // names in the test PKI; "" for none
  bool tls;
  std::int32_t number;
  const char* says;
  std::string archiveCertificate = "archive";  // Orthanc's, in the test PKI
  std::string host = "127.0.0.1";              // [Query] IP
};
void PrintTo(const Refusal& c, std::ostream* os) { *os << c.label; }

class OrthancRefuses : public ::testing::TestWithParam<Refusal> {};

// A site setting TLS up: each mistake ends in its message within the
// time-out and two seconds (a deadline, not a speed claim).
TEST_P(OrthancRefuses, WithItsMessageWithinTheTimeout) {
  const Refusal& c = GetParam();
  TestPki pki;
  Orthanc orthanc(pki, FreePort(), c.archiveCertificate);
  const auto file = [&](const std::string& name) { return name.empty() ? name : pki / name; };
  dicom::TlsSettings tls;
  tls.enabled = c.tls;
  tls.caCertificates = file(c.ca);
  tls.certificate = file(c.certificate);
  tls.privateKey = file(c.key);
  const auto start = std::chrono::steady_clock::now();
  const search::SearchOutcome outcome = search::RunSearch(Address(orthanc.port(), tls, c.host), AllStudies());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(kTimeoutS + 2));
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->number, c.number) << outcome.error->description;
  EXPECT_NE(outcome.error->description.find(c.says), std::string::npos) << outcome.error->description;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OrthancRefuses,
    ::testing::Values(
        Refusal{"WrongCA", "otherca.pem", "station.pem", "station.key", true, 1016,
                "The TLS certificate of ORTHANC at 127.0.0.1:"},
        Refusal{"MissingKeyFile", "ca.pem", "station.pem", "gone.key", true, 1015, "gone.key\" cannot be used"},
        Refusal{"PlainTcpToTheTlsPort", "", "", "", false, 1017, "check [TLS] Enabled and the port"},
        Refusal{"NoClientCertificate", "ca.pem", "", "", true, 1017,
                "requires a TLS certificate from this station and none is configured"},
        // A certificate the trusted CA made for another machine, met by
        // host name (and so with the name sent in the ClientHello).
        Refusal{"AnotherMachinesCertificate", "ca.pem", "station.pem", "station.key", true, 1016,
                "names evil.example, not localhost: another machine may be answering for the archive", "evil",
                "localhost"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace morvanta
