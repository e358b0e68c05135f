// Audit messages carry what the archive sent (patient names and IDs) and
// what the user typed: whatever those hold, the message stays well-formed
// XML, one line, with the value intact where XML can carry it. Beside them,
// a Send's message per method and outcome, and [Audit] as Settings.ini has it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../support/audit_record.h"
#include "audit/events.h"
#include "audit/trail.h"

using namespace morvanta;

namespace {

struct Hostile {
  const char* label;
  std::string value;
  QString expected;  // as an XML reader gives it back
};
void PrintTo(const Hostile& h, std::ostream* os) { *os << h.label; }
class HostileValue : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileValue, LeavesTheMessageWellFormed) {
  const Hostile& h = GetParam();
  audit::TransferRecord transfer;
  transfer.patients = {{h.value, h.value, {{"1.2.3", true}}}};
  audit::Context context{{"tech", "A \"Tech\" <T>"}, "station", "MORVANTA", "ARCHIVE", "10.0.0.5", 104};
  const std::string xml = audit::ToXml(audit::Transfer(context, transfer).at(0));
  for (unsigned char c : xml) ASSERT_GE(c, 0x20) << "a raw control character in " << xml;
  const test::AuditRecord record(xml);
  ASSERT_TRUE(record.wellFormed) << xml;
  EXPECT_EQ(record.texts.at("ParticipantObjectName"), h.expected) << xml;
  EXPECT_TRUE(record.Has("ParticipantObjectIdentification",
                         {{"ParticipantObjectID", h.expected}, {"ParticipantObjectTypeCodeRole", "1"}}))
      << xml;
  EXPECT_TRUE(record.Has("ActiveParticipant", {{"UserName", "A \"Tech\" <T>"}})) << xml;
}

const QString kBad = QString(QChar(0xFFFD));

INSTANTIATE_TEST_SUITE_P(
    Names, HostileValue,
    ::testing::Values(
        Hostile{"markup_quotes", "<b>S</b>^&amp;<!--\"/><x a='1'", "<b>S</b>^&amp;<!--\"/><x a='1'"},
        Hostile{"cdata_end", "A]]>B<![CDATA[C", "A]]>B<![CDATA[C"},
        Hostile{"line_breaks_tab", "Smith\r\nInjected\tX", "Smith\r\nInjected\tX"},
        Hostile{"controls_nul", std::string("S\x1B[31m\x01^J\0B", 11), "S" + kBad + "[31m" + kBad + "^J" + kBad + "B"},
        Hostile{"del_c1", "A\x7F" "B\xC2\x85" "C", QString::fromUtf8("A\x7F" "B\xC2\x85" "C")},
        Hostile{"bidi_override", "\xE2\x80\xAE" "1234-99", QString::fromUtf8("\xE2\x80\xAE" "1234-99")},
        Hostile{"not_utf8_surrogate", "\xFF" "a\xED\xA0\x80" "b\xC3", kBad + "a" + kBad + "b" + kBad},
        Hostile{"noncharacter", "A\xEF\xBF\xBE" "B", "A" + kBad + "B"}),
    [](const ::testing::TestParamInfo<Hostile>& info) { return std::string(info.param.label); });

// A Send's message per patient: which event, whose role, which outcome.
struct SendCase {
  const char* label;
  bool move;
  bool failed;
  std::vector<bool> done;  // per study
  QString event, action, outcome;
  QString counted;  // the start of EventOutcomeDescription
};
void PrintTo(const SendCase& c, std::ostream* os) { *os << c.label; }
class SendMessage : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendMessage, SaysWhatWentWhere) {
  const SendCase& c = GetParam();
  audit::TransferRecord transfer;
  transfer.move = c.move;
  transfer.destination = "CT_ROOM";
  transfer.failed = c.failed;
  audit::PatientStudies patient{"PID1", "Doe^Jane", {}};
  for (std::size_t i = 0; i < c.done.size(); ++i) patient.studies.push_back({"1.2." + std::to_string(i), c.done[i]});
  transfer.patients = {patient};
  const audit::Context context{{"tech", ""}, "station", "MORVANTA", "ARCHIVE", "archive.example", 104};
  const test::AuditRecord r(audit::ToXml(audit::Transfer(context, transfer).at(0)));
  ASSERT_TRUE(r.wellFormed);
  EXPECT_TRUE(r.Has("EventID", {{"csd-code", c.event}}));
  EXPECT_TRUE(r.Has("EventIdentification", {{"EventActionCode", c.action}, {"EventOutcomeIndicator", c.outcome}}));
  EXPECT_TRUE(r.texts.at("EventOutcomeDescription").startsWith(c.counted)) << r.xml.constData();
  // The archive sends; with C-MOVE the destination node receives.
  EXPECT_TRUE(r.Has("ActiveParticipant", {{"UserID", "archive.example:104"}, {"NetworkAccessPointTypeCode", "1"}}));
  EXPECT_EQ(r.Has("ActiveParticipant", {{"UserID", "CT_ROOM"}, {"UserIsRequestor", "false"}}), c.move);
  EXPECT_EQ(r.Has("RoleIDCode", {{"csd-code", "110152"}}), c.move);
  EXPECT_EQ(r.Count("StudyIDs"), int(c.done.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Sends, SendMessage,
    ::testing::Values(
        SendCase{"redirect_all", false, false, {true, true}, "110102", "E", "0", "2 of 2 forwarding requests"},
        SendCase{"redirect_refused_at_once", false, true, {false, false}, "110102", "E", "8", "0 of 2 forwarding"},
        SendCase{"move_stopped_halfway", true, true, {true, false}, "110104", "R", "4",
                 "1 of 2 studies moved by ARCHIVE at archive.example:104 to CT_ROOM"},
        SendCase{"move_cancelled_before_any", true, false, {false}, "110104", "R", "4", "0 of 1 studies moved"}),
    [](const ::testing::TestParamInfo<SendCase>& info) { return std::string(info.param.label); });

// [Audit] as Settings.ini gives it: used ("TLS host:port"), or refused with
// the reason said once.
struct AuditSection {
  const char* label;
  std::string ini;
  std::string expected;  // the repository, or part of the reason
};
void PrintTo(const AuditSection& a, std::ostream* os) { *os << a.label; }
class AuditSettings : public ::testing::TestWithParam<AuditSection> {};
#ifdef _WIN32
constexpr const char* kCa = "C:\\ca";  // "/ca" there is on the current drive
#else
constexpr const char* kCa = "/ca";
#endif

TEST_P(AuditSettings, AreReadOrRefusedInWords) {
  const AuditSection& a = GetParam();
  const auto file = std::filesystem::temp_directory_path() / ("audit_settings_" + std::to_string(::getpid()));
  const bool ownTls = a.ini.find("[TLS]") != std::string::npos;
  std::ofstream(file, std::ios::binary) << (ownTls ? "" : "[TLS]\r\nCACertificates=" + std::string(kCa) + "\r\n")
                                        << a.ini;
  std::string problem;
  const std::optional<audit::Repository> repository = audit::ReadRepository(file, &problem);
  std::filesystem::remove(file);
  if (!repository) {
    EXPECT_TRUE(a.expected.empty() ? problem.empty() : problem.find(a.expected) != std::string::npos) << problem;
    return;
  }
  EXPECT_EQ(problem, "");
  const bool tls = repository->transport == audit::Transport::Tls;
  EXPECT_EQ((tls ? "TLS " : "UDP ") + repository->host + ":" + std::to_string(repository->port), a.expected);
  EXPECT_EQ(repository->tls.caCertificates, tls ? kCa : repository->tls.caCertificates);
}

INSTANTIATE_TEST_SUITE_P(
    Sections, AuditSettings,
    ::testing::Values(
        AuditSection{"absent", "", ""},
        AuditSection{"tls_by_default", "[Audit]\r\nRepository=audit.example:6514\r\n", "TLS audit.example:6514"},
        AuditSection{"udp_any_case", "[audit]\r\nrepository = 10.0.0.7:514\r\nTransport=udp\r\n", "UDP 10.0.0.7:514"},
        AuditSection{"ipv6", "[Audit]\r\nRepository=[::1]:6514\r\nTransport=TLS\r\n", "TLS ::1:6514"},
        AuditSection{"no_port", "[Audit]\r\nRepository=audit.example\r\n", "\"audit.example\" is not host:port"},
        AuditSection{"port_out_of_range", "[Audit]\r\nRepository=a:70000\r\n", "a port from 1 to 65535"},
        AuditSection{"unknown_transport", "[Audit]\r\nRepository=a:514\r\nTransport=TCP\r\n",
                     "Transport \"TCP\" is neither TLS nor UDP"},
        AuditSection{"tls_without_ca", "[TLS]\r\nCACertificates=\r\n[Audit]\r\nRepository=a:6514\r\n",
                     "needs [TLS] CACertificates"}),
    [](const ::testing::TestParamInfo<AuditSection>& info) { return std::string(info.param.label); });

}  // namespace
