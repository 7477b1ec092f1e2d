// WriteLBA throughput of libtrelin.so through its exports and the write cache
// to an emulated drive: a data CD written session at once (the engine encodes
// every Mode 1 sector) and a BD-R, with the cache on and off in the same run.
// The time covers WriteStart to WriteEnd.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "native_common/toc_structure.h"

namespace {

using sorvel::bench::Median;
using sorvel::bench::QuietStdout;

namespace fs = std::filesystem;

struct Trelin {
  void* handle = nullptr;
  intptr_t (*Initialize)() = nullptr;
  void (*Terminate)(intptr_t) = nullptr;
  int32_t (*Open)(intptr_t, int32_t) = nullptr;
  int32_t (*SetTOCStructure)(intptr_t, int32_t, const void*, int32_t) = nullptr;
  int32_t (*SetWriteCacheBufferSize)(intptr_t, int32_t) = nullptr;
  int32_t (*WriteStart)(intptr_t, int32_t, int32_t) = nullptr;
  int32_t (*WriteLBA)(intptr_t, int32_t, const void*, int32_t) = nullptr;
  int32_t (*WriteEnd)(intptr_t, int32_t) = nullptr;

  template <typename F>
  bool Bind(F& f, const char* name) {
    f = reinterpret_cast<F>(dlsym(handle, name));
    return f != nullptr;
  }
  bool Load() {
    // The benchmark programs sit in bench/, the library in bin/ beside it.
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path library = self.parent_path().parent_path() / "bin" / "libtrelin.so";
    handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle != nullptr && Bind(Initialize, "Initialize") && Bind(Terminate, "Terminate") && Bind(Open, "Open") &&
           Bind(SetTOCStructure, "SetTOCStructure") && Bind(SetWriteCacheBufferSize, "SetWriteCacheBufferSize") &&
           Bind(WriteStart, "WriteStart") && Bind(WriteLBA, "WriteLBA") && Bind(WriteEnd, "WriteEnd");
  }
};

Trelin& Library() {
  static Trelin lib;
  static bool loaded = lib.Load();
  if (!loaded) std::fprintf(stderr, "libtrelin.so: %s\n", dlerror());
  return lib;
}

// Writes `sectors` 2,048-byte sectors of a one-track data image to a fresh
// emulated `medium`; false when any call fails.
bool WriteImage(const std::string& medium, int32_t sectors, int32_t cache_bytes) {
  Trelin& lib = Library();
  if (lib.handle == nullptr) return false;
  char pattern[] = "/tmp/sorvel-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  const fs::path dir(pattern);
  const std::string drives = "B:=emu:" + (dir / "drive.state").string() + ",medium=" + medium;
  setenv("SORVEL_DRIVES", drives.c_str(), 1);
  bool good = false;
  const intptr_t engine = lib.Initialize();
  if (engine != 0 && lib.Open(engine, 1)) {
    sorvel::TocStructure toc;
    toc.MakeSingleTrackToc(sorvel::SMC_MODE1, sectors);
    std::vector<uint8_t> part(sorvel::TocStructure::kTrackPartSize);
    const int32_t size = toc.GetPart(sorvel::TST_TOC, part.data(), static_cast<int32_t>(part.size()));
    lib.SetTOCStructure(engine, sorvel::TST_TOC, part.data(), size);
    lib.SetWriteCacheBufferSize(engine, cache_bytes);
    if (lib.WriteStart(engine, 0, 0) == 0) {
      std::vector<uint8_t> sector(2352);
      good = true;
      for (int32_t lba = 0; lba < sectors && good; ++lba) {
        sector[0] = static_cast<uint8_t>(lba);
        sector[1] = static_cast<uint8_t>(lba >> 8);
        good = lib.WriteLBA(engine, 0, sector.data(), lba) != 0;
      }
      good = lib.WriteEnd(engine, 0) != 0 && good;
    }
  }
  if (engine != 0) lib.Terminate(engine);
  unsetenv("SORVEL_DRIVES");
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return good;
}

using Clock = std::chrono::steady_clock;

double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Wall time in ms; `cpu_ms` receives the processor time of all threads.
double TimedWrite(const std::string& medium, int32_t sectors, int32_t cache_bytes, double* cpu_ms) {
  QuietStdout quiet;
  const double cpu_start = CpuMs();
  const auto start = Clock::now();
  if (!WriteImage(medium, sectors, cache_bytes)) return -1;
  const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  *cpu_ms = CpuMs() - cpu_start;
  return wall;
}

constexpr int32_t kDefaultCache = 10 * 1024 * 1024;
constexpr int kRounds = 5;

// The same write with the cache off and on (the default 10 MiB), alternated
// round by round; the iteration time is the median with the cache on.
// Goal: ratio_to_cache_off at most 1.05.
void BM_WriteCacheAgainstNoCache(benchmark::State& state, const char* medium) {
  const auto sectors = static_cast<int32_t>(state.range(0));
  std::vector<double> on, off, on_cpu, off_cpu;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      double cpu = 0;
      off.push_back(TimedWrite(medium, sectors, 0, &cpu));
      off_cpu.push_back(cpu);
      on.push_back(TimedWrite(medium, sectors, kDefaultCache, &cpu));
      on_cpu.push_back(cpu);
      if (off.back() < 0 || on.back() < 0) {
        state.SkipWithError("write failed");
        return;
      }
    }
    state.SetIterationTime(Median(on) / 1000);
  }
  state.counters["cache_on_ms"] = Median(on);
  state.counters["cache_off_ms"] = Median(off);
  state.counters["ratio_to_cache_off"] = Median(on) / Median(off);
  // Processor time of both threads against the one thread without cache: on
  // a machine without idle cores this is what the wall time follows.
  state.counters["cpu_ratio_to_cache_off"] = Median(on_cpu) / Median(off_cpu);
  state.SetItemsProcessed(int64_t{sectors} * kRounds);
}

BENCHMARK_CAPTURE(BM_WriteCacheAgainstNoCache, CdSao, "cd-r")
    ->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(BM_WriteCacheAgainstNoCache, BdR, "bd-r")
    ->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace
