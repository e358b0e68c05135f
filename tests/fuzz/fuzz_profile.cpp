// The profile reader and writer over any Settings.ini bytes and any section
// and key names.
//
// Input, read with FuzzedDataProvider: section, key, value to write, a second
// section and key, the buffer size for one more read, then the file's bytes.
//
// Properties:
// - ReadINI never returns more than size - 1 single-byte characters;
// - a snapshot of the file answers every lookup as ReadINI does;
// - the file's text (Windows-1252, or UTF-16LE decoded) encodes back to the
//   same bytes, so lines a write does not touch stay as they were;
// - LoadArchiveSettings reads any file and always ends with a positive
//   time-out;
// - after WriteINI(section, key, value), ReadINI(section, key) gives the value
//   as the file holds it: Windows-1252 ("?" for what it cannot hold) or, for
//   a UTF-16LE file, the UTF-8 itself ("?" for an invalid byte); CR and LF as
//   spaces, cut at a NUL, surrounding blanks and one pair of double or single
//   quotes dropped, cut to 255 characters; this only holds for names the file
//   format can carry (see SectionCanRoundTrip, KeyCanRoundTrip);
// - WriteINI changes no other key: the second section and key read the same
//   before and after, unless they name the written key.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#include "config/profile.h"
#include "config/profile_encoding.h"
#include "config/settings.h"
#include "fuzz_common.h"
#include "log/codepage.h"

namespace {

namespace fs = std::filesystem;
using morvanta::FromProfileText;
using morvanta::ProfileEncoding;
using morvanta::ReadINI;
using morvanta::ToProfileText;
using morvanta::Utf8ToCp1252;

// One folder per process, removed at exit; memory-backed when possible so
// the fuzzer is not held up by the disk.
const fs::path& WorkDir() {
  static const fs::path dir = [] {
    std::error_code ec;
    fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm")
                                                     : fs::temp_directory_path();
    std::string templ = (base / "morvanta-fuzz-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(WorkDir(), ignored);
    });
    return fs::path(templ);
  }();
  return dir;
}

void WriteFile(const fs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::abort();
}

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// A section name survives "[name]" when it has no line break, no "]" and no
// blanks at its ends (which the reader drops). A key survives "key=value"
// when it has no line break, no "=", no blanks at its ends and does not read
// as a comment or a section line.
bool SectionCanRoundTrip(std::string_view name) {
  return name.find_first_of("\r\n]") == std::string_view::npos && Trim(name) == name;
}
bool KeyCanRoundTrip(std::string_view name) {
  return name.find_first_of("\r\n=") == std::string_view::npos && Trim(name) == name &&
         !name.starts_with(';') && !name.starts_with('[');
}

// What a value reads back as once written to a file in `encoding`.
std::string ExpectedValue(ProfileEncoding encoding, std::string_view utf8) {
  std::string oneLine(utf8);
  std::ranges::replace(oneLine, '\r', ' ');
  std::ranges::replace(oneLine, '\n', ' ');
  const std::string stored = ToProfileText(encoding, oneLine);
  std::string_view value = Trim(std::string_view(stored).substr(0, stored.find('\0')));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return FromProfileText(encoding, value, morvanta::kProfileBufferSize - 1);
}

// A default that tells "key not found" apart from any value written here
// (a value holding exactly these bytes only hides a fault, never fakes one).
constexpr std::string_view kAbsent("\0absent", 7);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(64);
  const std::string key = input.ConsumeRandomLengthString(64);
  const std::string value = input.ConsumeRandomLengthString(600);
  const std::string otherSection = input.ConsumeRandomLengthString(64);
  const std::string otherKey = input.ConsumeRandomLengthString(64);
  const int bufferSize = input.ConsumeIntegralInRange<int>(-2, 300);
  const std::string bytes = input.ConsumeRemainingBytesAsString();

  const fs::path file = WorkDir() / "Settings.ini";
  WriteFile(file, bytes);

  // Any bytes, any names, any buffer size.
  const std::string sized = ReadINI(section, key, value, file, bufferSize);
  FUZZ_CHECK(Utf8ToCp1252(sized).size() <=
             static_cast<std::size_t>(std::max(bufferSize - 1, 0)));
  const std::string before = ReadINI(section, key, "", file);
  FUZZ_CHECK(Utf8ToCp1252(before).size() <= morvanta::kProfileBufferSize - 1);
  const std::string otherBefore = ReadINI(otherSection, otherKey, kAbsent, file);
  const morvanta::ProfileSnapshot snapshot = morvanta::ProfileSnapshot::Read(file);
  FUZZ_CHECK(snapshot.Get(section, key, value, bufferSize) == sized);
  FUZZ_CHECK(snapshot.Get(otherSection, otherKey, kAbsent) == otherBefore);

  const morvanta::ProfileText text = morvanta::DecodeProfile(bytes);
  FUZZ_CHECK(morvanta::EncodeProfile(text.encoding, text.text, text.oddByte) == bytes);

  // Start-up's reading steps over the same bytes.
  morvanta::SettingsValues values;
  morvanta::LoadArchiveSettings(values, file);
  FUZZ_CHECK(values.TimeoutSeconds > 0);

  const morvanta::WriteResult written = morvanta::WriteINI(section, key, value, file);
  FUZZ_CHECK(written.ok);

  // The file keeps its encoding (a UTF-16LE one stays so).
  const ProfileEncoding encoding = text.encoding;
  const std::string sectionBytes = ToProfileText(encoding, section);
  const std::string keyBytes = ToProfileText(encoding, key);
  if (!SectionCanRoundTrip(sectionBytes) || !KeyCanRoundTrip(keyBytes)) return 0;

  FUZZ_CHECK(ReadINI(section, key, kAbsent, file) == ExpectedValue(encoding, value));

  const bool sameKey = SameName(ToProfileText(encoding, otherSection), sectionBytes) &&
                       SameName(ToProfileText(encoding, otherKey), keyBytes);
  if (!sameKey) FUZZ_CHECK(ReadINI(otherSection, otherKey, kAbsent, file) == otherBefore);
  return 0;
}
