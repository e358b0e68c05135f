#pragma once
// Character sets of identifiers and responses. The program works in UTF-8;
// on the wire an identifier that is plain ASCII carries no Specific Character
// Set (0008,0005), one whose letters all fit Latin-1 goes as ISO_IR 100
// (what most archives understand), anything else as ISO_IR 192 (UTF-8).
// PS3.3 C.12.1.1.2, PS3.5 6.1.

#include <string>
#include <string_view>
#include <vector>

namespace morvanta::dicom {

enum class Charset { Ascii, Latin1, Utf8 };

bool IsAscii(std::string_view text);
bool IsValidUtf8(std::string_view text);
// The narrowest character set that holds every text (texts are UTF-8; text
// that is not valid UTF-8 is sent as it is, as ISO_IR 192).
Charset ChooseCharset(const std::vector<std::string>& utf8Texts);
// The defined term for (0008,0005): "" for Ascii, "ISO_IR 100", "ISO_IR 192".
std::string DefinedTerm(Charset charset);

// UTF-8 to Latin-1; a character Latin-1 cannot hold becomes "?".
std::string Utf8ToLatin1(std::string_view utf8);
std::string Latin1ToUtf8(std::string_view latin1);
// Decodes UTF-8; an invalid byte is taken as the Latin-1 letter it would be,
// so that text of unknown origin still reads.
std::u32string Utf8ToUtf32(std::string_view utf8);
std::string Utf32ToUtf8(std::u32string_view text);

// Where a received value's delimiters end a code extension (PS3.5 6.1.2.5.3):
// line ends and TAB always; "\" between the values of SH, LO, UC; and for a
// Person Name also "^" and "=" between its components and groups.
enum class TextKind { Text, MultiValued, PersonName };

// A received value's bytes as UTF-8, read under its data set's Specific
// Character Set (0008,0005) as received, its values separated by "\".
// Handles the single-byte sets, ISO_IR 192, GB18030, GBK, and ISO 2022 code
// extensions (Japanese IR 13/87/159, Korean IR 149, Chinese IR 58, the
// ISO 8859 parts); escape sequences are never part of the result. Without a
// character set, or with one this program does not know, bytes beyond ASCII
// read as ISO_IR 100 (an unknown set's text that is valid UTF-8 stays UTF-8).
// A byte sequence the set does not define becomes U+FFFD. The result is
// always valid UTF-8.
std::string DecodeText(std::string_view bytes, std::string_view specificCharacterSet,
                       TextKind kind = TextKind::Text);

}  // namespace morvanta::dicom
