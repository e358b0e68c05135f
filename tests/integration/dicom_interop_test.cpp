// Peers we did not write: the binding against DCMTK's dcmqrscp, and the demo
// archive against DCMTK's findscu, storescu and echoscu.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "dicom/dicom.h"
#include "search/return_keys.h"
#include "archive_process.h"
#include "dicom_peer.h"

namespace morvanta::dicom {
namespace {

using morvanta::testing::FreePort;
using morvanta::testing::Process;
using morvanta::testing::ReadLines;
using morvanta::testing::Shell;
using morvanta::testing::StartDcmqrscp;
using morvanta::testing::TempDir;
using morvanta::testing::WaitForPort;

// Writes a small CT image header as a DICOM file through dump2dcm.
std::string MakeFile(const TempDir& dir, int n, const std::string& patientName) {
  const std::string dump = dir / ("study" + std::to_string(n) + ".txt");
  const std::string file = dir / ("study" + std::to_string(n) + ".dcm");
  std::ofstream out(dump);
  out << "(0008,0005) CS [ISO_IR 192]\n"
      << "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.2]\n"
      << "(0008,0018) UI [1.2.826.0.1.3680043.99.3." << n << "]\n"
      << "(0008,0020) DA [2026120" << n << "]\n"
      << "(0008,0030) TM [101500]\n"
      << "(0008,0050) SH [ACC" << n << "]\n"
      << "(0008,0060) CS [CT]\n"
      << "(0010,0010) PN [" << patientName << "]\n"
      << "(0010,0020) LO [INTEROP" << n << "]\n"
      << "(0010,0030) DA [19700101]\n"
      << "(0010,0040) CS [F]\n"
      << "(0020,000d) UI [1.2.826.0.1.3680043.99.1." << n << "]\n"
      << "(0020,000e) UI [1.2.826.0.1.3680043.99.2." << n << "]\n"
      << "(0020,0010) SH [" << n << "]\n"
      << "(0020,0011) IS [1]\n"
      << "(0020,0013) IS [1]\n";
  out.close();
  EXPECT_EQ(Shell("dump2dcm '" + dump + "' '" + file + "' >/dev/null 2>&1"), 0);
  return file;
}

void StudyQuery(DataSet& id) {
  id.SetPatientName("*");
  id.SetPatientID("");
  id.Attributes().Add(0x0008, 0x0052, "STUDY");
}

class Dcmqrscp : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = FreePort();
    server_ = StartDcmqrscp(dir_, port_);
    ASSERT_TRUE(server_) << "dcmqrscp did not start";
  }

  TempDir dir_;
  int port_ = 0;
  std::unique_ptr<Process> server_;
};

TEST_F(Dcmqrscp, FindReturnsTheStudiesStoredByStorescu) {
  const std::vector<std::string> names = {"Müller^Jürgen", "Smith^John", "Ørsted^Hans"};
  std::string files;
  for (std::size_t i = 0; i < names.size(); ++i) files += " '" + MakeFile(dir_, static_cast<int>(i + 1), names[i]) + "'";
  ASSERT_EQ(Shell("storescu -aec DCMQR 127.0.0.1 " + std::to_string(port_) + files + " >/dev/null 2>&1"), 0);

  QueryClient client;
  client.SetPort(port_);
  client.SetHost("127.0.0.1");
  client.SetCalledAET("DCMQR");
  client.SetCallingAET("MORVANTA");
  client.SetReturnKeys(morvanta::search::kReturnKeys);
  client.SetQueryRoot("STUDY");
  client.SetTimeout(10);
  StudyQuery(client.Identifier());
  const DataSetList results = client.Find(client.Identifier());
  ASSERT_EQ(results.Count(), 3u);
  std::set<std::string> found;
  for (const DataSet& r : results) {
    found.insert(r.PatientName());
    EXPECT_EQ(r.StudyUID().rfind("1.2.826.0.1.3680043.99.1.", 0), 0u) << r.StudyUID();
  }
  EXPECT_EQ(found, std::set<std::string>(names.begin(), names.end()));
}

TEST_F(Dcmqrscp, AcceptsAForwardingRequest) {
  StoreClient client;
  client.SetTimeout(10);
  client.Open("127.0.0.1", port_, "MORVANTA", "DCMQR");
  DataSet request;
  request.Attributes().Add(0x0019, 0x0010, "REDIRECT");
  request.Attributes().Add(0x0019, 0x0030, "1.2.826.0.1.3680043.99.1.1");
  EXPECT_NO_THROW(client.Store(request, 10, UidGenerator().NewUID(), "1.2.840.10008.5.1.4.1.1.1"));
  EXPECT_NO_THROW(client.Close());
}

class DcmtkClients : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<Process>(
        std::vector<std::string>{MORVANTA_ARCHIVE, "--port", "0", "--demo", "50", "--journal",
                                 dir_ / "journal.jsonl"},
        dir_ / "archive.out");
    port_ = WaitForAnnouncedPort(dir_ / "archive.out", *server_);
    ASSERT_NE(port_, 0) << "morvanta-archive did not start";
  }
  std::string Address() const { return " -aec ARCHIVE 127.0.0.1 " + std::to_string(port_); }
  // Number of responses findscu wrote for the given keys.
  int FindCount(const std::string& keys) {
    const std::filesystem::path out = dir_.path() / ("find" + std::to_string(++finds_));
    std::filesystem::create_directories(out);
    EXPECT_EQ(Shell("findscu -S -X -od '" + out.generic_string() + "'" + keys + Address() + " >/dev/null 2>&1"), 0);
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(out)) ++count;
    return count;
  }

  TempDir dir_;
  int port_ = 0;
  int finds_ = 0;
  std::unique_ptr<Process> server_;
};

TEST_F(DcmtkClients, EchoscuIsAnswered) {
  EXPECT_EQ(Shell("echoscu -aet SITECHECK" + Address() + " >/dev/null 2>&1"), 0);
  const auto lines = ReadLines(dir_ / "journal.jsonl");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "{\"type\":\"echo\",\"calling\":\"SITECHECK\"}");
}

TEST_F(DcmtkClients, FindscuFindsDemoStudies) {
  EXPECT_EQ(FindCount(" -k QueryRetrieveLevel=STUDY -k PatientName=*"), 50);
  EXPECT_EQ(FindCount(" -k QueryRetrieveLevel=STUDY -k PatientID=PID00003 -k StudyDate"), 2);
  EXPECT_EQ(FindCount(" -k QueryRetrieveLevel=STUDY -k ModalitiesInStudy=MR -k PatientName"), 7);
  EXPECT_EQ(FindCount(" -k QueryRetrieveLevel=STUDY -k StudyInstanceUID=2.25.3141592653589793238462643380000000\\\\"
                      "2.25.3141592653589793238462643380000001"),
            2);
}

TEST_F(DcmtkClients, StorescuStudyIsFoundAfterwards) {
  const std::string file = MakeFile(dir_, 1, "Stored^Patient");
  ASSERT_EQ(Shell("storescu" + Address() + " '" + file + "' >/dev/null 2>&1"), 0);
  EXPECT_EQ(FindCount(" -k QueryRetrieveLevel=STUDY -k PatientID=INTEROP1 -k PatientName"), 1);
  const auto lines = ReadLines(dir_ / "journal.jsonl");
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("\"study_uid\":\"1.2.826.0.1.3680043.99.1.1\""), std::string::npos) << lines[0];
}

TEST_F(DcmtkClients, OddIdentifiersAreAnsweredNotFatal) {
  const std::vector<std::string> odd = {
      " -k QueryRetrieveLevel=PATIENT -k PatientName=*",
      " -k PatientName=*",
      " -k QueryRetrieveLevel=IMAGE",
      " -k QueryRetrieveLevel=STUDY -k StudyDate=garbage-",
      " -k QueryRetrieveLevel=STUDY -k StudyDate=-",
      " -k QueryRetrieveLevel=STUDY -k PatientName=*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b",
       " -k QueryRetrieveLevel=STUDY -k '(0009,0010)=JUNK' -k '(0009,1001)=X'",
      " -k QueryRetrieveLevel=STUDY -k ReferencedStudySequence",
      " -k QueryRetrieveLevel=STUDY -k SpecificCharacterSet=ISO_IR_999 -k PatientName=X*",
  };
  for (const std::string& keys : odd) {
    SCOPED_TRACE(keys);
    Shell("findscu -S" + keys + Address() + " >/dev/null 2>&1");
    ASSERT_TRUE(server_->Running());
    EXPECT_EQ(Shell("echoscu" + Address() + " >/dev/null 2>&1"), 0);
  }
}

// A site checks a workstation against studies of its own: --data reads a
// folder of DICOM files, sub-folders included, and answers for them.
TEST(ArchiveData, HoldsTheStudiesOfTheFilesInAFolder) {
  TempDir data;
  std::filesystem::create_directories(data.path() / "sub");
  MakeFile(data, 1, "Gr\xC3\xBCn^Eva");
  std::filesystem::rename(MakeFile(data, 2, "Doe^Jane"), data.path() / "sub" / "study2.dcm");
  morvanta::testing::Archive archive({"--data", data.path().string()});

  const auto find = [&](const std::string& patientId) {
    QueryClient client;
    client.SetPort(archive.port());
    client.SetHost("127.0.0.1");
    client.SetCalledAET("ARCHIVE");
    client.SetCallingAET("MORVANTA");
    client.SetReturnKeys(morvanta::search::kReturnKeys);
    client.SetQueryRoot("STUDY");
    client.SetTimeout(10);
    DataSet& id = client.Identifier();
    StudyQuery(id);
    id.SetPatientID(patientId);
    return client.Find(id);
  };
  const DataSetList first = find("INTEROP1");
  ASSERT_EQ(first.Count(), 1u);
  EXPECT_EQ(first[0].PatientName(), "Gr\xC3\xBCn^Eva");
  EXPECT_EQ(first[0].StudyUID(), "1.2.826.0.1.3680043.99.1.1");
  const DataSetList second = find("INTEROP2");
  ASSERT_EQ(second.Count(), 1u) << "a file in a sub-folder is held too";
  EXPECT_EQ(second[0].StudyUID(), "1.2.826.0.1.3680043.99.1.2");
  EXPECT_EQ(find("INTEROP3").Count(), 0u);
}

}  // namespace
}  // namespace morvanta::dicom
