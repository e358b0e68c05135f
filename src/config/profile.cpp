#include "config/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "log/codepage.h"

namespace morvanta {
namespace fs = std::filesystem;
namespace {

// A line of the file as a view into its bytes.
struct Line {
  std::string_view text;        // without its line end
  std::string_view terminator;  // "\r\n", "\n", "\r" or "" for the last line
};

// One open, one fstat, one read: ReadINI reads the file on every lookup, so
// that a change made by another program is seen at once, and this keeps that
// cheap.
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
std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; };
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
  return {false, false, false, "Cannot write " + file.string() + ": " + why};
}

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// Closes the descriptor on every way out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now, for the error close can report (a write the disk refused late).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes, off_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
  return true;
}

// The file rewritten through its own inode: what a locked program folder
// allows, and what keeps owner, mode and other links as they are. Space is
// reserved first, so a full disk fails before anything has changed.
std::optional<std::string> WriteInPlace(const fs::path& file, std::string_view out,
                                        off_t oldSize) {
  Fd fd(::open(file.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) return ErrnoText(errno);
  const auto size = static_cast<off_t>(out.size());
  if (size > oldSize) {
    const int reserved = ::posix_fallocate(fd.get(), 0, size);
    // File systems without reservation just write.
    if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) return ErrnoText(reserved);
  }
  if (!WriteAll(fd.get(), out, 0)) return ErrnoText(errno);
  if (::ftruncate(fd.get(), size) != 0) return ErrnoText(errno);
  if (::fsync(fd.get()) != 0) return ErrnoText(errno);
  if (!fd.Close()) return ErrnoText(errno);
  return std::nullopt;
}

enum class Replaced { Done, UseInPlace };

// The new content beside the file, renamed over it: a crash or a full disk
// never leaves half a Settings.ini. The new file takes the old one's mode,
// owner and group; when this process may not give it those, the caller
// writes in place instead.
std::optional<std::string> WriteBeside(const fs::path& file, std::string_view out,
                                       const struct stat* old, Replaced& how) {
  how = Replaced::Done;
  const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
  std::random_device random;
  fs::path temp;
  int raw = -1;
  for (int attempt = 0; attempt < 8 && raw < 0; ++attempt) {
    temp = dir / (file.filename().string() + ".tmp" + std::to_string(random()));
    raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw < 0 && errno != EEXIST) break;
  }
  if (raw < 0) {
    const int error = errno;
    if (old != nullptr && (error == EACCES || error == EPERM)) {
      how = Replaced::UseInPlace;
      return std::nullopt;
    }
    return "cannot create a file in " + dir.string() + " (" + ErrnoText(error) + ")";
  }
  Fd fd(raw);
  std::error_code ec;
  struct stat made {};
  const auto discard = [&](std::string why) {
    fs::remove(temp, ec);
    return std::optional<std::string>(std::move(why));
  };
  if (old != nullptr) {
    // A set-group-ID folder gives new files its group: compare what was made.
    if (::fstat(fd.get(), &made) != 0) return discard(ErrnoText(errno));
    if ((made.st_uid != old->st_uid || made.st_gid != old->st_gid) &&
        ::fchown(fd.get(), old->st_uid, old->st_gid) != 0) {
      fs::remove(temp, ec);
      how = Replaced::UseInPlace;
      return std::nullopt;
    }
    if (::fchmod(fd.get(), old->st_mode & 07777) != 0) return discard(ErrnoText(errno));
  }
  if (!WriteAll(fd.get(), out, 0) || ::fsync(fd.get()) != 0 || !fd.Close()) {
    return discard(errno == ENOSPC ? "the disk is full" : ErrnoText(errno));
  }
  if (::rename(temp.c_str(), file.c_str()) != 0) {
    const int error = errno;
    // A sticky folder lets only the file's owner replace it.
    if (old != nullptr && (error == EACCES || error == EPERM)) {
      fs::remove(temp, ec);
      how = Replaced::UseInPlace;
      return std::nullopt;
    }
    return discard(ErrnoText(error));
  }
  return std::nullopt;
}

// Whether this process may write the file, as the system decides it. Root
// may write anything; a file without any write permission was made so on
// purpose, and root leaves it alone as well.
std::optional<std::string> RefusalToWrite(const fs::path& file, const struct stat& info) {
  if (::geteuid() == 0 && (info.st_mode & 0222) == 0) return "the file is read-only";
  if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0) return std::nullopt;
  const int error = errno;
  if (error == EROFS) return "the file is read-only (read-only file system)";
  if (error == EACCES || error == EPERM) {
    return "the file is read-only for this user (" + ErrnoText(error) + ")";
  }
  return ErrnoText(error);
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
  struct stat info {};
  const bool exists = ::stat(file.c_str(), &info) == 0;
  if (!exists && errno != ENOENT) return Failed(file, ErrnoText(errno));
  if (exists) {
    if (!S_ISREG(info.st_mode)) return Failed(file, "it is not a file");
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
  Replaced how = exists && info.st_nlink > 1 ? Replaced::UseInPlace : Replaced::Done;
  if (how == Replaced::Done) {
    if (auto why = WriteBeside(file, out, exists ? &info : nullptr, how)) return Failed(file, *why);
  }
  if (how == Replaced::UseInPlace) {
    if (auto why = WriteInPlace(file, out, info.st_size)) return Failed(file, *why);
  }
  WriteResult done;
  done.changed = true;
  return done;
}

}  // namespace morvanta
