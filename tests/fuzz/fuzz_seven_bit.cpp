// The 7-bit text decompression under libFuzzer.
#include "fuzz_main.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::Verdict(fuzz::CheckSevenBitText(fuzz::Input(data, size)));
}
