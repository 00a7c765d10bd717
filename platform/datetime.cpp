#include "platform/datetime.h"

#include <fmt/format.h>

#include <array>
#include <cmath>

namespace platform {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDays1601To1970 = 134'774;
// Days from 1601-01-01 to 1899-12-30, the epoch of automation dates.
constexpr std::int64_t kDays1601To1899 = 109'205;

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// Proleptic Gregorian date of a day count relative to 1970-01-01.
CivilDate CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    return {y, m, d};
}

std::u16string Widen(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

}  // namespace

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::u16string FiletimeToText(std::uint64_t filetime) {
    static constexpr std::array<const char*, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::uint64_t seconds = filetime / kTicksPerSecond;
    const auto days = static_cast<std::int64_t>(seconds / kSecondsPerDay);
    const auto secondOfDay = static_cast<unsigned>(seconds % kSecondsPerDay);
    const CivilDate date = CivilFromDays(days - kDays1601To1970);
    if (date.year >= 10000) {
        return Widen(fmt::format("(0x{:08x} 0x{:08x})", filetime >> 32, filetime & 0xFFFFFFFFu));
    }
    return Widen(fmt::format("{} {:02}, {:04} {:02}:{:02}:{:02}", kMonths[date.month - 1], date.day,
                             date.year, secondOfDay / 3600, secondOfDay / 60 % 60,
                             secondOfDay % 60));
}

bool OleDateToFiletime(double oleDate, std::uint64_t& filetime) {
    if (!std::isfinite(oleDate)) {
        return false;
    }
    // Automation dates before the epoch count the day backwards and the time forwards.
    double whole = std::trunc(oleDate);
    double fraction = std::fabs(oleDate - whole);
    const double days = whole + static_cast<double>(kDays1601To1899);
    const double seconds = days * kSecondsPerDay + std::round(fraction * kSecondsPerDay);
    if (seconds < 0 || seconds > 1.8e12) {
        return false;
    }
    filetime = static_cast<std::uint64_t>(seconds) * kTicksPerSecond;
    return true;
}

std::u16string GuidToText(std::span<const std::uint8_t, 16> b, bool littleEndian) {
    std::array<std::uint8_t, 16> o{};
    std::copy(b.begin(), b.end(), o.begin());
    if (littleEndian) {
        o = {b[3], b[2], b[1],  b[0],  b[5],  b[4],  b[7],  b[6],
             b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]};
    }
    return Widen(
        fmt::format("{:02x}{:02x}{:02x}{:02x}-{:02x}{:02x}-{:02x}{:02x}-{:02x}{:02x}-"
                    "{:02x}{:02x}{:02x}{:02x}{:02x}{:02x}",
                    o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], o[8], o[9], o[10], o[11], o[12],
                    o[13], o[14], o[15]));
}

}  // namespace platform
