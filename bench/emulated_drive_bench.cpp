// Throughput of the emulated drive: READ CD with formatted Q from a loaded
// CUE/BIN, and sequential DVD writes into the state's data file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/emulated_device.h"

namespace {

namespace fs = std::filesystem;

struct TempDir {
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "sorvel-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data())) path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

constexpr int kSectors = 4500;

sorvel::platform::ScsiResult Run(sorvel::platform::ScsiDevice& device, const std::vector<uint8_t>& cdb,
                                 std::vector<uint8_t>& data, bool write) {
  sorvel::platform::ScsiRequest r;
  r.cdb = cdb.data();
  r.cdb_length = cdb.size();
  r.data = data.data();
  r.data_length = data.size();
  r.write = write;
  return device.Execute(r);
}

void BM_ReadCdWithQ(benchmark::State& state) {
  TempDir dir;
  {
    std::ofstream bin(dir.path / "a.bin", std::ios::binary);
    std::vector<char> sector(2352, 0x11);
    for (int i = 0; i < kSectors; ++i) bin.write(sector.data(), static_cast<long>(sector.size()));
    std::ofstream cue(dir.path / "a.cue");
    cue << "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  }
  std::string error;
  auto device = sorvel::platform::OpenEmulatedDevice((dir.path / "drive").string() + ",image=" + (dir.path / "a.cue").string(), &error);
  if (!device) {
    state.SkipWithError(error.c_str());
    return;
  }
  const uint32_t count = 26;
  std::vector<uint8_t> data(count * 2368);
  uint32_t lba = 0;
  for (auto _ : state) {
    std::vector<uint8_t> cdb = {0xBE, 0, 0, 0, static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), 0, 0, count, 0xF8, 2, 0};
    benchmark::DoNotOptimize(Run(*device, cdb, data, false).status);
    lba = (lba + count) % (kSectors - count);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
}
BENCHMARK(BM_ReadCdWithQ);

// Each WRITE is in the state file before the next command. Here, 32
// sectors a WRITE: 152 us when the whole state file was rewritten and cut
// in place, 1.52 ms with a whole new file renamed over it each time, 67 us
// with the next writable address rewritten in its fixed-width field.
void BM_DvdSequentialWrite(benchmark::State& state) {
  TempDir dir;
  std::string error;
  auto device = sorvel::platform::OpenEmulatedDevice((dir.path / "drive").string() + ",medium=dvd+r", &error);
  if (!device) {
    state.SkipWithError(error.c_str());
    return;
  }
  const uint16_t count = 32;
  std::vector<uint8_t> data(count * 2048, 0x5A);
  uint32_t lba = 0;
  for (auto _ : state) {
    std::vector<uint8_t> cdb = {0x2A, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
                                static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), 0, 0, count, 0};
    benchmark::DoNotOptimize(Run(*device, cdb, data, true).status);
    lba += count;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * count * 2048);
}
BENCHMARK(BM_DvdSequentialWrite);

}  // namespace
