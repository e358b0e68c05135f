// Cancelling the connection test and a forwarding association against an
// archive that really stops answering, and the release that fails after a
// complete answer. Every wait has a deadline far below the 30 s time-out the
// clients are given: a cancel that is lost fails the test instead of ending
// in 1004.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <ostream>

#include "archive_process.h"
#include "dicom/dicom.h"
#include "dicom/errors.h"
#include "dicom_peer.h"

namespace morvanta::dicom {
namespace {

using morvanta::testing::Archive;

constexpr int kLongTimeoutS = 30;
constexpr auto kDeadline = std::chrono::seconds(10);

struct HungCase {
  const char* label;
  std::vector<std::string> args;
  const char* heldLine;  // the journal line that shows the archive holds us
};
void PrintTo(const HungCase& c, std::ostream* os) { *os << c.label; }

// ------------------------------------------------------------------ C-STORE

class StoreCancel : public ::testing::TestWithParam<HungCase> {};

TEST_P(StoreCancel, EndsAsCancelledBeforeTheTimeOut) {
  const HungCase& c = GetParam();
  Archive archive(c.args);
  std::atomic<bool> flag{false};
  StoreClient client;
  client.SetTimeout(kLongTimeoutS);
  client.SetCancelFlag(&flag);
  DataSet request;
  request.Attributes().Add(0x0019, 0x0010, "REDIRECT");
  request.Attributes().Add(0x0019, 0x0030, "1.2.3");
  UidGenerator uids;
  auto running = std::async(std::launch::async, [&] {
    client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
    client.Store(request, 10, uids.NewUID(), "1.2.840.10008.5.1.4.1.1.1");
    client.Close();
  });
  ASSERT_TRUE(archive.WaitFor(c.heldLine));
  flag = true;
  ASSERT_EQ(running.wait_for(kDeadline), std::future_status::ready) << "the cancel was lost";
  try {
    running.get();
    FAIL() << "a cancelled forwarding must throw";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), static_cast<std::int32_t>(ErrorCode::Cancelled)) << e.description();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoreCancel,
    ::testing::Values(HungCase{"NeverAcceptsTheAssociation", {"--hang-association"}, "association-held"},
                      HungCase{"NeverAnswersTheStore", {"--hang-store", "1"}, "store-held"},
                      HungCase{"NeverAnswersTheRelease", {"--hang-release"}, "release-held"}),
    [](const auto& info) { return std::string(info.param.label); });

// ------------------------------------------------------------------ C-ECHO

class EchoCancel : public ::testing::TestWithParam<HungCase> {};

TEST_P(EchoCancel, EndsAsCancelledBeforeTheTimeOut) {
  const HungCase& c = GetParam();
  Archive archive(c.args);
  std::atomic<bool> flag{false};
  auto running = std::async(std::launch::async, [&] {
    return Echo("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE", kLongTimeoutS, &flag);
  });
  ASSERT_TRUE(archive.WaitFor(c.heldLine));
  flag = true;
  ASSERT_EQ(running.wait_for(kDeadline), std::future_status::ready) << "the cancel was lost";
  try {
    running.get();
    FAIL() << "a cancelled connection test must throw";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), static_cast<std::int32_t>(ErrorCode::Cancelled)) << e.description();
    EXPECT_EQ(e.description(), "The connection test (C-ECHO) was cancelled.");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EchoCancel,
    ::testing::Values(HungCase{"NeverAcceptsTheAssociation", {"--hang-association"}, "association-held"},
                      HungCase{"NeverAnswersTheEcho", {"--hang"}, "echo"}),
    [](const auto& info) { return std::string(info.param.label); });

// ------------------------------------------------------------------ release

std::unique_ptr<QueryClient> StudyClient(int port, int timeout) {
  auto client = std::make_unique<QueryClient>();
  client->SetPort(port);
  client->SetHost("127.0.0.1");
  client->SetCalledAET("ARCHIVE");
  client->SetCallingAET("MORVANTA");
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
// same: its results are kept, whether they were all or stopped at the limit.
TEST(FindRelease, ReleaseNeverAnsweredKeepsTheResults) {
  for (const std::size_t limit : {std::size_t{0}, std::size_t{3}}) {
    Archive archive({"--results", "5", "--hang-release"});
    auto client = StudyClient(archive.port(), 2);
    client->SetResultLimit(limit);
    const DataSetList results = client->Find(client->Identifier());
    EXPECT_EQ(results.Count(), limit == 0 ? 5u : limit) << "limit " << limit;
    EXPECT_TRUE(archive.WaitFor("release-held"));
  }
}

}  // namespace
}  // namespace morvanta::dicom
