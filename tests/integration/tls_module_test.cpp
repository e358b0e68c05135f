// The TLS module as a station meets it: the program looks for it in its own
// folder only when TLS is on, a search without TLS never maps it (nor
// OpenSSL), and a module that cannot be used is refused in words (Error 1015
// with its path and the loader's reason) instead of ending the program. Each
// case copies tls_module_probe into a program folder of its own making and
// runs it there.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "../support/unprivileged.h"
#include "archive_process.h"
#include "dicom/dicom.h"
#include "dicom/tls_module.h"
#include "tls_peer.h"

namespace morvanta::dicom {
namespace {

namespace fs = std::filesystem;
using morvanta::testing::Archive;
using morvanta::testing::FreePort;
using morvanta::testing::ReadAll;
using morvanta::testing::TempDir;
using morvanta::testing::TestPki;

struct ProbeRun {
  std::string result;  // "ok found=N", or "NUMBER DESCRIPTION"
  std::string mapped;  // "libssl=0|1 module=0|1"
  std::string output;  // all of it, for the failure message
};

std::string LineAfter(const std::string& text, const std::string& prefix) {
  const auto at = text.find("\n" + prefix);
  const auto start = text.starts_with(prefix) ? 0 : (at == std::string::npos ? at : at + 1);
  if (start == std::string::npos) return {};
  const auto end = text.find('\n', start);
  return text.substr(start + prefix.size(), end == std::string::npos ? end : end - start - prefix.size());
}

void Copy(const char* from, const std::string& to) { fs::copy_file(from, to); }

// A program folder holding the probe; the case adds (or not) a module.
class ProgramFolder {
 public:
  ProgramFolder() { fs::copy_file(MORVANTA_TLS_PROBE, dir_ / "probe"); }
  std::string Module() const { return dir_ / kTlsModuleFile; }
  std::string Probe() const { return dir_ / "probe"; }

  // Runs the probe with `args`; as nobody when `unprivileged` (root would
  // read a module of any mode).
  // `program` is what is started: the probe, or a link to it.
  ProbeRun Run(const std::vector<std::string>& args, bool unprivileged = false,
               const std::string& program = {}) const {
    const std::string out = output_ / "probe.out";
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return {};
    std::vector<std::string> store{program.empty() ? dir_ / "probe" : program};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      if (unprivileged && !morvanta::testing::detail::DropTo({})) ::_exit(morvanta::testing::kDropFailed);
      ::execv(argv[0], argv.data());
      ::_exit(morvanta::testing::kExecFailed);
    }
    ::close(fd);
    if (pid < 0) return {};
    // A deadline, so that a probe that hangs fails the case.
    const auto child = morvanta::testing::detail::Reap(pid, std::chrono::seconds(30));
    ProbeRun run;
    run.output = ReadAll(out) + "(exit " + std::to_string(child.status) + ")";
    run.result = LineAfter(run.output, "result ");
    run.mapped = LineAfter(run.output, "mapped ");
    return run;
  }

 private:
  TempDir dir_;
  TempDir output_;
};

TEST(TlsModule, SearchWithoutTlsMapsNeitherTheModuleNorOpenSsl) {
  Archive archive({"--demo", "3"});
  ProgramFolder folder;
  fs::copy_file(MORVANTA_TLS_MODULE, folder.Module());
  const ProbeRun run = folder.Run({std::to_string(archive.port()), "0"});
  EXPECT_EQ(run.result, "ok found=3") << run.output;
  EXPECT_EQ(run.mapped, "libssl=0 module=0") << run.output;
}

TEST(TlsModule, TlsOnLoadsItFromTheProgramFolder) {
  TestPki pki;
  std::vector<std::string> args = pki.ArchiveArgs();
  args.insert(args.end(), {"--demo", "3"});
  Archive archive(args);
  ProgramFolder folder;
  fs::copy_file(MORVANTA_TLS_MODULE, folder.Module());
  const ProbeRun run =
      folder.Run({std::to_string(archive.port()), "1", pki / "ca.pem", pki / "station.pem", pki / "station.key"});
  EXPECT_EQ(run.result, "ok found=3") << run.output;
  EXPECT_EQ(run.mapped, "libssl=1 module=1") << run.output;
}

// The package starts the program through a link in /usr/bin: the module is
// looked for beside the program itself, not beside the link.
TEST(TlsModule, StartedThroughALinkLooksBesideTheProgram) {
  ProgramFolder folder;
  TempDir bin;
  fs::create_symlink(folder.Probe(), bin / "probe");
  Copy(MORVANTA_TLS_MODULE, bin / kTlsModuleFile);
  const ProbeRun run = folder.Run({std::to_string(FreePort()), "1", "/nonexistent/ca.pem", "", ""}, false,
                                  bin / "probe");
  EXPECT_EQ(run.result, "1015 " + TlsModuleText(folder.Module(), "cannot open shared object file: No such file or "
                                                                 "directory"))
      << run.output;
}

// Where the program cannot tell its own folder, it loads no module at all:
// asked for by bare name, the loader would take whatever answers to it on
// the library path.
TEST(TlsModule, WithoutItsFolderNoneIsLoadedByBareName) {
  ProgramFolder folder;
  TempDir libraries;
  Copy(MORVANTA_TLS_MODULE, libraries / kTlsModuleFile);
  ::setenv("LD_LIBRARY_PATH", libraries.path().c_str(), 1);
  const ProbeRun run = folder.Run({"bare"});
  ::unsetenv("LD_LIBRARY_PATH");
  EXPECT_EQ(run.result, "1015 " + TlsModuleText(kTlsModuleFile, "the program's own folder, where it is kept, could "
                                                                "not be found"))
      << run.output;
  EXPECT_EQ(run.mapped, "libssl=0 module=0") << run.output;
}

// A module put back after a failed load is taken at the next association,
// without a restart; once loaded it stays the one in use.
TEST(TlsModule, PutBackAfterAFailedLoadIsTakenWithoutARestart) {
  TempDir folder;
  try {
    LoadTlsModule(folder.path().string());
    ADD_FAILURE() << "loaded a module from an empty folder";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), static_cast<int>(ErrorCode::TlsSetupFailed));
  }
  EXPECT_EQ(LoadedTlsModule(), nullptr);
  Copy(MORVANTA_TLS_MODULE, folder / kTlsModuleFile);
  const TlsModuleTable& table = LoadTlsModule(folder.path().string());
  EXPECT_EQ(LoadedTlsModule(), &table);
  TempDir empty;
  EXPECT_EQ(&LoadTlsModule(empty.path().string()), &table);
}

struct UnusableModule {
  const char* label;
  // Puts the module (or nothing) at `path`.
  std::function<void(const std::string& path)> place;
  bool unprivileged;
  const char* reason;  // in the loader's words, or ours
};

void PrintTo(const UnusableModule& c, std::ostream* os) { *os << c.label; }

class UnusableModuleRefused : public ::testing::TestWithParam<UnusableModule> {};

TEST_P(UnusableModuleRefused, InWordsWithItsPath) {
  const UnusableModule& c = GetParam();
  ProgramFolder folder;
  c.place(folder.Module());
  // Nothing listens there and the CA file does not exist: a program that
  // went on without its module would report one of them instead.
  const ProbeRun run =
      folder.Run({std::to_string(FreePort()), "1", "/nonexistent/ca.pem", "", ""}, c.unprivileged);
  const std::string opening =
      "1015 TLS is on, but the program's TLS module \"" + folder.Module() + "\" cannot be loaded (";
  EXPECT_TRUE(run.result.starts_with(opening)) << run.output;
  EXPECT_NE(run.result.find(c.reason), std::string::npos) << run.output;
  EXPECT_TRUE(run.result.ends_with("): reinstall the program, or turn [TLS] Enabled off.")) << run.output;
  EXPECT_EQ(run.mapped.substr(0, 8), "libssl=0") << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnusableModuleRefused,
    ::testing::Values(
        UnusableModule{"Missing", [](const std::string&) {}, false, "No such file or directory"},
        UnusableModule{"NotALibrary",
                       [](const std::string& path) {
                         std::ofstream(path) << "This file stands where the TLS module belongs, but it is text, "
                                                "not a library the loader can map.\n";
                       },
                       false, "invalid ELF header"},
        UnusableModule{"WithoutEntryPoint",
                       [](const std::string& path) { Copy(MORVANTA_TLS_STUB_NO_ENTRY, path); }, false,
                       "undefined symbol: morvanta_tls_module"},
        UnusableModule{"OfAnotherVersion",
                       [](const std::string& path) { Copy(MORVANTA_TLS_STUB_OTHER_INTERFACE, path); }, false,
                       "it belongs to another version of the program"},
        UnusableModule{"Unreadable",
                       [](const std::string& path) {
                         Copy(MORVANTA_TLS_MODULE, path);
                         fs::permissions(path, fs::perms::none);
                       },
                       true, "Permission denied"}),
    [](const ::testing::TestParamInfo<UnusableModule>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace morvanta::dicom
