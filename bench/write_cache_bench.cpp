// WriteLBA throughput of libtrelin.so through its exports and the write cache
// to an emulated drive: a data CD written session at once (the engine encodes
// every Mode 1 sector) and a BD-R, with the cache on and off. Items are
// sectors; the time covers WriteStart to WriteEnd.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "native_common/toc_structure.h"

namespace {

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

void BM_WriteThroughExports(benchmark::State& state, const char* medium, int32_t cache_bytes) {
  const auto sectors = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    if (!WriteImage(medium, sectors, cache_bytes)) {
      state.SkipWithError("write failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * sectors);
  state.SetBytesProcessed(state.iterations() * sectors * int64_t{2048});
}

constexpr int32_t kDefaultCache = 10 * 1024 * 1024;
// 700 MB of 2,048-byte user data.
constexpr int32_t kFullCd = 358400;

BENCHMARK_CAPTURE(BM_WriteThroughExports, CdSaoCached, "cd-r", kDefaultCache)
    ->Arg(50000)->Arg(kFullCd)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_WriteThroughExports, CdSaoUncached, "cd-r", 0)
    ->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_WriteThroughExports, BdRCached, "bd-r", kDefaultCache)
    ->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_WriteThroughExports, BdRUncached, "bd-r", 0)
    ->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
