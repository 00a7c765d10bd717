// Inputs that the fuzzing harnesses found troublesome, and the hand-made seeds, run through
// the harnesses' checks. Every file under regressions/<harness> once broke a check or
// crashed; the tests next to it say what the sound behaviour is.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "fuzz_targets.h"
#include "store_damage.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const std::string& harness) {
    std::vector<fs::path> files;
    for (const char* kind : {"seeds", "regressions"}) {
        const fs::path dir = fs::path(FUZZ_DIR) / kind / harness;
        if (!fs::is_directory(dir)) {
            continue;
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzInputs, CheckedInInputsPassEveryCheck) {
    testing_support::TempDir dir;
    const fuzz::StoreTarget store(dir.path());
    const std::map<std::string, std::function<std::string(fuzz::Input)>> harnesses = {
        {"compressed_rtf", fuzz::CheckCompressedRtf},
        {"rtf_text", fuzz::CheckRtfText},
        {"seven_bit", fuzz::CheckSevenBitText},
        {"address", fuzz::CheckAddresses},
        {"store", [&](fuzz::Input in) { return store.Check(in); }},
    };
    for (const auto& [harness, check] : harnesses) {
        const std::vector<fs::path> inputs = InputsOf(harness);
        EXPECT_FALSE(inputs.empty()) << "no checked-in inputs for " << harness;
        for (const fs::path& input : inputs) {
            const damaged::Bytes bytes = damaged::ReadFileBytes(input);
            EXPECT_EQ(check(bytes), "") << input;
        }
    }
}

}  // namespace
