// The binding's pure parts: UIDs, error texts, character sets, data sets.
#include <functional>
#include <new>
#include <stdexcept>
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>

#include <regex>
#include <unordered_set>

#include "dicom/charset.h"
#include "dicom/codec.h"
#include "dicom/dicom.h"
#include "platform/socket.h"
#include "dicom/errors.h"

namespace morvanta::dicom {
namespace {

TEST(UidGenerator, HundredThousandUidsAreWellFormedAndDistinct) {
  // PS3.5 B.2: "2.25." and the UUID as an integer without leading zeros;
  // 64 characters at most (PS3.5 9.1).
  const std::regex form(R"(2\.25\.(0|[1-9][0-9]{0,38}))");
  UidGenerator generator;
  std::unordered_set<std::string> seen;
  seen.reserve(100000);
  for (int i = 0; i < 100000; ++i) {
    const std::string uid = generator.NewUID();
    ASSERT_TRUE(std::regex_match(uid, form)) << uid;
    ASSERT_LE(uid.size(), 64u);
    ASSERT_TRUE(seen.insert(uid).second) << "repeated " << uid;
  }
}

TEST(UidGenerator, TwoGeneratorsDoNotRepeatEachOther) {
  UidGenerator a, b;
  EXPECT_NE(a.NewUID(), b.NewUID());
}

TEST(ErrorTexts, NameThePeerAndTheStatusInHex) {
  const Peer archive{"ARCHIVE", "10.0.0.5", 104};
  struct Case {
    std::string actual;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {RejectedText(archive, 1, 1, 7),
       "Association rejected by ARCHIVE at 10.0.0.5:104 (called AE title not recognised): check Remote AET."},
      {RejectedText(archive, 1, 1, 3),
       "Association rejected by ARCHIVE at 10.0.0.5:104 (calling AE title not recognised): add this station's AE "
       "title to the archive."},
      {RejectedText(archive, 2, 3, 2),
       "Association rejected by ARCHIVE at 10.0.0.5:104: local limit exceeded (transient: try again later)"},
      {RejectedText(archive, 1, 1, 1), "Association rejected by ARCHIVE at 10.0.0.5:104: no reason given"},
      {TimeoutText(archive, 30),
       "No answer from ARCHIVE at 10.0.0.5:104 within 30 s: the archive or network is slow or down; [Query] "
       "Timeout sets the wait."},
      {FailureStatusText("C-STORE", archive, 0xA700),
       "C-STORE refused by ARCHIVE at 10.0.0.5:104: status 0xA700 (out of resources)"},
      // 0xA7xx from an archive that will not take this request at all says
      // so rather than advising to send again later.
      {StoreRefusedText(archive, 0xA700),
       "ARCHIVE at 10.0.0.5:104 refused to store the forwarding request (C-STORE status 0xA700): the archive may "
       "lack room, or may not accept this request; its log tells why."},
      {StoreRefusedText(archive, 0xA7FF),
       "ARCHIVE at 10.0.0.5:104 refused to store the forwarding request (C-STORE status 0xA7FF): the archive may "
       "lack room, or may not accept this request; its log tells why."},
      {StoreRefusedText(archive, 0xC001),
       "C-STORE refused by ARCHIVE at 10.0.0.5:104: status 0xC001 (unable to process)"},
      {FailureStatusText("C-FIND", archive, 0xC001),
       "C-FIND refused by ARCHIVE at 10.0.0.5:104: status 0xC001 (unable to process)"},
      {FailureStatusText("C-FIND", archive, 0xA900),
       "C-FIND refused by ARCHIVE at 10.0.0.5:104: status 0xA900 (data set does not match SOP class)"},
      {ConnectFailedText(archive, "connection refused"),
       "Could not connect to ARCHIVE at 10.0.0.5:104 (connection refused): check that the archive is running and "
       "the port is right."},
      {AbortedText(archive, "the study search"), "Connection aborted by ARCHIVE at 10.0.0.5:104 during the study search"},
      {UnknownHostText({"ARCHIVE", "pacs.invalid", 104}),
       "Unknown host \"pacs.invalid\" for ARCHIVE (port 104): check Remote IP."},
      {Describe({"", "10.0.0.5", 104}), "the archive at 10.0.0.5:104"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(ErrorTexts, MoveStatusesNameCauseAndRemedy) {
  const Peer archive{"ARCHIVE", "10.0.0.5", 104};
  MoveCounts counts;
  counts.completed = 3;
  counts.failed = 2;
  struct Case {
    std::uint16_t status;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {0xA801, "The archive does not know the destination CT_ROOM (0xA801): add it to the archive's list of nodes."},
      {0xA701, "ARCHIVE at 10.0.0.5:104 is out of resources and could not count the images to move (0xA701): try "
               "again later."},
      {0xA702, "ARCHIVE at 10.0.0.5:104 is out of resources and could not send the images to CT_ROOM (0xA702, 3 "
               "sent, 2 failed): check that CT_ROOM is running and accepts images from the archive, then try again."},
      {0xC000, "ARCHIVE at 10.0.0.5:104 could not process the move to CT_ROOM (0xC000): the archive's log tells why."},
      {0xC123, "ARCHIVE at 10.0.0.5:104 could not process the move to CT_ROOM (0xC123): the archive's log tells why."},
      {0x0122, "ARCHIVE at 10.0.0.5:104 does not support moving studies (0x0122): use [Forward] Method REDIRECT."},
      {0xA900, "ARCHIVE at 10.0.0.5:104 did not understand the move request (0xA900, data set does not match SOP "
               "class)."},
      {0x0213, "C-MOVE refused by ARCHIVE at 10.0.0.5:104: status 0x0213 (resource limitation)"},
  };
  for (const Case& c : cases) EXPECT_EQ(MoveFailureText(archive, "CT_ROOM", c.status, counts), c.expected);

  counts.status = 0xB000;
  counts.warning = 1;
  EXPECT_EQ(SubOperationsFailedText(archive, "CT_ROOM", counts),
            "CT_ROOM did not take 2 of 6 images from ARCHIVE at 10.0.0.5:104 (0xB000): check that CT_ROOM is "
            "running and accepts images from the archive.");
  EXPECT_EQ(EchoWorksText(archive, 12), "Connection to ARCHIVE at 10.0.0.5:104 works (12 ms).");
  EXPECT_EQ(EchoWorksText(archive, 12, true), "Connection to ARCHIVE at 10.0.0.5:104 works over TLS (12 ms).");
  // TLS: the file and the key to mend, and which of the two ends is at fault.
  EXPECT_EQ(TlsFileText("PrivateKey", "/ws/k.pem", "No such file or directory"),
            "This station's private key file \"/ws/k.pem\" cannot be used (No such file or directory): check [TLS] "
            "PrivateKey.");
  EXPECT_EQ(TlsHalfIdentityText("Certificate"), "[TLS] PrivateKey is set but [TLS] Certificate is not: set both, or neither.");
  EXPECT_EQ(TlsPortMismatchText(archive, true),
            "ARCHIVE at 10.0.0.5:104 did not answer in TLS; the port may take plain DICOM only: check [TLS] Enabled "
            "and the port.");
  EXPECT_NE(TlsPortMismatchText(archive, false).find("the port may take TLS only"), std::string::npos);
  EXPECT_NE(TlsClientCertificateText(archive, false).find("none is configured"), std::string::npos);
  EXPECT_EQ(TlsClientCertificateText(archive, true).find("none is configured"), std::string::npos);
  EXPECT_EQ(CancelledText("the study search"), "The study search was cancelled.");
}

TEST(ErrorTexts, NumbersStayWhereSitesFindThem) {
  // README.md and the sites' log searches rely on these.
  const std::vector<std::pair<ErrorCode, std::int32_t>> numbers = {
      {ErrorCode::ConnectFailed, 1001}, {ErrorCode::UnknownHost, 1002}, {ErrorCode::AssociationRejected, 1003},
      {ErrorCode::Timeout, 1004},       {ErrorCode::PeerAborted, 1005}, {ErrorCode::FindFailed, 1006},
      {ErrorCode::StoreFailed, 1007},   {ErrorCode::NoPresentationContext, 1008},
      {ErrorCode::NetworkError, 1009},  {ErrorCode::InvalidArgument, 1010}, {ErrorCode::EncodingFailed, 1011},
      {ErrorCode::Cancelled, 1012},     {ErrorCode::MoveFailed, 1013},  {ErrorCode::EchoFailed, 1014},
      {ErrorCode::TlsSetupFailed, 1015}, {ErrorCode::TlsCertificateRejected, 1016},
      {ErrorCode::TlsHandshakeFailed, 1017}, {ErrorCode::AuditFailed, 1018},
  };
  for (const auto& [code, number] : numbers) EXPECT_EQ(static_cast<std::int32_t>(code), number);
}

TEST(ErrorTexts, ErrorCarriesNumberAndDescription) {
  const Error error(1004, "No answer from ARCHIVE at 10.0.0.5:104 within 30 s");
  EXPECT_EQ(error.number(), 1004);
  EXPECT_EQ(error.description(), "No answer from ARCHIVE at 10.0.0.5:104 within 30 s");
  EXPECT_STREQ(error.what(), "1004 - No answer from ARCHIVE at 10.0.0.5:104 within 30 s");
}

// Every operation (search, Send, C-MOVE, the connection test) reports what
// it caught through this one mapping, so one exception has one number
// everywhere.
TEST(ErrorModel, EachExceptionHasOneNumber) {
  struct Case {
    const char* label;
    std::function<void()> raise;
    std::int32_t number;
    std::string description;
    bool cancel;
  };
  const std::vector<Case> cases = {
      {"binding error keeps its number", [] { throw Error(1004, "No answer"); }, 1004, "No answer", false},
      {"cancel", [] { throw Error(1012, "The study search was cancelled."); }, 1012,
       "The study search was cancelled.", true},
      {"memory", [] { throw std::bad_alloc(); }, 7, "Out of memory", false},
      {"standard exception", [] { throw std::runtime_error("odd"); }, 1099, "odd", false},
      {"anything else", [] { throw 42; }, 1099, "Unknown error", false},
  };
  for (const Case& c : cases) {
    Failure failure;
    try {
      c.raise();
    } catch (...) {
      failure = CurrentFailure();
    }
    EXPECT_EQ(failure.number, c.number) << c.label;
    EXPECT_EQ(failure.description, c.description) << c.label;
    EXPECT_EQ(IsCancel(failure), c.cancel) << c.label;
  }
}

TEST(Status, FailureRangesAreFailuresAndWarningsAreNot) {
  struct Case {
    std::uint16_t status;
    bool failure;
  };
  const std::vector<Case> cases = {{0x0000, false}, {0xFF00, false}, {0xFF01, false}, {0xFE00, false},
                                   {0x0001, false}, {0xB000, false}, {0xB007, false}, {0x0107, false},
                                   {0xA700, true},  {0xA7FF, true},  {0xA900, true},  {0xC000, true},
                                   {0xCFFF, true},  {0x0110, true},  {0x0122, true},  {0x0211, true}};
  for (const Case& c : cases) EXPECT_EQ(IsFailureStatus(c.status), c.failure) << HexStatus(c.status);
}

TEST(Charset, NarrowestSetThatHoldsEveryText) {
  struct Case {
    std::vector<std::string> texts;
    Charset expected;
    const char* term;
  };
  const std::vector<Case> cases = {
      {{"Smith^John", "", "STUDY"}, Charset::Ascii, ""},
      {{}, Charset::Ascii, ""},
      {{"Müller^Jürgen", "STUDY"}, Charset::Latin1, "ISO_IR 100"},
      {{"STUDY", "Ørsted^Zoë"}, Charset::Latin1, "ISO_IR 100"},
      {{"Müller", "Łukasz"}, Charset::Utf8, "ISO_IR 192"},
      {{"山田^太郎"}, Charset::Utf8, "ISO_IR 192"},
      {{"Stra\xDF" "e"}, Charset::Utf8, "ISO_IR 192"},  // not UTF-8: sent as it is
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseCharset(c.texts), c.expected) << (c.texts.empty() ? "" : c.texts[0]);
    EXPECT_EQ(DefinedTerm(c.expected), c.term);
  }
}

TEST(Charset, Latin1RoundTripAndReplacement) {
  EXPECT_EQ(Utf8ToLatin1("Müller^Jürgen"), "M\xFCller^J\xFCrgen");
  EXPECT_EQ(Latin1ToUtf8("M\xFCller^J\xFCrgen"), "Müller^Jürgen");
  EXPECT_EQ(Utf8ToLatin1("Łukasz"), "?ukasz");
  EXPECT_EQ(Latin1ToUtf8(Utf8ToLatin1("ÀÿßØ")), "ÀÿßØ");
  EXPECT_EQ(Utf32ToUtf8(Utf8ToUtf32("Zoë 山 😀")), "Zoë 山 😀");
  EXPECT_TRUE(IsValidUtf8("Zoë"));
  EXPECT_FALSE(IsValidUtf8("Zo\xEB"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));  // overlong "/"
}

// Received values under their Specific Character Set, most from the
// examples of PS3.5 Annexes H (Japanese), I (Korean) and J (Chinese).
TEST(Charset, DecodesReceivedTextInEveryCharacterSet) {
  struct Case {
    const char* name;
    std::string charset;
    std::string bytes;
    TextKind kind;
    std::string expected;
  };
  const std::string kJapanese =
      "Yamada^Tarou=\x1b$B;3ED\x1b(B^\x1b$BB@O:\x1b(B=\x1b$B$d$^$@\x1b(B^\x1b$B$?$m$&\x1b(B";
  const Case cases[] = {
      {"Japanese, IR 87", "\\ISO 2022 IR 87", kJapanese, TextKind::PersonName,
       "Yamada^Tarou=山田^太郎=やまだ^たろう"},
      {"Japanese, IR 13 with IR 87",
       "ISO 2022 IR 13\\ISO 2022 IR 87",
       "\xd4\xcf\xc0\xde^\xc0\xdb\xb3=\x1b$B;3ED\x1b(J^\x1b$BB@O:\x1b(J=\x1b$B$d$^$@\x1b(J^"
       "\x1b$B$?$m$&\x1b(J",
       TextKind::PersonName, "ﾔﾏﾀﾞ^ﾀﾛｳ=山田^太郎=やまだ^たろう"},
      {"Japanese, IR 159", "\\ISO 2022 IR 87\\ISO 2022 IR 159", "\x1b$(D0!\x1b(B.",
       TextKind::Text, "丂."},
      {"Japanese, IR 159 between IR 87 and ASCII", "\\ISO 2022 IR 87\\ISO 2022 IR 159",
       "\x1b$B;3\x1b$(D0!\x1b(BA", TextKind::Text, "山丂A"},
      {"Japanese, IR 159 cut short", "\\ISO 2022 IR 87\\ISO 2022 IR 159", "\x1b$(D0!0\x1b(BA",
       TextKind::Text, "丂\uFFFDA"},
      {"Katakana alone, ISO_IR 13", "ISO_IR 13", "\xd4\xcf\xc0\xde", TextKind::PersonName,
       "ﾔﾏﾀﾞ"},
      {"Korean, IR 149", "\\ISO 2022 IR 149",
       "Hong^Gildong=\x1b$)C\xfb\xf3^\x1b$)C\xd1\xce\xd4\xd7=\x1b$)C\xc8\xab^\x1b$)C\xb1\xe6\xb5\xbf",
       TextKind::PersonName, "Hong^Gildong=洪^吉洞=홍^길동"},
      {"Korean without its designations", "\\ISO 2022 IR 149",
       "Hong^Gildong=\xfb\xf3^\xd1\xce\xd4\xd7", TextKind::PersonName, "Hong^Gildong=洪^吉洞"},
      {"Chinese, IR 58", "\\ISO 2022 IR 58",
       "Zhang^XiaoDong=\x1b$)A\xd5\xc5^\x1b$)A\xd0\xa1\xb6\xab=", TextKind::PersonName,
       "Zhang^XiaoDong=张^小东="},
      {"Chinese, GB18030", "GB18030", "Wang^XiaoDong=\xcd\xf5^\xd0\xa1\xb6\xab=",
       TextKind::PersonName, "Wang^XiaoDong=王^小东="},
      {"Chinese, GBK beyond GB2312", "GBK", "\x81\x40", TextKind::Text, "丂"},
      {"Latin-1 in G1 beside Japanese in G0", "ISO 2022 IR 100\\ISO 2022 IR 87",
       "M\xfcller=\x1b$B;3ED\x1b(B", TextKind::PersonName, "Müller=山田"},
      // After a delimiter the sets of value 1 are in use again.
      {"delimiter returns G1 to value 1", "ISO 2022 IR 100\\ISO 2022 IR 149",
       "\x1b$)C\xc8\xab^\xfc", TextKind::PersonName, "홍^ü"},
      {"backslash ends a value", "ISO 2022 IR 100\\ISO 2022 IR 149",
       "\x1b$)C\xc8\xab\\\xc8\xab", TextKind::MultiValued, "홍\\È«"},
      {"backslash is a letter in free text", "ISO 2022 IR 100\\ISO 2022 IR 149",
       "\x1b$)C\xc8\xab\\\xc8\xab", TextKind::Text, "홍\\홍"},
      {"Cyrillic", "ISO_IR 144", "\xbb\xee\xda\xe1\xd5\xdc\xd1\xe3\xe0\xd3", TextKind::Text,
       "Люксембург"},
      {"Greek", "ISO_IR 126", "\xc4\xe9\xef\xed\xf5\xf3\xe9\xef\xf2", TextKind::Text, "Διονυσιος"},
      {"UTF-8, escape dropped", "ISO_IR 192", "Gr\xc3\xbc\xc3\x9f\x1b(B", TextKind::Text, "Grüß"},
      {"UTF-8, invalid byte as Latin-1", "ISO_IR 192", "BAD\xff", TextKind::Text, "BADÿ"},
      {"no character set: Latin-1", "", "M\xfcller", TextKind::PersonName, "Müller"},
      {"no character set, 7-bit JIS", "", "\x1b$B;3ED\x1b(B", TextKind::PersonName, "山田"},
      {"unknown set, UTF-8 bytes", "ISO_IR 999", "M\xc3\xbcller", TextKind::Text, "Müller"},
      {"unknown set, other bytes", "ISO_IR 999", "M\xfcller", TextKind::Text, "Müller"},
      {"unknown escape dropped", "\\ISO 2022 IR 87", "A\x1b$)ZB", TextKind::Text, "AB"},
      {"escape cut short", "\\ISO 2022 IR 87", "A\x1b$", TextKind::Text, "A"},
      {"half a kanji", "\\ISO 2022 IR 87", "\x1b$B;", TextKind::Text, "\xef\xbf\xbd"},
      {"undefined Katakana byte", "ISO_IR 13", "\xe0", TextKind::Text, "\xef\xbf\xbd"},
      {"plain ASCII untouched", "\\ISO 2022 IR 87", "Smith^John", TextKind::PersonName,
       "Smith^John"},
  };
  for (const Case& c : cases) {
    const std::string decoded = DecodeText(c.bytes, c.charset, c.kind);
    EXPECT_EQ(decoded, c.expected) << c.name;
    EXPECT_TRUE(IsValidUtf8(decoded)) << c.name;
  }
}

// A received value is read as its attribute's text even when it came as UN
// (too long for its VR's 16-bit length), and what is kept of it is bounded.
TEST(ReceivedValues, TextKeptAsItsAttributeAndBounded) {
  const std::string kept(64 * 1024, 'N');
  const std::string cutMark = "\xE2\x80\xA6";
  struct Case {
    const char* name;
    DcmTagKey tag;
    DcmEVR vr;
    std::string bytes;
    std::string expected;
  };
  const Case cases[] = {
      {"PN as PN", DCM_PatientName, EVR_PN, "DOE^JOHN", "DOE^JOHN"},
      {"PN as UN, padded", DCM_PatientName, EVR_UN, "DOE^JOHN ", "DOE^JOHN"},
      {"Latin-1 PN as UN", DCM_PatientName, EVR_UN, "M\xDCLLER", "M\xC3\x9CLLER"},
      {"the most a PN holds", DCM_PatientName, EVR_PN, std::string(65534, 'N'), std::string(65534, 'N')},
      {"PN over 64 KiB", DCM_PatientName, EVR_PN, std::string(70000, 'N'), kept + cutMark},
      {"PN as UN over 64 KiB", DCM_PatientName, EVR_UN, std::string(3 << 20, 'N'), kept + cutMark},
      {"unknown attribute as UN", DcmTagKey(0x0009, 0x1010), EVR_UN, "AB", "41\\42"},
      {"unknown attribute as UN over 64 KiB", DcmTagKey(0x0009, 0x1010), EVR_UN, std::string(70000, 'A'), cutMark},
  };
  for (const Case& c : cases) {
    DcmDataset dataset;
    dataset.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 100");
    DcmElement* raw = nullptr;
    ASSERT_TRUE(DcmItem::newDicomElementWithVR(raw, DcmTag(c.tag, DcmVR(c.vr))).good()) << c.name;
    std::unique_ptr<DcmElement> element(raw);
    if (c.vr == EVR_UN)
      ASSERT_TRUE(element->putUint8Array(reinterpret_cast<const Uint8*>(c.bytes.data()),
                                         static_cast<unsigned long>(c.bytes.size())).good()) << c.name;
    else
      ASSERT_TRUE(element->putString(c.bytes.c_str(), static_cast<Uint32>(c.bytes.size())).good()) << c.name;
    ASSERT_TRUE(dataset.insert(element.release()).good()) << c.name;
    const DataSet received = detail::ToDataSet(dataset);
    EXPECT_EQ(received.Attributes().Item(c.tag.getGroup(), c.tag.getElement()).Value(), c.expected) << c.name;
  }
}

TEST(AttributeList, SetReplacesAddAppendsItemFindsTheFirst) {
  DataSet d;
  d.SetPatientName("A");
  d.SetPatientName("B");
  d.Attributes().Add(0x0008, 0x0020, "20261206");
  d.Attributes().Add(0x0008, 0x0020, "20261207");
  ASSERT_EQ(d.Attributes().items().size(), 3u);
  EXPECT_EQ(d.PatientName(), "B");
  EXPECT_EQ(d.Attributes().Item(0x0008, 0x0020).Value(), "20261206");
  EXPECT_FALSE(d.Attributes().Item(0x0008, 0x0020).IsNull());
  const Attribute missing = d.Attributes().Item(0x0008, 0x0060);
  EXPECT_TRUE(missing.IsNull());
  EXPECT_EQ(missing.Value(), "");
  EXPECT_FALSE(d.Attributes().Contains(0x0008, 0x0060));
}

TEST(DataSetList, TruncatedOnlyWhenSaid) {
  EXPECT_FALSE(DataSetList(std::vector<DataSet>(3)).Truncated());
  const DataSetList cut(std::vector<DataSet>(400), true);
  EXPECT_TRUE(cut.Truncated());
  EXPECT_EQ(cut.Count(), 400u);
  EXPECT_FALSE(DataSetList().Truncated());
}

TEST(DataSetList, ReleaseEmptiesTheList) {
  DataSetList list(std::vector<DataSet>(3));
  EXPECT_EQ(list.Count(), 3u);
  list.Release();
  EXPECT_EQ(list.Count(), 0u);
}

// A loopback port nothing listens on: connecting is refused at once.
int ClosedLoopbackPort() {
  platform::StartSockets();
  const int fd = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  platform::CloseSocket(fd);
  return ntohs(address.sin_port);
}

TEST(AeTitle, InvalidTitlesAreRefusedBeforeAnythingIsSent) {
  const struct {
    std::string aet;
    std::int32_t number;  // 1010 refused here; 1001 valid, so the connection was tried
  } cases[] = {
      {std::string("AR\0CHIVE", 8), 1010}, {std::string("\0", 1), 1010}, {"AR\tCHIVE", 1010},
      {"AR\x7F", 1010},  {"AR\\CHIVE", 1010}, {"ABCDEFGHIJKLMNOPQ", 1010}, {"", 1010},
      {"AR CHIVE", 1001}, {"ABCDEFGHIJKLMNOP", 1001},
  };
  const int port = ClosedLoopbackPort();
  for (const auto& c : cases) {
    for (const bool called : {true, false}) {
      QueryClient client;
      client.SetPort(port);
      client.SetHost("127.0.0.1");
      client.SetCalledAET(called ? c.aet : "ARCHIVE");
      client.SetCallingAET(called ? "MORVANTA" : c.aet);
      client.SetQueryRoot("STUDY");
      client.SetTimeout(5);
      try {
        client.Find(client.Identifier());
        ADD_FAILURE() << c.aet << " reached the network and found an archive";
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), c.number) << (called ? "called " : "calling ") << c.aet << ": " << e.description();
        // The message shows the title whole, with nothing in it that cuts a log line short.
        EXPECT_EQ(e.description().find('\0'), std::string::npos);
      }
    }
  }
}

}  // namespace
}  // namespace morvanta::dicom
