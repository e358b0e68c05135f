#pragma once
// The audit trail of one run of the program: made from Settings.ini's
// [Audit] section (a value that cannot be used is said once in Error.log),
// installed for everything the run records, with Application Start recorded
// at once and Application Stop when it ends, before what still waits for the
// repository is given its bounded flush.

#include <filesystem>
#include <memory>

namespace morvanta::audit {

class Trail;

class ProgramTrail {
 public:
  explicit ProgramTrail(const std::filesystem::path& programDir);
  ~ProgramTrail();
  ProgramTrail(const ProgramTrail&) = delete;
  ProgramTrail& operator=(const ProgramTrail&) = delete;

 private:
  std::filesystem::path programDir_;
  std::unique_ptr<Trail> trail_;
};

}  // namespace morvanta::audit
