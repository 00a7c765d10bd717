// The compressed RTF decoder under libFuzzer.
#include "fuzz_main.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::Verdict(fuzz::CheckCompressedRtf(fuzz::Input(data, size)));
}
