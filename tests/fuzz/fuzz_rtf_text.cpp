// The RTF reader under libFuzzer.
#include "fuzz_main.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::Verdict(fuzz::CheckRtfText(fuzz::Input(data, size)));
}
