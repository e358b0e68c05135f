#include <gtest/gtest.h>

#include <cstring>

#include "config/profile.h"
#include "config/settings.h"
#include "test_support.h"

namespace morvanta {
namespace {

TEST(ParseInt32, Table) {
  const struct {
    const char* text;
    std::optional<std::int32_t> expected;
  } cases[] = {
      {"104", 104},          {"0", 0},           {" 11112 ", 11112},
      {"-5", -5},            {"+7", 7},          {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},                {"2147483648", std::nullopt},
      {"", std::nullopt},    {"abc", std::nullopt}, {"12abc", std::nullopt},
      {"1.5", std::nullopt}, {"-", std::nullopt},   {"0x10", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseInt32(c.text), c.expected) << c.text;
}

TEST(ParseFlag, Table) {
  const struct {
    const char* text;
    std::optional<bool> expected;
  } cases[] = {
      {"1", true},     {"-1", true},          {"0", false},  {"2", true},
      {"0.0", false},  {"0.5", true},         {"True", true}, {"FALSE", false},
      {"tRuE", true},  {"yes", std::nullopt}, {"", std::nullopt},
      {".", std::nullopt}, {"1x", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseFlag(c.text), c.expected) << c.text;
}

TEST(LoadArchiveSettings, EachStepIsIndependent) {
  testing::TempDir dir;
  const auto file = SettingsPath(dir.path());
  testing::WriteFile(file,
                     "[Local]\r\nAET=WS1\r\n[Query]\r\nAET=ARCHIVE\r\nIP=10.0.0.5\r\n"
                     "Port=abc\r\n[GENERAL]\r\nStudyDate=yes\r\n");
  SettingsValues values;
  values.QueryPort = 104;
  values.ExtStudyDate = true;
  LoadArchiveSettings(values, file);
  EXPECT_EQ(values.LocalAET, "WS1");
  EXPECT_EQ(values.QueryAET, "ARCHIVE");
  EXPECT_EQ(values.QueryIP, "10.0.0.5");
  EXPECT_EQ(values.QueryPort, 104) << "a port that does not convert keeps the old value";
  EXPECT_TRUE(values.ExtStudyDate) << "a flag that does not convert keeps the old value";
  EXPECT_EQ(values.TimeoutSeconds, dicom::kDefaultTimeoutSeconds);
}

TEST(LoadArchiveSettings, MissingKeysGiveDefaults) {
  testing::TempDir dir;
  const auto file = SettingsPath(dir.path());
  testing::WriteFile(file, "[Size]\r\nSearchHeight=9000\r\n[Query]\r\nTimeout=5\r\n");
  SettingsValues values;
  values.LocalAET = "OLD";
  values.QueryPort = 104;
  values.ExtStudyDate = true;
  LoadArchiveSettings(values, file);
  EXPECT_EQ(values.LocalAET, "");
  EXPECT_EQ(values.QueryPort, 0);
  EXPECT_FALSE(values.ExtStudyDate);
  EXPECT_EQ(values.TimeoutSeconds, 5);
}

TEST(LoadTlsSettings, PathsFromTheProgramFolderAndEnabledAsAFlag) {
  testing::TempDir dir;
  const auto file = SettingsPath(dir.path());
  // A file in the program folder, and one from the root (on Windows: of the
  // program folder's drive), as the system writes paths ("\\" on Windows).
  // Names in UTF-8, as the program's texts hold them.
  const auto in = [&](const char* name) {
    const std::u8string utf8 =
        (dir.path() / std::u8string(name, name + std::strlen(name))).make_preferred().u8string();
    return std::string(utf8.begin(), utf8.end());
  };
  const std::string root = (dir.path().root_name() / "/etc/pki/ca.pem").make_preferred().string();
  const struct {
    const char* section;  // the [TLS] lines
    bool enabledBefore;
    bool enabled;
    std::string ca, certificate, key;
    std::string serverName{}, crl{};  // a name, not a path; a path
  } cases[] = {
      {"", true, false, "", "", ""},  // no section: off, no files
      {"Enabled=1\r\nCACertificates=certs/ca.pem\r\n", false, true, in("certs/ca.pem"), "", ""},
      {"Enabled=True\r\nCACertificates=/etc/pki/ca.pem\r\nCertificate=ws.pem\r\nPrivateKey=./keys/../ws.key\r\n",
       false, true, root, in("ws.pem"), in("ws.key")},
      {"Enabled=0\r\nCACertificates=\"my ca.pem\"\r\n", true, false, in("my ca.pem"), "", ""},
      {"Enabled=yes\r\n", true, true, "", "", ""},    // no flag: keeps what it was
      {"Enabled=yes\r\n", false, false, "", "", ""},  // either way
      {"Enabled=1\r\nCACertificates=ca.pem\r\nServerName= archive.example \r\nCRL=certs/crl.pem\r\n", false, true,
       in("ca.pem"), "", "", "archive.example", in("certs/crl.pem")},
      // Windows-1252 in the file; on Windows a name outside plain ASCII is
      // the same file only when it reaches the system as what it says.
      {"Enabled=1\r\nCACertificates=R\xf6ntgen/ca f\xfcr S\xfc" "d.pem\r\n", false, true,
       in("R\xc3\xb6ntgen/ca f\xc3\xbcr S\xc3\xbc" "d.pem"), "", ""},
  };
  for (const auto& c : cases) {
    testing::WriteFile(file, std::string("[Query]\r\nPort=104\r\n") + (*c.section ? "[TLS]\r\n" : "") + c.section);
    SettingsValues values;
    values.Tls.Enabled = c.enabledBefore;
    values.Tls.CACertificates = "old.pem";
    LoadArchiveSettings(values, file);
    EXPECT_EQ(values.Tls.Enabled, c.enabled) << c.section;
    EXPECT_EQ(values.Tls.CACertificates, c.ca) << c.section;
    EXPECT_EQ(values.Tls.Certificate, c.certificate) << c.section;
    EXPECT_EQ(values.Tls.PrivateKey, c.key) << c.section;
    EXPECT_EQ(values.Tls.ServerName, c.serverName) << c.section;
    EXPECT_EQ(values.Tls.CRL, c.crl) << c.section;
  }
}

TEST(ParseNodeEntry, Table) {
  const struct {
    const char* entry;
    const char* alias;
    const char* aet;
    bool hasBar;
  } cases[] = {
      {"CT room|CTAE", "CT room", "CTAE", true},
      {"A|B|C", "A", "B", true},
      {"Alias|", "Alias", "", true},
      {"|", "", "", true},
      {"NoBar", "NoBar", "", false},
      {"", "", "", false},
  };
  for (const auto& c : cases) {
    const NodeEntry e = ParseNodeEntry(c.entry);
    EXPECT_EQ(e.alias, c.alias) << c.entry;
    EXPECT_EQ(e.aet, c.aet) << c.entry;
    EXPECT_EQ(e.hasBar, c.hasBar) << c.entry;
  }
  EXPECT_EQ(FormatNodeEntry("CT room", "CTAE"), "CT room|CTAE");
  EXPECT_EQ(NodeKey(7), "Node7");
}

TEST(PortProblem, QuotesWhatTheFileHolds) {
  const struct {
    const char* line;  // the [Query] Port line, "" for none
    const char* said;  // in the problem; "" for no problem
  } cases[] = {
      {"Port=abc", "Port \"abc\" of ARCHIVE in Settings.ini"},
      {"Port=12345678901234567890", "Port \"12345678901234567890\" of ARCHIVE"},
      {"Port=11112.5", "Port \"11112.5\" of ARCHIVE"},
      {"Port=", "Port \"\" of ARCHIVE"},
      {"Port=0", "Port \"0\" of ARCHIVE"},
      {"Port=70000", "Port \"70000\" of ARCHIVE"},
      {"", "Settings.ini has no [Query] Port"},
      {"Port=104", ""},
      {"Port= 65535 ", ""},
  };
  for (const auto& c : cases) {
    testing::TempDir dir;
    const auto file = SettingsPath(dir.path());
    testing::WriteFile(file, std::string("[Query]\r\nAET=ARCHIVE\r\n") + c.line + "\r\n");
    SettingsValues values;
    LoadArchiveSettings(values, file);
    const std::optional<std::string> problem = PortProblem(values);
    if (*c.said == '\0') {
      EXPECT_FALSE(problem) << c.line << ": " << problem.value_or("");
    } else {
      ASSERT_TRUE(problem) << c.line;
      EXPECT_NE(problem->find(c.said), std::string::npos) << *problem;
      EXPECT_NE(problem->find("1 to 65535"), std::string::npos) << *problem;
    }
  }
}

}  // namespace
}  // namespace morvanta
