#pragma once
// Paths and the program's texts, which are UTF-8 on every system. A path's
// narrow forms, string() and the constructor from std::string, use the
// system's narrow encoding: on Windows that is the ANSI code page (this
// compiler's library reads std::string through it, and writes string() as
// UTF-8), so "Röntgen" from Settings.ini would name another file, and a
// folder outside that code page would come out as question marks. The u8
// forms are UTF-8 on Windows and the bytes as they are on POSIX.

#include <filesystem>
#include <string>
#include <string_view>

namespace morvanta::platform {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace morvanta::platform
