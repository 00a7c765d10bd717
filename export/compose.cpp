#include "export/compose.h"

#include <array>
#include <cstdint>
#include <optional>

#include "content/work_files.h"
#include "platform/datetime.h"

namespace msgexport {

namespace {

using dispatch::InvokeKind;
using dispatch::Variant;

void Put(dispatch::DispatchObject& object, std::int32_t dispid, Variant value) {
    object.Invoke(dispid, InvokeKind::kPut, std::span<const Variant>(&value, 1));
}

// Reads digits at pos; nothing when there are none or more than maxDigits.
std::optional<int> Number(std::u16string_view text, std::size_t& pos, std::size_t maxDigits) {
    int value = 0;
    std::size_t digits = 0;
    while (pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9') {
        if (++digits > maxDigits) {
            return std::nullopt;
        }
        value = value * 10 + (text[pos++] - u'0');
    }
    return digits == 0 ? std::nullopt : std::optional<int>(value);
}

bool Literal(std::u16string_view text, std::size_t& pos, std::u16string_view expected) {
    if (text.substr(pos, expected.size()) != expected) {
        return false;
    }
    pos += expected.size();
    return true;
}

}  // namespace

namespace {

struct CivilTime {
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    int seconds = 0;  // of the day
};

// "Mar 05, 2009 14:07:09" read whole and checked; nothing for any other text.
std::optional<CivilTime> ParseDateText(std::u16string_view text) {
    static constexpr std::array<std::u16string_view, 12> kMonths = {u"Jan", u"Feb", u"Mar", u"Apr",
                                                                    u"May", u"Jun", u"Jul", u"Aug",
                                                                    u"Sep", u"Oct", u"Nov", u"Dec"};
    unsigned month = 0;
    for (unsigned i = 0; i < kMonths.size(); ++i) {
        if (text.starts_with(kMonths[i])) {
            month = i + 1;
        }
    }
    std::size_t pos = 3;
    if (month == 0 || !Literal(text, pos, u" ")) {
        return std::nullopt;
    }
    const auto day = Number(text, pos, 2);
    if (!day || !Literal(text, pos, u", ")) {
        return std::nullopt;
    }
    const auto year = Number(text, pos, 4);
    if (!year || !Literal(text, pos, u" ")) {
        return std::nullopt;
    }
    const auto hour = Number(text, pos, 2);
    std::optional<int> minute;
    std::optional<int> second;
    if (hour && Literal(text, pos, u":")) {
        minute = Number(text, pos, 2);
        if (minute && Literal(text, pos, u":")) {
            second = Number(text, pos, 2);
        }
    }
    static constexpr std::array<unsigned, 12> kMonthDays = {31, 29, 31, 30, 31, 30,
                                                            31, 31, 30, 31, 30, 31};
    if (!second || pos != text.size() || *day < 1 ||
        static_cast<unsigned>(*day) > kMonthDays[month - 1] || *hour > 23 || *minute > 59 ||
        *second > 59) {
        return std::nullopt;
    }
    const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
    if (month == 2 && *day == 29 && !leap) {
        return std::nullopt;
    }
    return CivilTime{*year, month, static_cast<unsigned>(*day),
                     *hour * 3600 + *minute * 60 + *second};
}

}  // namespace

double DateTextToAutomationDate(std::u16string_view text) {
    const std::optional<CivilTime> time = ParseDateText(text);
    if (!time) {
        return 0.0;
    }
    const std::int64_t days = platform::DaysFromCivil(time->year, time->month, time->day) -
                              platform::DaysFromCivil(1899, 12, 30);
    const double fraction = time->seconds / 86400.0;
    // Before the epoch the time of day still counts forwards from the day's start.
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

std::optional<std::int64_t> DateTextToUnixTime(std::u16string_view text) {
    const std::optional<CivilTime> time = ParseDateText(text);
    if (!time) {
        return std::nullopt;
    }
    return platform::DaysFromCivil(time->year, time->month, time->day) * 86400 + time->seconds;
}

std::u16string SenderText(std::u16string_view from) {
    std::u16string sender;
    const std::size_t at = from.find(u'@');
    if (at != std::u16string_view::npos && at + 1 < from.size()) {
        sender.append(from).append(u"<").append(from).append(u">");
    } else {
        for (char16_t c : from) {
            if (c != u'/' && c != u'<' && c != u'>') {
                sender.push_back(c);
            }
        }
    }
    for (char16_t& c : sender) {
        if (c == u',') {
            c = u' ';
        }
    }
    return sender;
}

std::u16string RecipientsText(const content::MailDetailEntry& entry) {
    if (entry.recipientList.empty()) {
        return entry.recipients && !entry.recipients->empty() ? *entry.recipients : u"None";
    }
    std::u16string text;
    for (const store::NamedAddress& recipient : entry.recipientList) {
        std::u16string name = recipient.name;
        for (char16_t& c : name) {
            if (c == u',' || c == u';' || c == u'<' || c == u'>') {
                c = u' ';
            }
        }
        if (!name.empty() && name != recipient.address) {
            text += name;
            text += u"<";
            text += recipient.address;
            text += u">";
        } else {
            text += recipient.address;
        }
        text += u",";
    }
    return text;
}

ItemBodies TakeItemBodies(std::vector<content::BodyPartEntry>& bodyParts, std::u16string_view key) {
    ItemBodies bodies;
    std::erase_if(bodyParts, [&](content::BodyPartEntry& part) {
        if (part.messageKey != key) {
            return false;
        }
        std::optional<std::u16string>& body =
            part.kind == content::kKindHtml ? bodies.html : bodies.text;
        body = body.value_or(u"") + part.text;
        return true;
    });
    return bodies;
}

void ComposeMessage(dispatch::DispatchObject& message, const content::MailDetailEntry& entry,
                    std::vector<content::BodyPartEntry>& bodyParts,
                    const std::filesystem::path& workFolder) {
    const std::u16string sender = SenderText(entry.from);
    Put(message, member::kSender, Variant::String(sender));
    Put(message, member::kSentRepresenting, Variant::String(sender));
    Put(message, member::kSubject,
        Variant::String(entry.subject.empty() ? u"Unknown <Unknown>" : entry.subject));
    Put(message, member::kRecipients, Variant::String(RecipientsText(entry)));
    const double date = DateTextToAutomationDate(entry.date);
    Put(message, member::kDeliveryTime, Variant::Date(date));
    Put(message, member::kSubmitTime, Variant::Date(date));
    Put(message, member::kRead, Variant::Bool(true));
    Put(message, member::kSent, Variant::Bool(true));
    if (!entry.attachments.empty()) {
        AddAttachmentFiles(message, entry.attachments, workFolder);
    }

    // This item's body of its own kind: an item with both a plain-text and an HTML body keeps
    // the other one out of this one.
    ItemBodies bodies = TakeItemBodies(bodyParts, entry.messageId.value_or(u""));
    if (entry.bodyKind == content::kKindText) {
        Put(message, member::kPlainBody, Variant::String(std::move(bodies.text).value_or(u"")));
        Put(message, member::kBodyFormat, Variant::Int(msgfile::kBodyFormatPlain));
    } else {
        Put(message, member::kHtmlBody, Variant::String(std::move(bodies.html).value_or(u"")));
        Put(message, member::kBodyFormat, Variant::Int(msgfile::kBodyFormatHtml));
    }
}

void AddAttachmentFiles(dispatch::DispatchObject& message,
                        const std::vector<content::MailDetailEntry::Attachment>& files,
                        const std::filesystem::path& workFolder) {
    const dispatch::DispatchPtr attachments = dispatch::ResultObject(
        message.Invoke(member::kAttachments, InvokeKind::kGet, {}), member::kAttachments);
    for (const auto& [name, workFile] : files) {
        if (name.empty()) {
            continue;
        }
        // The content lies in its work file, made safe again so that it is always inside the
        // work folder.
        const std::filesystem::path path = workFolder / content::SafeWorkFileName(workFile);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) {
            continue;
        }
        const std::array<Variant, 4> args = {Variant::String(path.u16string()), Variant::Missing(),
                                             Variant::Missing(), Variant::String(name)};
        try {
            attachments->Invoke(member::kAddAttachment, InvokeKind::kMethod, args);
        } catch (const dispatch::DispatchError&) {
            // A file the component refuses is left out.
        }
    }
}

emlfile::EmlMessage ComposeEmlMessage(const content::MailDetailEntry& entry,
                                      std::vector<content::BodyPartEntry>& bodyParts,
                                      const std::filesystem::path& workFolder) {
    emlfile::EmlMessage eml;
    const msgfile::SenderInfo sender = msgfile::ParseSenderText(entry.from);
    if (!sender.name.empty() || sender.address) {
        eml.from = emlfile::EmlMailbox{
            sender.address && sender.name == *sender.address ? u"" : sender.name,
            sender.address.value_or(u"")};
    }
    if (!entry.recipientList.empty()) {
        for (const store::NamedAddress& recipient : entry.recipientList) {
            eml.to.push_back({recipient.name, recipient.address});
        }
    } else if (entry.recipients) {
        for (const msgfile::MsgRecipient& recipient :
             msgfile::ParseRecipientsText(*entry.recipients)) {
            eml.to.push_back(
                {recipient.displayName == recipient.address ? u"" : recipient.displayName,
                 recipient.address});
        }
    }
    eml.subject = entry.subject;
    eml.date = DateTextToUnixTime(entry.date);
    eml.messageId = entry.internetMessageId;
    ItemBodies bodies = TakeItemBodies(bodyParts, entry.messageId.value_or(u""));
    eml.plainBody = std::move(bodies.text);
    eml.htmlBody = std::move(bodies.html);
    for (const auto& [name, workFile] : entry.attachments) {
        if (name.empty()) {
            continue;
        }
        const std::filesystem::path path = workFolder / content::SafeWorkFileName(workFile);
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) {
            eml.attachments.push_back({name, path});
        }
    }
    return eml;
}

}  // namespace msgexport
