#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <random>

#include "native_common/ecc_encoder.h"

namespace {

// Mode 1 encoding of 2,048 user bytes into a 2,352-byte sector.
void BM_EncodeMode1(benchmark::State& state) {
  sorvel::EccEncoder encoder;
  std::array<uint8_t, 2048> user{};
  std::mt19937 rng(1);
  for (auto& b : user) b = static_cast<uint8_t>(rng());
  std::array<uint8_t, sorvel::EccEncoder::kSectorSize> sector{};
  int32_t lba = 0;
  for (auto _ : state) {
    std::memcpy(sector.data() + 16, user.data(), user.size());
    encoder.EncodeMode1(sector.data(), lba++);
    benchmark::DoNotOptimize(sector.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(user.size()));
}
BENCHMARK(BM_EncodeMode1);

void BM_EncodeMode2Form1(benchmark::State& state) {
  sorvel::EccEncoder encoder;
  std::array<uint8_t, sorvel::EccEncoder::kSectorSize> sector{};
  int32_t lba = 0;
  for (auto _ : state) {
    encoder.EncodeMode2(sector.data(), lba++);
    benchmark::DoNotOptimize(sector.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeMode2Form1);

}  // namespace
