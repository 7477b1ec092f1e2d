// The disc reader on a 700 MB data CD in the emulated drive (raw sectors with
// subchannel, the default read command), with its events connected to a
// receiver that counts them, as a dialog would. In the same run, alternated:
// dd copying the image file (the peer), and the device engine reading every
// sector with nothing written (the drive's and the engine's part), so that
// the job's own share of its time shows.
// Goals: at least 200,000 sectors/s, the job's own share at most 10 %.
//
// And the reader on a DVD into an image, whose commit flushes the image to
// the disk, against dd copying the image file and flushing it (dd + sync),
// alternated in the same run: the write-back runs while the job reads, so
// the job takes at most 1.2 times dd + sync. The DVD holds 1 GiB rather than
// 4 GB, so that the rounds stay short on a shared machine's disk; the
// ratio is what counts.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/gui/gui_bench_support.h"
#include "gui/jobs/disc_reader.h"
#include "gui/model/device_setting.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/trelin.h"

namespace {

using sorvel::bench::Median;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int32_t kSectors = 333000;  // 700 MB of user data
constexpr int kRounds = 3;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// dd copying `image` to `copy`; with `flush`, the copy flushed to the disk before dd ends.
double TimeDd(const fs::path& image, const fs::path& copy, bool flush = false) {
  const std::string command = "dd if='" + image.string() + "' of='" + copy.string() + "' bs=1M status=none" +
                              (flush ? " conv=fdatasync" : "");
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return Seconds(Clock::now() - start);
}

// Wall time, and processor time of this thread and of the whole process
// (the writing threads of the job included).
struct Timing {
  double wall = -1, thread_cpu = 0, process_cpu = 0;
};

double CpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

template <typename Run>
Timing Time(Run run) {
  const double thread = CpuSeconds(CLOCK_THREAD_CPUTIME_ID), process = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const auto start = Clock::now();
  Timing t;
  if (!run()) return t;
  t.wall = Seconds(Clock::now() - start);
  t.thread_cpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread;
  t.process_cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process;
  return t;
}

// The engine reading every sector with the job's settings, writing nothing.
bool BareRead(sorvel::Trelin& device) {
  sorvel::DeviceSetting setting;
  setting.LoadSetting(device);
  device.SetBufferingBlockLength(setting.ReadBlockLength);
  const bool cd = device.GetMediaFamilyType() == sorvel::MFT_CDFAMILY;
  if (device.ReadStart(cd ? setting.CDReadCommand : setting.DVDReadCommand, cd ? setting.CDReadFlags() : 0) !=
      sorvel::CBR_OK) {
    return false;
  }
  QByteArray buffer(sorvel::Trelin::kSectorBufferSize + 1, '\0');
  const int32_t last = device.GetLastLBA();
  bool ok = true;
  for (int32_t lba = 0; lba <= last && ok; ++lba) ok = device.ReadLBA(buffer, lba);
  device.ReadEnd();
  return ok;
}

void BM_DiscReaderDataCd(benchmark::State& state) {
  QTemporaryDir dir;
  const fs::path root = dir.path().toStdString();
  const fs::path iso = root / "disc.iso";
  sorvel::Trelin device;
  if (!sorvel::bench::OpenStampedDisc(device, root, "disc.iso", kSectors, "cd-rom")) {
    state.SkipWithError("the emulated drive did not open");
    return;
  }
  int64_t events = 0;
  std::vector<double> dd;
  std::vector<double> job, bare, job_thread, bare_thread, job_process, bare_process;
  for (auto _ : state) {
    // The first round only warms up. The outputs stay and are replaced by
    // the next round, so dd and the job both write into the pages that
    // their own truncation just freed (on a virtual machine, pages the
    // system has not used for a while cost far more to write).
    for (int round = 0; round <= kRounds; ++round) {
      const double dd_s = TimeDd(iso, root / "dd.iso");
      const Timing b = Time([&] { return BareRead(device); });
      const Timing j = Time([&] { return sorvel::bench::RunDiscReader(device, dir.filePath("copy.img"), &events); });
      if (dd_s < 0 || b.wall < 0 || j.wall < 0) {
        state.SkipWithError("a read failed");
        return;
      }
      if (round == 0) continue;
      dd.push_back(dd_s);
      bare.push_back(b.wall);
      job.push_back(j.wall);
      bare_thread.push_back(b.thread_cpu);
      job_thread.push_back(j.thread_cpu);
      bare_process.push_back(b.process_cpu);
      job_process.push_back(j.process_cpu);
    }
    state.SetIterationTime(Median(job));
  }
  const double job_s = Median(job), bare_s = Median(bare), dd_s = Median(dd);
  state.counters["sectors_per_s"] = kSectors / job_s;
  state.counters["engine_and_drive_sectors_per_s"] = kSectors / bare_s;
  // The part of the job's time (wall), of its own thread's processor time,
  // and of the processor time of all its threads (the file writes included)
  // that the bare read does not explain. On a machine without idle cores
  // the wall share follows the last.
  state.counters["job_share"] = 1.0 - bare_s / job_s;
  state.counters["job_share_thread_cpu"] = 1.0 - Median(bare_thread) / Median(job_thread);
  state.counters["job_share_cpu"] = 1.0 - Median(bare_process) / Median(job_process);
  state.counters["dd_s"] = dd_s;
  state.counters["ratio_to_dd"] = job_s / dd_s;
  benchmark::DoNotOptimize(events);
}
BENCHMARK(BM_DiscReaderDataCd)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

constexpr int32_t kDvdSectors = 524288;  // 1 GiB

void BM_DiscReaderDvdToFlushedImage(benchmark::State& state) {
  QTemporaryDir dir;
  const fs::path root = dir.path().toStdString();
  const fs::path iso = root / "dvd.iso";
  sorvel::Trelin device;
  if (!sorvel::bench::OpenStampedDisc(device, root, "dvd.iso", kDvdSectors, "dvd-rom")) {
    state.SkipWithError("the emulated drive did not open");
    return;
  }
  int64_t events = 0;
  std::vector<double> dd, job, bare;
  for (auto _ : state) {
    // The first round only warms up; the outputs are replaced round by round.
    for (int round = 0; round <= kRounds; ++round) {
      const double dd_s = TimeDd(iso, root / "dd.iso", true);
      const Timing b = Time([&] { return BareRead(device); });
      const Timing j = Time([&] { return sorvel::bench::RunDiscReader(device, dir.filePath("copy.iso"), &events); });
      if (dd_s < 0 || b.wall < 0 || j.wall < 0) {
        state.SkipWithError("a read failed");
        return;
      }
      if (round == 0) continue;
      dd.push_back(dd_s);
      bare.push_back(b.wall);
      job.push_back(j.wall);
    }
    state.SetIterationTime(Median(job));
  }
  // The image is the disc's user data, byte for byte.
  if (std::system(("cmp -s '" + iso.string() + "' '" + (root / "copy.iso").string() + "'").c_str()) != 0) {
    state.SkipWithError("the image differs from the disc");
    return;
  }
  const double job_s = Median(job), dd_s = Median(dd);
  state.counters["sectors_per_s"] = kDvdSectors / job_s;
  state.counters["engine_and_drive_sectors_per_s"] = kDvdSectors / Median(bare);
  state.counters["dd_sync_s"] = dd_s;
  state.counters["ratio_to_dd_sync"] = job_s / dd_s;
  benchmark::DoNotOptimize(events);
}
BENCHMARK(BM_DiscReaderDvdToFlushedImage)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

}  // namespace

