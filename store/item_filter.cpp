#include "store/item_filter.h"

#include <array>

#include "platform/codepage.h"
#include "platform/datetime.h"

namespace store {
namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;

bool IsLeap(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(std::int64_t year, unsigned month) {
    static constexpr std::array<unsigned, 12> kDays = {31, 28, 31, 30, 31, 30,
                                                       31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Exactly `count` decimal digits at pos.
template <typename Char>
std::optional<int> Digits(std::basic_string_view<Char> text, std::size_t& pos, std::size_t count) {
    if (pos + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const Char c = text[pos + i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    pos += count;
    return value;
}

template <typename Char>
bool Literal(std::basic_string_view<Char> text, std::size_t& pos, char expected) {
    if (pos >= text.size() || text[pos] != static_cast<Char>(expected)) {
        return false;
    }
    ++pos;
    return true;
}

// Seconds since 1970 of a checked calendar time; nothing when a field is out of range.
std::optional<std::int64_t> Seconds(int year, int month, int day, int hour, int minute,
                                    int second) {
    if (month < 1 || month > 12 || day < 1 ||
        static_cast<unsigned>(day) > DaysInMonth(year, static_cast<unsigned>(month)) || hour > 23 ||
        minute > 59 || second > 59) {
        return std::nullopt;
    }
    return platform::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) *
               kSecondsPerDay +
           hour * 3600 + minute * 60 + second;
}

char16_t FoldChar(char16_t c) {
    if (c < 0x80) {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c;
    }
    // Latin-1: À..Þ without ×.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        return static_cast<char16_t>(c + 0x20);
    }
    // Latin Extended-A: pairs of upper and lower case, the upper one first, in three runs.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
        return static_cast<char16_t>(c | 1);
    }
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
        return c % 2 == 1 ? static_cast<char16_t>(c + 1) : c;
    }
    if (c == 0x178) {  // Ÿ
        return 0xFF;
    }
    // Greek: Α..Ω (U+03A2 is unassigned), and final sigma as sigma.
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) {
        return static_cast<char16_t>(c + 0x20);
    }
    if (c == 0x3C2) {
        return 0x3C3;
    }
    // Cyrillic: Ѐ..Џ and А..Я.
    if (c >= 0x400 && c <= 0x40F) {
        return static_cast<char16_t>(c + 0x50);
    }
    if (c >= 0x410 && c <= 0x42F) {
        return static_cast<char16_t>(c + 0x20);
    }
    return c;
}

bool Contains(std::u16string_view text, std::u16string_view foldedPart) {
    return foldedPart.empty() || FoldCase(text).find(foldedPart) != std::u16string::npos;
}

}  // namespace

std::u16string FoldCase(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& c : folded) {
        c = FoldChar(c);
    }
    return folded;
}

platform::Result<std::int64_t> ParseFilterDate(std::string_view text, bool endOfDay) {
    auto bad = [&] {
        return platform::Failure("bad date \"" + std::string(text) +
                                 "\": use YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS (UTC)");
    };
    std::size_t pos = 0;
    const auto year = Digits(text, pos, 4);
    std::optional<int> month;
    std::optional<int> day;
    if (year && Literal(text, pos, '-')) {
        month = Digits(text, pos, 2);
        if (month && Literal(text, pos, '-')) {
            day = Digits(text, pos, 2);
        }
    }
    if (!day) {
        return bad();
    }
    int hour = endOfDay ? 23 : 0;
    int minute = endOfDay ? 59 : 0;
    int second = endOfDay ? 59 : 0;
    if (pos < text.size()) {
        std::optional<int> h;
        std::optional<int> m;
        std::optional<int> s;
        if (Literal(text, pos, 'T') && (h = Digits(text, pos, 2)) && Literal(text, pos, ':') &&
            (m = Digits(text, pos, 2)) && Literal(text, pos, ':')) {
            s = Digits(text, pos, 2);
        }
        if (!s) {
            return bad();
        }
        (void)Literal(text, pos, 'Z');  // UTC is the only zone, said or not
        hour = *h;
        minute = *m;
        second = *s;
    }
    if (pos != text.size()) {
        return bad();
    }
    const auto seconds = Seconds(*year, *month, *day, hour, minute, second);
    if (!seconds) {
        return bad();
    }
    return *seconds;
}

std::optional<std::int64_t> ListDateSeconds(std::u16string_view text) {
    static constexpr std::array<std::u16string_view, 12> kMonths = {u"Jan", u"Feb", u"Mar", u"Apr",
                                                                    u"May", u"Jun", u"Jul", u"Aug",
                                                                    u"Sep", u"Oct", u"Nov", u"Dec"};
    int month = 0;
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (text.starts_with(kMonths[i])) {
            month = static_cast<int>(i) + 1;
        }
    }
    std::size_t pos = 3;
    if (month == 0 || !Literal(text, pos, ' ')) {
        return std::nullopt;
    }
    const auto day = Digits(text, pos, 2);
    if (!day || !Literal(text, pos, ',') || !Literal(text, pos, ' ')) {
        return std::nullopt;
    }
    const auto year = Digits(text, pos, 4);
    if (!year || !Literal(text, pos, ' ')) {
        return std::nullopt;
    }
    const auto hour = Digits(text, pos, 2);
    std::optional<int> minute;
    std::optional<int> second;
    if (hour && Literal(text, pos, ':') && (minute = Digits(text, pos, 2)) &&
        Literal(text, pos, ':')) {
        second = Digits(text, pos, 2);
    }
    if (!second || pos != text.size()) {
        return std::nullopt;
    }
    return Seconds(*year, month, *day, *hour, *minute, *second);
}

platform::Result<ItemFilter> MakeItemFilter(const ItemFilterTexts& texts) {
    ItemFilter filter;
    if (!texts.since.empty()) {
        const auto since = ParseFilterDate(texts.since, false);
        if (!since) {
            return platform::Failure("since: " + since.error());
        }
        filter.since = *since;
    }
    if (!texts.until.empty()) {
        const auto until = ParseFilterDate(texts.until, true);
        if (!until) {
            return platform::Failure("until: " + until.error());
        }
        filter.until = *until;
    }
    filter.from = FoldCase(platform::Utf8ToUtf16(texts.from));
    filter.subject = FoldCase(platform::Utf8ToUtf16(texts.subject));
    filter.messageClass = FoldCase(platform::Utf8ToUtf16(texts.messageClass));
    return filter;
}

bool ItemFilter::Matches(const ListedItem& item) const {
    if (since || until) {
        const auto seconds = ListDateSeconds(item.date);
        if (!seconds || (since && *seconds < *since) || (until && *seconds > *until)) {
            return false;
        }
    }
    if (!messageClass.empty()) {
        const std::u16string itemClass = FoldCase(item.messageClass);
        if (itemClass != messageClass &&
            !(itemClass.starts_with(messageClass) && itemClass[messageClass.size()] == u'.')) {
            return false;
        }
    }
    return Contains(item.from, from) && Contains(item.subject, subject);
}

}  // namespace store
