#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "platform/codepage.h"
#include "platform/crt_random.h"
#include "platform/datetime.h"

namespace {

using platform::Cp1252ToUtf16;
using platform::FiletimeToText;
using platform::Utf16ToCp1252;

// FILETIME of a UTC calendar time, from the Unix time of it.
std::uint64_t Filetime(std::int64_t unixSeconds) {
    return static_cast<std::uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
}

TEST(Codepage, EveryWindows1252ByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    const std::u16string wide = Cp1252ToUtf16(all);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(Utf16ToCp1252(wide), all);
}

TEST(Codepage, MapsTheWindowsSpecificRangeToUnicode) {
    EXPECT_EQ(Cp1252ToUtf16("\x80"), u"\u20AC");
    EXPECT_EQ(Cp1252ToUtf16("\x93quoted\x94"), u"\u201Cquoted\u201D");
    EXPECT_EQ(Cp1252ToUtf16("caf\xE9"), u"caf\u00E9");
    EXPECT_EQ(Utf16ToCp1252(u"\u0160\u017E"), "\x8A\x9E");
    EXPECT_EQ(Utf16ToCp1252(u"\u4E2D"), "?");
}

TEST(Codepage, Utf8ConversionKeepsSurrogatePairsAndFlagsBadInput) {
    const std::u16string fox = u"fox \U0001F98A \u00E9";
    EXPECT_EQ(platform::Utf8ToUtf16(platform::Utf16ToUtf8(fox)), fox);
    EXPECT_EQ(platform::Utf16ToUtf8(u"\u20AC"), "\xE2\x82\xAC");
    EXPECT_TRUE(platform::IsValidUtf8("caf\xC3\xA9"));
    EXPECT_FALSE(platform::IsValidUtf8("caf\xE9"));
    EXPECT_FALSE(platform::IsValidUtf8("\xC0\x80"));  // overlong NUL
    EXPECT_EQ(platform::Utf8ToUtf16("a\xFF"), u"a\uFFFD");
}

TEST(DateText, FormatsCalendarTimesInUtc) {
    EXPECT_EQ(FiletimeToText(0), u"Jan 01, 1601 00:00:00");
    EXPECT_EQ(FiletimeToText(Filetime(1236262029)), u"Mar 05, 2009 14:07:09");
    EXPECT_EQ(FiletimeToText(Filetime(951782400)), u"Feb 29, 2000 00:00:00");
    EXPECT_EQ(FiletimeToText(Filetime(-1)), u"Dec 31, 1969 23:59:59");
    // Sub-second ticks are dropped, not rounded.
    EXPECT_EQ(FiletimeToText(Filetime(1236262029) + 9999999), u"Mar 05, 2009 14:07:09");
}

TEST(DateText, YearsFrom10000AreShownAsTheRawHalves) {
    // 9999-12-31 23:59:59 is the last date shown as a date.
    const std::uint64_t last = Filetime(253402300799LL);
    EXPECT_EQ(FiletimeToText(last), u"Dec 31, 9999 23:59:59");
    EXPECT_EQ(FiletimeToText(last + 10000000), u"(0x24c85a5e 0xd1c04000)");
    EXPECT_EQ(FiletimeToText(0xFFFFFFFFFFFFFFFFULL), u"(0xffffffff 0xffffffff)");
}

TEST(DateText, AutomationDatesConvertToFiletimes) {
    std::uint64_t ft = 0;
    ASSERT_TRUE(platform::OleDateToFiletime(36220.0, ft));  // 1999-03-01
    EXPECT_EQ(FiletimeToText(ft), u"Mar 01, 1999 00:00:00");
    ASSERT_TRUE(platform::OleDateToFiletime(-1.25, ft));  // one day back, six hours on
    EXPECT_EQ(FiletimeToText(ft), u"Dec 29, 1899 06:00:00");
    EXPECT_FALSE(platform::OleDateToFiletime(-200000.0, ft));  // before 1601
    EXPECT_FALSE(platform::OleDateToFiletime(0.0 / 0.0, ft));
}

TEST(GuidText, ReadsFieldsInTheGivenByteOrder) {
    const std::array<std::uint8_t, 16> bytes = {0xf1, 0x0a, 0x36, 0x3f, 0x66, 0x67, 0xdc, 0x46,
                                                0x9a, 0xf2, 0x0d, 0xac, 0xf2, 0x95, 0xc2, 0xa1};
    EXPECT_EQ(platform::GuidToText(bytes, true), u"3f360af1-6766-46dc-9af2-0dacf295c2a1");
    EXPECT_EQ(platform::GuidToText(bytes, false), u"f10a363f-6667-dc46-9af2-0dacf295c2a1");
}

TEST(CrtRandom, ProducesTheUnseededRuntimeSequence) {
    platform::CrtRandom random;
    const std::array<int, 5> expected = {41, 18467, 6334, 26500, 19169};
    for (int value : expected) {
        EXPECT_EQ(random.next(), value);
    }
    // Every value stays in the runtime's range.
    for (int i = 0; i < 100000; ++i) {
        const int v = random.next();
        ASSERT_GE(v, 0);
        ASSERT_LE(v, platform::CrtRandom::kMax);
    }
}

}  // namespace
