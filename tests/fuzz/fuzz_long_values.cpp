// The store layer's long-value tree reader under libFuzzer: a fixture store damaged as the
// input says (with right checksums), every long value read from it by key.
#include "fuzz_main.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return fuzz::StartStoreHarness<fuzz::LongValueTarget>();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::RunStoreHarness(data, size);
}
