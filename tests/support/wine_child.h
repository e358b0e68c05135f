#pragma once
// Linux programs started from a Windows test executable under wine: the Linux
// demo archive and DCMTK's tools are the peers of the Windows build's
// integration tests. Wine runs a Linux executable named to CreateProcessW
// natively, but hands back no process handle (nothing to wait for, end or ask
// the exit status of) and gives the child no standard error of ours. So each
// child is a /bin/sh that names its process id in a file, sends its output
// where the test wants it and execs the program; it is watched through /proc
// and ended with kill. Paths are Linux paths, which name the same file on both
// sides: wine's drive Z: is /, and the tests' current directory is on it.
#ifdef _WIN32

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace morvanta::testing::wine {

// `text` as one word of a /bin/sh command.
inline std::string ShellWord(const std::string& text) {
  std::string word = "'";
  for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

// Starts `/bin/sh -c script` with Debian's PATH and does not wait; false when
// wine could not start it.
inline bool StartShell(const std::string& script) {
  // Wine splits the command line into the Linux child's arguments by the
  // rules of CommandLineToArgvW: the script is one word in double quotes, a
  // quote in it escaped, and so the backslashes before a quote.
  std::string line = "/bin/sh -c \"";
  std::size_t backslashes = 0;
  for (const char c : "PATH=/usr/local/bin:/usr/bin:/bin; export PATH; " + script) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
  const int size = static_cast<int>(line.size());
  std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, line.data(), size, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, line.data(), size, wide.data(), static_cast<int>(wide.size()));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
    return false;
  if (started.hProcess) CloseHandle(started.hProcess);
  if (started.hThread) CloseHandle(started.hThread);
  return true;
}

// Waits for `file`, which the child writes under another name and renames
// when complete; its first word, or "" after the deadline.
inline std::string WaitForWord(const std::string& file, std::chrono::seconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  do {
    std::ifstream in(file);
    std::string word;
    if (in >> word) {
      in.close();
      std::filesystem::remove(file);
      return word;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < end);
  return "";
}

// `script` then `echo $?` into a file of that name, renamed when written.
inline std::string WritingStatus(const std::string& script, const std::string& file) {
  return script + "; echo $? > " + ShellWord(file + ".new") + " && mv " + ShellWord(file + ".new") + " " +
         ShellWord(file);
}

inline std::string UniqueFile(const std::string& kind) {
  std::random_device device;
  return "/tmp/morvanta-" + kind + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(device());
}

// Whether the Linux process `pid` has not ended: ended, it stays a zombie,
// since wine leaves it to a parent that need not reap it.
inline bool Alive(long pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto name = line.rfind(')');
  return name != std::string::npos && name + 2 < line.size() && line[name + 2] != 'Z';
}

// The Linux process `pid` killed; true once it has ended.
inline bool Kill(long pid) {
  StartShell("kill -9 " + std::to_string(pid));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Alive(pid))
    if (std::chrono::steady_clock::now() >= end) return false;
    else std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return true;
}

// `args` started with its output and errors appended to `output`; its process
// id, or 0 when it did not start.
inline long Start(const std::vector<std::string>& args, const std::string& output) {
  const std::string pidFile = UniqueFile("pid");
  std::string script = "echo $$ > ";
  script += ShellWord(pidFile + ".new") + " && mv " + ShellWord(pidFile + ".new") + " " + ShellWord(pidFile) + " && exec";
  for (const std::string& arg : args) script.append(" ").append(ShellWord(arg));
  if (!StartShell(script + " >> " + ShellWord(output) + " 2>&1")) return 0;
  const std::string pid = WaitForWord(pidFile, std::chrono::seconds(10));
  return pid.empty() ? 0 : std::stol(pid);
}

// Runs a /bin/sh command; its exit status, or -1 when it did not end within
// a minute.
inline int Shell(const std::string& command) {
  const std::string statusFile = UniqueFile("status");
  if (!StartShell(WritingStatus("(" + command + ")", statusFile))) return -1;
  const std::string status = WaitForWord(statusFile, std::chrono::seconds(60));
  return status.empty() ? -1 : std::stoi(status);
}

}  // namespace morvanta::testing::wine

#endif
