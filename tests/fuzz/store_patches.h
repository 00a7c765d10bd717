// The whole-store harness's input: which fixture store to start from and the damage done to
// it, page by page.
//
//   byte 0      bit 0: the store (0 the tiny store, 1 the small store of tests/damaged);
//               bit 1: make the checksums of every patched page right again;
//               bit 2: cut the file short (the next two bytes, little-endian, say where:
//               size * value / 65536)
//   then patches, each at least 6 bytes, until the input ends:
//     kind (mod 4), file page (16 bits, mod the page count; 0 and 1 are the file headers),
//     offset in the page (16 bits, mod the page size), count n, then
//     kind 0: n bytes written at the offset
//     kind 1: n bytes XORed in at the offset
//     kind 2: 16 n zero bytes from the offset (to the end of the page at most)
//     kind 3: the whole page replaced by the page numbered by the offset field (mod the count)
//   Writes never go past the end of their page.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "store_damage.h"
#include "tools/edbforge/store_builder.h"

namespace fuzz {

// One mailbox: an Inbox of three mails (plain text with an attachment, HTML with recipients,
// compressed RTF) and fourteen short ones, over more than one page, a Contacts folder with one
// contact and a Calendar with one appointment.
edbforge::Scenario TinyStoreScenario();

struct Patch {
    enum Kind : std::uint8_t { kWrite = 0, kXor = 1, kZero = 2, kCopyPage = 3 };
    Kind kind = kWrite;
    std::uint16_t page = 0;
    std::uint16_t offset = 0;         // the source page for kCopyPage
    std::vector<std::uint8_t> bytes;  // kWrite, kXor; for kZero only its size counts (16 per)
};

struct StoreDamage {
    bool smallStore = false;
    bool repairChecksums = false;
    bool cut = false;
    std::uint16_t cutAt = 0;  // size * cutAt / 65536
    std::vector<Patch> patches;
};

StoreDamage ParseDamage(std::span<const std::uint8_t> input);
std::vector<std::uint8_t> EncodeDamage(const StoreDamage& damage);

// A copy of the store's bytes with the damage done.
damaged::Bytes ApplyDamage(const damaged::Bytes& store, const StoreDamage& damage);

}  // namespace fuzz
