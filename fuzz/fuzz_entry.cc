// The libFuzzer entry of one target; the build names the self-checking
// entry it drives in ZV_FUZZ_ENTRY.
#include <cstddef>
#include <cstdint>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return zv::ZV_FUZZ_ENTRY(data, size);
}
