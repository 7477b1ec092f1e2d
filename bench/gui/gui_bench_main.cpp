// The main of the benchmarks of the GUI program's libraries: the jobs and
// bindings need a Qt application object.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
