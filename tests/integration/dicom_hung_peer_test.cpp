// Cancelling the connection test and a forwarding association against an
// archive that really stops answering, and the release that fails after a
// complete answer. Every wait has a deadline far below the 30 s time-out the
// clients are given: a cancel that is lost fails the test instead of ending
// in 1004.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "archive_process.h"
#include "dicom/dicom.h"
#include "search/return_keys.h"
#include "dicom/errors.h"
#include "dicom_peer.h"
#include "platform/socket.h"

namespace morvanta::dicom {
namespace {

using morvanta::testing::Archive;

constexpr int kLongTimeoutS = 30;
constexpr auto kDeadline = std::chrono::seconds(10);

struct HungCase {
  const char* label;
  bool echo;  // else a C-STORE
  std::vector<std::string> args;
  const char* heldLine;  // the journal line that shows the archive holds us
};
void PrintTo(const HungCase& c, std::ostream* os) { *os << c.label; }

// The number and description of the error `running` threw; -1 when it returned.
template <typename T>
std::pair<std::int32_t, std::string> Thrown(std::future<T>& running) {
  try {
    running.get();
  } catch (const Error& e) {
    return {e.number(), e.description()};
  }
  return {-1, ""};
}
constexpr auto kCancelled = static_cast<std::int32_t>(ErrorCode::Cancelled);

// ------------------------------------------------------------------ C-STORE and C-ECHO

class HungCancel : public ::testing::TestWithParam<HungCase> {};

TEST_P(HungCancel, EndsAsCancelledBeforeTheTimeOut) {
  const HungCase& c = GetParam();
  Archive archive(c.args);
  std::atomic<bool> flag{false};
  auto running = std::async(std::launch::async, [&] {
    if (c.echo) {
      (void)Echo(ArchiveAddress{"127.0.0.1", archive.port(), "ARCHIVE", "MORVANTA", kLongTimeoutS}, &flag);
      return;
    }
    StoreClient client;
    client.SetTimeout(kLongTimeoutS);
    client.SetCancelFlag(&flag);
    DataSet request;
    request.Attributes().Add(0x0019, 0x0010, "REDIRECT");
    request.Attributes().Add(0x0019, 0x0030, "1.2.3");
    UidGenerator uids;
    client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
    client.Store(request, 10, uids.NewUID(), "1.2.840.10008.5.1.4.1.1.1");
    client.Close();
  });
  ASSERT_TRUE(archive.WaitFor(c.heldLine));
  flag = true;
  ASSERT_EQ(running.wait_for(kDeadline), std::future_status::ready) << "the cancel was lost";
  const auto [number, description] = Thrown(running);
  EXPECT_EQ(number, kCancelled) << description;
  if (c.echo) {
    EXPECT_EQ(description, "The connection test (C-ECHO) was cancelled.");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HungCancel,
    ::testing::Values(HungCase{"StoreNeverAcceptsTheAssociation", false, {"--hang-association"}, "association-held"},
                      HungCase{"NeverAnswersTheStore", false, {"--hang-store", "1"}, "store-held"},
                      HungCase{"NeverAnswersTheRelease", false, {"--hang-release"}, "release-held"},
                      HungCase{"EchoNeverAcceptsTheAssociation", true, {"--hang-association"}, "association-held"},
                      HungCase{"NeverAnswersTheEcho", true, {"--hang"}, "echo"}),
    [](const auto& info) { return std::string(info.param.label); });

// ------------------------------------------------------------------ release

std::unique_ptr<QueryClient> StudyClient(int port, int timeout) {
  auto client = std::make_unique<QueryClient>();
  client->SetPort(port);
  client->SetHost("127.0.0.1");
  client->SetCalledAET("ARCHIVE");
  client->SetCallingAET("MORVANTA");
  client->SetReturnKeys(morvanta::search::kReturnKeys);
  client->SetTimeout(timeout);
  client->Identifier().SetPatientName("*");
  client->Identifier().Attributes().Add(0x0008, 0x0052, "STUDY");
  return client;
}

// The final response is out before the C-CANCEL sent at the limit arrives:
// the archive ignores the late cancel, and the answer is complete.
TEST(FindRelease, LateCancelAtTheLimitKeepsTheCompleteAnswer) {
  // The delay before each response holds the final one back while our
  // C-CANCEL for the 5th match travels, so the cancel arrives late.
  Archive archive({"--results", "5", "--delay", "300"});
  auto client = StudyClient(archive.port(), kLongTimeoutS);
  client->SetResultLimit(5);
  const DataSetList results = client->Find(client->Identifier());
  EXPECT_EQ(results.Count(), 5u);
  ASSERT_TRUE(archive.WaitFor("late-cancel"));
  EXPECT_NE(archive.Lines("find-done")[0].find("\"status\":\"0x0000\""), std::string::npos);
}

// An archive that never answers the release has answered the search all the
// same: its results are kept, whether they were all or stopped at the limit,
// and come long before a 30 s time-out. The client and future are made
// before the archive, so a held result ends with the archive.
TEST(FindRelease, ReleaseNeverAnsweredKeepsTheResults) {
  for (const std::size_t limit : {std::size_t{0}, std::size_t{3}}) {
    std::unique_ptr<QueryClient> client;
    std::future<DataSetList> running;
    Archive archive({"--results", "5", "--hang-release"});
    client = StudyClient(archive.port(), kLongTimeoutS);
    client->SetResultLimit(limit);
    running = std::async(std::launch::async, [&] { return client->Find(client->Identifier()); });
    ASSERT_EQ(running.wait_for(kDeadline), std::future_status::ready) << "the release held the results";
    EXPECT_EQ(running.get().Count(), limit == 0 ? 5u : limit) << "limit " << limit;
    EXPECT_TRUE(archive.WaitFor("release-held"));
  }
}

// ------------------------------------------------------------------ deaf to C-CANCEL

struct DeafCase {
  const char* label;
  std::size_t limit;  // 0: the user cancels
};
void PrintTo(const DeafCase& c, std::ostream* os) { *os << c.label; }

class DeafArchive : public ::testing::TestWithParam<DeafCase> {};

// The archive streams pending responses without end and never reads our
// C-CANCEL: the grace after it is counted however fast the data comes, then
// the association is aborted. The client and future are made before the
// archive, so a lost cancel fails the test and ends the archive before the
// future waits.
TEST_P(DeafArchive, TheCancelsGraceEndsItWhileItStreams) {
  const DeafCase& c = GetParam();
  std::atomic<bool> flag{false};
  std::unique_ptr<QueryClient> client;
  std::future<DataSetList> running;
  Archive archive({"--results", "3", "--ignore-cancel"});
  client = StudyClient(archive.port(), kLongTimeoutS);
  client->SetResultLimit(c.limit);
  client->SetCancelFlag(&flag);
  running = std::async(std::launch::async, [&] { return client->Find(client->Identifier()); });
  if (c.limit == 0) {
    ASSERT_TRUE(archive.WaitFor("streaming"));
    flag = true;
  }
  ASSERT_EQ(running.wait_for(kDeadline), std::future_status::ready) << "the archive kept the search alive";
  try {
    const DataSetList results = running.get();
    EXPECT_NE(c.limit, 0u) << "a cancelled search must not return results";
    EXPECT_EQ(results.Count(), c.limit);
    EXPECT_TRUE(results.Truncated());
  } catch (const Error& e) {
    EXPECT_EQ(c.limit, 0u) << e.description();
    EXPECT_EQ(e.number(), kCancelled) << e.description();
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DeafArchive,
                         ::testing::Values(DeafCase{"UserCancels", 0}, DeafCase{"AtTheLimit", 400}),
                         [](const auto& info) { return std::string(info.param.label); });

// ------------------------------------------------------------------ connect

// How many connections to `port` on loopback wait for their SYN to be answered.
int ConnectsPending(int port) {
  int pending = 0;
  char hexPort[8];
  std::snprintf(hexPort, sizeof hexPort, "%04X", port);
  std::ifstream tcp("/proc/net/tcp");
  std::string line;
  while (std::getline(tcp, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (remote.size() > 5 && remote.substr(remote.size() - 4) == hexPort && state == "02") ++pending;
  }
  return pending;
}

// A host that drops our SYNs: a listening socket whose backlog is full
// (Linux then drops further SYNs). Under wine, Winsock's sockets are Linux
// ones and /proc is on drive Z:, so this holds for the Windows build there.
class DroppingHost {
 public:
  DroppingHost() {
    platform::StartSockets();
    listener_ = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 0) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("no listening socket");
    port_ = ntohs(address.sin_port);
    for (int i = 0; i < 2; ++i) {
#ifdef _WIN32
      fillers_.push_back(static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0)));
      u_long nonBlocking = 1;
      ::ioctlsocket(fillers_.back(), FIONBIO, &nonBlocking);
#else
      fillers_.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
#endif
      ::connect(fillers_.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    fillersPending_ = ConnectsPending(port_);
  }
  ~DroppingHost() { Close(); }
  int port() const { return port_; }
  // Waits until one more connection than the fillers' waits for its SYN's answer.
  bool WaitForOurs() const {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (ConnectsPending(port_) <= fillersPending_)
      if (std::chrono::steady_clock::now() >= end) return false;
      else std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
  }
  // Ends the black hole: a connect still waiting is refused.
  void Close() {
    for (const int fd : fillers_) platform::CloseSocket(fd);
    fillers_.clear();
    if (listener_ >= 0) platform::CloseSocket(listener_);
    listener_ = -1;
  }

 private:
  int listener_ = -1;
  int port_ = 0;
  int fillersPending_ = 0;
  std::vector<int> fillers_;
};

// The cancel ends the connect long before the connect's time-out.
TEST(ConnectCancel, HostThatDropsPacketsEndsWithTheCancel) {
  DroppingHost host;
  std::atomic<bool> flag{false};
  auto client = StudyClient(host.port(), kLongTimeoutS);
  client->SetCancelFlag(&flag);
  auto running = std::async(std::launch::async, [&] { return client->Find(client->Identifier()); });
  EXPECT_TRUE(host.WaitForOurs());
  flag = true;
  const bool ended = running.wait_for(kDeadline) == std::future_status::ready;
  host.Close();
  ASSERT_TRUE(ended) << "the cancel waited for the connect";
  EXPECT_EQ(Thrown(running).first, kCancelled);
}

}  // namespace
}  // namespace morvanta::dicom
