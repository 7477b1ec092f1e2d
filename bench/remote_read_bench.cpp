// Reading a 700 MB data CD (an emulated drive over a sparse ISO image) with
// READ(10), locally and through the drive daemon's server over loopback.
// Goal: remote at least 40 MB/s and at least half the local speed; the run
// ends with the remote speed as a share of the local one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drive_daemon/remote_scsi_handler.h"
#include "native_common/remote_scsi_client.h"
#include "native_common/spti_pass_through.h"
#include "platform/drive_map.h"

namespace sorvel {
namespace {

constexpr uint32_t kDiscSectors = 700 * 1024 * 1024 / 2048;  // 358,400 sectors of 2,048 bytes

class Disc {
 public:
  Disc() {
    dir_ = std::filesystem::temp_directory_path() / ("remote_read_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    const auto iso = dir_ / "disc.iso";
    { std::ofstream(iso, std::ios::binary).put('\1'); }
    std::filesystem::resize_file(iso, uint64_t{kDiscSectors} * 2048);  // sparse
    map_ = "D:=emu:" + (dir_ / "state").string() + ",medium=cd-rom,image=" + iso.string();
  }
  ~Disc() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::unique_ptr<ScsiPassThrough> PassThrough() const {
    platform::DriveMap map = platform::DriveMap::Parse(map_, ';');
    return std::make_unique<SptiPassThrough>(
        [map](char letter, std::string* error) { return platform::OpenMappedDrive(letter, map, error); });
  }

 private:
  std::filesystem::path dir_;
  std::string map_;
};

const Disc& TheDisc() {
  static Disc disc;
  return disc;
}

// The whole-disc reads of each kind and block size in this run (their mean
// speed, as the benchmark's own figure), and at the end of the run how the
// remote read compares with the local one.
class Comparison {
 public:
  ~Comparison() {
    for (const auto& [per_command, local] : local_) {
      const auto remote = remote_.find(per_command);
      if (remote == remote_.end() || local.Speed() <= 0) continue;
      std::printf("remote/local, %u sectors a command: %.0f / %.0f sectors/s = %.2f\n", per_command,
                  remote->second.Speed(), local.Speed(), remote->second.Speed() / local.Speed());
    }
  }
  void Record(bool remote, uint32_t per_command, double seconds) {
    Passes& passes = (remote ? remote_ : local_)[per_command];
    passes.seconds += seconds;
    ++passes.count;
  }

 private:
  struct Passes {
    double seconds = 0;
    int count = 0;
    double Speed() const { return seconds > 0 ? count * double{kDiscSectors} / seconds : 0; }
  };
  std::map<uint32_t, Passes> local_;
  std::map<uint32_t, Passes> remote_;
};

Comparison& Figures() {
  static Comparison figures;
  return figures;
}

// Reads the whole disc, `per_command` sectors a command.
void ReadDisc(benchmark::State& state, ScsiPassThrough& drive, uint32_t per_command, bool remote) {
  std::vector<uint8_t> buffer(per_command * 2048);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t lba = 0; lba < kDiscSectors; lba += per_command) {
      const uint32_t count = std::min(per_command, kDiscSectors - lba);
      const uint8_t cdb[10] = {0x28, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
                               static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), 0,
                               static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count), 0};
      if (drive.ExecCommand(cdb, sizeof cdb, buffer.data(), count * 2048, nullptr, false, 180) != 0) {
        state.SkipWithError("read failed");
        return;
      }
    }
    benchmark::DoNotOptimize(buffer.data());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    Figures().Record(remote, per_command, took.count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kDiscSectors * 2048);
}

void BM_LocalRead(benchmark::State& state) {
  auto drive = TheDisc().PassThrough();
  if (!drive->Open("\\\\.\\D:")) {
    state.SkipWithError("cannot open the emulated drive");
    return;
  }
  ReadDisc(state, *drive, static_cast<uint32_t>(state.range(0)), false);
}

void BM_RemoteRead(benchmark::State& state) {
  DaemonRemoteScsiServer server([] { return TheDisc().PassThrough(); });
  if (!server.Start(0, 4)) {
    state.SkipWithError("cannot listen");
    return;
  }
  RemoteScsiClient client(TheDisc().PassThrough());
  if (!client.Open("\\\\127.0.0.1:" + std::to_string(server.port()) + "\\D:")) {
    state.SkipWithError("cannot open the remote drive");
    return;
  }
  ReadDisc(state, client, static_cast<uint32_t>(state.range(0)), true);
  client.Close();
}

// 26 sectors: the engine's read passes; 31: the most one answer packet holds.
BENCHMARK(BM_LocalRead)->Arg(26)->Arg(31)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_RemoteRead)->Arg(26)->Arg(31)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
}  // namespace sorvel
