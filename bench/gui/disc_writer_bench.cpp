// Writing jobs against their limits: the disc writer sending a 700 MB image to
// the emulated drive, and the layout writer putting a layout of 10,000 files
// into an image file next to the mastering engine streaming the same layout
// by itself (the job's own cost is the difference).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "bench/gui/gui_bench_support.h"
#include "gui/jobs/disc_writer.h"
#include "gui/jobs/well_writer.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/tazol.h"
#include "gui/model/trelin.h"

namespace {

constexpr int64_t kSectors = 333000;  // 700 MB of user data

void BM_DiscWriterIsoToEmulatedDvd(benchmark::State& state) {
  sorvel::bench::UseBuiltEngines();
  for (auto _ : state) {
    state.PauseTiming();
    QTemporaryDir dir;
    const std::filesystem::path root = dir.path().toStdString();
    const std::filesystem::path iso = root / "disc.iso";
    std::ofstream(iso).close();
    std::filesystem::resize_file(iso, static_cast<uintmax_t>(kSectors) * 2048);
    const std::string map = "D:=emu:" + (root / "drive.state").string() + ",medium=dvd+r";
    setenv("SORVEL_DRIVES", map.c_str(), 1);
    sorvel::Trelin device;
    if (!device.OpenDevice(3)) {
      state.SkipWithError("the emulated drive did not open");
      return;
    }
    sorvel::DiscWriter writer;
    int64_t events = 0;
    QObject::connect(&writer, &sorvel::DiscJob::Progress, [&](int32_t, int32_t) { ++events; });
    state.ResumeTiming();
    if (!writer.StartWriteCompatible(device, QString::fromStdString(iso.string()), nullptr)) {
      state.SkipWithError("the write failed");
      return;
    }
    benchmark::DoNotOptimize(events);
  }
  state.counters["sectors/s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kSectors), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DiscWriterIsoToEmulatedDvd)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// 10,000 files of up to 8 KiB in 1,000 folders.
struct Layout {
  QTemporaryDir dir;
  std::unique_ptr<sorvel::Tazol> image;
  Layout() {
    sorvel::bench::UseBuiltEngines();
    image = std::make_unique<sorvel::Tazol>();
    image->InitISOFS(sorvel::SORVEL_JISX0606_JOLIET);
    std::mt19937 random(7);
    for (int d = 0; d < 1000; ++d) {
      QString folder = QStringLiteral("dir%1").arg(d);
      image->ChangeISODirectory(QStringLiteral("\\"));
      image->MakeISODirectory(folder, 0, QDateTime::currentDateTime());
      image->ChangeISODirectory(folder);
      for (int f = 0; f < 10; ++f) {
        const QString path = dir.filePath(QStringLiteral("f%1_%2").arg(d).arg(f));
        std::ofstream(path.toStdString(), std::ios::binary) << std::string(random() % 8192, 'x');
        QString name = QStringLiteral("file%1.bin").arg(f);
        image->AddISOFile(name, path);
      }
    }
  }
};

void BM_LayoutStreamedByTheEngine(benchmark::State& state) {
  Layout layout;
  QByteArray sector(sorvel::Tazol::kSectorSize, '\0');
  for (auto _ : state) {
    const int32_t sectors = layout.image->ReadStart();
    for (int32_t i = 0; i < sectors; ++i) layout.image->Read(sector, false);
    layout.image->ReadEnd();
  }
}
BENCHMARK(BM_LayoutStreamedByTheEngine)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_LayoutWriterToAFile(benchmark::State& state) {
  Layout layout;
  for (auto _ : state) {
    sorvel::WellWriter writer;
    if (!writer.StartWriteFile(layout.dir.filePath("out.img"), *layout.image)) state.SkipWithError("the write failed");
  }
}
BENCHMARK(BM_LayoutWriterToAFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

