#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "mastering_engine/mastering_engine.h"

namespace {

using sorvel::bench::QuietStdout;

std::string FileName(int i) {
  std::string name = "f";
  name += std::to_string(i);
  name += ".bin";
  return name;
}

// A data area of eight 8 MiB files in a scratch folder; the files stay in the
// page cache after the first pass.
class DataArea {
 public:
  DataArea() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "sorvel-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) std::abort();
    dir_ = tmpl;
    std::vector<char> data(8 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + 7);
    for (int i = 0; i < 8; ++i) {
      std::ofstream out(dir_ / FileName(i), std::ios::binary);
      out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
  }
  ~DataArea() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void AddTo(sorvel::MasteringEngine& engine) const {
    for (int i = 0; i < 8; ++i) {
      engine.AddISOFile(FileName(i), (dir_ / FileName(i)).string());
    }
  }

 private:
  std::filesystem::path dir_;
};

// Streams the data track sector by sector, starting it again when it ends.
void StreamDataTrack(benchmark::State& state, bool raw) {
  static DataArea area;
  sorvel::MasteringEngine engine;
  area.AddTo(engine);
  std::vector<uint8_t> sector(2352);
  QuietStdout quiet;
  int32_t total = engine.Tracks().ReadStart("BENCH");
  int32_t left = total;
  for (auto _ : state) {
    if (left == 0) {
      state.PauseTiming();
      engine.Tracks().ReadEnd();
      total = engine.Tracks().ReadStart("BENCH");
      left = total;
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(engine.Tracks().Read(sector.data(), raw));
    --left;
  }
  engine.Tracks().ReadEnd();
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 2048);
}

void BM_StreamDataTrackRaw(benchmark::State& state) { StreamDataTrack(state, true); }
void BM_StreamDataTrackUserData(benchmark::State& state) { StreamDataTrack(state, false); }
BENCHMARK(BM_StreamDataTrackRaw);
BENCHMARK(BM_StreamDataTrackUserData);

}  // namespace
