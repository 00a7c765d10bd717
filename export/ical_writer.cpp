#include "export/ical_writer.h"

#include <ctime>
#include <memory>
#include <stdexcept>

#include <libical/ical.h>

#include "platform/codepage.h"

namespace icalfile {

namespace {

struct ComponentFree {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};

std::string U8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

icaltimetype Utc(std::int64_t seconds, bool date) {
    return icaltime_from_timet_with_zone(static_cast<time_t>(seconds), date ? 1 : 0,
                                         icaltimezone_get_utc_timezone());
}

// A calendar user: "mailto:" and the address, with the name as CN; nothing without an address.
icalproperty* Person(const CalendarPerson& person, bool organizer) {
    if (person.address.empty()) {
        return nullptr;
    }
    const std::string uri = "mailto:" + U8(person.address);
    icalproperty* property = organizer ? icalproperty_new_organizer(uri.c_str())
                                       : icalproperty_new_attendee(uri.c_str());
    if (!person.name.empty() && person.name != person.address) {
        icalproperty_add_parameter(property, icalparameter_new_cn(U8(person.name).c_str()));
    }
    if (!organizer) {
        icalproperty_add_parameter(property, icalparameter_new_role(ICAL_ROLE_REQPARTICIPANT));
    }
    return property;
}

const char* BusyStatusText(std::int32_t status) {
    switch (status) {
        case 0:
            return "FREE";
        case 1:
            return "TENTATIVE";
        case 3:
            return "OOF";
        case 4:
            return "WORKINGELSEWHERE";
        default:
            return "BUSY";
    }
}

}  // namespace

std::string RenderCalendar(const std::vector<CalendarEvent>& events, std::int64_t stamp) {
    std::unique_ptr<icalcomponent, ComponentFree> calendar(
        icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar.get(),
                               icalproperty_new_prodid("-//edb2msg//Exchange store export//EN"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_calscale("GREGORIAN"));
    for (const CalendarEvent& e : events) {
        icalcomponent* event = icalcomponent_new(ICAL_VEVENT_COMPONENT);
        icalcomponent_add_component(calendar.get(), event);
        icalcomponent_add_property(event, icalproperty_new_uid(U8(e.uid).c_str()));
        icalcomponent_add_property(event, icalproperty_new_dtstamp(Utc(stamp, false)));
        icalcomponent_add_property(event, icalproperty_new_summary(U8(e.summary).c_str()));
        if (e.start) {
            icalcomponent_add_property(event, icalproperty_new_dtstart(Utc(*e.start, e.allDay)));
        }
        if (e.end && (!e.start || *e.end >= *e.start)) {
            // An all-day event ends on the day after its last; a zero-length one on its start.
            std::int64_t end = *e.end;
            if (e.allDay && e.start && end / 86400 == *e.start / 86400) {
                end += 86400;
            }
            icalcomponent_add_property(event, icalproperty_new_dtend(Utc(end, e.allDay)));
        }
        if (e.location) {
            icalcomponent_add_property(event, icalproperty_new_location(U8(*e.location).c_str()));
        }
        if (e.description) {
            icalcomponent_add_property(event,
                                       icalproperty_new_description(U8(*e.description).c_str()));
        }
        if (e.organizer) {
            if (icalproperty* organizer = Person(*e.organizer, true)) {
                icalcomponent_add_property(event, organizer);
            }
        }
        for (const CalendarPerson& attendee : e.attendees) {
            if (icalproperty* property = Person(attendee, false)) {
                icalcomponent_add_property(event, property);
            }
        }
        if (e.busyStatus) {
            icalcomponent_add_property(
                event, icalproperty_new_transp(*e.busyStatus == 0 ? ICAL_TRANSP_TRANSPARENT
                                                                  : ICAL_TRANSP_OPAQUE));
            icalproperty* busy = icalproperty_new_x(BusyStatusText(*e.busyStatus));
            icalproperty_set_x_name(busy, "X-MICROSOFT-CDO-BUSYSTATUS");
            icalcomponent_add_property(event, busy);
        }
    }
    char* text = icalcomponent_as_ical_string_r(calendar.get());
    if (text == nullptr) {
        throw std::runtime_error("libical could not write the calendar");
    }
    std::string out(text);
    icalmemory_free_buffer(text);
    return out;
}

}  // namespace icalfile
