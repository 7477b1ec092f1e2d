// Saving a layout of big files into an image file: ten files of 400 MB (set
// SORVEL_BENCH_BIG_FILES and SORVEL_BENCH_BIG_MB for others) through the
// layout writer, against genisoimage -J -r on the same files in the same
// run, alternated, once with everything on the disk (the system's temporary
// folder) and once on tmpfs (/dev/shm). The save makes its image durable
// before it ends, so on the disk genisoimage is timed with a sync after it
// (and cat of the files into one, with a sync, is timed beside them).
// Goals: no more than 0.95 times genisoimage + sync on the disk, no more than
// genisoimage on tmpfs. The last image saved is read back with bsdtar and
// every file compared with its source.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/gui/gui_bench_support.h"
#include "gui/jobs/well_writer.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/tazol.h"

namespace {

using sorvel::bench::Median;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 3;

int EnvOr(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// The source files in a folder of their own under `base`, removed at the end.
class BigFiles {
 public:
  explicit BigFiles(const fs::path& base) {
    std::string tmpl = (base / "sorvel-layout-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) return;
    dir_ = tmpl;
    fs::create_directories(dir_ / "tree");
    const size_t bytes = static_cast<size_t>(EnvOr("SORVEL_BENCH_BIG_MB", 400)) * 1000 * 1000;
    std::vector<char> block(1 << 20);
    for (int f = 0; f < EnvOr("SORVEL_BENCH_BIG_FILES", 10); ++f) {
      for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + f * 17 + (i >> 12));
      const fs::path path = dir_ / "tree" / std::string("movie").append(std::to_string(f)).append(".bin");
      std::ofstream out(path, std::ios::binary);
      for (size_t done = 0; done < bytes; done += block.size()) {
        out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), bytes - done)));
      }
      files_.push_back(path);
    }
  }
  ~BigFiles() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  bool ok() const { return !files_.empty(); }
  const fs::path& dir() const { return dir_; }
  const std::vector<fs::path>& files() const { return files_; }

 private:
  fs::path dir_;
  std::vector<fs::path> files_;
};

// The time of `command`, with a sync after it when `durable`; -1 when it failed.
double Timed(const std::string& command, bool durable) {
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  if (durable) sync();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Genisoimage(const BigFiles& files, const fs::path& out, bool durable) {
  return Timed("genisoimage -quiet -J -r -o '" + out.string() + "' '" + (files.dir() / "tree").string() + "'",
               durable);
}

double Cat(const BigFiles& files, const fs::path& out, bool durable) {
  std::string command = "cat";
  for (const fs::path& file : files.files()) command += " '" + file.string() + "'";
  return Timed(command + " > '" + out.string() + "'", durable);
}

// Every source file read back out of `image` by bsdtar is the same.
bool ImageHoldsTheFiles(const BigFiles& files, const fs::path& image) {
  for (const fs::path& file : files.files()) {
    const std::string command = "bsdtar -xOf '" + image.string() + "' '" + file.filename().string() + "' | cmp -s - '" +
                                file.string() + "'";
    if (std::system(command.c_str()) != 0) return false;
  }
  return true;
}

// The layout as the workspace builds it, saved with its CUE sheet.
double CpuSeconds(const rusage& r) {
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Also the processor time the save took (both its threads) in `cpu`.
double LayoutSave(const BigFiles& files, const fs::path& out, long* page_faults, double* cpu) {
  sorvel::Tazol image;
  image.InitISOFS(sorvel::SORVEL_JISX0606_JOLIET);
  for (const fs::path& file : files.files()) {
    QString name = QString::fromStdString(file.filename().string());
    image.AddISOFile(name, QString::fromStdString(file.string()));
  }
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = Clock::now();
  sorvel::WellWriter writer;
  if (!writer.StartWriteFile(QString::fromStdString(out.string()), image)) return -1;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  getrusage(RUSAGE_SELF, &after);
  *page_faults = after.ru_minflt - before.ru_minflt;
  *cpu = CpuSeconds(after) - CpuSeconds(before);
  return seconds;
}

void BM_LayoutSaveOfBigFilesAgainstGenisoimage(benchmark::State& state, const char* where) {
  sorvel::bench::UseBuiltEngines();
  const bool disk = std::string(where) != "tmpfs";
  const fs::path base = disk ? fs::temp_directory_path() : fs::path("/dev/shm");
  BigFiles files(base);
  if (!files.ok()) {
    state.SkipWithError("the source files could not be made");
    return;
  }
  const fs::path theirs = files.dir() / "genisoimage.iso";
  const fs::path ours = files.dir() / "Saved.img";
  const fs::path cat = files.dir() / "cat.img";
  std::vector<double> ours_s, theirs_s, cat_s, cpu_s;
  long faults = 0;
  bool same = false;
  for (auto _ : state) {
    // The first round only warms up (the sources into the page cache). Each
    // output goes as soon as it was timed: on tmpfs it is memory, and each
    // writer then finds the same free memory. On the disk the removal is
    // synchronised before the next writer starts: otherwise the one that
    // follows pays for the write-back of what the other left in flight.
    for (int round = 0; round <= kRounds; ++round) {
      const double theirs_time = Genisoimage(files, theirs, disk);
      fs::remove(theirs);
      sync();
      const double cat_time = Cat(files, cat, disk);
      fs::remove(cat);
      sync();
      double cpu = 0;
      const double ours_time = LayoutSave(files, ours, &faults, &cpu);
      if (round == kRounds) same = ImageHoldsTheFiles(files, ours);
      fs::remove(ours);
      fs::remove(files.dir() / "Saved.cue");
      sync();
      if (theirs_time < 0 || cat_time < 0 || ours_time < 0) {
        state.SkipWithError("a save failed");
        return;
      }
      if (round == 0) continue;
      theirs_s.push_back(theirs_time);
      cat_s.push_back(cat_time);
      ours_s.push_back(ours_time);
      cpu_s.push_back(cpu);
    }
    if (!same) {
      state.SkipWithError("bsdtar did not find the source files in the saved image");
      return;
    }
    state.SetIterationTime(Median(ours_s));
  }
  const char* peer = disk ? "genisoimage_sync_s" : "genisoimage_s";
  state.counters[peer] = Median(theirs_s);
  state.counters[disk ? "cat_sync_s" : "cat_s"] = Median(cat_s);
  state.counters["ratio_to_genisoimage"] = Median(ours_s) / Median(theirs_s);
  state.counters["best_s"] = *std::min_element(ours_s.begin(), ours_s.end());
  state.counters["cpu_s"] = Median(cpu_s);
  state.counters["page_faults"] = static_cast<double>(faults);
  state.counters["image_checked"] = same ? 1 : 0;
}
BENCHMARK_CAPTURE(BM_LayoutSaveOfBigFilesAgainstGenisoimage, Disk, "disk")
    ->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(BM_LayoutSaveOfBigFilesAgainstGenisoimage, Tmpfs, "tmpfs")
    ->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

}  // namespace

