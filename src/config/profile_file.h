#pragma once
// The system's side of Settings.ini: reading its bytes, and writing new ones
// so that a crash or a full disk never leaves half a file. POSIX in
// profile_file_posix.cpp, Windows in profile_file_win32.cpp; the text and its
// keys are profile.cpp's.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace morvanta {

// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> ReadBytes(const std::filesystem::path& file);

// What is at the file's path before a write.
struct FileBefore {
  bool exists = false;
  bool regular = false;
  std::uintmax_t size = 0;
  std::uintmax_t links = 1;  // names the file has
  // POSIX: its mode, owner and group, which the new content keeps.
  unsigned mode = 0;
  unsigned owner = 0;
  unsigned group = 0;
};

// Fills `before`; returns why when the system cannot say (a missing file is
// no failure: exists stays false).
std::optional<std::string> Examine(const std::filesystem::path& file, FileBefore& before);

// Why this process may not write the existing file, as the system decides
// it; nothing when it may.
std::optional<std::string> RefusalToWrite(const std::filesystem::path& file, const FileBefore& info);

enum class Replaced { Done, UseInPlace };

// The new content beside the file, put in its place (see the .cpp for how);
// `how` turns to UseInPlace when this process may create or replace the file
// but not keep what the old one had (owner, rights).
std::optional<std::string> WriteBeside(const std::filesystem::path& file, std::string_view out,
                                       const FileBefore* old, Replaced& how);

// The file rewritten through its own handle: what a locked program folder
// allows, and what keeps owner, rights and other names as they are.
std::optional<std::string> WriteInPlace(const std::filesystem::path& file, std::string_view out,
                                        std::uintmax_t oldSize);

}  // namespace morvanta
