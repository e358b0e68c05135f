// The decoder of received text (Specific Character Set and a value's bytes,
// both as the network delivers them).
//
// Input: one byte choosing the kind of value (free text, multi-valued,
// person name), the (0008,0005) value up to the first newline, then the
// attribute's bytes.
//
// Properties, whatever the bytes and the character set:
// - the result is valid UTF-8 and holds no escape byte;
// - every character of the result comes from at least one byte: there are
//   never more characters than bytes;
// - bytes that are plain ASCII without an escape come back unchanged.

#include <cstdint>
#include <string>
#include <string_view>

#include "dicom/charset.h"
#include "fuzz_common.h"

using morvanta::dicom::DecodeText;
using morvanta::dicom::TextKind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  static constexpr TextKind kKinds[] = {TextKind::Text, TextKind::MultiValued,
                                        TextKind::PersonName};
  const TextKind kind = kKinds[static_cast<std::uint8_t>(input[0]) % 3];
  std::string_view rest = input.substr(1);
  const std::size_t newline = rest.find('\n');
  const std::string_view charset = rest.substr(0, newline);
  const std::string_view bytes =
      newline == std::string_view::npos ? std::string_view{} : rest.substr(newline + 1);

  const std::string decoded = DecodeText(bytes, charset, kind);
  FUZZ_CHECK(morvanta::dicom::IsValidUtf8(decoded));
  FUZZ_CHECK(decoded.find('\x1b') == std::string::npos);
  FUZZ_CHECK(morvanta::dicom::Utf8ToUtf32(decoded).size() <= bytes.size());

  bool plain = true;
  for (char c : bytes) plain = plain && static_cast<unsigned char>(c) < 0x80 && c != '\x1b';
  if (plain) FUZZ_CHECK(decoded == bytes);
  return 0;
}
