// Round trips of QRNTP calls over loopback: a small request with a 61 KiB
// answer, as a remote drive read of 26 CD sectors gets. Goal: at least 1,000
// calls a second.
#include <benchmark/benchmark.h>

#include <vector>

#include "native_common/qrntp_client.h"
#include "native_common/qrntp_server.h"

namespace sorvel {
namespace {

class BigAnswerHandler : public QRNTPRequestHandler {
 public:
  bool HandleRawRequest(const std::string&, uint32_t, const std::vector<uint8_t>&, std::vector<uint8_t>* output,
                        bool*) override {
    output->assign(61 * 1024, 0x5A);
    return true;
  }
};

class BenchEvents : public QRNTPServerEvents {
 public:
  void OnLog(const QRNTPLogEntry&) override {}
  std::unique_ptr<QRNTPRequestHandler> CreateHandler() override { return std::make_unique<BigAnswerHandler>(); }
};

class QuietLog : public QRNTPLogSink {
 public:
  void OnLog(const QRNTPLogEntry&) override {}
};

void BM_CallWith61KiBAnswer(benchmark::State& state) {
  BenchEvents events;
  QuietLog log;
  QRNTPServer server("REMOTESCSI", &events);
  if (!server.Start(0)) {
    state.SkipWithError("cannot listen on loopback");
    return;
  }
  QRNTPClient client("REMOTESCSI", nullptr, &log);
  if (!client.Connect("127.0.0.1", server.port())) {
    state.SkipWithError("cannot connect");
    return;
  }
  const std::vector<uint8_t> request(48, 0);
  std::vector<uint8_t> response;
  for (auto _ : state) {
    if (!client.CallFunction("ExecCommand", 1, request, &response)) {
      state.SkipWithError("call failed");
      break;
    }
    benchmark::DoNotOptimize(response.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(response.size()));
}
BENCHMARK(BM_CallWith61KiBAnswer)->UseRealTime();

}  // namespace
}  // namespace sorvel
