// The host-name lookup that a cancel or the time-out does not wait for: a
// lookup that hangs (as the system's does with a dead name server) is left
// behind, and what a lookup answers is told apart.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>

#include "dicom/resolve.h"
#include "platform/socket.h"

namespace morvanta::dicom {
namespace {

using namespace std::chrono_literals;
using Outcome = Resolution::Outcome;

// A lookup that answers only when the test lets it, long after the test has
// stopped waiting; the test lets it go at the end so its thread ends.
struct HeldLookup {
  std::shared_ptr<std::promise<void>> release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  Lookup lookup() const {
    return [released = released](const std::string&, std::string& address) {
      released.wait();
      address = "10.0.0.1";
      return 0;
    };
  }
  ~HeldLookup() { release->set_value(); }
};

TEST(ResolveHost, ACancelDoesNotWaitForAHungLookup) {
  HeldLookup held;
  std::atomic<bool> cancel{false};
  auto running = std::async(std::launch::async, [&] {
    return ResolveHost("archive.example", 600s, [&] { return cancel.load(); }, held.lookup());
  });
  cancel = true;
  ASSERT_EQ(running.wait_for(10s), std::future_status::ready) << "the cancel waited for the lookup";
  EXPECT_EQ(running.get().outcome, Outcome::Cancelled);
}

TEST(ResolveHost, TheTimeOutDoesNotWaitForAHungLookup) {
  HeldLookup held;
  auto running = std::async(std::launch::async, [&] {
    return ResolveHost("archive.example", 200ms, [] { return false; }, held.lookup());
  });
  ASSERT_EQ(running.wait_for(10s), std::future_status::ready) << "the time-out waited for the lookup";
  EXPECT_EQ(running.get().outcome, Outcome::TimedOut);
}

struct Answer {
  const char* label;
  std::string host;
  int rc;                    // what the lookup returns
  std::string found;         // the address it finds
  Outcome outcome;
  std::string address;       // what the caller connects to
  bool lookupCalled;
};
void PrintTo(const Answer& a, std::ostream* os) { *os << a.label; }

class ResolveAnswers : public ::testing::TestWithParam<Answer> {};

TEST_P(ResolveAnswers, AreToldApart) {
  const Answer& a = GetParam();
  bool called = false;
  const Resolution r = ResolveHost(a.host, 10s, {}, [&](const std::string&, std::string& address) {
    called = true;
    address = a.found;
    return a.rc;
  });
  EXPECT_EQ(r.outcome, a.outcome);
  EXPECT_EQ(r.address, a.address);
  EXPECT_EQ(called, a.lookupCalled);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResolveAnswers,
    ::testing::Values(
        Answer{"NumericNeedsNoLookup", "127.0.0.1", 0, "", Outcome::Found, "127.0.0.1", false},
        Answer{"NameGivesItsNumber", "pacs", 0, "10.1.2.3", Outcome::Found, "10.1.2.3", true},
        Answer{"NoSuchName", "nosuch.invalid", EAI_NONAME, "", Outcome::Unknown, "", true},
        Answer{"NameServerFails", "nosuch.invalid", EAI_FAIL, "", Outcome::Unknown, "", true},
        // Left to the connection, which reports what it meets.
        Answer{"ResolverDown", "pacs", EAI_AGAIN, "", Outcome::Found, "pacs", true},
        Answer{"OnlyIPv6", "pacs6", 0, "", Outcome::Found, "pacs6", true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ResolveHost, TheSystemFindsLocalhost) {
  const Resolution r = ResolveHost("localhost", 10s, {});
  EXPECT_EQ(r.outcome, Outcome::Found);
  EXPECT_EQ(r.address, "127.0.0.1");
}

}  // namespace
}  // namespace morvanta::dicom
