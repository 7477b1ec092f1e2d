// A job's log on a damaged disc: a line per unreadable sector, as fast as the
// drive fails, into a shown job dialog's log, with the event loop given a
// turn every 10 ms as the jobs' pump does. Two sizes, so that the ratio shows
// how the cost grows; the figure is the time per line.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>

#include "gui/dialogs/job_dialog.h"
#include "gui/jobs/disc_job.h"

namespace {

using Clock = std::chrono::steady_clock;

class LogOnlyDialog : public sorvel::JobDialog {
 public:
  LogOnlyDialog() : JobDialog(QStringLiteral("frmLogBench"), QStringLiteral("ログ")) {}

 protected:
  void StartJob() override {}
};

void BM_JobLogLines(benchmark::State& state) {
  LogOnlyDialog dialog;
  dialog.resize(640, 480);
  dialog.show();
  QApplication::processEvents();
  const int lines = static_cast<int>(state.range(0));
  double seconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    auto pumped = start;
    for (int i = 0; i < lines; ++i) {
      dialog.StatusChange(sorvel::kStatusWarning, QStringLiteral("セクタ %1 の読み込みに失敗しました。").arg(i));
      const auto now = Clock::now();
      if (now - pumped >= std::chrono::milliseconds(10)) {
        QApplication::processEvents();
        pumped = now;
      }
    }
    QApplication::processEvents();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
  }
  state.counters["us_per_line"] = seconds * 1e6 / lines;
}
BENCHMARK(BM_JobLogLines)->Arg(2000)->Arg(20000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The progress event a read job sends per sector, into the dialog's bar.
void BM_JobProgress(benchmark::State& state) {
  LogOnlyDialog dialog;
  dialog.resize(640, 480);
  dialog.show();
  QApplication::processEvents();
  const int sectors = static_cast<int>(state.range(0));
  double seconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    auto pumped = start;
    for (int i = 0; i < sectors; ++i) {
      dialog.Progress(i, sectors);
      const auto now = Clock::now();
      if (now - pumped >= std::chrono::milliseconds(10)) {
        QApplication::processEvents();
        pumped = now;
      }
    }
    QApplication::processEvents();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
  }
  state.counters["ns_per_sector"] = seconds * 1e9 / sectors;
}
BENCHMARK(BM_JobProgress)->Arg(333000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
