// The disc reader's read job on a 700 MB data CD in an emulated drive, read
// through the drive daemon (a kestrow process serving the drive on loopback)
// and, alternated in the same run, the same job on the same disc read
// locally. Goal: the remote job at least 0.55 times the local one.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/gui/gui_bench_support.h"
#include "gui/jobs/disc_reader.h"
#include "gui/model/trelin.h"
#include "testing/kestrow_standalone.h"

namespace {

using sorvel::bench::Median;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int32_t kSectors = 333000;  // 700 MB of user data
constexpr int kRounds = 3;

// Seconds the job took to read the disc into `out`; -1 when it failed.
double TimeJob(sorvel::Trelin& device, const QString& out) {
  int64_t events = 0;
  const auto start = Clock::now();
  if (!sorvel::bench::RunDiscReader(device, out, &events)) return -1;
  benchmark::DoNotOptimize(events);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_DiscReaderRemoteDataCd(benchmark::State& state) {
  QTemporaryDir dir;
  const fs::path root = dir.path().toStdString();
  const fs::path iso = sorvel::bench::MakeStampedImage(root, "disc.iso", kSectors);
  // The engine's drive and the daemon's drive: the same disc, a state file each.
  const std::string local_map = "D:=emu:" + (root / "local.state").string() + ",medium=cd-rom,image=" + iso.string();
  const std::string remote_map =
      "D:=emu:" + (root / "remote.state").string() + ",medium=cd-rom,image=" + iso.string();
  setenv("SORVEL_DRIVES", local_map.c_str(), 1);
  sorvel::bench::UseBuiltEngines();
  fs::create_directories(root / "daemon");
  sorvel::testing::KestrowStandalone daemon(root / "daemon", remote_map, "D");
  if (!daemon.Start()) {
    state.SkipWithError("the daemon did not start");
    return;
  }
  const QString remote_name = QStringLiteral("\\\\127.0.0.1:%1\\D:").arg(daemon.port());
  std::vector<double> local, remote;
  for (auto _ : state) {
    // The first round only warms up; the outputs are replaced round by round.
    for (int round = 0; round <= kRounds; ++round) {
      double local_s = -1, remote_s = -1;
      {
        sorvel::Trelin device;
        if (device.OpenDevice(3)) local_s = TimeJob(device, dir.filePath("local.img"));
      }
      {
        sorvel::Trelin device;
        if (device.OpenDeviceEx(remote_name)) remote_s = TimeJob(device, dir.filePath("remote.img"));
      }
      if (local_s < 0 || remote_s < 0) {
        state.SkipWithError("a read failed");
        return;
      }
      if (round == 0) continue;
      local.push_back(local_s);
      remote.push_back(remote_s);
    }
    state.SetIterationTime(Median(remote));
  }
  // Both jobs read the same disc into the same image.
  const std::string compare =
      "cmp -s '" + (root / "local.img").string() + "' '" + (root / "remote.img").string() + "'";
  if (std::system(compare.c_str()) != 0) {
    state.SkipWithError("the remote image differs from the local one");
    return;
  }
  const double local_s = Median(local), remote_s = Median(remote);
  const double best_local = *std::min_element(local.begin(), local.end());
  const double best_remote = *std::min_element(remote.begin(), remote.end());
  state.counters["sectors_per_s"] = kSectors / remote_s;
  state.counters["local_sectors_per_s"] = kSectors / local_s;
  state.counters["remote_to_local"] = local_s / remote_s;
  std::printf("remote read job / local read job (median): %.0f / %.0f sectors/s = %.2f\n", kSectors / remote_s,
              kSectors / local_s, local_s / remote_s);
  std::printf("remote read job / local read job (best): %.0f / %.0f sectors/s = %.2f\n", kSectors / best_remote,
              kSectors / best_local, best_local / best_remote);
}
BENCHMARK(BM_DiscReaderRemoteDataCd)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

}  // namespace
