// The disc reader on a 700 MB data CD in the emulated drive, with its events
// connected to a receiver that counts them, as a dialog would: the job must
// not be what limits a fast drive.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "gui/jobs/disc_reader.h"
#include "gui/model/engine_library.h"
#include "gui/model/trelin.h"

namespace {

constexpr int64_t kSectors = 333000;  // 700 MB of user data

void BM_DiscReaderDataCd(benchmark::State& state) {
  QTemporaryDir dir;
  const std::filesystem::path root = dir.path().toStdString();
  const std::filesystem::path iso = root / "disc.iso";
  std::filesystem::resize_file(
      [&] {
        std::FILE* f = std::fopen(iso.c_str(), "wb");
        if (f != nullptr) std::fclose(f);
        return iso;
      }(),
      static_cast<uintmax_t>(kSectors) * 2048);
  const std::string map = "D:=emu:" + (root / "drive.state").string() + ",medium=cd-rom,image=" + iso.string();
  setenv("SORVEL_DRIVES", map.c_str(), 1);
  char exe[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  sorvel::SetEngineLibraryFolder(
      QFileInfo(QString::fromLocal8Bit(exe, n > 0 ? static_cast<int>(n) : 0)).dir().absoluteFilePath("../bin"));
  sorvel::Trelin device;
  if (!device.OpenDevice(3)) {
    state.SkipWithError("the emulated drive did not open");
    return;
  }
  int64_t events = 0;
  for (auto _ : state) {
    sorvel::DiscReader reader;
    QObject::connect(&reader, &sorvel::DiscJob::Progress, [&](int32_t, int32_t) { ++events; });
    QObject::connect(&reader, &sorvel::DiscJob::StatusChange, [&](int32_t, const QString&) { ++events; });
    if (!reader.StartReadCompatible(device, dir.filePath("copy.img"))) {
      state.SkipWithError("the read failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kSectors);
  state.counters["sectors/s"] = benchmark::Counter(static_cast<double>(state.iterations() * kSectors),
                                                   benchmark::Counter::kIsRate);
  benchmark::DoNotOptimize(events);
}
BENCHMARK(BM_DiscReaderDataCd)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
