#include "tools/edbforge/compressed_rtf.h"

#include <gtest/gtest.h>

#include <string>

#include "rtf_decoder.h"

namespace edbforge {
namespace {

using testing::bitwiseCrc;
using testing::decodeRtf;

void expectRoundTrip(const std::string& rtf) {
    std::vector<std::uint8_t> c = compressRtf(rtf);
    auto d = decodeRtf(c);
    EXPECT_EQ(d.compressedSize, c.size() - 4);
    EXPECT_EQ(d.rawSize, rtf.size());
    EXPECT_EQ(d.type, 0x75465a4cU) << "type must be LZFu";
    EXPECT_EQ(d.crc, bitwiseCrc(c.data() + 16, c.size() - 16));
    EXPECT_TRUE(d.sawEnd) << "stream must end with a reference to the write position";
    EXPECT_EQ(d.text, rtf);
}

TEST(edbforgeCompressedRtf, DecompressesToTheInputWithHeaderAndCrcRight) {
    expectRoundTrip("{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n");
    expectRoundTrip("");
    expectRoundTrip("x");
    expectRoundTrip(std::string(5000, 'a'));  // references that overlap their own output
    expectRoundTrip("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 Gr\\'fc\\'dfe\\par}");
}

TEST(edbforgeCompressedRtf, LongVariedTextWrapsTheDictionary) {
    std::string rtf = "{\\rtf1\\ansi\\deff0 ";
    for (int i = 0; rtf.size() < 120000; ++i) {
        rtf += "Line " + std::to_string(i * 7919 % 1000) + " of the report\\par ";
        rtf.push_back(static_cast<char>('A' + i % 26));
        rtf.push_back(static_cast<char>(0x80 + i % 128));
    }
    rtf += "}";
    expectRoundTrip(rtf);
    EXPECT_LT(compressRtf(rtf).size(), rtf.size()) << "repetitive text should shrink";
}

TEST(edbforgeCompressedRtf, UsesTheInitialDictionary) {
    // The opening of almost every RTF body is in the initial dictionary, so it compresses to
    // references: far fewer bytes than literals would need.
    std::string rtf = "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}";
    auto c = compressRtf(rtf);
    EXPECT_LT(c.size() - 16, rtf.size() / 2);
    EXPECT_EQ(decodeRtf(c).text, rtf);
}

TEST(edbforgeCompressedRtf, CrcMatchesABitwiseComputation) {
    std::string s = "The quick brown fox jumps over the lazy dog";
    auto p = reinterpret_cast<const std::uint8_t*>(s.data());
    EXPECT_EQ(rtfCrc32(p, s.size()), bitwiseCrc(p, s.size()));
    EXPECT_EQ(rtfCrc32(p, 0), 0U);
}

}  // namespace
}  // namespace edbforge
