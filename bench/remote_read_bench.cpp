// Reading a 700 MB data CD (an emulated drive over a sparse ISO image) with
// READ(10), locally and through the drive daemon's server over loopback.
// Goal: remote at least 40 MB/s and at least half the local speed.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
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

// Reads the whole disc, `per_command` sectors a command.
void ReadDisc(benchmark::State& state, ScsiPassThrough& drive, uint32_t per_command) {
  std::vector<uint8_t> buffer(per_command * 2048);
  for (auto _ : state) {
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
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kDiscSectors * 2048);
}

void BM_LocalRead(benchmark::State& state) {
  auto drive = TheDisc().PassThrough();
  if (!drive->Open("\\\\.\\D:")) {
    state.SkipWithError("cannot open the emulated drive");
    return;
  }
  ReadDisc(state, *drive, static_cast<uint32_t>(state.range(0)));
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
  ReadDisc(state, client, static_cast<uint32_t>(state.range(0)));
  client.Close();
}

// 26 sectors: the engine's read passes; 31: the most one answer packet holds.
BENCHMARK(BM_LocalRead)->Arg(26)->Arg(31)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_RemoteRead)->Arg(26)->Arg(31)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
}  // namespace sorvel
