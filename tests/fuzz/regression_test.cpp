// Inputs that the fuzzing harnesses found troublesome, and the hand-made seeds, run through
// the harnesses' checks. Every file under regressions/<harness> once broke a check or
// crashed; the tests next to it say what the sound behaviour is.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "fuzz_targets.h"
#include "store/address.h"
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
    testing_support::TempDir longValueDir;
    testing_support::TempDir recoveryDir;
    const fuzz::StoreTarget store(dir.path());
    const fuzz::RecoveryTarget recovery(recoveryDir.path());
    const fuzz::LongValueTarget longValues(longValueDir.path());
    const std::map<std::string, std::function<std::string(fuzz::Input)>> harnesses = {
        {"compressed_rtf", fuzz::CheckCompressedRtf},
        {"rtf_text", fuzz::CheckRtfText},
        {"seven_bit", fuzz::CheckSevenBitText},
        {"address", fuzz::CheckAddresses},
        {"date_text", fuzz::CheckDateText},
        {"store", [&](fuzz::Input in) { return store.Check(in); }},
        {"long_values", [&](fuzz::Input in) { return longValues.Check(in); }},
        {"recovery", [&](fuzz::Input in) { return recovery.Check(in); }},
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

// The bytes of a binary column as the generic decoder renders them.
std::u16string HexOf(std::span<const std::uint8_t> bytes) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string hex;
    for (std::uint8_t b : bytes) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 0xF]);
    }
    return hex;
}

// A damaged sender value with a word of 60,000 letters before the name and address: the
// patterns took minutes over such a word (the harness's time limit caught it); now the name
// and address after it come out as from an undamaged value.
TEST(FuzzFindings, AnOverlongWordDoesNotHideTheAddressAfterIt) {
    const damaged::Bytes input =
        damaged::ReadFileBytes(fs::path(FUZZ_DIR) / "regressions/address/overlong-word");
    const std::u16string hex = HexOf(std::span(input).subspan(1));
    EXPECT_EQ(store::ResolveSenderAddress(hex), u"Bob Stone<bob.stone@contoso.com>");
    EXPECT_EQ(store::ResolveRecipientAddresses(hex), u"bob.stone@contoso.com,");
}

}  // namespace
