#include "audit/program.h"

#include "audit/events.h"
#include "audit/trail.h"
#include "config/settings.h"
#include "dicom/errors.h"
#include "log/log.h"

namespace morvanta::audit {

namespace {

constexpr auto kAuditError = static_cast<std::int32_t>(dicom::ErrorCode::AuditFailed);

Context ContextNow(const std::filesystem::path& programDir) {
  SettingsValues values;
  LoadArchiveSettings(values, SettingsPath(programDir));
  return ContextFrom(values);
}

}  // namespace

ProgramTrail::ProgramTrail(const std::filesystem::path& programDir) : programDir_(programDir) {
  const auto log = std::make_shared<Log>(programDir);
  TrailOptions options;
  std::string problem;
  options.repository = ReadRepository(SettingsPath(programDir), &problem);
  if (!problem.empty()) (void)log->LogError(kAuditError, problem, "Audit");
  options.reportError = [log](const std::string& text) { (void)log->LogError(kAuditError, text, "Audit"); };
  options.reportDebug = [log](const std::string& text) { (void)log->LogDebug(text); };
  trail_ = std::make_unique<Trail>(std::move(options));
  Install(trail_.get());
  Record(ApplicationActivity(ContextNow(programDir_), true));
}

ProgramTrail::~ProgramTrail() {
  Record(ApplicationActivity(ContextNow(programDir_), false));
  Install(nullptr);
}

}  // namespace morvanta::audit
