// What each fuzzing harness runs on one input, and the properties it checks on the way. The
// harnesses (fuzz_*.cpp, built with EDB2MSG_FUZZ) abort on a broken property; the regression
// tests run the checked-in inputs through the same functions and expect no complaint.
//
// Every Check* function returns the empty string when all went well, else what went wrong.
// Crashes, leaks and undefined behaviour are left to the sanitizers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
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

// The store layer's own reader of long-value trees (ese::detail::LongValueTrees), which parses
// pages of the file itself: a fixture store damaged as for StoreTarget, always with its
// checksums made right again (the reader leaves pages with wrong ones to libesedb), then every
// long value of the undamaged store asked for by its key. A value never holds more bytes than
// the file, and the reader's answers must come without crash, hang or undefined behaviour.
class LongValueTarget {
  public:
    explicit LongValueTarget(std::filesystem::path folder);
    ~LongValueTarget();
    std::string Check(Input input) const;

  private:
    struct Keys;
    std::filesystem::path folder_;
    std::vector<std::uint8_t> tiny_;
    std::vector<std::uint8_t> small_;
    std::unique_ptr<Keys> tinyKeys_;
    std::unique_ptr<Keys> smallKeys_;
};

// A recovering save (every page of the file read for each table's records and long values,
// the items no folder lists saved into "Recovered items") of a fixture store damaged as for
// StoreTarget: one file per item the save counts, nothing else in the destination, nothing
// outside it and the work folder, and every failing step said in words.
class RecoveryTarget {
  public:
    explicit RecoveryTarget(std::filesystem::path folder);
    std::string Check(Input input) const;

  private:
    std::filesystem::path folder_;
    std::vector<std::uint8_t> tiny_;
    std::vector<std::uint8_t> small_;
};

// msgexport::DateTextToAutomationDate on the input bytes taken one character each. A date it
// accepts lies within years 0 to 9999; from 1601 on it becomes a FILETIME whose date text reads
// back as the same date, and equals the input when the input is written in full widths.
std::string CheckDateText(Input input);

}  // namespace fuzz
