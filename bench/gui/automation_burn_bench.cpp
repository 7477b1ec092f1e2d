// A burn through the automation server, as a bus client starts it: a 300 MB
// file to an emulated DVD-R by `sorvel --automation` on a private bus, the
// client handling the Progress signals. In the same run, alternated, the
// same burn by the Mastering class in this process (the window's way), so
// the bus's share shows as a ratio; and the slowest answer the server gave
// to another call while a burn ran.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/gui/gui_bench_support.h"
#include "gui/jobs/mastering.h"
#include "testing/gui/mastering_bus_client.h"
#include "testing/gui/private_bus.h"
#include "testing/test_paths.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using sorvel::bench::Median;
using sorvel::bench::QuietStdout;

constexpr int64_t kFileBytes = 300LL << 20;
constexpr int kRounds = 3;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A blank DVD-R per burn, D: to F: for the automation server and G: to I:
// for this process, and the server on `bus`; false when it did not start.
bool StartBurnServer(const fs::path& root, sorvel::testing::PrivateBus& bus) {
  std::string map;
  for (char letter = 'D'; letter <= 'I'; ++letter) {
    if (!map.empty()) map += ';';
    map += std::string(1, letter) + ":=emu:" + (root / (std::string(1, letter) + ".state")).string() + ",medium=dvd-r";
  }
  setenv("SORVEL_DRIVES", map.c_str(), 1);
  sorvel::bench::UseBuiltEngines();
  return bus.ok() && bus.StartService(QString::fromStdString(sorvel::testing::BuiltLibraryPath("sorvel")),
                                      {QStringLiteral("--automation")}, QStringLiteral("SORVEL.Mastering"));
}

void BM_BurnOverTheBus(benchmark::State& state) {
  QTemporaryDir dir;
  const fs::path root = dir.path().toStdString();
  {
    std::ofstream out(root / "big.bin", std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + (i >> 9));
    for (int64_t done = 0; done < kFileBytes; done += static_cast<int64_t>(block.size())) out.write(block.data(), block.size());
  }
  const QString file = QString::fromStdString((root / "big.bin").string());
  sorvel::testing::PrivateBus bus;
  if (!StartBurnServer(root, bus)) {
    state.SkipWithError("the automation server did not start");
    return;
  }
  sorvel::testing::BusClient client(bus, QStringLiteral("bench"));
  // An object that lives through the run keeps the server up between burns.
  const QString keeper = client.Create();
  std::vector<double> over_bus, in_process;
  size_t signal_count = 0;
  // While the burn runs, every hundredth Progress signal the client asks the
  // server about another object (goal: each answered within 0.5 s).
  double slowest_answer_s = 0;
  client.on_progress = [&](int, int) {
    if (client.progress.size() % 100 != 1) return;
    const auto asked = Clock::now();
    if (!sorvel::testing::BoolOf(client.Member(keeper, QStringLiteral("IsISOEmpty")))) slowest_answer_s = 1e9;
    slowest_answer_s = std::max(slowest_answer_s, Since(asked));
  };
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      const QString object = client.Create();
      if (object.isEmpty() || !sorvel::testing::BoolOf(client.Member(object, QStringLiteral("AddFile"), {file, QString()}))) {
        state.SkipWithError("the layout was not made over the bus");
        return;
      }
      client.progress.clear();
      auto start = Clock::now();
      const QDBusMessage burnt = client.CallRunning(
          object, QStringLiteral("StartBurn"), {QString(QChar(u'D' + round)) + QStringLiteral(":"), false});
      over_bus.push_back(Since(start));
      signal_count = client.progress.size();
      client.Release(object);
      if (!sorvel::testing::BoolOf(burnt)) {
        const std::string why = "the burn over the bus failed after " + std::to_string(over_bus.back()) + " s: " +
                                sorvel::testing::ErrorOf(burnt).toStdString();
        state.SkipWithError(why.c_str());
        return;
      }

      sorvel::Mastering mastering;
      size_t events = 0;
      QObject::connect(&mastering, &sorvel::Mastering::Progress, [&](int32_t, int32_t) { ++events; });
      bool ok = false;
      start = Clock::now();
      {
        QuietStdout quiet;
        try {
          ok = mastering.AddFile(file) && mastering.StartBurn(QString(QChar(u'G' + round)) + QStringLiteral(":"), false);
        } catch (const sorvel::MasteringError&) {
          ok = false;
        }
      }
      in_process.push_back(Since(start));
      benchmark::DoNotOptimize(events);
      if (!ok) {
        state.SkipWithError("the burn in this process failed");
        return;
      }
    }
    state.SetIterationTime(Median(over_bus));
  }
  client.on_progress = nullptr;
  client.Release(keeper);
  state.counters["bus_s"] = Median(over_bus);
  state.counters["in_process_s"] = Median(in_process);
  state.counters["slowest_answer_during_burn_s"] = slowest_answer_s;
  state.counters["ratio_to_in_process"] = Median(over_bus) / Median(in_process);
  state.counters["progress_signals"] = static_cast<double>(signal_count);
}
BENCHMARK(BM_BurnOverTheBus)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

void BM_BurnOf100000FilesAgainstGenisoimage(benchmark::State& state) {
  QTemporaryDir dir;
  const fs::path root = dir.path().toStdString();
  const fs::path tree = root / "tree";
  sorvel::bench::WriteTreeOf100000Files(tree, 20261210);
  const QString folder = QString::fromStdString(tree.string());
  const std::string peer = "genisoimage -quiet -J -r -o '" + (root / "theirs.iso").string() + "' '" + tree.string() + "'";
  sorvel::testing::PrivateBus bus;
  if (!StartBurnServer(root, bus)) {
    state.SkipWithError("the automation server did not start");
    return;
  }
  sorvel::testing::BusClient client(bus, QStringLiteral("bench"));
  const QString keeper = client.Create();
  std::vector<double> over_bus, theirs, first_sector;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      auto start = Clock::now();
      if (std::system(peer.c_str()) != 0) {
        state.SkipWithError("genisoimage failed");
        return;
      }
      theirs.push_back(Since(start));

      const QString object = client.Create();
      start = Clock::now();
      if (object.isEmpty() ||
          !sorvel::testing::BoolOf(client.Member(object, QStringLiteral("AddFile"), {folder, QString()}))) {
        state.SkipWithError("the layout was not made over the bus");
        return;
      }
      const QDBusMessage burnt = client.CallRunning(
          object, QStringLiteral("StartBurn"), {QString(QChar(u'D' + round)) + QStringLiteral(":"), false});
      over_bus.push_back(Since(start));
      client.Release(object);
      if (!sorvel::testing::BoolOf(burnt)) {
        const std::string why = "the burn over the bus failed: " + sorvel::testing::ErrorOf(burnt).toStdString();
        state.SkipWithError(why.c_str());
        return;
      }

      sorvel::Mastering mastering;
      bool ok = false;
      std::optional<double> first;
      {
        QuietStdout quiet;
        try {
          ok = mastering.AddFile(folder);
          start = Clock::now();
          QObject::connect(&mastering, &sorvel::Mastering::Progress, [&](int32_t, int32_t) {
            if (!first) first = Since(start);
          });
          ok = ok && mastering.StartBurn(QString(QChar(u'G' + round)) + QStringLiteral(":"), false);
        } catch (const sorvel::MasteringError&) {
          ok = false;
        }
      }
      if (!ok || !first) {
        state.SkipWithError("the burn in this process failed");
        return;
      }
      first_sector.push_back(*first);
    }
    state.SetIterationTime(Median(over_bus));
  }
  client.Release(keeper);
  state.counters["bus_s"] = Median(over_bus);
  state.counters["genisoimage_s"] = Median(theirs);
  state.counters["ratio_to_genisoimage"] = Median(over_bus) / Median(theirs);
  state.counters["first_sector_s"] = Median(first_sector);
  state.counters["best_bus_s"] = *std::min_element(over_bus.begin(), over_bus.end());
  state.counters["best_genisoimage_s"] = *std::min_element(theirs.begin(), theirs.end());
  state.counters["best_first_sector_s"] = *std::min_element(first_sector.begin(), first_sector.end());
}
BENCHMARK(BM_BurnOf100000FilesAgainstGenisoimage)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

}  // namespace
