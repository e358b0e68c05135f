#include "config/profile.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <deque>
#include <optional>
#include <random>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "config/profile_encoding.h"
#include "config/profile_file.h"
#include "log/codepage.h"
#include "platform/path_text.h"
#include "text/trim.h"

namespace morvanta {
namespace fs = std::filesystem;
namespace {

// A line of the file as a view into its bytes.
struct Line {
  std::string_view text;        // without its line end
  std::string_view terminator;  // "\r\n", "\n", "\r" or "" for the last line
};

// The file's text, after DecodeProfile.
std::vector<Line> SplitLines(std::string_view bytes) {
  std::vector<Line> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    const std::size_t end = i;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    lines.push_back({bytes.substr(start, end - start), bytes.substr(end, i + 1 - end)});
    start = i + 1;
  }
  if (start < bytes.size()) lines.push_back({bytes.substr(start), {}});
  return lines;
}

// Around names and values Windows drops vertical tab, form feed and Ctrl-Z
// (an old end-of-file mark some editors still add) as it drops spaces and tabs.
std::string_view Trim(std::string_view s) { return text::Trim(s, " \t\v\f\x1A"); }

bool SameName(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// The section a line opens, when it is a section line.
std::optional<std::string_view> SectionOf(std::string_view text) {
  text = Trim(text);
  if (!text.starts_with('[')) return std::nullopt;
  const std::size_t close = text.find(']');
  if (close == std::string_view::npos) return Trim(text.substr(1));
  return Trim(text.substr(1, close - 1));
}

struct KeyValue {
  std::string_view key;
  std::string_view value;
};

std::optional<KeyValue> KeyValueOf(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.starts_with(';') || text.starts_with('[')) return std::nullopt;
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  // A NUL ends the value, as it ends a string for Windows.
  const std::string_view value = text.substr(eq + 1);
  return KeyValue{Trim(text.substr(0, eq)), Trim(value.substr(0, value.find('\0')))};
}

struct Position {
  std::optional<std::size_t> section;  // index of the section line
  std::optional<std::size_t> key;      // index of the key line
  std::size_t insertAt = 0;            // after the section's last non-blank line
};

// Only the first section of a name counts, and in it the first key.
Position Find(const std::vector<Line>& lines, std::string_view section,
              std::string_view key) {
  Position pos;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (const auto name = SectionOf(lines[i].text)) {
      if (pos.section) break;
      if (SameName(*name, section)) {
        pos.section = i;
        pos.insertAt = i + 1;
      }
      continue;
    }
    if (!pos.section) continue;
    if (!Trim(lines[i].text).empty()) pos.insertAt = i + 1;
    if (const auto kv = KeyValueOf(lines[i].text); kv && SameName(kv->key, key)) {
      pos.key = i;  // where to insert no longer matters
      break;
    }
  }
  return pos;
}

// A value written with a line break would split into a second line.
std::string OneLine(std::string_view text) {
  std::string out(text);
  std::ranges::replace(out, '\r', ' ');
  std::ranges::replace(out, '\n', ' ');
  return out;
}

WriteResult Failed(const fs::path& file, const std::string& why) {
  return {false, false, false, "Cannot write " + platform::Utf8Of(file) + ": " + why};
}

}  // namespace

// Section and key names compare as SameName does: ASCII case folded. The
// section's length goes first, since names may hold any byte, NUL included:
// no separator could tell section "a" with key "\0b" from "a\0" with "b".
std::string FoldedName(std::string_view section, std::string_view key) {
  std::string folded = std::to_string(section.size()) + ':';
  folded.reserve(folded.size() + section.size() + key.size());
  for (const std::string_view name : {section, key}) {
    for (const char c : name) folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return folded;
}

struct ProfileSnapshot::Data {
  ProfileText file;
  std::vector<Line> lines;  // views into file.text
  // Every key a lookup can find, by folded section and key name, to its
  // line: the first section of a name counts, and in it the first key, as
  // Find has it; made once, so many lookups cost one pass over the file.
  std::unordered_map<std::string, std::size_t> keys;
};

ProfileSnapshot ProfileSnapshot::Read(const fs::path& file) {
  ProfileSnapshot snapshot;
  std::optional<std::string> bytes = ReadBytes(file);
  if (!bytes) return snapshot;
  auto data = std::make_shared<Data>();
  data->file = DecodeProfile(std::move(*bytes));
  data->lines = SplitLines(data->file.text);
  std::unordered_set<std::string> sectionsSeen;
  std::optional<std::string_view> section;  // the first of its name, else none
  for (std::size_t i = 0; i < data->lines.size(); ++i) {
    const std::string_view text = data->lines[i].text;
    if (const auto name = SectionOf(text)) {
      section.reset();
      if (sectionsSeen.insert(FoldedName(*name, {})).second) section = *name;
      continue;
    }
    if (!section) continue;
    if (const auto kv = KeyValueOf(text)) data->keys.emplace(FoldedName(*section, kv->key), i);
  }
  snapshot.data_ = std::move(data);
  return snapshot;
}

namespace {

// What a lookup answers: the key line's value without its quotes, or the
// default, cut to the buffer and read as the file's text.
std::string Answer(ProfileEncoding encoding, std::optional<std::string_view> keyLine,
                   std::string_view defaultValue, int size) {
  const std::size_t limit = size > 0 ? static_cast<std::size_t>(size - 1) : 0;
  if (!keyLine) {
    return FromProfileText(ProfileEncoding::Ansi, Utf8ToCp1252(defaultValue), limit);
  }
  std::string_view value = KeyValueOf(*keyLine)->value;
  // Either quote, as long as the same one closes the value.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return FromProfileText(encoding, value, limit);
}

// The line of section/key by the rules Find keeps, reading only as far as
// that line: a single lookup need not split the whole file.
std::optional<std::string_view> KeyLine(std::string_view bytes, std::string_view section,
                                        std::string_view key) {
  bool inSection = false;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = start;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    const std::string_view text = bytes.substr(start, end - start);
    start = end + 1;
    if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n') ++start;
    if (const auto name = SectionOf(text)) {
      if (inSection) return std::nullopt;  // only the first section of a name counts
      inSection = SameName(*name, section);
      continue;
    }
    if (!inSection) continue;
    if (const auto kv = KeyValueOf(text); kv && SameName(kv->key, key)) return text;
  }
  return std::nullopt;
}

}  // namespace

std::string ProfileSnapshot::Get(std::string_view section, std::string_view key,
                                 std::string_view defaultValue, int size) const {
  if (!data_) return Answer(ProfileEncoding::Ansi, std::nullopt, defaultValue, size);
  const ProfileEncoding encoding = data_->file.encoding;
  const auto found =
      data_->keys.find(FoldedName(ToProfileText(encoding, section), ToProfileText(encoding, key)));
  if (found == data_->keys.end()) return Answer(encoding, std::nullopt, defaultValue, size);
  return Answer(encoding, data_->lines[found->second].text, defaultValue, size);
}

std::string ReadINI(std::string_view section, std::string_view key,
                    std::string_view defaultValue, const fs::path& file,
                    int size) {
  std::optional<std::string> bytes = ReadBytes(file);
  if (!bytes) return Answer(ProfileEncoding::Ansi, std::nullopt, defaultValue, size);
  const ProfileText text = DecodeProfile(std::move(*bytes));
  const ProfileEncoding encoding = text.encoding;
  return Answer(encoding, KeyLine(text.text, ToProfileText(encoding, section), ToProfileText(encoding, key)),
                defaultValue, size);
}

WriteResult WriteINI(std::string_view section, std::string_view key,
                     std::string_view value, const fs::path& requested,
                     IfMissing ifMissing) {
  return WriteINI({ProfileEntry{std::string(section), std::string(key), std::string(value)}}, requested,
                  ifMissing);
}

WriteResult WriteINI(const std::vector<ProfileEntry>& entries, const fs::path& requested,
                     IfMissing ifMissing) {
  std::error_code ec;
  // Write through a link to the file it names, not over the link.
  fs::path file = requested;
  if (fs::is_symlink(file, ec)) file = fs::weakly_canonical(file, ec);

  std::string bytes;
  FileBefore info;
  if (const auto why = Examine(file, info)) return Failed(file, *why);
  const bool exists = info.exists;
  if (exists) {
    if (!info.regular) return Failed(file, "it is not a file");
    std::optional<std::string> read = ReadBytes(file);
    if (!read) return Failed(file, "the file cannot be read");
    bytes = std::move(*read);
  } else if (ifMissing == IfMissing::Keep) {
    WriteResult missing = Failed(file, "the file does not exist");
    missing.missing = true;
    return missing;
  }

  // The file keeps its encoding; a new one is Windows-1252.
  const ProfileText text = DecodeProfile(bytes);
  const ProfileEncoding encoding = text.encoding;
  std::vector<Line> lines = SplitLines(text.text);
  // The lines are views: the new ones' text lives here until the file is
  // written (a deque never moves what it holds).
  std::deque<std::string> added;
  // One key after the other, each seeing the lines the ones before it left.
  for (const ProfileEntry& wanted : entries) {
    const std::string sectionName = ToProfileText(encoding, wanted.section);
    const std::string keyName = ToProfileText(encoding, wanted.key);
    const std::string value = ToProfileText(encoding, OneLine(wanted.value));
    const Position pos = Find(lines, sectionName, keyName);
    if (pos.key) {
      Line& line = lines[*pos.key];
      const KeyValue kv = *KeyValueOf(line.text);
      // Nothing to do when the key already holds the value, however its line
      // is spelt: a locked file that holds it is no failure.
      if (kv.value == value) continue;
      // The key keeps the spelling the file gives it, as Windows keeps it.
      line.text = added.emplace_back(std::string(kv.key) + "=" + value);
      if (line.terminator.empty()) line.terminator = "\r\n";
      continue;
    }
    const std::string& entry = added.emplace_back(keyName + "=" + value);
    if (pos.section) {
      if (pos.insertAt > 0 && lines[pos.insertAt - 1].terminator.empty()) {
        lines[pos.insertAt - 1].terminator = "\r\n";
      }
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos.insertAt), Line{entry, "\r\n"});
    } else {
      if (!lines.empty() && lines.back().terminator.empty()) lines.back().terminator = "\r\n";
      lines.push_back({added.emplace_back("[" + sectionName + "]"), "\r\n"});
      lines.push_back({entry, "\r\n"});
    }
  }

  std::string joined;
  joined.reserve(text.text.size() + 64);
  for (const Line& line : lines) {
    joined += line.text;
    joined += line.terminator;
  }
  const std::string out = EncodeProfile(encoding, joined, text.oddByte);
  if (exists && out == bytes) return {};

  if (exists) {
    if (const auto refusal = RefusalToWrite(file, info)) return Failed(file, *refusal);
  } else {
    const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
    if (!fs::is_directory(dir, ec)) return Failed(file, "its folder does not exist");
  }

  // Another link to the file would keep the old content after a rename.
  Replaced how = exists && info.links > 1 ? Replaced::UseInPlace : Replaced::Done;
  if (how == Replaced::Done) {
    if (auto why = WriteBeside(file, out, exists ? &info : nullptr, how)) return Failed(file, *why);
  }
  if (how == Replaced::UseInPlace) {
    if (auto why = WriteInPlace(file, out, info.size)) return Failed(file, *why);
  }
  WriteResult done;
  done.changed = true;
  return done;
}

}  // namespace morvanta
