// The text routines that the decoders share.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "store/values.h"

namespace {

// Packs characters the way ESE compresses large text: 7 bits each, least significant first,
// after one header byte.
std::vector<std::uint8_t> PackSevenBit(std::uint8_t header, const std::string& text) {
    std::vector<std::uint8_t> packed = {header};
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        bits |= static_cast<std::uint32_t>(c & 0x7F) << count;
        count += 7;
        while (count >= 8) {
            packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count > 0) {
        packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    }
    return packed;
}

TEST(SevenBitText, EightCharactersInSevenBytes) {
    const auto packed = PackSevenBit(0x10, "Exchange");
    ASSERT_EQ(packed.size(), 8u);
    EXPECT_EQ(store::DecompressSevenBitText(packed), std::string("\x10") + "Exchange");
}

TEST(SevenBitText, LongerTextsAndPartialGroups) {
    const std::string text = "The quick brown fox jumps over the lazy dog, 0123456789!";
    for (std::size_t length = 1; length <= text.size(); ++length) {
        const std::string part = text.substr(0, length);
        const auto packed = PackSevenBit(0x0b, part);
        const std::string unpacked = store::DecompressSevenBitText(packed);
        // Padding bits may add one character when the bits leave room for it.
        ASSERT_GE(unpacked.size(), part.size() + 1) << length;
        EXPECT_EQ(unpacked.substr(1, part.size()), part) << length;
        EXPECT_EQ(unpacked.size(), 1 + (packed.size() * 8 - 8) / 7) << length;
    }
}

TEST(SevenBitText, DegenerateInputs) {
    EXPECT_EQ(store::DecompressSevenBitText({}), "");
    const std::vector<std::uint8_t> header = {0x10};
    EXPECT_EQ(store::DecompressSevenBitText(header), "\x10");
}

TEST(CleanText, DropsControlCharactersAndBackslashes) {
    EXPECT_EQ(store::CleanText(u"a\tb\\c"), u"abc");
    EXPECT_EQ(store::CleanText(std::u16string(u"x\0y\r\nz", 6)), u"xyz");
    EXPECT_EQ(store::CleanText(u"caf\u00E9 \U0001F98A"), u"caf\u00E9 \U0001F98A");
}

TEST(CleanText, AnsiVariantKeepsOnlyBytesOneTo125) {
    EXPECT_EQ(store::CleanAnsiText(std::string("a\0b~}\x7f\x80\xe9z", 9)), u"ab}z");
}

TEST(CleanText, WrittenTextKeepsLineFeedsAndCharacters) {
    std::ostringstream out;
    store::WriteCleanText(out, u"line 1\r\nline\t2\\ caf\u00E9");
    EXPECT_EQ(out.str(), "line 1\nline2 caf\xC3\xA9");
}

TEST(HexText, LowerCasePairsOrTheDefault) {
    const std::vector<std::uint8_t> bytes = {0x00, 0x0f, 0xab, 0xff};
    EXPECT_EQ(store::BytesToHexText(std::nullopt, bytes), u"000fabff");
    EXPECT_EQ(store::BytesToHexText(u"none", {}), u"none");
    EXPECT_EQ(store::BytesToHexText(std::nullopt, {}), std::nullopt);
}

}  // namespace
