// Fuzz target: WaveReader over an arbitrary file. An open reader hands out
// exactly DataBytes() bytes, never more than the file holds, in reads of at
// most the size asked for, and then reports the end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mastering_engine/wave_reader.h"
#include "testing/fuzz_support.h"

using sorvel::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const sorvel::fuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  sorvel::WaveReader reader;
  if (reader.Open(file.path())) {
    Check(reader.DataBytes() <= size && reader.BytesLeft() == reader.DataBytes());
    // Odd read sizes, from the input's first byte.
    const size_t chunk = size > 0 ? 1 + data[0] % 61 * 37 : 1;
    std::vector<uint8_t> buffer(chunk);
    uint64_t total = 0;
    for (size_t reads = 0; reads <= size + 1; ++reads) {
      const int64_t n = reader.Read(buffer.data(), buffer.size());
      Check(n >= -1 && n <= static_cast<int64_t>(chunk));
      if (n <= 0) break;
      total += static_cast<uint64_t>(n);
    }
    Check(total == reader.DataBytes() && reader.BytesLeft() == 0);
  }
  return 0;
}
