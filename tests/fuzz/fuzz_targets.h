// What each fuzzing harness runs on one input, and the properties it checks on the way. The
// harnesses (fuzz_*.cpp, built with EDB2MSG_FUZZ) abort on a broken property; the regression
// tests run the checked-in inputs through the same functions and expect no complaint.
//
// Every Check* function returns the empty string when all went well, else what went wrong.
// Crashes, leaks and undefined behaviour are left to the sanitizers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace fuzz {

using Input = std::span<const std::uint8_t>;

// content::DecompressRtf: nothing for an impossible header, never more than the raw size the
// header promises, an uncompressed ("MELA") stream copied as it stands.
std::string CheckCompressedRtf(Input input);

// content::RtfToText: the text never outgrows the input and the result is one of the codes.
std::string CheckRtfText(Input input);

// store::DecompressSevenBitText: 1 + (8n - 8) / 7 bytes out of n, 7-bit characters after the
// header byte.
std::string CheckSevenBitText(Input input);

// store::HexToPrintableText, store::ResolveSenderAddress and store::ResolveRecipientAddresses
// on one text. The first input byte chooses what the rest is: odd, the bytes of a binary column
// (rendered as hex digits, as the generic decoder does); even, the UTF-16 text itself (any
// characters, any length). Results hold printable characters only and do not grow without
// bound; recipients come as a comma-terminated list.
std::string CheckAddresses(Input input);

// The whole store: a fixture store, damaged as the input says (see store_patches.h), is
// scanned, every folder listed and every item read in full. Every failing step must say why,
// and nothing may be written outside the work folder.
class StoreTarget {
  public:
    // Writes the fixture stores into the folder, which must exist and stay the target's own.
    explicit StoreTarget(std::filesystem::path folder);
    std::string Check(Input input) const;

  private:
    std::filesystem::path folder_;
    std::vector<std::uint8_t> tiny_;
    std::vector<std::uint8_t> small_;
};

// The export's date-text parser gets its Check function and harness here when that code
// lands (see tests/fuzz/CMakeLists.txt).

}  // namespace fuzz
