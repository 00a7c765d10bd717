// The recovering save under libFuzzer: a fixture store damaged as the input says, then saved
// whole with every page of the file read for its records and long values.
#include "fuzz_main.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return fuzz::StartStoreHarness<fuzz::RecoveryTarget>();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::RunStoreHarness(data, size);
}
