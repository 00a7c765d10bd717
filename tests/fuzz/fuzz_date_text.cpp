// The export's date-text parser under libFuzzer.
#include "fuzz_main.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::Verdict(fuzz::CheckDateText(fuzz::Input(data, size)));
}
