#include "content/compressed_rtf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;

std::string AsText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

void PutLe32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void AppendLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// Header + data, with the compressed size counting the data and 12 header bytes.
Bytes Stream(const Bytes& data, std::uint32_t raw_size, std::uint32_t type = 0x75465A4C) {
    Bytes out;
    out.reserve(16 + data.size());
    AppendLe32(out, static_cast<std::uint32_t>(data.size() + 12));
    AppendLe32(out, raw_size);
    AppendLe32(out, type);
    AppendLe32(out, 0);
    for (std::uint8_t b : data) {
        out.push_back(b);
    }
    return out;
}

// Writes tokens the way a compressor lays them out: a control byte, then up to eight tokens
// whose kinds it flags. It tracks the write position so that End() can address it.
class TokenWriter {
  public:
    TokenWriter& Literal(std::uint8_t b) {
        Slot(false);
        data_.push_back(b);
        Advance(1);
        return *this;
    }
    TokenWriter& Literals(std::string_view s) {
        for (char c : s) {
            Literal(static_cast<std::uint8_t>(c));
        }
        return *this;
    }
    TokenWriter& Reference(unsigned offset, unsigned length) {
        Slot(true);
        const unsigned word = offset << 4 | (length - 2);
        data_.push_back(static_cast<std::uint8_t>(word >> 8));
        data_.push_back(static_cast<std::uint8_t>(word & 0xFF));
        Advance(length);
        return *this;
    }
    TokenWriter& End() {
        Slot(true);
        const unsigned word = write_pos_ << 4;
        data_.push_back(static_cast<std::uint8_t>(word >> 8));
        data_.push_back(static_cast<std::uint8_t>(word & 0xFF));
        return *this;
    }
    unsigned write_pos() const { return write_pos_; }
    const Bytes& data() const { return data_; }

  private:
    void Slot(bool reference) {
        if (bit_ == 8) {
            control_at_ = data_.size();
            data_.push_back(0);
            bit_ = 0;
        }
        if (reference) {
            data_[control_at_] = static_cast<std::uint8_t>(data_[control_at_] | (1u << bit_));
        }
        ++bit_;
    }
    void Advance(unsigned n) { write_pos_ = (write_pos_ + n) % 4096; }

    Bytes data_;
    std::size_t control_at_ = 0;
    int bit_ = 8;
    unsigned write_pos_ = 207;
};

// The two worked examples of MS-OXRTFCP, byte for byte.
const Bytes kHelloWorldStream = {0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a,
                                 0x46, 0x75, 0xf1, 0xc5, 0xc7, 0xa7, 0x03, 0x00, 0x0a, 0x00,
                                 0x72, 0x63, 0x70, 0x67, 0x31, 0x32, 0x35, 0x42, 0x32, 0x0a,
                                 0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09, 0x00, 0x20, 0x62, 0x77,
                                 0x05, 0xb0, 0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f, 0xa0};
const std::string kHelloWorldRtf = "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n";

const Bytes kRepeatStream = {0x1a, 0x00, 0x00, 0x00, 0x1c, 0x00, 0x00, 0x00, 0x4c, 0x5a,
                             0x46, 0x75, 0xe2, 0xd4, 0x4b, 0x51, 0x41, 0x00, 0x04, 0x20,
                             0x57, 0x58, 0x59, 0x5a, 0x0d, 0x6e, 0x7d, 0x01, 0x0e, 0xb0};
const std::string kRepeatRtf = "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}";

TEST(DecompressRtf, DecodesTheWorkedExamples) {
    auto out = content::DecompressRtf(kHelloWorldStream);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), kHelloWorldRtf);

    // A reference that overlaps the write position repeats "WXYZ".
    out = content::DecompressRtf(kRepeatStream);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), kRepeatRtf);
}

TEST(DecompressRtf, IgnoresAWrongCrc) {
    Bytes stream = kHelloWorldStream;
    PutLe32(stream, 12, 0xDEADBEEF);
    const auto out = content::DecompressRtf(stream);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), kHelloWorldRtf);
}

TEST(DecompressRtf, ReferencesIntoTheInitialDictionaryAndBehindTheWritePosition) {
    TokenWriter first;
    first.Reference(0, 5).End();
    auto out = content::DecompressRtf(Stream(first.data(), 5));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), "{\\rtf");

    // Length 17, offset one below the write position: the byte just written, 17 times.
    TokenWriter run;
    run.Literal('A').Reference(207, 17).End();
    out = content::DecompressRtf(Stream(run.data(), 18));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), std::string(18, 'A'));
}

TEST(DecompressRtf, DecodesToTheEndReferenceIncludingTheLastBytes) {
    // 19 literals in three runs, the end reference in the third: every literal is kept.
    TokenWriter w;
    w.Literals("{\\rtf1 hello world}").End();
    ASSERT_EQ(w.data().size(), 24u);
    auto out = content::DecompressRtf(Stream(w.data(), 19));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), "{\\rtf1 hello world}");

    // A raw size larger than the content: the end reference still ends it, and padding after
    // it is not read as tokens.
    Bytes padded = w.data();
    padded.insert(padded.end(), {0x00, 'x', 'y', 'z'});
    out = content::DecompressRtf(Stream(padded, 1000));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), "{\\rtf1 hello world}");
}

TEST(DecompressRtf, StopsAtTheRawSize) {
    TokenWriter w;
    w.Literals("{\\rtf1 hello world}").End();
    auto out = content::DecompressRtf(Stream(w.data(), 10));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), "{\\rtf1 hel");

    // In the middle of a reference, too.
    TokenWriter run;
    run.Literal('A').Reference(207, 17).End();
    out = content::DecompressRtf(Stream(run.data(), 7));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), std::string(7, 'A'));

    out = content::DecompressRtf(Stream(run.data(), 0));
    ASSERT_TRUE(out.has_value());
    EXPECT_TRUE(out->empty());
}

TEST(DecompressRtf, FollowsTheDictionaryAroundItsEnd) {
    // 5000 literals take the write position past 4096 to 1111; a reference to 1100 then
    // copies the bytes written 11 and 10 positions earlier.
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        text.push_back(static_cast<char>('a' + (i * 7) % 26));
    }
    TokenWriter w;
    w.Literals(text);
    ASSERT_EQ(w.write_pos(), 1111u);
    w.Reference(1100, 2);
    // A reference across the end of the dictionary reads 4090..4095 from the first lap and
    // 0..3 from the second: the literals 3883 to 3892.
    w.Reference(4090, 10).End();
    const std::string expected = text + text.substr(5000 - 11, 2) + text.substr(3883, 10);

    const auto out = content::DecompressRtf(Stream(w.data(), 5012));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), expected);
}

TEST(DecompressRtf, CopiesAnUncompressedStreamAsIs) {
    // Bytes that would read as tokens in a compressed stream are plain data here.
    const std::string rtf = "\xff\x00\x01{\\rtf1 plain}"s;
    const Bytes data(rtf.begin(), rtf.end());
    const std::uint32_t mela = 0x414C454D;

    auto out = content::DecompressRtf(Stream(data, static_cast<std::uint32_t>(data.size()), mela));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*out, data);

    out = content::DecompressRtf(Stream(data, 4, mela));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*out, Bytes(data.begin(), data.begin() + 4));

    out = content::DecompressRtf(Stream(data, 0xFFFFFFFF, mela));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*out, data);
}

TEST(DecompressRtf, RejectsWhatCannotBeAStream) {
    EXPECT_FALSE(content::DecompressRtf(Bytes{}).has_value());
    EXPECT_FALSE(content::DecompressRtf(Bytes(15, 0)).has_value());

    Bytes too_long = kHelloWorldStream;
    PutLe32(too_long, 0, static_cast<std::uint32_t>(too_long.size() + 1));
    EXPECT_FALSE(content::DecompressRtf(too_long).has_value());
}

TEST(DecompressRtf, KeepsWhatATruncatedStreamHolds) {
    // Header only: no data, no text.
    auto out = content::DecompressRtf(Stream({}, 43));
    ASSERT_TRUE(out.has_value());
    EXPECT_TRUE(out->empty());

    // The example cut after "hel" (before the reference to "lo"), sizes left as they were
    // except the compressed size, which must fit the input.
    const Bytes data(kHelloWorldStream.begin() + 16, kHelloWorldStream.end());
    const Bytes cut(data.begin(), data.begin() + 19);
    out = content::DecompressRtf(Stream(cut, 43));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), "{\\rtf1\\ansi\\ansicpg1252\\pard hel");

    // Cut inside the two bytes of that reference: the half reference is not used.
    const Bytes half(data.begin(), data.begin() + 20);
    out = content::DecompressRtf(Stream(half, 43));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), "{\\rtf1\\ansi\\ansicpg1252\\pard hel");

    // A compressed size up to four bytes beyond the input is read as far as the input goes.
    Bytes short_by_two = kHelloWorldStream;
    short_by_two.resize(short_by_two.size() - 2);  // drops the end reference
    out = content::DecompressRtf(short_by_two);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(AsText(*out), kHelloWorldRtf);
}

TEST(DecompressRtf, BoundsTheOutputOfAHostileHeader) {
    // A raw size of 4 GiB and references that never end: the output is what the data makes.
    TokenWriter w;
    for (int i = 0; i < 800; ++i) {
        w.Reference(0, 17);
    }
    auto out = content::DecompressRtf(Stream(w.data(), 0xFFFFFFFF));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->size(), 800u * 17u);

    // Random data after valid headers: no crash, no output beyond the raw size.
    std::mt19937 rng(12345);
    for (int round = 0; round < 2000; ++round) {
        Bytes data(rng() % 300);
        for (auto& b : data) {
            b = static_cast<std::uint8_t>(rng());
        }
        const std::uint32_t raw =
            round % 2 == 0 ? 0xFFFFFFFF : static_cast<std::uint32_t>(rng() % 500);
        const std::uint32_t type = round % 3 == 0 ? 0x414C454D : static_cast<std::uint32_t>(rng());
        out = content::DecompressRtf(Stream(data, raw, type));
        ASSERT_TRUE(out.has_value());
        EXPECT_LE(out->size(), raw);
        EXPECT_LE(out->size(), data.size() * 9);
    }
}

}  // namespace
