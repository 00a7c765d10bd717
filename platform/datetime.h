// Date and identifier texts as the store reader shows them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace platform {

// A FILETIME (100-ns ticks since 1601-01-01, taken as UTC) as "Mar 05, 2009 14:07:09".
// Years from 10000 on give "(0xHHHHHHHH 0xLLLLLLLL)", the two 32-bit halves in hex.
std::u16string FiletimeToText(std::uint64_t filetime);

// Days from 1970-01-01 to the date, proleptic Gregorian (negative before 1970).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);

// An OLE automation date (days since 1899-12-30, fraction = time of day) as a FILETIME.
// Returns false for a value outside the FILETIME range or not a number.
bool OleDateToFiletime(double oleDate, std::uint64_t& filetime);

// 16 GUID bytes as 8-4-4-4-12 lower-case hex. With littleEndian the first three fields are
// stored least significant byte first (the Windows in-memory layout); otherwise all bytes
// are read in storage order.
std::u16string GuidToText(std::span<const std::uint8_t, 16> bytes, bool littleEndian);

}  // namespace platform
