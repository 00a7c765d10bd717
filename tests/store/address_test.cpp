// Sender and recipient addresses out of mixed binary columns.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "store/address.h"

namespace {

using store::ResolveRecipientAddresses;
using store::ResolveSenderAddress;

// The hex text the generic decoder makes of a binary value holding these bytes.
std::u16string Hex(const std::string& bytes) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string out;
    for (unsigned char b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::string Bytes(const char* text, std::size_t size) {
    return std::string(text, size);
}

TEST(PrintableText, KeepsPrintableBytesAndTurnsNulIntoSpace) {
    EXPECT_EQ(store::HexToPrintableText(Hex(Bytes("Ab\0z", 4))), u"Ab z");
    // "{", "|", "}", "~", controls and bytes above 126 are dropped.
    EXPECT_EQ(store::HexToPrintableText(u"7b7c7d7e011f7f80ff41"), u"A");
    EXPECT_EQ(store::HexToPrintableText(u"4A4b"), u"JK");  // either case of hex digits
    EXPECT_EQ(store::HexToPrintableText(u"414"), u"");
    EXPECT_EQ(store::HexToPrintableText(u""), u"");
}

TEST(MatchPattern, FindsTheFirstAddressOrNothing) {
    EXPECT_EQ(store::MatchPattern("mail to john.smith@mail.example.com now"),
              "john.smith@mail.example.com");
    EXPECT_EQ(store::MatchPattern("no address here"), std::nullopt);
    EXPECT_EQ(store::MatchPattern("first last", store::AddressPattern::kTwoWords), "first last");
    EXPECT_EQ(store::MatchPattern("word", store::AddressPattern::kWordAndSpace), std::nullopt);
}

TEST(SenderAddress, NameAndSmtpAddressBecomeNameInAngleBrackets) {
    const std::string blob = Bytes("John Smith\0SMTP\0john.smith@example.com\0", 39);
    EXPECT_EQ(ResolveSenderAddress(Hex(blob)), u"John Smith<john.smith@example.com>");
}

TEST(SenderAddress, SingleNameWithSmtpAddress) {
    const std::string blob = Bytes("Postmaster\0SMTP\0postmaster@example.org\0", 39);
    EXPECT_EQ(ResolveSenderAddress(Hex(blob)), u"Postmaster<postmaster@example.org>");
}

TEST(SenderAddress, ThreeWordsBeforeAnAddressKeepTheCleanedText) {
    const std::string blob = "Mary Ann Jones mary@example.com (work)";
    EXPECT_EQ(ResolveSenderAddress(Hex(blob)), u"Mary Ann Jones mary@example.com work");
}

TEST(SenderAddress, PlainAddressWordsOrFallback) {
    EXPECT_EQ(ResolveSenderAddress(Hex(Bytes("\x01\x02jane@example.net\0", 19))),
              u"jane@example.net");
    EXPECT_EQ(ResolveSenderAddress(Hex("Jane Doe")), u"Jane Doe");
    EXPECT_EQ(ResolveSenderAddress(Hex("Jane ")), u"Jane ");
    // Nothing matches: the printable text as it was, punctuation included.
    EXPECT_EQ(ResolveSenderAddress(Hex("[x]")), u"[x]");
    EXPECT_EQ(ResolveSenderAddress(u"abc"), u"");
}

TEST(RecipientAddresses, EveryAddressFollowedByAComma) {
    EXPECT_EQ(ResolveRecipientAddresses(Hex("a.b@x.com; c@y.org")), u"a.b@x.com,c@y.org,");
    EXPECT_EQ(ResolveRecipientAddresses(Hex("only@example.com")), u"only@example.com,");
    const std::string blob =
        Bytes("Ann\0SMTP\0ann@example.com\0Bob Lee\0SMTP\0bob.lee@example.com\0", 59);
    EXPECT_EQ(ResolveRecipientAddresses(Hex(blob)), u"ann@example.com,bob.lee@example.com,");
}

TEST(RecipientAddresses, RepeatedAddressIsListedOnce) {
    EXPECT_EQ(ResolveRecipientAddresses(Hex("x@example.com x@example.com")), u"x@example.com,");
}

TEST(RecipientAddresses, NothingFound) {
    EXPECT_EQ(ResolveRecipientAddresses(Hex("no addresses")), u"");
    EXPECT_EQ(ResolveRecipientAddresses(u"616"), u"");
}

TEST(Resolvers, GiveTheSameResultsFromManyThreads) {
    const std::u16string sender = Hex(Bytes("John Smith\0SMTP\0john.smith@example.com\0", 39));
    const std::u16string recipients = Hex("a@x.com; b@y.org; c@z.net");
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                if (ResolveSenderAddress(sender) != u"John Smith<john.smith@example.com>" ||
                    ResolveRecipientAddresses(recipients) != u"a@x.com,b@y.org,c@z.net,") {
                    ++wrong[t];
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
