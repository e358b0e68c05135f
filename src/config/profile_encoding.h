#pragma once
// Settings.ini's bytes as the text the profile routines parse, and back.
// Most files are Windows-1252; Notepad saves "Unicode" as UTF-16LE with a
// byte-order mark, and such a file is read and written back as UTF-16LE.
// The parser only looks at ASCII ("[", "]", "=", ";", blanks, line ends),
// so it works alike on Windows-1252 bytes and on UTF-8.

#include <cstddef>
#include <string>
#include <string_view>

namespace morvanta {

enum class ProfileEncoding {
  Ansi,     // Windows-1252
  Utf8Bom,  // Windows-1252 after a UTF-8 byte-order mark an editor left, kept on write
  Utf16Le,  // UTF-16LE after its byte-order mark
};

// The file as text: Windows-1252 bytes, or a UTF-16LE file's characters as
// UTF-8. An unpaired surrogate in a UTF-16LE file is kept as the three bytes
// UTF-8 would give it, so that lines a write does not touch go back as they
// were; only a value read out of the file turns it into U+FFFD.
struct ProfileText {
  ProfileEncoding encoding = ProfileEncoding::Ansi;
  std::string text;     // without the byte-order mark
  std::string oddByte;  // a UTF-16LE file's last byte when its length is odd
};

ProfileText DecodeProfile(std::string bytes);

// The bytes of a file that holds `text` in `encoding`; DecodeProfile's
// inverse, byte for byte.
std::string EncodeProfile(ProfileEncoding encoding, std::string_view text, std::string_view oddByte = {});

// A name or value from the program (UTF-8) as the file's text holds it:
// Windows-1252 with "?" for what it cannot hold, or for a UTF-16LE file the
// UTF-8 itself (an invalid byte becomes "?").
std::string ToProfileText(ProfileEncoding encoding, std::string_view utf8);

// A value of the file's text as the program's UTF-8, cut to `limit`
// characters (what a buffer of limit + 1 single-byte characters holds).
std::string FromProfileText(ProfileEncoding encoding, std::string_view text, std::size_t limit);

}  // namespace morvanta
