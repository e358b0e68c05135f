#pragma once
// Profile (INI) routines with the behaviour the station's settings file has
// always had: case-insensitive section and key names, the default for a
// missing file, section or key, an empty text for a key present with an empty
// value, values cut to the buffer size - 1, ";" comments, the first of two
// equal sections or keys wins, spaces around keys and values ignored, and a
// value in a pair of double quotes read without them.
// The file is Windows-1252 with CR LF line ends; texts here are UTF-8.

#include <filesystem>
#include <string>
#include <string_view>

namespace morvanta {

inline constexpr int kProfileBufferSize = 256;

std::string ReadINI(std::string_view section, std::string_view key,
                    std::string_view defaultValue,
                    const std::filesystem::path& file,
                    int size = kProfileBufferSize);

struct WriteResult {
  bool ok = true;
  std::string error;  // says what failed and why, naming the file
  explicit operator bool() const { return ok; }
};

// Sets section/key = value, creating the file, the section or the key as
// needed and leaving every other line as it was. The new content is written
// beside the file and renamed over it, so a failure never leaves half a file.
// A file without its owner's write permission is treated as read-only and
// refused, whoever runs the program (root included); so are a folder in its
// place and a missing folder.
WriteResult WriteINI(std::string_view section, std::string_view key,
                     std::string_view value,
                     const std::filesystem::path& file);

}  // namespace morvanta
