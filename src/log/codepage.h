#pragma once
// Settings.ini and the logs are single-byte Windows-1252 text, so that a file
// carried over from an existing station reads the same. In memory every text
// is UTF-8; these convert at the file boundary.

#include <string>
#include <string_view>

namespace morvanta {

// A character Windows-1252 cannot hold becomes "?", as the system's own
// single-byte routines do. Invalid UTF-8 bytes become "?" too.
std::string Utf8ToCp1252(std::string_view utf8);

// Every byte has a meaning; the five the code page leaves undefined become
// U+0081, U+008D, U+008F, U+0090 and U+009D, and go back to the same byte.
std::string Cp1252ToUtf8(std::string_view cp1252);

}  // namespace morvanta
