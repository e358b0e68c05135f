#pragma once
// Profile (INI) routines with the behaviour the station's settings file has
// always had: case-insensitive section and key names, the default for a
// missing file, section or key, an empty text for a key present with an empty
// value, values cut to the buffer size - 1, ";" comments, the first of two
// equal sections or keys wins, spaces, tabs, vertical tabs, form feeds and
// Ctrl-Z around section names, keys and values ignored, a NUL ending a value,
// and a value in a pair of double or single quotes read without them.
// The file is Windows-1252 with CR LF line ends, or UTF-16LE with a
// byte-order mark, which a write keeps; texts here are UTF-8.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morvanta {

inline constexpr int kProfileBufferSize = 256;

// Reads the whole file on every call, so that a change made by another
// program is seen at once.
std::string ReadINI(std::string_view section, std::string_view key,
                    std::string_view defaultValue,
                    const std::filesystem::path& file,
                    int size = kProfileBufferSize);

// The file as it was when read: an operation that needs several keys reads
// the file once and looks them all up here, with ReadINI's rules. Copies
// share the bytes.
class ProfileSnapshot {
 public:
  static ProfileSnapshot Read(const std::filesystem::path& file);
  std::string Get(std::string_view section, std::string_view key,
                  std::string_view defaultValue,
                  int size = kProfileBufferSize) const;

  struct Data;

 private:
  std::shared_ptr<const Data> data_;  // null: no file
};

// What WriteINI does when the file is not there.
enum class IfMissing {
  Create,  // a new file with the one section and key
  Keep,    // nothing is created; the result says the file is missing
};

struct WriteResult {
  bool ok = true;
  bool missing = false;  // IfMissing::Keep and there was no file
  bool changed = false;  // the file now holds something it did not
  std::string error;  // says what failed and why, naming the file
  explicit operator bool() const { return ok; }
};

// Sets section/key = value, creating the section or the key as needed and
// leaving every other line as it was. A file that already holds the value is
// not touched (so a read-only file that holds it is no failure).
//
// Whether the file may be written is the system's decision (access(2) with
// this process's rights: owner, groups, ACLs, a read-only mount). Root, who
// may write anything, still leaves alone a file with no write permission at
// all. A file this user may not write is never replaced.
//
// Where the folder lets us, the new content is written beside the file and
// renamed over it, so a failure never leaves half a file; the new file gets
// the old one's mode, owner and group. Where it does not (a locked program
// folder), or the owner or group could not be kept, or the file has other
// hard links, the file is rewritten in place: space reserved first, then
// written, cut to length and synced, keeping its inode, owner and mode.
WriteResult WriteINI(std::string_view section, std::string_view key,
                     std::string_view value,
                     const std::filesystem::path& file,
                     IfMissing ifMissing = IfMissing::Create);

// One section/key = value of a write.
struct ProfileEntry {
  std::string section;
  std::string key;
  std::string value;
};

// The same for several keys in one read, change and write: WriteINI's rules
// for each key in turn, and the file written at most once, only when some
// key changes. Either every key is written or none.
WriteResult WriteINI(const std::vector<ProfileEntry>& entries,
                     const std::filesystem::path& file,
                     IfMissing ifMissing = IfMissing::Create);

}  // namespace morvanta
