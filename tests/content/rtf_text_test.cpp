#include "content/rtf_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "content/compressed_rtf.h"
#include "support/temp_dir.h"

namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
using content::RtfResult;
using content::RtfToText;

std::u16string Text(std::string_view rtf) {
    return RtfToText(rtf).text;
}

TEST(RtfToText, KeepsBodyTextAndDropsDestinations) {
    const auto r = RtfToText("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}Hello\\par World}"sv);
    EXPECT_EQ(r.text, u"Hello\nWorld");
    EXPECT_EQ(r.result, RtfResult::kOk);

    EXPECT_EQ(Text("{\\rtf1{\\colortbl;\\red255;}{\\info{\\author X}}{\\*\\generator Y;}Body}"),
              u"Body");
    EXPECT_EQ(Text("{\\*\\unknownword text}"), u"");
    EXPECT_EQ(Text("{\\*\\b text}"), u"text");
    EXPECT_EQ(Text("{a\\tab b\\ldblquote c\\rdblquote \\{\\}\\\\}"), u"a\tb\"c\"{}\\");
    // A control word's delimiting space is part of it; a second space is text.
    EXPECT_EQ(Text("{\\b  bold}"), u" bold");
    // A backslash before a line break is a paragraph mark; a bare line break is nothing.
    EXPECT_EQ(Text("{a\\\nb\\\rc\r\nd}"), u"a\nb\ncd");
    EXPECT_EQ(Text("{\\li-720 indented}"), u"indented");
}

TEST(RtfToText, ReadsHexEscapesAsWindows1252) {
    EXPECT_EQ(Text("caf\\'e9"), u"caf\u00e9");
    EXPECT_EQ(Text("\\'80 \\'C4"), u"\u20ac \u00c4");
    EXPECT_EQ(Text("a\\'00b"), u"ab");
    // In a skipped destination the escape is skipped text, whatever follows it.
    EXPECT_EQ(RtfToText("{\\fonttbl\\'zz}ok"sv).result, RtfResult::kOk);
}

TEST(RtfToText, ReadsUnicodeEscapesAndSkipsTheirFallback) {
    EXPECT_EQ(Text("\\u8364?"), u"\u20ac");
    EXPECT_EQ(Text("price \\u8364? 5"), u"price \u20ac 5");
    EXPECT_EQ(Text("\\uc2\\u8364??x"), u"\u20acx");
    EXPECT_EQ(Text("\\uc0\\u8364 x"), u"\u20acx");
    // Negative values count from 65536; a surrogate pair makes one character.
    EXPECT_EQ(Text("\\u-10179?\\u-8704?"), u"\U0001F600");
    EXPECT_EQ(Text("\\u-3913?"), u"\uf0b7");
    // A hex escape or a control word in the fallback counts as one character.
    EXPECT_EQ(Text("\\u8364\\'80x"), u"\u20acx");
    EXPECT_EQ(Text("\\uc2\\u8364\\'80\\'80x"), u"\u20acx");
    EXPECT_EQ(Text("\\u8364\\par x"), u"\u20acx");
    // A group boundary ends the fallback.
    EXPECT_EQ(Text("{\\uc3\\u8364 a}b"), u"\u20acb");
    EXPECT_EQ(Text("\\u8364{x}"), u"\u20acx");
    // Nothing shows in a skipped destination.
    EXPECT_EQ(Text("{\\*\\foo \\u8364?}x"), u"x");
    EXPECT_EQ(Text("{\\fonttbl \\u8364?}x"), u"x");
}

TEST(RtfToText, ScopesTheFallbackSizeToGroups) {
    EXPECT_EQ(Text("{\\uc2{\\uc0\\u8364 a}\\u8364??b}\\u8364?c"), u"\u20aca\u20acb\u20acc");
    // Set in an inner group, gone after it.
    EXPECT_EQ(Text("{{\\uc3}\\u8364?x}"), u"\u20acx");
}

TEST(RtfToText, KeepsLongBodiesWhole) {
    std::string rtf = "{\\rtf1 ";
    std::u16string expected;
    for (int i = 0; i < 80000; ++i) {
        const char c = static_cast<char>('a' + i % 26);
        rtf.push_back(c);
        expected.push_back(static_cast<char16_t>(c));
        if (i % 1000 == 999) {
            rtf += "\\par ";
            expected.push_back(u'\n');
        }
    }
    rtf += "}";
    const auto r = RtfToText(std::string_view(rtf));
    EXPECT_EQ(r.result, RtfResult::kOk);
    EXPECT_EQ(r.text.size(), expected.size());
    EXPECT_EQ(r.text, expected);
}

TEST(RtfToText, ReadsBinaryDataByItsCount) {
    EXPECT_EQ(Text("\\bin3 abc"), u"abc");
    // Braces and backslashes inside binary data are data.
    EXPECT_EQ(Text("{\\bin3 {\\}x}"), u"{\\}x");
    // Zero bytes are not shown but are part of the count, so the picture's group still ends
    // where it should and the text after it is kept.
    EXPECT_EQ(Text("{\\rtf1{\\pict\\bin4 \x00\x01\x00\x02}Hello}"s), u"Hello");
    EXPECT_EQ(Text("{\\bin4 a\x00\x00"
                   "b}c"s),
              u"abc");
}

TEST(RtfToText, StopsAtDamageAndKeepsTheTextBeforeIt) {
    auto r = RtfToText("{\\rtf1 Hello} there} lost"sv);
    EXPECT_EQ(r.text, u"Hello there");
    EXPECT_EQ(r.result, RtfResult::kGroupUnderflow);

    r = RtfToText("}}}"sv);
    EXPECT_EQ(r.text, u"");
    EXPECT_EQ(r.result, RtfResult::kGroupUnderflow);

    r = RtfToText("{\\rtf1 Hello{\\b World"sv);
    EXPECT_EQ(r.text, u"HelloWorld");
    EXPECT_EQ(r.result, RtfResult::kUnclosedGroup);

    r = RtfToText("{\\rtf1 Hello\\"sv);
    EXPECT_EQ(r.text, u"Hello");
    EXPECT_EQ(r.result, RtfResult::kEndInsideControlWord);

    r = RtfToText("{\\rtf1 Hello\\li-"sv);
    EXPECT_EQ(r.text, u"Hello");
    EXPECT_EQ(r.result, RtfResult::kEndInsideControlWord);

    r = RtfToText("{\\rtf1 Hello\\'4"sv);
    EXPECT_EQ(r.text, u"Hello");
    EXPECT_EQ(r.result, RtfResult::kEndInsideControlWord);

    r = RtfToText("{\\rtf1 Hello\\'4g more}"sv);
    EXPECT_EQ(r.text, u"Hello");
    EXPECT_EQ(r.result, RtfResult::kBadHexDigit);

    // A control word at the very end is complete.
    r = RtfToText("Hello\\par"sv);
    EXPECT_EQ(r.text, u"Hello\n");
    EXPECT_EQ(r.result, RtfResult::kOk);
}

TEST(RtfToText, SurvivesHostileInput) {
    // Very deep nesting.
    std::string deep(200000, '{');
    deep += "x";
    auto r = RtfToText(std::string_view(deep));
    EXPECT_EQ(r.text, u"x");
    EXPECT_EQ(r.result, RtfResult::kUnclosedGroup);

    // Overlong control words and parameters are read whole and do not match anything.
    const std::string long_word = "\\" + std::string(5000, 'b') + " a\\b" + std::string(5000, '9') +
                                  " b\\u" + std::string(60, '9') + " c\\uc" + std::string(60, '9') +
                                  " \\u65?d";
    r = RtfToText(std::string_view(long_word));
    EXPECT_EQ(r.result, RtfResult::kOk);
    EXPECT_EQ(r.text.substr(0, 2), u"ab");
    EXPECT_EQ(r.text.back(), u'A');  // "d" and everything after "\uc999..." is fallback

    // A huge binary count just consumes the rest.
    EXPECT_EQ(Text("\\bin99999999999999999999 xy"), u"xy");

    // Random bytes from the RTF alphabet: never a crash, never more text than input.
    const std::string alphabet = "{}\\'*uc0123456789-abinpr \r\n\x00\xe9?"s;
    std::mt19937 rng(4242);
    for (int round = 0; round < 3000; ++round) {
        std::string input(rng() % 200, ' ');
        for (char& c : input) {
            c = alphabet[rng() % alphabet.size()];
        }
        r = RtfToText(std::string_view(input));
        EXPECT_LE(r.text.size(), input.size());
    }
}

TEST(RtfToText, ReadsTheDecompressedExampleBody) {
    // "{\rtf1\ansi\ansicpg1252\pard hello world}\r\n" as compressed in MS-OXRTFCP.
    const std::vector<std::uint8_t> stream = {
        0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75, 0xf1,
        0xc5, 0xc7, 0xa7, 0x03, 0x00, 0x0a, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31, 0x32,
        0x35, 0x42, 0x32, 0x0a, 0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09, 0x00, 0x20, 0x62,
        0x77, 0x05, 0xb0, 0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f, 0xa0};
    const auto rtf = content::DecompressRtf(stream);
    ASSERT_TRUE(rtf.has_value());
    const auto r = RtfToText(std::span<const std::uint8_t>(*rtf));
    EXPECT_EQ(r.text, u"hello world");
    EXPECT_EQ(r.result, RtfResult::kOk);
}

TEST(RtfToText, ReadsAFile) {
    const testing_support::TempDir dir;
    const auto file = dir / "body.rtf";
    {
        std::ofstream out(file, std::ios::binary);
        out << "{\\rtf1 caf\\'e9\\par \\u8364?}";
    }
    const auto r = RtfToText(file);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->text, u"caf\u00e9\n\u20ac");
    EXPECT_EQ(r->result, RtfResult::kOk);

    EXPECT_FALSE(RtfToText(dir / "missing.rtf").has_value());
}

}  // namespace
