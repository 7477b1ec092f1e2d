// Decoding a 5-minute 44.1 kHz 192 kbit/s MP3 file to PCM: the frame scan and
// every block's conversion. The goal is at least 100 times real time on one core.
// Refusing a 4 GiB file of zeros named ".mp3": the scan gives up 1 MiB in, so
// the goal is 50 ms whatever the file's size.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gui/jobs/acm_stream.h"

namespace {

namespace fs = std::filesystem;

constexpr double kSeconds = 300.0;

// Made once per run with sox and lame in a temporary folder.
class Fixture {
 public:
  Fixture() {
    std::string tmpl = (fs::temp_directory_path() / "sorvel-mp3-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) return;
    dir_ = tmpl;
    const fs::path wav = dir_ / "source.wav";
    mp3_ = dir_ / "five-minutes.mp3";
    const std::string make = "sox -D -n -r 44100 -c 2 -b 16 '" + wav.string() + "' synth " + std::to_string(kSeconds) +
                             " sine 200-2000 pinknoise vol 0.3 >/dev/null 2>&1 && lame --quiet -b 192 '" +
                             wav.string() + "' '" + mp3_.string() + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) mp3_.clear();
    std::error_code ec;
    fs::remove(wav, ec);
  }
  ~Fixture() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  const fs::path& mp3() const { return mp3_; }

 private:
  fs::path dir_;
  fs::path mp3_;
};

void BM_DecodeMp3FiveMinutes(benchmark::State& state) {
  static Fixture fixture;
  if (fixture.mp3().empty()) {
    state.SkipWithError("sox or lame could not make the MP3 file");
    return;
  }
  const QString path = QString::fromStdString(fixture.mp3().string());
  int64_t pcm_bytes = 0;
  for (auto _ : state) {
    sorvel::jobs::ACMStream stream;
    if (!stream.OpenFile(path, 44100, 16, true)) {
      state.SkipWithError("the MP3 file did not open");
      return;
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(stream.FrameSize()));
    pcm_bytes = 0;
    for (int32_t n; (n = stream.ReadFrame(buffer.data())) >= 0;) pcm_bytes += n;
    benchmark::DoNotOptimize(buffer.data());
    stream.CloseFile();
  }
  // Seconds of audio decoded per second of wall time: the real-time factor.
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["pcm_seconds"] = static_cast<double>(pcm_bytes) / 176400.0;
}
BENCHMARK(BM_DecodeMp3FiveMinutes)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_RefuseFourGibibytesOfZeros(benchmark::State& state) {
  std::string tmpl = (fs::temp_directory_path() / "sorvel-mp3-bench-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const fs::path file = fs::path(tmpl) / "not-audio.mp3";
  std::error_code ec;
  { std::ofstream(file.string()); }
  fs::resize_file(file, uint64_t{4} << 30, ec);  // sparse: costs no disk
  const QString path = QString::fromStdString(file.string());
  for (auto _ : state) {
    sorvel::jobs::ACMStream stream;
    if (stream.OpenFile(path, 44100, 16, true)) state.SkipWithError("zeros opened as an MP3 file");
  }
  fs::remove_all(tmpl, ec);
}
BENCHMARK(BM_RefuseFourGibibytesOfZeros)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
