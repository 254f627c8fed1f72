// The libFuzzer program of one entry: the build compiles this file once per
// target with TESS_FUZZ_ENTRY naming the entry function.

#include <cstddef>
#include <cstdint>

#include "fuzz_entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tess::fuzz::TESS_FUZZ_ENTRY(data, size);
}
