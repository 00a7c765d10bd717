// Sender and recipient addresses out of mixed binary columns.
#include <gtest/gtest.h>
#include <regex.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "store/address.h"

namespace {

using namespace std::string_literals;
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

std::u16string Widen(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

// The C library's POSIX matcher (regexec, REG_EXTENDED): what the patterns found before RE2
// took over, kept here as the reference. Like any C string, the text ends at its first NUL.
std::optional<std::string> RegexecMatch(store::AddressPattern pattern, const std::string& text) {
    regex_t compiled;
    if (regcomp(&compiled, store::AddressPatternText(pattern), REG_EXTENDED) != 0) {
        ADD_FAILURE() << "regcomp refuses " << store::AddressPatternText(pattern);
        return std::nullopt;
    }
    regmatch_t match{};
    const bool found = regexec(&compiled, text.c_str(), 1, &match, 0) == 0;
    regfree(&compiled);
    if (!found) {
        return std::nullopt;
    }
    return text.substr(static_cast<std::size_t>(match.rm_so),
                       static_cast<std::size_t>(match.rm_eo - match.rm_so));
}

// regexec takes time growing with the square of a word run's length, so the reference sees
// runs of at most this many characters (still far more than any name or address part).
constexpr std::size_t kReferenceRun = 2000;

std::string CutForReference(const std::string& text) {
    std::string out;
    std::size_t run = 0;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        run = (u < 128 && std::isalnum(u) != 0) || c == '_' ? run + 1 : 0;
        if (run <= kReferenceRun) {
            out += c;
        }
    }
    return out;
}

// Every value checked in for the address fuzzing harness, as the raw bytes, as their printable
// text, and as that text with " SMTP" turned into "<" the way the resolvers do.
std::vector<std::string> FuzzCorpusSubjects() {
    namespace fs = std::filesystem;
    std::vector<std::string> subjects;
    for (const char* kind : {"seeds", "regressions"}) {
        const fs::path dir = fs::path(EDB2MSG_SOURCE_DIR) / "tests/fuzz" / kind / "address";
        for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            const std::u16string printable = store::HexToPrintableText(Hex(bytes.substr(1)));
            std::string text(printable.begin(), printable.end());
            subjects.push_back(bytes);
            subjects.push_back(text);
            for (std::size_t at = 0; (at = text.find(" SMTP", at)) != std::string::npos;) {
                text.replace(at, 5, "<");
            }
            subjects.push_back(text);
        }
    }
    return subjects;
}

TEST(PrintableText, KeepsPrintableBytesAndTurnsNulIntoSpace) {
    EXPECT_EQ(store::HexToPrintableText(Hex(Bytes("Ab\0z", 4))), u"Ab z");
    // "{", "|", "}", "~", controls and bytes above 126 are dropped.
    EXPECT_EQ(store::HexToPrintableText(u"7b7c7d7e011f7f80ff41"), u"A");
    EXPECT_EQ(store::HexToPrintableText(u"4A4b"), u"JK");  // either case of hex digits
    EXPECT_EQ(store::HexToPrintableText(u"414"), u"");
    EXPECT_EQ(store::HexToPrintableText(u""), u"");
}

// The address text keeps the store's letters above ASCII and drops every other byte the
// printable text drops.
TEST(PrintableText, AddressTextKeepsWindows1252LettersOnly) {
    EXPECT_EQ(store::HexToAddressText(Hex("J\xfcrgen\0\xd6\x8a\x9c\xff"s)),
              u"J\u00fcrgen \u00d6\u0160\u0153\u00ff");
    // Signs, the multiplication and division signs, controls and "{|}~" are no letters.
    EXPECT_EQ(store::HexToAddressText(u"7b7c7d7e011f7f80a9d7f7ab41"), u"A");
    EXPECT_EQ(store::HexToAddressText(u"414"), u"");
    // Before a control byte of the same NUL-ended run a byte is binary, not a letter.
    EXPECT_EQ(store::HexToAddressText(Hex("\x01\x9f\x7f\x01J\xfcrgen\0"s)), u"J\u00fcrgen ");
    EXPECT_EQ(store::HexToAddressText(Hex("\xe9t\xe9\x90x\0\xe9t\xe9"s)), u"tx \u00e9t\u00e9");
    // Without such bytes it is the printable text.
    const std::u16string plain = Hex(Bytes("Ann\0SMTP\0ann@example.com\0", 24));
    EXPECT_EQ(store::HexToAddressText(plain), store::HexToPrintableText(plain));
}

TEST(MatchPattern, FindsTheFirstAddressOrNothing) {
    EXPECT_EQ(store::MatchPattern("mail to john.smith@mail.example.com now"),
              "john.smith@mail.example.com");
    EXPECT_EQ(store::MatchPattern("no address here"), std::nullopt);
    EXPECT_EQ(store::MatchPattern("first last", store::AddressPattern::kTwoWords), "first last");
    EXPECT_EQ(store::MatchPattern("word", store::AddressPattern::kWordAndSpace), std::nullopt);
}

// RE2 finds, byte for byte, what regexec found: on the fuzz corpus and on texts with NUL,
// newline and non-ASCII bytes, optional parts and several candidates. Word runs of any length
// are taken whole (patterns used to see only 128 characters of a run) in time linear in the
// run: a run of a megabyte is matched at once.
TEST(MatchPattern, FindsWhatPosixRegexecFindsInWordRunsOfAnyLength) {
    std::vector<std::string> subjects = FuzzCorpusSubjects();
    ASSERT_FALSE(subjects.empty());
    const std::string run300(300, 'n');
    const std::string longRun = std::string(1200, 'd') + "_" + std::string(700, 'e');
    // Optional and repeated parts, missing parts, several candidates.
    subjects.insert(subjects.end(), {"", "a@b.c", "a.b@c.d.e", "a_@b.c", "a._b@c.d", "a..b@c.d",
                                     "x@y", "x@y.", "@a.b", "a@.b", "x.y_z", "a_b c.d e_f@g.h.i",
                                     "mail to john.smith@mail.example.com now"});
    // Names before addresses, as the resolvers hand them over.
    subjects.insert(subjects.end(), {"a b c d e@f.g.h", "Mary Ann Jones mary@example.com work",
                                     "John Smith< john.smith@example.com", "Bob< Lee< bob@y.org",
                                     "Ann< ann@x.com Bob Lee< bob.lee@y.org", "first last", "word",
                                     "word ", " word  two ", "w1 w2 w3 w4"});
    // Control characters and bytes over 127, which no word character matches.
    subjects.insert(subjects.end(), {"j\xe9r\xf4me@example.com", "caf\xc3\xa9 user@example.com",
                                     "\xff\xfe a@b.c", "\x80\xbf\xc0@\xe0.\xf0", "a\nb@c.d",
                                     "first\nlast x", "a\tb c", "a\rb@c.d\n e"});
    // A NUL ends the text.
    subjects.push_back("before\0john@example.com"s);
    subjects.push_back("john@exa\0mple.com"s);
    subjects.push_back("Jo Ann\0 Smith x@y.z "s);
    // Word runs longer than the 128 characters the patterns used to see.
    subjects.push_back(std::string(129, 'x') + "@example.com");
    subjects.push_back(run300 + " " + std::string(200, 'y') + " z@example.com");
    subjects.push_back(run300 + "." + run300 + "@" + run300 + "." + run300);
    subjects.push_back("First " + run300 + "< " + run300 + "@example.com");
    subjects.push_back(longRun + "@" + longRun);
    subjects.push_back(longRun + " " + longRun);
    for (const std::string& text : subjects) {
        for (int p = 0; p <= static_cast<int>(store::AddressPattern::kWordAndSpace); ++p) {
            const auto pattern = static_cast<store::AddressPattern>(p);
            const std::string reference = CutForReference(text);
            EXPECT_EQ(store::MatchPattern(reference, pattern), RegexecMatch(pattern, reference))
                << "pattern " << p << " on " << testing::PrintToString(reference);
        }
    }

    // The resolvers keep long words whole.
    EXPECT_EQ(ResolveRecipientAddresses(Hex(run300 + "@example.com")),
              Widen(run300 + "@example.com,"));
    EXPECT_EQ(ResolveSenderAddress(Hex("Ann " + run300 + "\0SMTP\0ann@example.com"s)),
              Widen("Ann " + run300 + "<ann@example.com>"));

    // A word of a megabyte (failures are not printed: they would be a megabyte long).
    const std::string megabyte(1 << 20, 'x');
    EXPECT_TRUE(store::MatchPattern(megabyte + "@example.com") == megabyte + "@example.com");
    EXPECT_EQ(store::MatchPattern(megabyte + "@ example.com"), std::nullopt);
    EXPECT_EQ(store::MatchPattern(megabyte, store::AddressPattern::kTwoWords), std::nullopt);
    EXPECT_EQ(ResolveSenderAddress(Hex(megabyte + " Bob Stone SMTP bob@example.com")),
              u"Bob Stone<bob@example.com>");
    EXPECT_TRUE(ResolveRecipientAddresses(Hex("a@b.c " + megabyte + "@example.com")) ==
                Widen("a@b.c," + megabyte + "@example.com,"));
}

TEST(SenderAddress, NameAndSmtpAddressBecomeNameInAngleBrackets) {
    const std::string blob = Bytes("John Smith\0SMTP\0john.smith@example.com\0", 39);
    EXPECT_EQ(ResolveSenderAddress(Hex(blob)), u"John Smith<john.smith@example.com>");
}

TEST(SenderAddress, SingleNameWithSmtpAddress) {
    const std::string blob = Bytes("Postmaster\0SMTP\0postmaster@example.org\0", 39);
    EXPECT_EQ(ResolveSenderAddress(Hex(blob)), u"Postmaster<postmaster@example.org>");
}

// Letters above ASCII are part of the words the patterns see, wherever they stand in them.
TEST(SenderAddress, NamesKeepTheirLettersAboveAscii) {
    EXPECT_EQ(ResolveSenderAddress(
                  Hex("\x01\x9f\x7f\x01J\xfcrgen M\xfcller\0SMTP\0juergen.mueller@fabrikam.de\0"s)),
              u"J\u00fcrgen M\u00fcller<juergen.mueller@fabrikam.de>");
    EXPECT_EQ(ResolveSenderAddress(Hex("Fran\xe7ois\0SMTP\0francois@adatum.fr\0"s)),
              u"Fran\u00e7ois<francois@adatum.fr>");
    EXPECT_EQ(ResolveSenderAddress(Hex("\xc5sa \xd6"
                                       "berg\0SMTP\0asa@example.se\0"s)),
              u"\u00c5sa \u00d6berg<asa@example.se>")
        << "a letter above ASCII may begin a word";
    EXPECT_EQ(ResolveSenderAddress(Hex("Ren\xe9"
                                       "e \xa9"
                                       "Dupont")),
              u"Ren\u00e9e Dupont")
        << "a sign is dropped, as before";
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

// Each recipient keeps the display name the store puts before its address, with its letters.
TEST(RecipientAddresses, NamesAreTheTextBeforeEachAddress) {
    const std::string blob =
        "Ann Lee\0SMTP\0ann.lee@contoso.com\0J\xfcrgen M\xfcller\0SMTP\0"
        "juergen.mueller@fabrikam.de\0bare@example.org\0Ann\0SMTP\0"
        "ann.lee@contoso.com\0"s;
    const std::vector<store::NamedAddress> found = store::ResolveRecipients(Hex(blob));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].name, u"Ann Lee");
    EXPECT_EQ(found[0].address, u"ann.lee@contoso.com");
    EXPECT_EQ(found[1].name, u"J\u00fcrgen M\u00fcller");
    EXPECT_EQ(found[1].address, u"juergen.mueller@fabrikam.de");
    EXPECT_EQ(found[2].name, u"") << "no name before the address";
    EXPECT_EQ(found[2].address, u"bare@example.org");
    EXPECT_EQ(ResolveRecipientAddresses(Hex(blob)),
              u"ann.lee@contoso.com,juergen.mueller@fabrikam.de,bare@example.org,");
}

TEST(RecipientAddresses, RepeatedAddressIsListedOnce) {
    EXPECT_EQ(ResolveRecipientAddresses(Hex("x@example.com x@example.com")), u"x@example.com,");
    // Only the same address counts as a repeat, not one that holds it.
    EXPECT_EQ(ResolveRecipientAddresses(Hex("ann@example.com; joann@example.com; ann@example.com")),
              u"ann@example.com,joann@example.com,");
    EXPECT_EQ(ResolveRecipientAddresses(Hex("bob@x.org bob@x.org.uk")), u"bob@x.org,bob@x.org.uk,");
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
