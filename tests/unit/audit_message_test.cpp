// Audit messages carry what the archive sent (patient names and IDs) and
// what the user typed: whatever those hold, the message stays well-formed
// XML, one line, with the value intact where XML can carry it.

#include <gtest/gtest.h>

#include <string>

#include "../support/audit_receiver.h"
#include "audit/events.h"

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
