#pragma once
// morvanta-archive started on a loopback port of the system's choosing with a journal of its own,
// for the integration tests; killed when the object goes.

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "dicom_peer.h"

namespace morvanta::testing {

// The date the demo studies count back from in every integration test.
inline constexpr const char* kArchiveToday = "20261207";

class Archive {
 public:
  explicit Archive(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {MORVANTA_ARCHIVE, "--port", "0", "--aet", "ARCHIVE",
                                     "--today", kArchiveToday, "--journal", journal()};
    args.insert(args.end(), extra.begin(), extra.end());
    process_ = std::make_unique<Process>(args, dir_ / "archive.out");
    port_ = WaitForAnnouncedPort(dir_ / "archive.out", *process_);
    if (port_ == 0) throw std::runtime_error("morvanta-archive did not start: " + ReadAll(dir_ / "archive.out"));
  }
  int port() const { return port_; }
  std::string journal() const { return dir_ / "journal.jsonl"; }
  std::vector<std::string> Lines(const std::string& type) const {
    std::vector<std::string> found;
    for (const std::string& line : ReadLines(journal()))
      if (line.find("\"type\":\"" + type + "\"") != std::string::npos) found.push_back(line);
    return found;
  }
  // Polls the journal until a line of the type appears; false after 10 s.
  bool WaitFor(const std::string& type) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      if (!Lines(type).empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  TempDir dir_;
  int port_ = 0;
  std::unique_ptr<Process> process_;
};

}  // namespace morvanta::testing
