// Adding host trees to a layout through the automation class, against
// genisoimage on the same tree in the same run (runs alternated, medians):
// - one folder of 16,000 files as Joliet, by the automation class and by the
//   main window's add command (its views updated), against genisoimage -J -r
//   -print-size (goal: ratio <= 1.5);
// - a chain of 10,000 folders, one in the other (goal: <= 2 s; no peer:
//   genisoimage cannot name paths that long);
// - 100,000 files of up to 8 KiB in 10,000 folders, added and written as a
//   Joliet image file by the layout writer, against genisoimage -J -r -o
//   (goal: ratio <= 0.5).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/gui/gui_bench_support.h"
#include "gui/foundation/application_setting.h"
#include "gui/jobs/mastering.h"
#include "gui/jobs/well_writer.h"
#include "gui/model/engine_library.h"
#include "gui/model/public_enumerations.h"
#include "gui/workspace/main_form.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using sorvel::bench::Median;
using sorvel::bench::UseBuiltEngines;

constexpr int kRounds = 3;

double Seconds(const std::function<bool()>& run) {
  const auto start = Clock::now();
  if (!run()) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A scratch folder of the bench, removed at the end.
class Scratch {
 public:
  Scratch() {
    std::string tmpl = (fs::temp_directory_path() / "sorvel-add-file-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr) root_ = tmpl;
  }
  ~Scratch() {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

void WriteFile(const fs::path& path, const char* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) std::abort();
  if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  ::close(fd);
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

// Alternates our run and the peer's, kRounds times after one warming round of
// each, and reports both medians and their ratio.
void Alternate(benchmark::State& state, const std::function<bool()>& ours, const std::function<bool()>& peer,
               const char* peer_name) {
  if (!ours() || !peer()) {
    state.SkipWithError("a warming round failed");
    return;
  }
  std::vector<double> our_times, peer_times;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      peer_times.push_back(Seconds(peer));
      our_times.push_back(Seconds(ours));
      if (our_times.back() < 0 || peer_times.back() < 0) {
        state.SkipWithError("a run failed");
        return;
      }
    }
    state.SetIterationTime(Median(our_times));
  }
  state.counters["sorvel_s"] = Median(our_times);
  state.counters[std::string(peer_name) + "_s"] = Median(peer_times);
  state.counters["ratio"] = Median(our_times) / Median(peer_times);
}

bool AddWhole(const fs::path& path, int32_t file_system) {
  sorvel::Mastering mastering;
  mastering.InitISOFS(file_system);
  try {
    return mastering.AddFile(QString::fromStdString(path.string()));
  } catch (const sorvel::MasteringError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return false;
  }
}

// One folder of 16,000 files whose short names do not clash.
fs::path FlatFolder(const Scratch& scratch) {
  const fs::path folder = scratch.root() / "flat";
  fs::create_directory(folder);
  const std::string data(512, 'x');
  // Names whose 8.3 forms differ: genisoimage renames clashing short names in
  // quadratic time, which would measure that instead.
  for (int i = 0; i < 16000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05d.txt", 10000 + i);
    WriteFile(folder / name, data.data(), static_cast<size_t>(i % 512));
  }
  return folder;
}

std::string PrintSize(const fs::path& folder) {
  return "genisoimage -quiet -J -r -print-size '" + folder.string() + "' >/dev/null 2>&1";
}

void BM_AddFileOfAFolderOf16000Files(benchmark::State& state) {
  UseBuiltEngines();
  Scratch scratch;
  const fs::path folder = FlatFolder(scratch);
  const std::string peer = PrintSize(folder);
  Alternate(
      state, [&] { return AddWhole(folder, sorvel::SORVEL_JISX0606_JOLIET); }, [&] { return Run(peer); },
      "genisoimage_print_size");
}
BENCHMARK(BM_AddFileOfAFolderOf16000Files)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The main window's add command on the same folder, until its views have
// caught up (the change timers have fired).
void BM_AddCommandOfAFolderOf16000Files(benchmark::State& state) {
  UseBuiltEngines();
  Scratch scratch;
  const fs::path folder = FlatFolder(scratch);
  const std::string peer = PrintSize(folder);
  std::ofstream(scratch.root() / "sorvel.INI") << "[DISCCAPACITY]\r\nMedia1=DVD-R\t2295104\r\n";
  sorvel::ApplicationSetting settings(QString::fromStdString((scratch.root() / "sorvel.INI").string()));
  QSettings store(QString::fromStdString((scratch.root() / "user.ini").string()), QSettings::IniFormat);
  Alternate(
      state,
      [&] {
        sorvel::MainForm form(&settings, &store);
        form.show();
        QCoreApplication::processEvents();
        form.AddPathToLayout(QString::fromStdString(folder.string()));
        for (int i = 0; i < 1000 && (form.tmrChangeFile()->isActive() || form.tmrChangeFileSize()->isActive()); ++i)
          QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        return !form.mobjImageFile().IsISOEmpty();
      },
      [&] { return Run(peer); }, "genisoimage_print_size");
}
BENCHMARK(BM_AddCommandOfAFolderOf16000Files)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);


void BM_AddFileOfAChainOf10000Folders(benchmark::State& state) {
  UseBuiltEngines();
  Scratch scratch;
  int fd = ::open(scratch.root().c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < 10000 && fd >= 0; ++i) {
    if (::mkdirat(fd, "d", 0755) != 0) std::abort();
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
  }
  if (fd < 0) std::abort();
  ::close(fd);
  const fs::path chain = scratch.root() / "d";
  std::vector<double> times;
  for (auto _ : state) {
    const double seconds = Seconds([&] { return AddWhole(chain, sorvel::SORVEL_JISX0606_JOLIET); });
    if (seconds < 0) {
      state.SkipWithError("AddFile failed");
      return;
    }
    times.push_back(seconds);
    state.SetIterationTime(seconds);
  }
  state.counters["sorvel_s"] = Median(times);
}
BENCHMARK(BM_AddFileOfAChainOf10000Folders)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_JolietImageOf100000FilesAgainstGenisoimage(benchmark::State& state) {
  UseBuiltEngines();
  Scratch scratch;
  const fs::path tree = scratch.root() / "tree";
  sorvel::bench::WriteTreeOf100000Files(tree, 20261208);
  const fs::path ours = scratch.root() / "ours.img";
  const std::string peer =
      "genisoimage -quiet -J -r -o '" + (scratch.root() / "theirs.iso").string() + "' '" + tree.string() + "'";
  // The share of the adding, for telling it from the layout writer's.
  std::vector<double> add_times;
  Alternate(
      state,
      [&] {
        sorvel::Mastering mastering;
        mastering.InitISOFS(sorvel::SORVEL_JISX0606_JOLIET);
        const double added = Seconds([&] { return mastering.AddFile(QString::fromStdString(tree.string())); });
        if (added < 0) return false;
        add_times.push_back(added);
        sorvel::WellWriter writer;
        return writer.StartWriteFile(QString::fromStdString(ours.string()), mastering.Layout());
      },
      [&] { return Run(peer); }, "genisoimage");
  if (!add_times.empty()) state.counters["add_file_s"] = Median(add_times);
}
BENCHMARK(BM_JolietImageOf100000FilesAgainstGenisoimage)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
