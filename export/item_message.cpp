#include "export/item_message.h"

#include <charconv>
#include <stdexcept>
#include <string>
#include <utility>

#include "content/work_files.h"
#include "export/compose.h"
#include "export/message_component.h"
#include "platform/codepage.h"

namespace msgexport {

namespace {

using msgfile::MsgNamedProperty;
using msgfile::MsgTime;
using msgfile::MsgValue;

// Tagged properties ([MS-OXPROPS]).
constexpr std::uint16_t kStartDate = 0x0060;
constexpr std::uint16_t kEndDate = 0x0061;
constexpr std::uint16_t kDisplayName = 0x3001;

// Named properties.
constexpr std::uint32_t kLidBusyStatus = 0x8205;
constexpr std::uint32_t kLidLocation = 0x8208;
constexpr std::uint32_t kLidAppointmentStartWhole = 0x820D;
constexpr std::uint32_t kLidAppointmentEndWhole = 0x820E;
constexpr std::uint32_t kLidAppointmentDuration = 0x8213;
constexpr std::uint32_t kLidAppointmentSubType = 0x8215;  // the all-day flag
constexpr std::uint32_t kLidCommonStart = 0x8516;
constexpr std::uint32_t kLidCommonEnd = 0x8517;
constexpr std::uint32_t kLidTaskStatus = 0x8101;
constexpr std::uint32_t kLidPercentComplete = 0x8102;
constexpr std::uint32_t kLidTaskStartDate = 0x8104;
constexpr std::uint32_t kLidTaskDueDate = 0x8105;
constexpr std::uint32_t kLidTaskComplete = 0x811C;
constexpr std::uint32_t kLidLogType = 0x8700;
constexpr std::uint32_t kLidLogStart = 0x8706;
constexpr std::uint32_t kLidLogDuration = 0x8707;
constexpr std::uint32_t kLidLogEnd = 0x8708;
constexpr std::uint32_t kLidDistributionListName = 0x8053;
constexpr std::uint32_t kLidEmail1DisplayName = 0x8080;
constexpr std::uint32_t kLidEmail1AddressType = 0x8082;
constexpr std::uint32_t kLidEmail1EmailAddress = 0x8083;
constexpr std::uint32_t kLidEmail1OriginalDisplayName = 0x8084;

constexpr std::int32_t kTaskComplete = 2;
constexpr std::uint64_t kTicksPerMinute = 600000000ULL;

bool StartsWithClass(std::u16string_view messageClass, std::u16string_view base) {
    if (messageClass.size() < base.size()) {
        return false;
    }
    for (std::size_t i = 0; i < base.size(); ++i) {
        char16_t c = messageClass[i];
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
        char16_t b = base[i];
        if (b >= u'a' && b <= u'z') {
            b = static_cast<char16_t>(b - u'a' + u'A');
        }
        if (c != b) {
            return false;
        }
    }
    return messageClass.size() == base.size() || messageClass[base.size()] == u'.';
}

std::optional<std::int32_t> WholeNumber(const std::optional<std::u16string>& text) {
    if (!text) {
        return std::nullopt;
    }
    const std::string digits = platform::Utf16ToUtf8(*text);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    // A 32-bit value the reader shows unsigned ("4294967295") is the signed one it stands for.
    if (error != std::errc() || end != digits.data() + digits.size() || value < INT32_MIN ||
        value > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::optional<double> Fraction(const std::optional<std::u16string>& text) {
    if (!text) {
        return std::nullopt;
    }
    const std::string digits = platform::Utf16ToUtf8(*text);
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

void AddTagged(msgfile::MsgMessage& message, std::uint16_t id, MsgValue value) {
    msgfile::MsgProperty& property = message.properties.emplace_back();
    property.id = id;
    property.value = std::move(value);
}

class NamedProperties {
  public:
    explicit NamedProperties(std::vector<MsgNamedProperty>& out) : out_(out) {}
    void Add(std::string_view set, std::uint32_t lid, MsgValue value) {
        MsgNamedProperty& property = out_.emplace_back();
        property.propertySet = set;
        property.lid = lid;
        property.value = std::move(value);
    }
    void Time(std::string_view set, std::uint32_t lid, std::optional<std::uint64_t> filetime) {
        if (filetime) {
            Add(set, lid, MsgTime{*filetime});
        }
    }
    void Text(std::string_view set, std::uint32_t lid, const std::optional<std::u16string>& text) {
        if (text) {
            Add(set, lid, *text);
        }
    }
    template <typename T>
    void Optional(std::string_view set, std::uint32_t lid, const std::optional<T>& value) {
        if (value) {
            Add(set, lid, *value);
        }
    }

  private:
    std::vector<MsgNamedProperty>& out_;
};

// Minutes from start to end; nothing unless both are known and end is not before start.
std::optional<std::int32_t> Minutes(std::optional<std::uint64_t> start,
                                    std::optional<std::uint64_t> end) {
    if (!start || !end || *end < *start || (*end - *start) / kTicksPerMinute > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>((*end - *start) / kTicksPerMinute);
}

void AddClassProperties(msgfile::MsgMessage& message, const content::MailDetailEntry& entry,
                        ItemKind kind) {
    const store::ClassValues& v = entry.classValues;
    const std::optional<std::uint64_t> start = DateTextToFiletime(entry.date);
    const std::optional<std::uint64_t> end =
        v.endDate ? DateTextToFiletime(*v.endDate) : std::nullopt;
    NamedProperties named(message.namedProperties);
    auto tagged = [&message](std::uint16_t id, std::optional<std::uint64_t> filetime) {
        if (filetime) {
            AddTagged(message, id, MsgTime{*filetime});
        }
    };
    switch (kind) {
        case ItemKind::kAppointment: {
            tagged(kStartDate, start);
            tagged(kEndDate, end);
            named.Time(kPsetidAppointment, kLidAppointmentStartWhole, start);
            named.Time(kPsetidAppointment, kLidAppointmentEndWhole, end);
            named.Time(kPsetidCommon, kLidCommonStart, start);
            named.Time(kPsetidCommon, kLidCommonEnd, end);
            named.Optional(kPsetidAppointment, kLidAppointmentDuration, Minutes(start, end));
            named.Text(kPsetidAppointment, kLidLocation, v.location);
            named.Optional(kPsetidAppointment, kLidBusyStatus, WholeNumber(v.busyStatus));
            if (v.allDay) {
                named.Add(kPsetidAppointment, kLidAppointmentSubType, *v.allDay == u"true");
            }
            break;
        }
        case ItemKind::kTask: {
            named.Time(kPsetidTask, kLidTaskStartDate, start);
            named.Time(kPsetidTask, kLidTaskDueDate, end);
            const std::optional<std::int32_t> status = WholeNumber(v.taskStatus);
            named.Optional(kPsetidTask, kLidTaskStatus, status);
            if (status) {
                named.Add(kPsetidTask, kLidTaskComplete, *status == kTaskComplete);
            }
            named.Optional(kPsetidTask, kLidPercentComplete, Fraction(v.percentComplete));
            break;
        }
        case ItemKind::kJournal: {
            named.Text(kPsetidLog, kLidLogType, v.journalType);
            named.Time(kPsetidLog, kLidLogStart, start);
            named.Time(kPsetidLog, kLidLogEnd, end);
            std::optional<std::int32_t> minutes = WholeNumber(v.duration);
            named.Optional(kPsetidLog, kLidLogDuration, minutes ? minutes : Minutes(start, end));
            break;
        }
        case ItemKind::kDistList:
            named.Add(kPsetidAddress, kLidDistributionListName, entry.subject);
            break;
        case ItemKind::kNote:
        case ItemKind::kMail:
            break;
    }
}

std::u16string_view DefaultClass(ItemKind kind) {
    switch (kind) {
        case ItemKind::kAppointment:
            return u"IPM.Appointment";
        case ItemKind::kTask:
            return u"IPM.Task";
        case ItemKind::kJournal:
            return u"IPM.Activity";
        case ItemKind::kNote:
            return u"IPM.StickyNote";
        case ItemKind::kDistList:
            return u"IPM.DistList";
        case ItemKind::kMail:
            break;
    }
    return u"IPM.Note";
}

// Where each contact field goes in the message: a tag, or a named property of the address set.
struct ContactProperty {
    content::ContactField field;
    std::uint16_t tag;  // 0: named
    std::uint32_t lid;  // the address set's LID when tag is 0
};

constexpr ContactProperty kContactProperties[] = {
    {content::kFullName, kDisplayName, 0},
    {content::kFirstName, 0x3A06, 0},         // PidTagGivenName
    {content::kMiddleName, 0x3A44, 0},        // PidTagMiddleName
    {content::kLastName, 0x3A11, 0},          // PidTagSurname
    {content::kJobTitle, 0x3A17, 0},          // PidTagTitle
    {content::kMobileNumber, 0x3A1C, 0},      // PidTagMobileTelephoneNumber
    {content::kBusinessFax, 0x3A24, 0},       // PidTagBusinessFaxNumber
    {content::kHomePage, 0x3A09, 0},          // the store's "S3a09": PidTagHomeTelephoneNumber
    {content::kPersonalHomePage, 0x3A50, 0},  // PidTagPersonalHomePage
    {content::kBusinessHomePage, 0x3A51, 0},  // PidTagBusinessHomePage
    {content::kCompany, 0x3A16, 0},           // PidTagCompanyName
    {content::kBusinessAddress, 0, 0x801B},   // PidLidWorkAddress
    {content::kDisplayAs, 0, kLidEmail1DisplayName},
    {content::kFileAs2, 0, 0x8005},  // PidLidFileUnder
    {content::kState, 0x3A28, 0},    // PidTagStateOrProvince
    {content::kCity, 0x3A27, 0},     // PidTagLocality
    {content::kCountry, 0x3A26, 0},  // PidTagCountry
    {content::kBusinessStreet, 0, 0x8045},
    {content::kBusinessCountry, 0, 0x8049},
    {content::kBusinessPhone, 0x3A08, 0},   // PidTagBusinessTelephoneNumber
    {content::kBusinessPhone2, 0x3A1B, 0},  // PidTagBusiness2TelephoneNumber
    {content::kBusinessState, 0, 0x8047},
    {content::kBusinessPostalCode, 0, 0x8048},
    {content::kBusinessCity, 0, 0x8046},
    {content::kInitials, 0x3A0A, 0},     // PidTagInitials
    {content::kHomeAddress, 0, 0x801A},  // PidLidHomeAddress
    {content::kHomeStreet, 0x3A5D, 0},
    {content::kHomeState, 0x3A5C, 0},
    {content::kHomeCity, 0x3A59, 0},
    {content::kHomePostalCode, 0x3A5B, 0},
    {content::kHomeCountry, 0x3A5A, 0},
    {content::kStreet, 0x3A29, 0},  // PidTagStreetAddress
};

}  // namespace

ItemKind KindOfClass(std::u16string_view messageClass) {
    if (StartsWithClass(messageClass, u"IPM.Appointment")) {
        return ItemKind::kAppointment;
    }
    if (StartsWithClass(messageClass, u"IPM.Task")) {
        return ItemKind::kTask;
    }
    if (StartsWithClass(messageClass, u"IPM.Activity")) {
        return ItemKind::kJournal;
    }
    if (StartsWithClass(messageClass, u"IPM.StickyNote")) {
        return ItemKind::kNote;
    }
    if (StartsWithClass(messageClass, u"IPM.DistList")) {
        return ItemKind::kDistList;
    }
    return ItemKind::kMail;
}

std::optional<std::uint64_t> DateTextToFiletime(std::u16string_view text) {
    constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
    const std::optional<std::int64_t> seconds = DateTextToUnixTime(text);
    if (!seconds || *seconds < -kSecondsFrom1601To1970) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(*seconds + kSecondsFrom1601To1970) * 10000000ULL;
}

msgfile::MsgMessage ComposeItemMessage(const content::MailDetailEntry& entry, ItemKind kind,
                                       std::vector<content::BodyPartEntry>& bodyParts,
                                       const std::filesystem::path& workFolder) {
    msgfile::MsgMessage message;
    message.messageClass =
        entry.messageClass.empty() ? std::u16string(DefaultClass(kind)) : entry.messageClass;
    const msgfile::SenderInfo sender = msgfile::ParseSenderText(entry.from);
    message.senderName = sender.name;
    message.senderAddress = sender.address;
    message.sentRepresentingName = sender.name;
    message.sentRepresentingAddress = sender.address;
    message.subject = entry.subject;
    if (!entry.recipientList.empty()) {
        for (const store::NamedAddress& recipient : entry.recipientList) {
            message.recipients.push_back(
                {recipient.name.empty() ? recipient.address : recipient.name, recipient.address});
        }
    } else if (entry.recipients) {
        message.recipients = msgfile::ParseRecipientsText(*entry.recipients);
    }
    message.submitTime = DateTextToFiletime(entry.date);
    message.deliveryTime = message.submitTime;
    message.read = true;
    ItemBodies bodies = TakeItemBodies(bodyParts, entry.messageId.value_or(u""));
    message.plainBody = std::move(bodies.text);
    if (bodies.html) {
        message.htmlBody = platform::Utf16ToUtf8(*bodies.html);
    }
    for (const auto& [name, workFile] : entry.attachments) {
        const std::filesystem::path path = workFolder / content::SafeWorkFileName(workFile);
        std::error_code ec;
        if (name.empty() || !std::filesystem::is_regular_file(path, ec)) {
            continue;
        }
        try {
            message.attachments.push_back({name, msgfile::ReadWholeFile(path)});
        } catch (const std::runtime_error& e) {
            throw std::runtime_error("cannot read the attachment \"" + platform::Utf16ToUtf8(name) +
                                     "\": " + e.what());
        }
    }
    AddClassProperties(message, entry, kind);
    return message;
}

msgfile::MsgMessage ComposeContactMessage(const content::ContactCardEntry& card) {
    msgfile::MsgMessage message;
    message.messageClass = card.messageClass.empty() ? u"IPM.Contact" : card.messageClass;
    const content::ContactValues& values = card.values;
    auto value = [&values](content::ContactField field) {
        return values[field] ? *values[field] : std::u16string();
    };
    message.subject =
        values[content::kFullName]
            ? value(content::kFullName)
            : value(content::kFirstName) +
                  (values[content::kFirstName] && values[content::kLastName] ? u" " : u"") +
                  value(content::kLastName);
    message.read = true;
    NamedProperties named(message.namedProperties);
    for (const ContactProperty& p : kContactProperties) {
        if (!values[p.field]) {
            continue;
        }
        if (p.tag == kDisplayName) {
            continue;  // the subject's property set above carries the name
        }
        if (p.tag != 0) {
            AddTagged(message, p.tag, *values[p.field]);
        } else {
            named.Add(kPsetidAddress, p.lid, *values[p.field]);
        }
    }
    AddTagged(message, kDisplayName, message.subject);
    if (values[content::kEmail]) {
        named.Add(kPsetidAddress, kLidEmail1EmailAddress, *values[content::kEmail]);
        named.Add(kPsetidAddress, kLidEmail1AddressType, std::u16string(u"SMTP"));
        named.Add(kPsetidAddress, kLidEmail1OriginalDisplayName, *values[content::kEmail]);
        if (!values[content::kDisplayAs]) {
            named.Add(kPsetidAddress, kLidEmail1DisplayName,
                      message.subject + u" (" + *values[content::kEmail] + u")");
        }
    }
    if (KindOfClass(message.messageClass) == ItemKind::kDistList) {
        named.Add(kPsetidAddress, kLidDistributionListName, message.subject);
    }
    return message;
}

}  // namespace msgexport
