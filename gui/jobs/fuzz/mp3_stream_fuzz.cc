// Fuzz target: an arbitrary file opened and decoded as MP3. The scan and the
// decoder must stay inside their buffers, never produce more than FrameSize a
// block, and reach the end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gui/jobs/acm_stream.h"
#include "testing/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const sorvel::fuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  const QString path = QString::fromStdString(file.path());
  sorvel::jobs::ACMStream stream;
  if (stream.OpenFile(path, 44100, 16, true)) {
    if (stream.FrameCount() <= 0 || stream.FrameSize() <= 0) __builtin_trap();
    std::vector<uint8_t> buffer(static_cast<size_t>(stream.FrameSize()));
    // Every block consumes input, so the blocks end; the bound only guards a fault.
    for (size_t blocks = 0; blocks <= size + 16; ++blocks) {
      const int32_t n = stream.ReadFrame(buffer.data());
      if (n < 0) break;
      if (n > stream.FrameSize() || n % 4 != 0) __builtin_trap();
    }
    stream.CloseFile();
  }
  return 0;
}
