// Connection test, cancel, the result limit and C-MOVE, against
// morvanta-archive, DCMTK's dcmqrscp and a storescp that receives the moved
// images, all on loopback.
#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>

#include "dicom/dicom.h"
#include "search/return_keys.h"
#include "dicom/errors.h"
#include "archive_process.h"
#include "dicom_peer.h"

namespace morvanta::dicom {
namespace {

using morvanta::testing::Archive;
using morvanta::testing::FreePort;
using morvanta::testing::StoreScp;
using morvanta::testing::Process;
using morvanta::testing::ReadLines;
using morvanta::testing::Shell;
using morvanta::testing::StartDcmqrscp;
using morvanta::testing::TempDir;
using morvanta::testing::WaitForPort;

constexpr const char* kToday = morvanta::testing::kArchiveToday;
// Demo study 2: three series (3 + 4 + 5 images).
constexpr const char* kStudy2 = "2.25.3141592653589793238462643380000002";

int SentBy(const std::string& findDone) {
  std::smatch match;
  if (!std::regex_search(findDone, match, std::regex("\"sent\":([0-9]+)"))) return -1;
  return std::stoi(match[1]);
}

void StudyQuery(DataSet& id) {
  id.SetPatientName("*");
  id.SetPatientID("");
  id.Attributes().Add(0x0008, 0x0052, "STUDY");
}

std::unique_ptr<QueryClient> Client(int port, const std::string& calledAET = "ARCHIVE", int timeout = 30) {
  auto client = std::make_unique<QueryClient>();
  client->SetPort(port);
  client->SetHost("127.0.0.1");
  client->SetCalledAET(calledAET);
  client->SetCallingAET("MORVANTA");
  client->SetReturnKeys(morvanta::search::kReturnKeys);
  client->SetQueryRoot("STUDY");
  client->SetTimeout(timeout);
  return client;
}

// ------------------------------------------------------------------ C-ECHO

TEST(Echo, WorksAgainstTheArchiveAndIsJournaled) {
  Archive archive;
  const std::chrono::milliseconds took = Echo(ArchiveAddress{"127.0.0.1", archive.port(), "ARCHIVE", "MORVANTA", 5});
  EXPECT_GE(took.count(), 0);
  const auto echoes = archive.Lines("echo");
  ASSERT_EQ(echoes.size(), 1u);
  EXPECT_EQ(echoes[0], "{\"type\":\"echo\",\"calling\":\"MORVANTA\"}");
}

struct EchoOutcome {
  const char* label;
  std::vector<std::string> archiveArgs;  // empty: nobody listens
  std::string host;
  std::int32_t number;
  const char* remedy;
};
// Test names in ctest show the case, not its bytes.
void PrintTo(const EchoOutcome& c, std::ostream* os) { *os << c.label; }

class EchoFails : public ::testing::TestWithParam<EchoOutcome> {};

TEST_P(EchoFails, WithItsNumberAndRemedy) {
  const EchoOutcome& o = GetParam();
  std::unique_ptr<Archive> archive;
  int port = FreePort();
  if (!o.archiveArgs.empty()) {
    archive = std::make_unique<Archive>(o.archiveArgs);
    port = archive->port();
  }
  try {
    Echo(ArchiveAddress{o.host, port, "ARCHIVE", "MORVANTA", 2});
    FAIL() << "expected error " << o.number;
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), o.number) << e.description();
    EXPECT_NE(e.description().find(o.remedy), std::string::npos) << e.description();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EchoFails,
    ::testing::Values(
        EchoOutcome{"Refused", {}, "127.0.0.1", 1001, "check that the archive is running and the port is right."},
        EchoOutcome{"UnknownHost", {}, "no-such-host.invalid", 1002, "check Remote IP."},
        EchoOutcome{"CalledAETitle", {"--aet", "OTHER"}, "127.0.0.1", 1003,
                    "(called AE title not recognised): check Remote AET."},
        EchoOutcome{"CallingAETitle", {"--refuse", "calling"}, "127.0.0.1", 1003,
                    "(calling AE title not recognised): add this station's AE title to the archive."},
        EchoOutcome{"Timeout", {"--hang-association"}, "127.0.0.1", 1004,
                    "within 2 s: the archive or network is slow or down; [Query] Timeout sets the wait."}),
    [](const auto& info) { return std::string(info.param.label); });

// ------------------------------------------------------------------ cancel

struct CancelCase {
  const char* label;
  std::vector<std::string> args;
  const char* waitFor;  // journal line that shows the archive is keeping us waiting
  bool ownFlag;         // the caller's flag, or QueryClient::Cancel()
};
// Test names in ctest show the case, not its bytes.
void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.label; }

class FindCancel : public ::testing::TestWithParam<CancelCase> {};

// The client waits up to 30 s; only the cancel can end it earlier, and a
// cancel that did not work would end in 1004 after those 30 s instead.
TEST_P(FindCancel, EndsAsCancelledWhateverTheArchiveDoes) {
  const CancelCase& c = GetParam();
  Archive archive(c.args);
  auto client = Client(archive.port());
  std::atomic<bool> flag{false};
  if (c.ownFlag) client->SetCancelFlag(&flag);
  StudyQuery(client->Identifier());
  auto running = std::async(std::launch::async, [&] { return client->Find(client->Identifier()); });
  ASSERT_TRUE(archive.WaitFor(c.waitFor));
  if (c.ownFlag)
    flag = true;
  else
    client->Cancel();
  try {
    running.get();
    FAIL() << "a cancelled search must not return results";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1012) << e.description();
    EXPECT_EQ(e.description(), "The study search was cancelled.");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindCancel,
    ::testing::Values(CancelCase{"NeverAnswersTheFind", {"--hang", "--demo", "3"}, "find", true},
                      CancelCase{"NeverAnswersTheFindByCancel", {"--hang", "--demo", "3"}, "find", false},
                      CancelCase{"NeverAcceptsTheAssociation", {"--hang-association"}, "association-held", true},
                      CancelCase{"SlowMatches", {"--delay", "200", "--demo", "50"}, "find", true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FindCancel, SlowArchiveStopsSendingAfterTheCancel) {
  Archive archive({"--delay", "200", "--demo", "50"});
  auto client = Client(archive.port());
  StudyQuery(client->Identifier());
  auto running = std::async(std::launch::async, [&] { return client->Find(client->Identifier()); });
  ASSERT_TRUE(archive.WaitFor("find"));
  client->Cancel();
  EXPECT_THROW(running.get(), Error);
  // The archive answered the C-CANCEL with 0xFE00 (PS3.4 C.4.1.2.2).
  ASSERT_TRUE(archive.WaitFor("find-done"));
  const std::string done = archive.Lines("find-done")[0];
  EXPECT_NE(done.find("\"status\":\"0xFE00\""), std::string::npos) << done;
  EXPECT_LT(SentBy(done), 50) << done;
}

// ------------------------------------------------------------------ limit

TEST(FindLimit, StopsAtTheLimitAndTheArchiveSendsFarFewer) {
  // 1 ms a match keeps the archive from filling the socket buffers with all
  // 5,000 before the C-CANCEL can reach it.
  Archive archive({"--demo", "5000", "--delay", "1"});
  auto client = Client(archive.port());
  client->SetResultLimit(400);
  StudyQuery(client->Identifier());
  const DataSetList results = client->Find(client->Identifier());
  EXPECT_EQ(results.Count(), 400u);
  EXPECT_TRUE(results.Truncated());
  ASSERT_TRUE(archive.WaitFor("find-done"));
  const std::string done = archive.Lines("find-done")[0];
  const int sent = SentBy(done);
  EXPECT_GE(sent, 400) << done;
  EXPECT_LT(sent, 5000) << done;
  EXPECT_NE(done.find("\"status\":\"0xFE00\""), std::string::npos) << done;
  // The association ended in order: the archive takes the next search.
  auto again = Client(archive.port());
  again->SetResultLimit(400);
  StudyQuery(again->Identifier());
  EXPECT_EQ(again->Find(again->Identifier()).Count(), 400u);
}

TEST(FindLimit, FewerMatchesThanTheLimitAreAllOfThem) {
  Archive archive({"--demo", "50"});
  auto client = Client(archive.port());
  client->SetResultLimit(400);
  StudyQuery(client->Identifier());
  const DataSetList results = client->Find(client->Identifier());
  EXPECT_EQ(results.Count(), 50u);
  EXPECT_FALSE(results.Truncated());
  ASSERT_TRUE(archive.WaitFor("find-done"));
  EXPECT_NE(archive.Lines("find-done")[0].find("\"sent\":50,\"status\":\"0x0000\""), std::string::npos);
}

// ------------------------------------------------------------------ C-MOVE

// The archive's own count of the study's images, by C-FIND of Number of
// Study Related Instances (0020,1208).
int ImagesOf(int port, const std::string& studyUid) {
  auto client = Client(port);
  DataSet& id = client->Identifier();
  id.Attributes().Add(0x0008, 0x0052, "STUDY");
  id.Attributes().Add(0x0020, 0x000D, studyUid);
  id.Attributes().Add(0x0020, 0x1208, "");
  const DataSetList results = client->Find(id);
  if (results.Count() != 1) return -1;
  return std::stoi(results[0].Attributes().Item(0x0020, 0x1208).Value());
}

TEST(MoveFromArchive, ImagesArriveAtTheDestinationWithProgress) {
  StoreScp destination("DEST");
  Archive archive({"--demo", "5", "--node", "DEST=127.0.0.1:" + std::to_string(destination.port())});
  const int images = ImagesOf(archive.port(), kStudy2);
  ASSERT_GT(images, 1);

  MoveClient client;
  client.SetTimeout(10);
  client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
  std::vector<MoveCounts> steps;
  const MoveCounts done = client.Move(kStudy2, "DEST", [&](const MoveCounts& c) { steps.push_back(c); });
  // A second study over the same association.
  const MoveCounts second = client.Move("2.25.3141592653589793238462643380000000", "DEST");
  client.Close();

  EXPECT_EQ(done.status, 0x0000);
  EXPECT_EQ(done.completed, images);
  EXPECT_EQ(done.failed, 0);
  EXPECT_EQ(done.warning, 0);
  ASSERT_EQ(steps.size(), static_cast<std::size_t>(images - 1));
  for (std::size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i].completed, static_cast<int>(i + 1));
    EXPECT_EQ(steps[i].remaining, images - static_cast<int>(i + 1));
  }
  EXPECT_GT(second.completed, 0);
  EXPECT_EQ(destination.Files(), images + second.completed);
  const auto moves = archive.Lines("move");
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_NE(moves[0].find("\"calling\":\"MORVANTA\",\"destination\":\"DEST\",\"study_uid\":\"" +
                          std::string(kStudy2) + "\",\"completed\":" + std::to_string(images)),
            std::string::npos)
      << moves[0];
}

TEST(MoveFromArchive, UnknownStudyMovesNothing) {
  StoreScp destination("DEST");
  Archive archive({"--demo", "5", "--node", "DEST=127.0.0.1:" + std::to_string(destination.port())});
  MoveClient client;
  client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
  const MoveCounts done = client.Move("1.2.3.4.5", "DEST");
  client.Close();
  EXPECT_EQ(done.status, 0x0000);
  EXPECT_EQ(done.completed + done.failed + done.warning, 0);
  EXPECT_EQ(destination.Files(), 0);
}

TEST(MoveFromArchive, UnknownDestinationNamesTheRemedy) {
  Archive archive({"--demo", "5"});
  MoveClient client;
  client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
  try {
    client.Move(kStudy2, "CT_ROOM");
    FAIL() << "an unknown destination must throw";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1013);
    EXPECT_EQ(e.description(),
              "The archive does not know the destination CT_ROOM (0xA801): add it to the archive's list of nodes.");
  }
  // A failure status leaves the association usable.
  EXPECT_NO_THROW(client.Close());
}

TEST(MoveFromArchive, DestinationThatRefusesOneImageIsAWarningWithItsCount) {
  Archive destination({"--aet", "DEST", "--fail-store", "2:A700"});
  Archive archive({"--demo", "5", "--node", "DEST=127.0.0.1:" + std::to_string(destination.port())});
  const int images = ImagesOf(archive.port(), kStudy2);
  MoveClient client;
  client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
  const MoveCounts done = client.Move(kStudy2, "DEST");
  client.Close();
  EXPECT_EQ(done.status, 0xB000);
  EXPECT_EQ(done.failed, 1);
  EXPECT_EQ(done.completed, images - 1);
  EXPECT_EQ(destination.Lines("store").size(), static_cast<std::size_t>(images));
}

TEST(MoveFromArchive, DestinationDownIsOutOfResources) {
  Archive archive({"--demo", "5", "--node", "DEST=127.0.0.1:" + std::to_string(FreePort())});
  MoveClient client;
  client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
  try {
    client.Move(kStudy2, "DEST");
    FAIL() << "a destination nobody answers must throw";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1013);
    EXPECT_NE(e.description().find("could not send the images to DEST (0xA702, 0 sent, 12 failed): check that DEST "
                                   "is running"),
              std::string::npos)
        << e.description();
  }
}

// A C-MOVE response's data set is decoded like a match: nested as deep as
// the decoder takes it is read, far deeper is the archive's protocol error.
TEST(MoveFromArchive, NestedResponseIsReadToTheBoundAndRefusedBeyond) {
  for (const int depth : {128, 100000}) {
    Archive archive({"--demo", "5", "--nest-depth", std::to_string(depth)});
    MoveClient client;
    client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
    try {
      EXPECT_EQ(client.Move(kStudy2, "DEST").status, 0xB000) << depth;
      EXPECT_EQ(depth, 128);
    } catch (const Error& e) {
      EXPECT_EQ(depth, 100000) << e.description();
      EXPECT_EQ(e.number(), 1009) << e.description();
      EXPECT_NE(e.description().find("nest deeper than 128 levels"), std::string::npos) << e.description();
    }
  }
}

TEST(MoveFromArchive, MoveWithoutOpenIsRefused) {
  MoveClient client;
  try {
    client.Move(kStudy2, "DEST");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1010);
  }
}

TEST(MoveFromArchive, CancelWhileTheArchiveHangs) {
  Archive archive({"--demo", "5", "--hang", "--node", "DEST=127.0.0.1:104"});
  MoveClient client;
  std::atomic<bool> flag{false};
  client.SetCancelFlag(&flag);
  client.Open("127.0.0.1", archive.port(), "MORVANTA", "ARCHIVE");
  auto running = std::async(std::launch::async, [&] { return client.Move(kStudy2, "DEST"); });
  // --hang holds every request, C-MOVE included, before it is journaled:
  // cancel at once; the move has either started or is about to.
  flag = true;
  try {
    running.get();
    FAIL() << "a cancelled move must throw";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1012) << e.description();
  }
}

// ------------------------------------------------------------------ dcmqrscp

// A CT image header as a DICOM file, through dump2dcm.
std::string MakeFile(const TempDir& dir, int n) {
  const std::string dump = dir / ("img" + std::to_string(n) + ".txt");
  const std::string file = dir / ("img" + std::to_string(n) + ".dcm");
  std::ofstream out(dump);
  out << "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.2]\n"
      << "(0008,0018) UI [1.2.826.0.1.3680043.99.13." << n << "]\n"
      << "(0008,0020) DA [20261207]\n"
      << "(0008,0060) CS [CT]\n"
      << "(0010,0010) PN [Move^Test" << n << "]\n"
      << "(0010,0020) LO [MOVE" << n << "]\n"
      << "(0020,000d) UI [1.2.826.0.1.3680043.99.11." << n << "]\n"
      << "(0020,000e) UI [1.2.826.0.1.3680043.99.12." << n << "]\n";
  out.close();
  EXPECT_EQ(Shell("dump2dcm '" + dump + "' '" + file + "' >/dev/null 2>&1"), 0);
  return file;
}

class DcmqrscpMove : public ::testing::Test {
 protected:
  void SetUp() override {
    destination_ = std::make_unique<StoreScp>("DEST");
    port_ = FreePort();
    server_ = StartDcmqrscp(dir_, port_, "dest = (DEST, 127.0.0.1, " + std::to_string(destination_->port()) + ")\n");
    ASSERT_TRUE(server_) << "dcmqrscp did not start";
    std::string files;
    for (int n = 1; n <= 3; ++n) files += " '" + MakeFile(dir_, n) + "'";
    ASSERT_EQ(Shell("storescu -aec DCMQR 127.0.0.1 " + std::to_string(port_) + files + " >/dev/null 2>&1"), 0);
  }

  TempDir dir_;
  int port_ = 0;
  std::unique_ptr<StoreScp> destination_;
  std::unique_ptr<Process> server_;
};

TEST_F(DcmqrscpMove, EchoWorksAndAnUnknownCalledAETitleIsRejected) {
  EXPECT_GE(Echo(ArchiveAddress{"127.0.0.1", port_, "DCMQR", "MORVANTA", 5}).count(), 0);
  try {
    Echo(ArchiveAddress{"127.0.0.1", port_, "NOT_DCMQR", "MORVANTA", 5});
    FAIL() << "dcmqrscp knows only the AE titles of its table";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1003) << e.description();
    EXPECT_NE(e.description().find("check Remote AET."), std::string::npos) << e.description();
  }
}

// The criterion given as Modalities in Study (0008,0061) finds the studies
// on a standard archive. (dcmqrscp 3.6.7 does not narrow by that key once
// other keys are present, so only the finding is asserted.)
TEST_F(DcmqrscpMove, ModalitiesInStudyFindsStudies) {
  auto client = Client(port_, "DCMQR");
  DataSet& id = client->Identifier();
  StudyQuery(id);
  id.Attributes().Add(0x0008, 0x0061, "CT");
  const DataSetList results = client->Find(id);
  ASSERT_EQ(results.Count(), 3u);
  for (const DataSet& r : results) EXPECT_EQ(r.StudyUID().rfind("1.2.826.0.1.3680043.99.11.", 0), 0u);
}

TEST_F(DcmqrscpMove, StudyArrivesAtStorescp) {
  MoveClient client;
  client.SetTimeout(10);
  client.Open("127.0.0.1", port_, "MORVANTA", "DCMQR");
  const MoveCounts done = client.Move("1.2.826.0.1.3680043.99.11.2", "DEST");
  EXPECT_EQ(done.status, 0x0000);
  EXPECT_EQ(done.completed, 1);
  EXPECT_EQ(done.failed, 0);
  try {
    client.Move("1.2.826.0.1.3680043.99.11.2", "CT_ROOM");
    FAIL() << "dcmqrscp does not know CT_ROOM";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1013);
    EXPECT_NE(e.description().find("CT_ROOM (0xA801): add it to the archive's list of nodes."), std::string::npos)
        << e.description();
  }
  client.Close();
  EXPECT_EQ(destination_->Files(), 1);
}

}  // namespace
}  // namespace morvanta::dicom
