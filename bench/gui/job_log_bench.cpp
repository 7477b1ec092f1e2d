// What a job's events cost a shown job dialog. The log on a damaged disc: a
// line per unreadable sector, as fast as the drive fails, at two sizes so
// that the ratio shows how the cost grows (the figure is the time per line);
// and the progress event of every sector of a 700 MB CD.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>

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

// Seconds for `count` calls of `each` on a shown job dialog, the event loop
// given a turn every 10 ms as the jobs' pump does, and once at the end.
template <typename Each>
double PumpedSeconds(int count, Each each) {
  LogOnlyDialog dialog;
  dialog.resize(640, 480);
  dialog.show();
  QApplication::processEvents();
  const auto start = Clock::now();
  auto pumped = start;
  for (int i = 0; i < count; ++i) {
    each(dialog, i);
    const auto now = Clock::now();
    if (now - pumped >= std::chrono::milliseconds(10)) {
      QApplication::processEvents();
      pumped = now;
    }
  }
  QApplication::processEvents();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A warning line per failed sector into the log.
void BM_JobLogLines(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  double seconds = 0;
  for (auto _ : state) {
    seconds = PumpedSeconds(lines, [](LogOnlyDialog& dialog, int i) {
      dialog.StatusChange(sorvel::kStatusWarning, QStringLiteral("セクタ %1 の読み込みに失敗しました。").arg(i));
    });
    state.SetIterationTime(seconds);
  }
  state.counters["us_per_line"] = seconds * 1e6 / lines;
}
BENCHMARK(BM_JobLogLines)->Arg(2000)->Arg(20000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The progress event a read job sends per sector, into the dialog's bar.
void BM_JobProgress(benchmark::State& state) {
  const int sectors = static_cast<int>(state.range(0));
  double seconds = 0;
  for (auto _ : state) {
    seconds = PumpedSeconds(sectors, [sectors](LogOnlyDialog& dialog, int i) { dialog.Progress(i, sectors); });
    state.SetIterationTime(seconds);
  }
  state.counters["ns_per_sector"] = seconds * 1e9 / sectors;
}
BENCHMARK(BM_JobProgress)->Arg(333000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
