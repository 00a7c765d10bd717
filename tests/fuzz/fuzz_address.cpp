// Hex-to-printable text and both address resolvers under libFuzzer.
#include "fuzz_main.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::Verdict(fuzz::CheckAddresses(fuzz::Input(data, size)));
}
