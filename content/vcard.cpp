#include "content/vcard.h"

#include <initializer_list>

#include "platform/codepage.h"

namespace content {

namespace {

constexpr std::size_t kMaxLineOctets = 75;

// A parameter value in double quotes; RFC 6868 escapes what a quoted value cannot hold.
std::string QuotedParameter(std::u16string_view text) {
    std::string out = "\"";
    for (const char c : platform::Utf16ToUtf8(text)) {
        switch (c) {
            case '^':
                out += "^^";
                break;
            case '"':
                out += "^'";
                break;
            case '\n':
                out += "^n";
                break;
            case '\r':
                break;
            default:
                out += c;
        }
    }
    return out + "\"";
}

bool IsMultiKind(std::u16string_view messageClass) {
    return messageClass.size() >= 12 && messageClass.substr(0, 12) == u"IPM.DistList";
}

}  // namespace

std::string EscapeVCardText(std::u16string_view text) {
    std::string out;
    const std::string utf8 = platform::Utf16ToUtf8(text);
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case ',':
                out += "\\,";
                break;
            case ';':
                out += "\\;";
                break;
            case '\r':
                out += "\\n";
                if (i + 1 < utf8.size() && utf8[i + 1] == '\n') {
                    ++i;
                }
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string FoldContentLine(std::string_view line) {
    std::string out;
    std::size_t lineOctets = 0;
    std::size_t i = 0;
    while (i < line.size()) {
        // The whole UTF-8 sequence that starts here.
        std::size_t length = 1;
        while (i + length < line.size() &&
               (static_cast<unsigned char>(line[i + length]) & 0xC0) == 0x80) {
            ++length;
        }
        if (lineOctets + length > kMaxLineOctets) {
            out += "\r\n ";
            lineOctets = 1;
        }
        out.append(line.substr(i, length));
        lineOctets += length;
        i += length;
    }
    return out + "\r\n";
}

std::string RenderVCard(const ContactCardEntry& card) {
    const ContactValues& values = card.values;
    // kContactFieldCount stands for a field the address has not.
    static const Text kNone;
    struct {
        const ContactValues& values;
        const Text& operator[](ContactField field) const {
            return field < kContactFieldCount ? values[field] : kNone;
        }
    } v{values};
    auto text = [&v](ContactField field) {
        return v[field] ? EscapeVCardText(*v[field]) : std::string();
    };
    std::string out;
    auto line = [&out](const std::string& content) { out += FoldContentLine(content); };
    auto property = [&](const std::string& name, ContactField field) {
        if (v[field]) {
            line(name + ":" + text(field));
        }
    };
    line("BEGIN:VCARD");
    line("VERSION:4.0");
    line("PRODID:-//edb2msg//Exchange store export//EN");
    if (IsMultiKind(card.messageClass)) {
        line("KIND:group");
    }
    std::u16string fullName;
    if (v[kFullName] && !v[kFullName]->empty()) {
        fullName = *v[kFullName];
    } else {
        fullName = v[kFirstName].value_or(u"");
        if (v[kLastName] && !v[kLastName]->empty()) {
            fullName += (fullName.empty() ? u"" : u" ") + *v[kLastName];
        }
    }
    line("FN:" + EscapeVCardText(fullName.empty() ? u"Unknown" : fullName));
    if (v[kLastName] || v[kFirstName] || v[kMiddleName]) {
        line("N:" + text(kLastName) + ";" + text(kFirstName) + ";" + text(kMiddleName) + ";;");
    }
    property("EMAIL", kEmail);
    property("TEL;TYPE=cell", kMobileNumber);
    property("TEL;TYPE=work,voice", kBusinessPhone);
    property("TEL;TYPE=work,voice", kBusinessPhone2);
    property("TEL;TYPE=work,fax", kBusinessFax);
    // "S3a09", the store's home telephone number.
    property("TEL;TYPE=home,voice", kHomePage);
    property("ORG", kCompany);
    property("TITLE", kJobTitle);
    property("URL", kPersonalHomePage);
    property("URL;TYPE=work", kBusinessHomePage);
    auto address = [&](const std::string& type, ContactField label, ContactField street,
                       ContactField city, ContactField state, ContactField postalCode,
                       ContactField country) {
        bool any = false;
        for (ContactField f : {label, street, city, state, postalCode, country}) {
            any = any || v[f].has_value();
        }
        if (!any) {
            return;
        }
        std::string name = "ADR";
        if (!type.empty()) {
            name += ";TYPE=" + type;
        }
        // A free-text address alone stands as the street; beside a street it is the label.
        ContactField streetField = street;
        if (!v[street] && v[label]) {
            streetField = label;
        } else if (v[label]) {
            name += ";LABEL=" + QuotedParameter(*v[label]);
        }
        line(name + ":;;" + text(streetField) + ";" + text(city) + ";" + text(state) + ";" +
             text(postalCode) + ";" + text(country));
    };
    address("work", kBusinessAddress, kBusinessStreet, kBusinessCity, kBusinessState,
            kBusinessPostalCode, kBusinessCountry);
    address("home", kHomeAddress, kHomeStreet, kHomeCity, kHomeState, kHomePostalCode,
            kHomeCountry);
    address("", kStreet, kStreet, kCity, kState, kContactFieldCount, kCountry);
    line("END:VCARD");
    return out;
}

}  // namespace content
