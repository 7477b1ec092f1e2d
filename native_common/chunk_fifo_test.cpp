#include "native_common/chunk_fifo.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

namespace sorvel {
namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

// Drains a copy of the FIFO (the FIFO itself is left alone) and compares it with the model.
void ExpectSame(const ChunkFifo& fifo, const std::deque<uint8_t>& model) {
  ASSERT_EQ(fifo.Size(), static_cast<int32_t>(model.size()));
  ChunkFifo copy(fifo);
  std::vector<uint8_t> out(model.size() + 1);
  ASSERT_EQ(copy.Read(out.data(), static_cast<int32_t>(out.size())), static_cast<int32_t>(model.size()));
  EXPECT_TRUE(std::equal(model.begin(), model.end(), out.begin()));
  EXPECT_EQ(fifo.Size(), static_cast<int32_t>(model.size()));
}

TEST(ChunkFifoTest, RandomOperationsMatchADeque) {
  std::mt19937 rng(20261208);
  ChunkFifo fifo, other;
  std::deque<uint8_t> model, other_model;
  auto len = [&](int max) { return static_cast<int32_t>(rng() % static_cast<unsigned>(max)); };
  for (int step = 0; step < 4000; ++step) {
    switch (rng() % 10) {
      case 0:
      case 1:
      case 2: {
        int32_t n = len(rng() % 4 == 0 ? 12000 : 300);
        std::vector<uint8_t> data = Bytes(static_cast<size_t>(n), static_cast<uint8_t>(step));
        ASSERT_EQ(fifo.Append(data.data(), n), n);
        model.insert(model.end(), data.begin(), data.end());
        break;
      }
      case 3:
      case 4: {
        bool peek = rng() % 3 == 0;
        int32_t n = len(9000);
        std::vector<uint8_t> out(static_cast<size_t>(n) + 1, 0xEE);
        int32_t got = fifo.Read(out.data(), n, peek);
        ASSERT_EQ(got, std::min<int32_t>(n, static_cast<int32_t>(model.size())));
        ASSERT_TRUE(std::equal(out.begin(), out.begin() + got, model.begin()));
        ASSERT_EQ(out[static_cast<size_t>(got)], 0xEE) << "wrote past the count";
        if (!peek) model.erase(model.begin(), model.begin() + got);
        break;
      }
      case 5: {
        int32_t n = len(300);
        std::vector<uint8_t> data = Bytes(static_cast<size_t>(n), static_cast<uint8_t>(step * 3));
        other.Append(data.data(), n);
        other_model.insert(other_model.end(), data.begin(), data.end());
        break;
      }
      case 6: {
        int32_t max = len(10000);
        int32_t got = fifo.AppendFrom(other, max);
        int32_t expected = std::min<int32_t>(max, static_cast<int32_t>(other_model.size()));
        ASSERT_EQ(got, expected);
        model.insert(model.end(), other_model.begin(), other_model.begin() + expected);
        break;
      }
      case 7:
        if (rng() % 2 == 0) {
          ChunkFifo copy(fifo);
          fifo = other;
          other = copy;
          std::swap(model, other_model);
        } else {
          other = fifo;
          other_model = model;
        }
        break;
      case 8:
        if (rng() % 8 == 0) {
          fifo.Clear();
          model.clear();
        }
        break;
      case 9:
        if (rng() % 4 == 0) {
          other.Clear();
          other_model.clear();
        }
        break;
    }
    ASSERT_EQ(fifo.Size(), static_cast<int32_t>(model.size())) << "step " << step;
    ASSERT_EQ(other.Size(), static_cast<int32_t>(other_model.size())) << "step " << step;
    if (step % 100 == 0) {
      ExpectSame(fifo, model);
      ExpectSame(other, other_model);
    }
  }
  ExpectSame(fifo, model);
  ExpectSame(other, other_model);
}

TEST(ChunkFifoTest, ChunksAreAddedAndFreed) {
  ChunkFifo fifo;
  EXPECT_EQ(fifo.ChunkCount(), 1);
  std::vector<uint8_t> data = Bytes(5000, 1);
  fifo.Append(data.data(), 5000);
  EXPECT_EQ(fifo.ChunkCount(), 2);
  std::vector<uint8_t> out(4096);
  EXPECT_EQ(fifo.Read(out.data(), 4096, true), 4096);
  EXPECT_EQ(fifo.ChunkCount(), 2);
  EXPECT_EQ(fifo.Read(out.data(), 4096), 4096);
  EXPECT_EQ(fifo.ChunkCount(), 1);
  EXPECT_EQ(fifo.Size(), 904);
  EXPECT_EQ(fifo.Read(out.data(), 4096), 904);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 904, data.begin() + 4096));
  EXPECT_EQ(fifo.ChunkCount(), 1);
  EXPECT_EQ(fifo.Size(), 0);
  fifo.Append(data.data(), 5000);
  fifo.Clear();
  EXPECT_EQ(fifo.ChunkCount(), 1);
  EXPECT_EQ(fifo.Size(), 0);
}

TEST(ChunkFifoTest, BadArgumentsDoNothing) {
  ChunkFifo fifo;
  uint8_t b[4] = {1, 2, 3, 4};
  EXPECT_EQ(fifo.Append(b, 0), 0);
  EXPECT_EQ(fifo.Append(b, -1), 0);
  EXPECT_EQ(fifo.Append(nullptr, 4), 0);
  fifo.Append(b, 4);
  EXPECT_EQ(fifo.Read(b, 0), 0);
  EXPECT_EQ(fifo.Read(b, -3), 0);
  EXPECT_EQ(fifo.Read(nullptr, 4), 0);
  EXPECT_EQ(fifo.AppendFrom(fifo, -1), 0);
  EXPECT_EQ(fifo.Size(), 4);
}

TEST(ChunkFifoTest, SelfAssignmentAndSelfAppendKeepTheData) {
  ChunkFifo fifo;
  std::vector<uint8_t> data = Bytes(6000, 9);
  fifo.Append(data.data(), 6000);
  ChunkFifo& alias = fifo;
  fifo = alias;
  EXPECT_EQ(fifo.Size(), 6000);
  EXPECT_EQ(fifo.AppendFrom(fifo, 5000), 5000);
  std::deque<uint8_t> model(data.begin(), data.end());
  model.insert(model.end(), data.begin(), data.begin() + 5000);
  ExpectSame(fifo, model);
}

}  // namespace
}  // namespace sorvel
