// Fuzz target: WaveReader over an arbitrary file. An open reader hands out
// exactly DataBytes() bytes, never more than the file holds, in reads of at
// most the size asked for, and then reports the end.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mastering_engine/wave_reader.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("wave", MFD_CLOEXEC);
  if (fd < 0) return 0;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  sorvel::WaveReader reader;
  if (reader.Open("/proc/self/fd/" + std::to_string(fd))) {
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
  close(fd);
  return 0;
}
