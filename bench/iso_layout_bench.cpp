// Speed of the data-area tree and its layout.
#include <benchmark/benchmark.h>

#include <string>

#include "mastering_engine/iso_image_stream.h"

namespace {

// 10,000 directories of 10 files each under 100 top-level directories.
void FillTree(sorvel::IsoImageStream& s) {
  for (int top = 0; top < 100; ++top) {
    std::string top_name("top folder ");
    top_name += std::to_string(top);
    s.ChangeISODirectory("\\");
    s.MakeISODirectory(top_name, 0, 0);
    s.ChangeISODirectory(s.GetISONewFileDirectoryName());
    for (int d = 0; d < 100; ++d) {
      std::string dir_name("directory ");
      dir_name += std::to_string(d);
      s.MakeISODirectory(dir_name, 0, 0);
      s.ChangeISODirectory(s.GetISONewFileDirectoryName());
      for (int f = 0; f < 10; ++f) {
        std::string file_name("document number ");
        file_name += std::to_string(f);
        file_name += ".txt";
        s.AddISODummyFile(file_name, 0, 5000, 0);
      }
      s.ChangeISODirectory("..");
    }
  }
}

// Goal: under 2 seconds for 100,000 files in 10,000 directories.
void BM_BuildAndLayOut100kFiles(benchmark::State& state) {
  for (auto _ : state) {
    sorvel::IsoImageStream s;
    s.InitISOFS(static_cast<int>(state.range(0)));
    FillTree(s);
    benchmark::DoNotOptimize(s.BuildDataTrack("BENCH"));
  }
}
BENCHMARK(BM_BuildAndLayOut100kFiles)->Arg(0)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_LayOut100kFiles(benchmark::State& state) {
  sorvel::IsoImageStream s;
  s.InitISOFS(static_cast<int>(state.range(0)));
  FillTree(s);
  for (auto _ : state) benchmark::DoNotOptimize(s.BuildDataTrack("BENCH"));
}
BENCHMARK(BM_LayOut100kFiles)->Arg(0)->Arg(16)->Unit(benchmark::kMillisecond);

// Goal: under 1 second for 2,000 names that differ only past the eighth character.
void BM_SimilarNamesLevel1(benchmark::State& state) {
  for (auto _ : state) {
    sorvel::IsoTree tree;
    tree.InitISOFS(0);
    for (int i = 0; i < 2000; ++i) {
      std::string name("similarly named file ");
      name += std::to_string(i);
      name += ".text";
      tree.AddISODummyFile(name, 0, 0, 0);
    }
  }
}
BENCHMARK(BM_SimilarNamesLevel1)->Unit(benchmark::kMillisecond);

// The capacity estimate asked after every add stays cheap.
void BM_EstimateAfterEveryAdd(benchmark::State& state) {
  for (auto _ : state) {
    sorvel::IsoImageStream s;
    s.InitISOFS(16);
    uint64_t total = 0;
    for (int d = 0; d < 100; ++d) {
      std::string dir_name("folder ");
      dir_name += std::to_string(d);
      s.ChangeISODirectory("\\");
      s.MakeISODirectory(dir_name, 0, 0);
      s.ChangeISODirectory(dir_name);
      for (int f = 0; f < 100; ++f) {
        std::string file_name("song file ");
        file_name += std::to_string(f);
        s.AddISODummyFile(file_name, 0, 4000000, 0);
        total += s.DataTrackLength();
      }
    }
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_EstimateAfterEveryAdd)->Unit(benchmark::kMillisecond);

}  // namespace
