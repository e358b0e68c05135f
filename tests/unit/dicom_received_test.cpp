// The decoder of received data sets against sequences nested at, one beyond
// and far beyond its bound, in every way a sequence can be written in the
// little endian transfer syntaxes: undefined and defined lengths, explicit
// and implicit VR, and a sequence sent as UN (implicit VR inside). Far
// beyond the bound, a miss of the walk would overflow the stack here.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "dicom/received.h"

namespace morvanta::dicom::detail {
namespace {

enum class Lengths { Undefined, Defined };

struct Encoding {
  const char* label;
  E_TransferSyntax xfer;
  Lengths lengths;
  bool asUn = false;  // the outermost sequence is sent as UN, implicit VR inside
};
// UN of a defined length is bytes to the parser whatever they hold (only an
// undefined length makes it a sequence): read at any depth, never recursed.
bool ReadAsBytes(const Encoding& e) { return e.asUn && e.lengths == Lengths::Defined; }
void PrintTo(const Encoding& e, std::ostream* os) { *os << e.label; }

void Put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}
void PutTag(std::string& out, std::uint16_t group, std::uint16_t element) {
  Put16(out, group);
  Put16(out, element);
}

// Referenced Study Sequence, `depth` items deep, then a Patient's Name.
std::string Nested(const Encoding& e, std::size_t depth) {
  const bool explicitVR = e.xfer == EXS_LittleEndianExplicit;
  const bool defined = e.lengths == Lengths::Defined;
  // The innermost item holds (0008,1150) UI "1.2".
  std::string leaf;
  PutTag(leaf, 0x0008, 0x1150);
  if (explicitVR && !e.asUn) {
    leaf += "UI";
    Put16(leaf, 4);
  } else {
    Put32(leaf, 4);
  }
  leaf.append("1.2\0", 4);
  // The sequence's header size at level k (0 outermost).
  auto header = [&](std::size_t k) { return explicitVR && (k == 0 || !e.asUn) ? 12u : 8u; };
  std::vector<std::uint32_t> itemLength(depth);
  std::uint32_t inner = static_cast<std::uint32_t>(leaf.size());
  for (std::size_t k = depth; k-- > 0;) {
    itemLength[k] = inner;
    inner = header(k) + 8 + inner;
  }
  std::string out;
  for (std::size_t k = 0; k < depth; ++k) {
    PutTag(out, 0x0008, 0x1110);
    if (header(k) == 12) {
      out += k == 0 && e.asUn ? "UN" : "SQ";
      Put16(out, 0);
    }
    Put32(out, defined ? itemLength[k] + 8 : 0xFFFFFFFF);
    PutTag(out, 0xFFFE, 0xE000);
    Put32(out, defined ? itemLength[k] : 0xFFFFFFFF);
  }
  out += leaf;
  for (std::size_t k = 0; k < depth && !defined; ++k) {
    PutTag(out, 0xFFFE, 0xE00D);
    Put32(out, 0);
    PutTag(out, 0xFFFE, 0xE0DD);
    Put32(out, 0);
  }
  PutTag(out, 0x0010, 0x0010);
  if (explicitVR) {
    out += "PN";
    Put16(out, 4);
  } else {
    Put32(out, 4);
  }
  out += "A^B ";
  return out;
}

class ReceivedNesting : public ::testing::TestWithParam<Encoding> {};

TEST_P(ReceivedNesting, ReadToTheBoundRefusedBeyond) {
  const Encoding& e = GetParam();
  for (const std::size_t depth : {std::size_t{5}, kMaxNesting, kMaxNesting + 1, std::size_t{10000}, std::size_t{100000}}) {
    const std::string bytes = Nested(e, depth);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (depth <= kMaxNesting && !ReadAsBytes(e)) {
      EXPECT_EQ(NestingDepth(data, bytes.size(), e.xfer), depth);
    }
    std::string why;
    const std::unique_ptr<DcmDataset> dataset = DecodeReceived(data, bytes.size(), e.xfer, why);
    if (depth <= kMaxNesting || ReadAsBytes(e)) {
      ASSERT_NE(dataset, nullptr) << depth << ": " << why;
      OFString name;
      EXPECT_TRUE(dataset->findAndGetOFString(DcmTagKey(0x0010, 0x0010), name).good()) << depth;
      EXPECT_EQ(std::string(name.c_str()), "A^B") << depth;
    } else {
      EXPECT_EQ(dataset, nullptr) << depth;
      EXPECT_EQ(why, "its sequences nest deeper than 128 levels") << depth;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReceivedNesting,
    ::testing::Values(Encoding{"ExplicitUndefined", EXS_LittleEndianExplicit, Lengths::Undefined},
                      Encoding{"ExplicitDefined", EXS_LittleEndianExplicit, Lengths::Defined},
                      Encoding{"ImplicitUndefined", EXS_LittleEndianImplicit, Lengths::Undefined},
                      Encoding{"ImplicitDefined", EXS_LittleEndianImplicit, Lengths::Defined},
                      Encoding{"SentAsUnUndefined", EXS_LittleEndianExplicit, Lengths::Undefined, true},
                      Encoding{"SentAsUnDefinedIsBytes", EXS_LittleEndianExplicit, Lengths::Defined, true}),
    [](const auto& info) { return std::string(info.param.label); });

// A value that claims more bytes than the data set has is refused before the
// parser sets aside room for it (up to 4 GB), at the top and inside an item.
TEST(ReceivedLengths, ValueLongerThanTheDataSetIsRefused) {
  for (const bool inItem : {false, true}) {
    std::string bytes = inItem ? Nested({"", EXS_LittleEndianImplicit, Lengths::Undefined}, 1).substr(0, 16) : "";
    PutTag(bytes, 0x0010, 0x0010);
    Put32(bytes, 0xE0000000);
    bytes += "A^B ";
    std::string why;
    EXPECT_EQ(DecodeReceived(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                             EXS_LittleEndianImplicit, why),
              nullptr)
        << inItem;
    EXPECT_EQ(why, "a value is longer than the data set") << inItem;
  }
}

}  // namespace
}  // namespace morvanta::dicom::detail
