// Audit messages carry what the archive sent (patient names and IDs) and
// what the user typed: whatever those hold, the message stays well-formed
// XML, one line, with the value intact where XML can carry it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "../support/audit_receiver.h"
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
  const std::vector<audit::Message> messages = audit::Transfer(context, transfer);
  ASSERT_EQ(messages.size(), 1u);
  const std::string xml = audit::ToXml(messages[0]);
  for (unsigned char c : xml) ASSERT_GE(c, 0x20) << "a raw control character in " << xml;
  const test::AuditRecord record(xml);
  ASSERT_TRUE(record.wellFormed) << xml;
  EXPECT_EQ(record.texts.at("ParticipantObjectName"), h.expected) << xml;
  EXPECT_TRUE(record.Has("ParticipantObjectIdentification",
                         {{"ParticipantObjectID", h.expected}, {"ParticipantObjectTypeCodeRole", "1"}}))
      << xml;
  EXPECT_TRUE(record.Has("ActiveParticipant", {{"UserName", "A \"Tech\" <T>"}})) << xml;
}

const QString kReplaced = QString(QChar(0xFFFD));

INSTANTIATE_TEST_SUITE_P(
    Names, HostileValue,
    ::testing::Values(
        Hostile{"markup", "<b>Smith</b>^&amp;<!--", "<b>Smith</b>^&amp;<!--"},
        Hostile{"cdata_end", "A]]>B<![CDATA[C", "A]]>B<![CDATA[C"},
        Hostile{"quotes", "\"/><x a='1'", "\"/><x a='1'"},
        Hostile{"line_breaks_tab", "Smith\r\nInjected\tX", "Smith\r\nInjected\tX"},
        Hostile{"escape_sequence", "Smith\x1B[31m\x01^John", "Smith" + kReplaced + "[31m" + kReplaced + "^John"},
        Hostile{"nul", std::string("A\0B", 3), "A" + kReplaced + "B"},
        Hostile{"del_c1", "A\x7F" "B\xC2\x85" "C", QString::fromUtf8("A\x7F" "B\xC2\x85" "C")},
        Hostile{"bidi_override", "\xE2\x80\xAE" "1234-99", QString::fromUtf8("\xE2\x80\xAE" "1234-99")},
        Hostile{"not_utf8", "\xFF\xFE" "abc\xC3", kReplaced + kReplaced + "abc" + kReplaced},
        Hostile{"noncharacter", "A\xEF\xBF\xBE" "B", "A" + kReplaced + "B"},
        Hostile{"surrogate", "A\xED\xA0\x80" "B", "A" + kReplaced + "B"}),
    [](const ::testing::TestParamInfo<Hostile>& info) { return std::string(info.param.label); });

}  // namespace

namespace {

// [Audit] as Settings.ini gives it: used, or refused with a reason said once.
struct AuditSection {
  const char* label;
  std::string ini;
  bool used;
  std::string host;
  int port;
  audit::Transport transport;
  std::string problem;  // part of the reason, "" when used or absent
};

void PrintTo(const AuditSection& a, std::ostream* os) { *os << a.label; }

class AuditSettings : public ::testing::TestWithParam<AuditSection> {};

TEST_P(AuditSettings, AreReadOrRefusedInWords) {
  const AuditSection& a = GetParam();
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("audit_settings_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path file = dir / "Settings.ini";
  {
    std::ofstream out(file, std::ios::binary);
    if (a.ini.find("[TLS]") == std::string::npos) out << "[TLS]\r\nCACertificates=/etc/ca.pem\r\n";
    out << a.ini;
  }
  std::string problem;
  const std::optional<audit::Repository> repository = audit::ReadRepository(file, &problem);
  std::filesystem::remove_all(dir);
  EXPECT_EQ(repository.has_value(), a.used);
  if (a.problem.empty()) {
    EXPECT_EQ(problem, "");
  } else {
    EXPECT_NE(problem.find(a.problem), std::string::npos) << problem;
  }
  if (!repository) return;
  EXPECT_EQ(repository->host, a.host);
  EXPECT_EQ(repository->port, a.port);
  EXPECT_EQ(repository->transport, a.transport);
  if (a.transport == audit::Transport::Tls) {
    EXPECT_EQ(repository->tls.caCertificates, "/etc/ca.pem");
  }
}

using audit::Transport;
INSTANTIATE_TEST_SUITE_P(
    Sections, AuditSettings,
    ::testing::Values(
        AuditSection{"absent", "", false, "", 0, Transport::Tls, ""},
        AuditSection{"tls_by_default", "[Audit]\r\nRepository=audit.example:6514\r\n", true, "audit.example", 6514,
                     Transport::Tls, ""},
        AuditSection{"udp_any_case", "[audit]\r\nrepository = 10.0.0.7:514\r\nTransport=udp\r\n", true, "10.0.0.7",
                     514, Transport::Udp, ""},
        AuditSection{"ipv6", "[Audit]\r\nRepository=[::1]:6514\r\nTransport=TLS\r\n", true, "::1", 6514,
                     Transport::Tls, ""},
        AuditSection{"no_port", "[Audit]\r\nRepository=audit.example\r\n", false, "", 0, Transport::Tls,
                     "\"audit.example\" is not host:port"},
        AuditSection{"port_out_of_range", "[Audit]\r\nRepository=audit.example:70000\r\n", false, "", 0,
                     Transport::Tls, "a port from 1 to 65535"},
        AuditSection{"unknown_transport", "[Audit]\r\nRepository=audit.example:514\r\nTransport=TCP\r\n", false, "",
                     0, Transport::Tls, "Transport \"TCP\" is neither TLS nor UDP"},
        AuditSection{"tls_without_ca", "[TLS]\r\nCACertificates=\r\n[Audit]\r\nRepository=a:6514\r\n", false, "", 0,
                     Transport::Tls, "needs [TLS] CACertificates"}),
    [](const ::testing::TestParamInfo<AuditSection>& info) { return std::string(info.param.label); });

}  // namespace

namespace {

// A Send's message per patient: which event, whose role, which outcome.
struct SendCase {
  const char* label;
  bool move;
  bool failed;
  std::vector<bool> done;  // per study
  QString event;
  QString action;
  QString outcome;
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
  EXPECT_EQ(r.Attr("EventID", "csd-code"), c.event);
  EXPECT_EQ(r.Attr("EventIdentification", "EventActionCode"), c.action);
  EXPECT_EQ(r.Attr("EventIdentification", "EventOutcomeIndicator"), c.outcome);
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

}  // namespace
