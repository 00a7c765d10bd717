// The whole store under libFuzzer: a fixture store damaged as the input says, then scanned,
// listed and read in full.
#include "fuzz_main.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return fuzz::StartStoreHarness<fuzz::StoreTarget>();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::RunStoreHarness(data, size);
}
