// ReadINI over a 200-key Settings.ini: one key, and all 200 keys as the
// settings dialog and start-up read them (each call reads the file, so an
// edit by another program is always seen). References: the same file read
// with std::ifstream and scanned for the key, once per key looked up: the
// same work ReadINI must do to see every change made by another program.

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "bench_data.h"
#include "config/profile.h"

namespace morvanta::bench {
namespace {

std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The value of section/key by plain searching: the least work a lookup in
// the bytes can do (exact case, no trimming, no conversion).
std::string_view Scan(std::string_view bytes, const ProfileKey& k) {
  const std::size_t section = bytes.find("[" + k.section + "]");
  if (section == std::string_view::npos) return {};
  const std::size_t key = bytes.find("\n" + k.key + "=", section);
  if (key == std::string_view::npos) return {};
  const std::size_t start = key + k.key.size() + 2;
  return bytes.substr(start, bytes.find('\r', start) - start);
}

void ReadIniOneKey_ReadINI(benchmark::State& state) {
  const auto& file = ProfileFile();
  const auto& keys = ProfileKeys();
  std::size_t i = 0;
  for (auto _ : state) {
    const ProfileKey& k = keys[i++ % keys.size()];
    benchmark::DoNotOptimize(ReadINI(k.section, k.key, "", file));
  }
}
BENCHMARK(ReadIniOneKey_ReadINI)->Unit(benchmark::kMicrosecond);

void ReadIniOneKey_IfstreamScan(benchmark::State& state) {
  const auto& file = ProfileFile();
  const auto& keys = ProfileKeys();
  std::size_t i = 0;
  for (auto _ : state) {
    const ProfileKey& k = keys[i++ % keys.size()];
    const std::string bytes = ReadBytes(file);
    benchmark::DoNotOptimize(std::string(Scan(bytes, k)));
  }
}
BENCHMARK(ReadIniOneKey_IfstreamScan)->Unit(benchmark::kMicrosecond);

void ReadIni200Keys_ReadINI(benchmark::State& state) {
  const auto& file = ProfileFile();
  const auto& keys = ProfileKeys();
  for (auto _ : state) {
    for (const ProfileKey& k : keys) benchmark::DoNotOptimize(ReadINI(k.section, k.key, "", file));
  }
  if (ReadINI("Section9", "Key19", "", file) != "Value of Key19 in Section9") {
    state.SkipWithError("unexpected value");
  }
}
BENCHMARK(ReadIni200Keys_ReadINI)->Unit(benchmark::kMicrosecond);

void ReadIni200Keys_IfstreamScanEach(benchmark::State& state) {
  const auto& file = ProfileFile();
  const auto& keys = ProfileKeys();
  for (auto _ : state) {
    for (const ProfileKey& k : keys) {
      const std::string bytes = ReadBytes(file);
      benchmark::DoNotOptimize(std::string(Scan(bytes, k)));
    }
  }
}
BENCHMARK(ReadIni200Keys_IfstreamScanEach)->Unit(benchmark::kMicrosecond);

// A search or Send reads the file once and looks up every key it needs.
void ReadIni200Keys_Snapshot(benchmark::State& state) {
  const auto& file = ProfileFile();
  const auto& keys = ProfileKeys();
  for (auto _ : state) {
    const ProfileSnapshot ini = ProfileSnapshot::Read(file);
    for (const ProfileKey& k : keys) benchmark::DoNotOptimize(ini.Get(k.section, k.key, ""));
  }
}
BENCHMARK(ReadIni200Keys_Snapshot)->Unit(benchmark::kMicrosecond);

void ReadIni200Keys_IfstreamOnceScanEach(benchmark::State& state) {
  const auto& file = ProfileFile();
  const auto& keys = ProfileKeys();
  for (auto _ : state) {
    const std::string bytes = ReadBytes(file);
    for (const ProfileKey& k : keys) benchmark::DoNotOptimize(std::string(Scan(bytes, k)));
  }
}
BENCHMARK(ReadIni200Keys_IfstreamOnceScanEach)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace morvanta::bench
