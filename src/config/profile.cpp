#include "config/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <fstream>
#include <optional>
#include <random>
#include <system_error>
#include <vector>

#include "log/codepage.h"

namespace morvanta {
namespace fs = std::filesystem;
namespace {

// A line of the file as a view into its bytes.
struct Line {
  std::string_view text;        // without its line end
  std::string_view terminator;  // "\r\n", "\n", "\r" or "" for the last line
};

// One open, one fstat, one read: the file is read on every lookup, so that a
// change made by another program is seen at once, and this keeps that cheap.
std::optional<std::string> ReadBytes(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> bytes;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    std::string data(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    bool failed = false;
    while (done < data.size()) {
      const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed = n < 0;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    data.resize(done);
    if (!failed) bytes = std::move(data);
  }
  ::close(fd);
  return bytes;
}

std::vector<Line> SplitLines(std::string_view bytes) {
  // A UTF-8 byte-order mark from an editor would hide the first section.
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
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

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

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
  return KeyValue{Trim(text.substr(0, eq)), Trim(text.substr(eq + 1))};
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
  return {false, "Cannot write " + file.string() + ": " + why};
}

}  // namespace

std::string ReadINI(std::string_view section, std::string_view key,
                    std::string_view defaultValue, const fs::path& file,
                    int size) {
  const std::size_t limit = size > 0 ? static_cast<std::size_t>(size - 1) : 0;
  const auto cut = [limit](std::string_view value) {
    return Cp1252ToUtf8(value.substr(0, std::min(limit, value.size())));
  };
  const std::optional<std::string> bytes = ReadBytes(file);
  if (!bytes) return cut(Utf8ToCp1252(defaultValue));

  const std::vector<Line> lines = SplitLines(*bytes);
  const Position pos = Find(lines, Utf8ToCp1252(section), Utf8ToCp1252(key));
  if (!pos.key) return cut(Utf8ToCp1252(defaultValue));

  std::string_view value = KeyValueOf(lines[*pos.key].text)->value;
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return cut(value);
}

WriteResult WriteINI(std::string_view section, std::string_view key,
                     std::string_view value, const fs::path& requested) {
  std::error_code ec;
  // Write through a link to the file it names, not over the link.
  fs::path file = requested;
  if (fs::is_symlink(file, ec)) file = fs::weakly_canonical(file, ec);

  std::string bytes;
  const fs::file_status status = fs::status(file, ec);
  const bool exists = fs::exists(status);
  if (exists) {
    if (!fs::is_regular_file(status)) return Failed(file, "it is not a file");
    // A file without write permission is read-only for us as well, even when
    // running with rights that could override it.
    if ((status.permissions() & fs::perms::owner_write) == fs::perms::none) {
      return Failed(file, "the file is read-only");
    }
    std::optional<std::string> read = ReadBytes(file);
    if (!read) return Failed(file, "the file cannot be read");
    bytes = std::move(*read);
  }

  const std::string sectionName = Utf8ToCp1252(section);
  const std::string keyName = Utf8ToCp1252(key);
  const std::string entry = keyName + "=" + Utf8ToCp1252(OneLine(value));
  const bool hadBom = std::string_view(bytes).starts_with("\xEF\xBB\xBF");
  std::vector<Line> lines = SplitLines(bytes);
  const Position pos = Find(lines, sectionName, keyName);
  const std::string sectionLine = "[" + sectionName + "]";

  if (pos.key) {
    lines[*pos.key].text = entry;
  } else if (pos.section) {
    if (pos.insertAt > 0 && lines[pos.insertAt - 1].terminator.empty()) {
      lines[pos.insertAt - 1].terminator = "\r\n";
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos.insertAt),
                 Line{entry, "\r\n"});
  } else {
    if (!lines.empty() && lines.back().terminator.empty()) lines.back().terminator = "\r\n";
    lines.push_back({sectionLine, "\r\n"});
    lines.push_back({entry, "\r\n"});
  }

  std::string out = hadBom ? "\xEF\xBB\xBF" : "";
  out.reserve(bytes.size() + entry.size() + sectionLine.size() + 8);
  for (const Line& line : lines) {
    out += line.text;
    out += line.terminator;
  }

  // The new content goes to a file beside the old one and is renamed over it:
  // a crash or a full disk never leaves half a Settings.ini.
  const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
  if (!fs::is_directory(dir, ec)) return Failed(file, "its folder does not exist");
  std::random_device random;
  const fs::path temp =
      dir / (file.filename().string() + ".tmp" + std::to_string(random()));
  {
    std::ofstream stream(temp, std::ios::binary | std::ios::trunc);
    if (!stream) return Failed(file, "cannot create a file in " + dir.string());
    stream.write(out.data(), static_cast<std::streamsize>(out.size()));
    stream.close();
    if (!stream) {
      fs::remove(temp, ec);
      return Failed(file, "the disk may be full");
    }
  }
  if (exists) fs::permissions(temp, status.permissions(), ec);
  fs::rename(temp, file, ec);
  if (ec) {
    const std::string why = ec.message();
    fs::remove(temp, ec);
    return Failed(file, why);
  }
  return {};
}

}  // namespace morvanta
