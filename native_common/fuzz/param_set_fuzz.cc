// Fuzz target: ParamSet parsing of an arbitrary block. What it keeps must
// serialise and parse back to the same entries.
#include <cstddef>
#include <cstdint>

#include "native_common/param_set.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sorvel::ParamSet parsed;
  parsed.Deserialize(data, size);
  std::vector<uint8_t> block = parsed.Serialize();
  if (block.size() > size) __builtin_trap();  // never more than what was read
  sorvel::ParamSet again;
  again.Deserialize(block);
  if (again.size() != parsed.size() || again.Serialize() != block) __builtin_trap();
  return 0;
}
