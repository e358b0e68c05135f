#pragma once
// Helpers for tests that talk to real DICOM peers on loopback: free ports,
// child processes that are always ended, readiness with a deadline.

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <memory>
#include <thread>
#include <vector>

#include "../support/archive_banner.h"
#include "../support/wine_child.h"
#include "platform/socket.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace morvanta::testing {

// A port nobody listens on right now: bound with port 0, then released.
inline int FreePort() {
  platform::StartSockets();
  const auto fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  platform::CloseSocket(static_cast<int>(fd));
  return ntohs(address.sin_port);
}

inline bool Accepts(int port) {
  platform::StartSockets();
  const auto fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  platform::CloseSocket(static_cast<int>(fd));
  return ok;
}

// Polls until the port accepts connections; false after the deadline.
inline bool WaitForPort(int port, std::chrono::seconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < end) {
    if (Accepts(port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// A child process, ended (SIGKILL) and reaped when the object goes. On
// Windows, a Linux program started through wine (wine_child.h).
class Process {
 public:
#ifdef _WIN32
  Process(const std::vector<std::string>& args, const std::string& output) : pid_(wine::Start(args, output)) {
    if (pid_ == 0) throw std::runtime_error("cannot start " + args[0]);
  }
  ~Process() { wine::Kill(pid_); }
  bool Running() const { return wine::Alive(pid_); }
#else
  Process(const std::vector<std::string>& args, const std::string& output) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
  }
  ~Process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  bool Running() const {
    int status = 0;
    return ::waitpid(pid_, &status, WNOHANG) == 0;
  }
#endif
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

 private:
#ifdef _WIN32
  long pid_ = 0;
#else
  pid_t pid_ = -1;
#endif
};

// A fresh folder under the system's temporary directory, removed afterwards.
// Its names are Linux paths with forward slashes (on Windows under wine, /tmp
// on drive Z:), so the Linux peers can be given them.
class TempDir {
 public:
  TempDir() {
#ifdef _WIN32
    path_ = wine::UniqueFile("test");
#else
    std::random_device device;
    path_ = std::filesystem::temp_directory_path() /
            ("morvanta-test-" + std::to_string(::getpid()) + "-" + std::to_string(device()));
#endif
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).generic_string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<std::string> ReadLines(const std::string& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

inline std::string ReadAll(const std::string& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Started with --port 0, morvanta-archive names the port the system gave it
// once it takes connections; polls its output file for that line. 0 when the
// process ended or the deadline passed first.
inline int WaitForAnnouncedPort(const std::string& outputFile, const Process& process,
                                std::chrono::seconds deadline = std::chrono::seconds(20)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < end && process.Running()) {
    if (const int port = AnnouncedPort(ReadAll(outputFile))) return port;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return AnnouncedPort(ReadAll(outputFile));
}

// Runs a shell command; its exit status.
inline int Shell(const std::string& command) {
#ifdef _WIN32
  return wine::Shell(command);
#else
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// dcmqrscp on `port`, serving the AE title DCMQR from dir/db; `hosts` are the
// lines of its HostTable (where a C-MOVE may send). Null when it did not start.
inline std::unique_ptr<Process> StartDcmqrscp(const TempDir& dir, int port, const std::string& hosts = "") {
  std::filesystem::create_directories(dir.path() / "db");
  std::ofstream(dir / "dcmqrscp.cfg") << "NetworkTCPPort = " << port << "\nMaxPDUSize = 16384\nMaxAssociations = 16\n"
                                      << "HostTable BEGIN\n" << hosts << "HostTable END\n"
                                      << "VendorTable BEGIN\nVendorTable END\nAETable BEGIN\nDCMQR "
                                      << dir.path().string() << "/db RW (50, 100mb) ANY\nAETable END\n";
  auto server = std::make_unique<Process>(
      std::vector<std::string>{"/usr/bin/dcmqrscp", "-c", dir / "dcmqrscp.cfg", std::to_string(port)},
      dir / "dcmqrscp.out");
  return WaitForPort(port) ? std::move(server) : nullptr;
}

// storescp writing what it receives into a folder of its own: the
// destination of a C-MOVE. `options` go before the rest (e.g. its TLS ones).
class StoreScp {
 public:
  explicit StoreScp(const std::string& aet, const std::vector<std::string>& options = {})
      : port_(FreePort()) {
    std::filesystem::create_directories(dir_.path() / "in");
    std::vector<std::string> command{"/usr/bin/storescp", "-aet", aet};
    command.insert(command.end(), options.begin(), options.end());
    command.insert(command.end(), {"-od", dir_ / "in", std::to_string(port_)});
    process_ = std::make_unique<Process>(command, dir_ / "storescp.out");
    if (!WaitForPort(port_)) throw std::runtime_error("storescp did not start");
  }
  int port() const { return port_; }
  int Files() const {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.path() / "in")) ++count;
    return count;
  }

 private:
  TempDir dir_;
  int port_;
  std::unique_ptr<Process> process_;
};

}  // namespace morvanta::testing
