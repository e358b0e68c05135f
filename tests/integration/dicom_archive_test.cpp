// The binding against morvanta-archive on loopback: searches, what the
// archive received, character sets, forwarding requests and every
// misbehaviour ending in the right error instead of a hang.
#include <gtest/gtest.h>

#include <ostream>

#include <set>

#include "dicom/dicom.h"
#include "search/return_keys.h"
#include "dicom/errors.h"
#include "archive_process.h"
#include "dicom_peer.h"

namespace morvanta::dicom {
namespace {

using morvanta::testing::Archive;
using morvanta::testing::FreePort;
using morvanta::testing::Process;
using morvanta::testing::ReadLines;
using morvanta::testing::TempDir;
using morvanta::testing::WaitForPort;

constexpr const char* kToday = morvanta::testing::kArchiveToday;
constexpr const char* kCrStorage = "1.2.840.10008.5.1.4.1.1.1";

// One query, set up as the program's search does.
DataSetList Search(int port, const std::function<void(DataSet&)>& fill, int timeout = 10,
                   const std::string& calledAET = "ARCHIVE", const std::string& host = "127.0.0.1") {
  QueryClient client;
  client.SetPort(port);
  client.SetHost(host);
  client.SetCalledAET(calledAET);
  client.SetCallingAET("MORVANTA");
  client.SetReturnKeys(morvanta::search::kReturnKeys);
  client.SetQueryRoot("STUDY");
  client.SetTimeout(timeout);
  DataSet& identifier = client.Identifier();
  fill(identifier);
  return client.Find(identifier);
}

void StudyQuery(DataSet& id, const std::string& name, const std::string& patientId = "") {
  id.SetPatientName(name);
  id.SetPatientID(patientId);
  id.Attributes().Add(0x0008, 0x0052, "STUDY");
}

std::string Value(const DataSet& d, std::uint16_t g, std::uint16_t e) { return d.Attributes().Item(g, e).Value(); }

class ArchiveSearch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { archive_ = new Archive({"--demo", "50"}); }
  static void TearDownTestSuite() {
    delete archive_;
    archive_ = nullptr;
  }
  static Archive* archive_;
};
Archive* ArchiveSearch::archive_ = nullptr;

TEST_F(ArchiveSearch, CriteriaFindTheMatchingStudiesOnly) {
  struct Case {
    const char* label;
    std::function<void(DataSet&)> fill;
    std::size_t count;
    std::function<bool(const DataSet&)> holds;
  };
  const std::vector<Case> cases = {
      {"wildcard", [](DataSet& d) { StudyQuery(d, "*"); }, 50, [](const DataSet& r) { return !r.StudyUID().empty(); }},
      {"name", [](DataSet& d) { StudyQuery(d, "Müller^Jürgen"); }, 2,
       [](const DataSet& r) { return r.PatientName() == "Müller^Jürgen"; }},
      {"name wildcard, any case", [](DataSet& d) { StudyQuery(d, "müll*"); }, 4,
       [](const DataSet& r) { return r.PatientName().rfind("Müller^", 0) == 0; }},
      {"patient ID", [](DataSet& d) { StudyQuery(d, "*", "PID00003"); }, 2,
       [](const DataSet& r) { return r.PatientID() == "PID00003"; }},
      {"date", [](DataSet& d) { StudyQuery(d, "*"); d.Attributes().Add(0x0008, 0x0020, kToday); }, 2,
       [](const DataSet& r) { return Value(r, 0x0008, 0x0020) == kToday; }},
      {"date range", [](DataSet& d) { StudyQuery(d, "*"); d.Attributes().Add(0x0008, 0x0020, "20261130-20261207"); }, 16,
       [](const DataSet& r) { const auto v = Value(r, 0x0008, 0x0020); return v >= "20261130" && v <= "20261207"; }},
      {"open date range", [](DataSet& d) { StudyQuery(d, "*"); d.Attributes().Add(0x0008, 0x0020, "-20261110"); }, 2,
       [](const DataSet& r) { return Value(r, 0x0008, 0x0020) <= "20261110"; }},
      {"modality", [](DataSet& d) { StudyQuery(d, "*"); d.Attributes().Add(0x0008, 0x0060, "MR"); }, 7,
       [](const DataSet& r) { return Value(r, 0x0008, 0x0060) == "MR"; }},
      {"modality of a later series", [](DataSet& d) { StudyQuery(d, "*"); d.Attributes().Add(0x0008, 0x0060, "SR"); }, 8,
       [](const DataSet& r) { return Value(r, 0x0008, 0x0061).find("SR") != std::string::npos; }},
      {"no match", [](DataSet& d) { StudyQuery(d, "Nobody^Here"); }, 0, [](const DataSet&) { return false; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const DataSetList results = Search(archive_->port(), c.fill);
    EXPECT_EQ(results.Count(), c.count);
    for (const DataSet& r : results) EXPECT_TRUE(c.holds(r)) << r.PatientName() << " " << r.StudyUID();
  }
}

TEST_F(ArchiveSearch, ResultsCarryTheGridsReturnKeys) {
  const DataSetList results = Search(archive_->port(), [](DataSet& d) { StudyQuery(d, "Müller^Jürgen"); });
  ASSERT_EQ(results.Count(), 2u);
  const DataSet& first = results[0];
  EXPECT_EQ(first.StudyUID(), "2.25.3141592653589793238462643380000000");
  EXPECT_EQ(Value(first, 0x0008, 0x0020), kToday);
  EXPECT_FALSE(Value(first, 0x0008, 0x0030).empty());
  EXPECT_EQ(first.PatientID(), "PID00000");
  EXPECT_EQ(first.PatientSex(), "M");
  EXPECT_EQ(first.BirthDate().size(), 8u);
  EXPECT_EQ(Value(first, 0x0008, 0x0060), "CT");
  EXPECT_EQ(Value(first, 0x0018, 0x0015), "CHEST");
  EXPECT_EQ(first.StudyDescription(), "CT Thorax");
  EXPECT_EQ(first.AccessionNumber(), "ACC100000");
}

TEST_F(ArchiveSearch, ArchiveReceivesTheIdentifierWithEmptyReturnKeys) {
  Search(archive_->port(), [](DataSet& d) {
    d.SetPatientName("Smith^John");
    d.SetBirthDate("19600101");
    d.SetPatientID("");
    d.Attributes().Add(0x0008, 0x0052, "STUDY");
    d.Attributes().Add(0x0008, 0x0060, "CT");
    d.Attributes().Add(0x0008, 0x0020, "20261130-20261207");
  });
  const auto finds = archive_->Lines("find");
  ASSERT_FALSE(finds.empty());
  // On the wire a data set is in tag order (PS3.5 7.1); the program's values
  // are kept, the grid's other keys travel empty.
  EXPECT_EQ(finds.back(),
            "{\"type\":\"find\",\"calling\":\"MORVANTA\",\"called\":\"ARCHIVE\",\"identifier\":{"
            "\"0008,0020\":\"20261130-20261207\",\"0008,0030\":\"\",\"0008,0050\":\"\",\"0008,0052\":\"STUDY\","
            "\"0008,0060\":\"CT\",\"0008,0061\":\"\",\"0008,1030\":\"\",\"0010,0010\":\"Smith^John\","
            "\"0010,0020\":\"\",\"0010,0030\":\"19600101\",\"0010,0040\":\"\",\"0018,0015\":\"\","
            "\"0020,000D\":\"\"}}");
}

TEST_F(ArchiveSearch, SecondStudyDateAddedWins) {
  const DataSetList results = Search(archive_->port(), [](DataSet& d) {
    StudyQuery(d, "*");
    d.Attributes().Add(0x0008, 0x0020, "20261206");
    d.Attributes().Add(0x0008, 0x0020, kToday);
  });
  ASSERT_EQ(results.Count(), 2u);
  EXPECT_EQ(Value(results[0], 0x0008, 0x0020), kToday);
}

TEST_F(ArchiveSearch, TenThousandResultsArrive) {
  Archive many({"--results", "10000"});
  const DataSetList results = Search(many.port(), [](DataSet& d) { StudyQuery(d, "*"); });
  ASSERT_EQ(results.Count(), 10000u);
  std::set<std::string> uids;
  for (const DataSet& r : results) uids.insert(r.StudyUID());
  EXPECT_EQ(uids.size(), 10000u);
}

// Umlauts out and back, whatever character set the archive answers in.
class ArchiveCharset : public ::testing::TestWithParam<std::string> {};

TEST_P(ArchiveCharset, UmlautsSurviveBothWays) {
  Archive archive({"--demo", "4", "--charset", GetParam()});
  const DataSetList results = Search(archive.port(), [](DataSet& d) { StudyQuery(d, "Müller^Jürgen"); });
  ASSERT_EQ(results.Count(), 2u);
  EXPECT_EQ(results[0].PatientName(), "Müller^Jürgen");
  const auto finds = archive.Lines("find");
  ASSERT_EQ(finds.size(), 1u);
  EXPECT_NE(finds[0].find("\"0008,0005\":\"ISO_IR 100\""), std::string::npos) << finds[0];
  EXPECT_NE(finds[0].find("\"0010,0010\":\"Müller^Jürgen\""), std::string::npos) << finds[0];
}

TEST_P(ArchiveCharset, LettersBeyondLatin1TravelAsUtf8) {
  Archive archive({"--demo", "4", "--charset", GetParam()});
  Search(archive.port(), [](DataSet& d) { StudyQuery(d, "Łukasz^Ärger"); });
  const auto finds = archive.Lines("find");
  ASSERT_EQ(finds.size(), 1u);
  EXPECT_NE(finds[0].find("\"0008,0005\":\"ISO_IR 192\""), std::string::npos) << finds[0];
  EXPECT_NE(finds[0].find("\"0010,0010\":\"Łukasz^Ärger\""), std::string::npos) << finds[0];
}

INSTANTIATE_TEST_SUITE_P(AnswerCharsets, ArchiveCharset, ::testing::Values("ISO_IR 100", "ISO_IR 192", "none"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (c == ' ' || c == '_') c = 'x';
                           return name;
                         });

TEST(ArchiveStore, ThreeRequestsOverOneAssociation) {
  Archive archive;
  UidGenerator uids;
  StoreClient client;
  client.SetTimeout(10);
  client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
  const std::vector<std::string> studies = {"1.2.3.1", "1.2.3.2", ""};
  std::vector<std::string> sent;
  for (const std::string& study : studies) {
    DataSet request;
    request.Attributes().Add(0x0019, 0x0010, "REDIRECT");
    request.Attributes().Add(0x0019, 0x0030, study);
    sent.push_back(uids.NewUID());
    client.Store(request, 10, sent.back(), kCrStorage);
  }
  client.Close();

  const auto stores = archive.Lines("store");
  ASSERT_EQ(stores.size(), 3u);
  std::set<std::string> seen;
  for (std::size_t i = 0; i < stores.size(); ++i) {
    const std::string& line = stores[i];
    EXPECT_NE(line.find("\"calling\":\"MORVANTA\""), std::string::npos);
    EXPECT_NE(line.find("\"sop_class_uid\":\"" + std::string(kCrStorage) + "\""), std::string::npos);
    EXPECT_NE(line.find("\"sop_instance_uid\":\"" + sent[i] + "\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"creator\":\"REDIRECT\""), std::string::npos);
    EXPECT_NE(line.find("\"study_uid\":\"" + studies[i] + "\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"status\":\"0x0000\""), std::string::npos);
    seen.insert(sent[i]);
  }
  EXPECT_EQ(seen.size(), 3u);
}

TEST(ArchiveStore, OpenAndCloseWithoutRequests) {
  Archive archive;
  StoreClient client;
  client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
  client.Close();
  EXPECT_TRUE(archive.Lines("store").empty());
}

TEST(ArchiveStore, FailedStoreStopsWithStatusInHex) {
  Archive archive({"--fail-store", "2:A700"});
  StoreClient client;
  client.SetTimeout(5);
  client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
  DataSet request;
  request.Attributes().Add(0x0019, 0x0010, "REDIRECT");
  request.Attributes().Add(0x0019, 0x0030, "1.2.3");
  UidGenerator uids;
  client.Store(request, 10, uids.NewUID(), kCrStorage);
  try {
    client.Store(request, 10, uids.NewUID(), kCrStorage);
    FAIL() << "a failure status must throw";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1007);
    // 0xA7xx promises no room later: archives also use it for a request they will never take.
    EXPECT_EQ(e.description(), "ARCHIVE at 127.0.0.1:" + std::to_string(archive.port()) +
                                   " refused to store the forwarding request (C-STORE status 0xA700): the archive "
                                   "may lack room, or may not accept this request; its log tells why.");
  }
  EXPECT_EQ(archive.Lines("store").size(), 2u);
}

// Every misbehaviour gives its error number, within the time-out.
struct Misbehaviour {
  const char* label;
  std::vector<std::string> args;
  bool store;
  std::int32_t number;
  const char* text;
};
// Test names in ctest show the case, not its bytes.
void PrintTo(const Misbehaviour& c, std::ostream* os) { *os << c.label; }

class ArchiveMisbehaviour : public ::testing::TestWithParam<Misbehaviour> {};

TEST_P(ArchiveMisbehaviour, EndsInItsError) {
  const Misbehaviour& m = GetParam();
  Archive archive(m.args);
  try {
    if (m.store) {
      StoreClient client;
      client.SetTimeout(2);
      client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
      DataSet request;
      request.Attributes().Add(0x0019, 0x0010, "REDIRECT");
      request.Attributes().Add(0x0019, 0x0030, "1.2.3");
      client.Store(request, 10, UidGenerator().NewUID(), kCrStorage);
      client.Close();
    } else {
      Search(archive.port(), [](DataSet& d) { StudyQuery(d, "*"); }, 2);
    }
    FAIL() << "expected error " << m.number;
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), m.number) << e.description();
    EXPECT_NE(e.description().find(m.text), std::string::npos) << e.description();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArchiveMisbehaviour,
    ::testing::Values(
        Misbehaviour{"RefusedCalledAET", {"--refuse", "called"}, false, 1003, "called AE title not recognised"},
        Misbehaviour{"RefusedCallingAET", {"--refuse", "calling"}, true, 1003, "calling AE title not recognised"},
        Misbehaviour{"RefusedNoReason", {"--refuse", "noreason"}, false, 1003, "Association rejected by ARCHIVE at"},
        Misbehaviour{"WrongCalledAET", {"--aet", "OTHER"}, false, 1003, "called AE title not recognised"},
        Misbehaviour{"AssociationNeverAnswered", {"--hang-association"}, false, 1004, "within 2 s"},
        Misbehaviour{"FindNeverAnswered", {"--hang", "--demo", "3"}, false, 1004, "No answer from ARCHIVE at"},
        Misbehaviour{"StoreNeverAnswered", {"--hang"}, true, 1004, "within 2 s"},
        Misbehaviour{"EachResponseTooLate", {"--delay", "3000", "--demo", "1"}, false, 1004, "within 2 s"},
        Misbehaviour{"FindFailureStatus", {"--find-status", "C001", "--demo", "3"}, false, 1006,
                     "C-FIND refused by ARCHIVE at 127.0.0.1"},
        Misbehaviour{"FindAborted", {"--find-abort", "--demo", "3"}, false, 1005, "aborted by ARCHIVE"},
        Misbehaviour{"FirstStoreFails", {"--fail-store", "1:C000"}, true, 1007, "status 0xC000 (unable to process)"},
        // What the archive sent breaks the protocol: refused, never parsed
        // into a crash, never taken for the archive's abort.
        Misbehaviour{"NestedTenThousandDeep", {"--results", "3", "--nest-depth", "10000"}, false, 1009,
                     "nest deeper than 128 levels"},
        Misbehaviour{"CommandNestedTenThousandDeep", {"--results", "3", "--nest-command", "10000"}, false, 1009,
                     "a response's command cannot be read: its sequences nest deeper than 128 levels"},
        Misbehaviour{"StoreResponseCommandNestedTenThousandDeep", {"--nest-command", "10000"}, true, 1009,
                     "a response's command cannot be read: its sequences nest deeper than 128 levels"},
        Misbehaviour{"MatchWithoutEnd", {"--results", "3", "--endless-match"}, false, 1009,
                     "a response is over 128 MiB"},
        Misbehaviour{"ResponseToAnotherMessageId", {"--results", "3", "--wrong-message-id"}, false, 1009,
                     "answers message ID 2, not this request's 1"},
        Misbehaviour{"PduOverTheMaximum", {"--results", "3", "--oversize-pdu"}, false, 1009,
                     "Illegal PDU Length"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ArchiveAbsent, NobodyListening) {
  const int port = FreePort();
  try {
    Search(port, [](DataSet& d) { StudyQuery(d, "*"); }, 2);
    FAIL() << "expected error 1001";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1001) << e.description();
    EXPECT_NE(e.description().find("ARCHIVE at 127.0.0.1:" + std::to_string(port)), std::string::npos)
        << e.description();
  }
}

TEST(ArchiveAbsent, UnknownHost) {
  try {
    Search(104, [](DataSet& d) { StudyQuery(d, "*"); }, 2, "ARCHIVE", "no-such-host.invalid");
    FAIL() << "expected error 1002";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1002) << e.description();
    EXPECT_NE(e.description().find("no-such-host.invalid"), std::string::npos);
  }
}

TEST(ArchiveAbsent, StoreWithoutOpen) {
  StoreClient client;
  DataSet request;
  EXPECT_THROW(client.Store(request, 10, "1.2.3", kCrStorage), Error);
}

}  // namespace
}  // namespace morvanta::dicom
