// Per-sector cost of the CD sector forms a raw write pass builds.
#include <benchmark/benchmark.h>

#include <vector>

#include "device_engine/cd_scrambler.h"
#include "device_engine/cue_subcode_builder.h"

namespace sorvel {
namespace {

TocStructure BenchToc() {
  TocStructure toc;
  TOCTrack t;
  t.SessionNo = 1;
  t.TrackNo = 1;
  t.IndexNo = 1;
  t.StartLBA = 0;
  t.EndLBA = 299999;
  toc.AddTrack(t);
  McnCode mcn{'1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2', '3'};
  toc.SetMcn(mcn);
  return toc;
}

// Audio sector with a generated subchannel appended as interleaved P-W.
void BM_AudioSectorRaw96(benchmark::State& state) {
  CueSubcodeBuilder b;
  b.BuildCueSheet(BenchToc(), CueSubcodeBuilder::kModeRaw96, -11634, 1);
  std::vector<uint8_t> data(2352, 0x42);
  std::vector<uint8_t> out(2448);
  int32_t lba = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        b.BuildSector(out.data(), data.data(), nullptr, CueSubcodeBuilder::kModeRaw96, lba, false, false));
    lba = (lba + 1) % 300000;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AudioSectorRaw96);

void BM_GenerateSubchannel(benchmark::State& state) {
  CueSubcodeBuilder b;
  b.BuildCueSheet(BenchToc(), CueSubcodeBuilder::kModeRaw96, -11634, 1);
  uint8_t sub[96];
  int32_t lba = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(b.BuildSubchannel(sub, lba));
    lba = (lba + 1) % 300000;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GenerateSubchannel);

void BM_Scramble(benchmark::State& state) {
  CdScrambler scrambler;
  std::vector<uint8_t> sector(2352, 0x17);
  for (auto _ : state) {
    scrambler.Scramble(sector.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * 2352);
}
BENCHMARK(BM_Scramble);

}  // namespace
}  // namespace sorvel
