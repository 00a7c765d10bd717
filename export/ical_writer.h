// Calendar items as iCalendar (RFC 5545) through libical: one VCALENDAR per folder with one
// VEVENT per appointment, every time in UTC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace icalfile {

struct CalendarPerson {
    std::u16string name;
    std::u16string address;  // SMTP; empty when the store has none
};

struct CalendarEvent {
    std::u16string uid;
    std::u16string summary;
    std::optional<std::u16string> description;
    std::optional<std::u16string> location;
    std::optional<std::int64_t> start;  // seconds since 1970, UTC
    std::optional<std::int64_t> end;
    bool allDay = false;                     // start and end as dates (the end date not included)
    std::optional<std::int32_t> busyStatus;  // 0 free, 1 tentative, 2 busy, 3 away
    std::optional<CalendarPerson> organizer;
    std::vector<CalendarPerson> attendees;
};

// The events as one iCalendar object, UTF-8 with CRLF line ends and folded lines. stamp is the
// time of the export (DTSTAMP), seconds since 1970.
std::string RenderCalendar(const std::vector<CalendarEvent>& events, std::int64_t stamp);

}  // namespace icalfile
