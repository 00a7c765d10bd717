#include "fixture_stores.h"

#include <fmt/format.h>

#include "tools/edbforge/scenario_json.h"

namespace damaged {
namespace {

using edbforge::Address;
using edbforge::Folder;
using edbforge::Item;

std::u16string Wide(const std::string& text) {
    return edbforge::utf8ToUtf16(text);
}

Item Mail(int n, const std::string& sender, bool withAttachment) {
    Item mail;
    // Mail folders list items of class "IPF.Note" and items without a class.
    if (n % 3 != 0) {
        mail.messageClass = u"IPF.Note";
    }
    mail.subject = Wide(fmt::format("Status report {:02}", n));
    if (n % 3 == 1) {
        mail.subjectPrefix = u"RE: ";
    }
    mail.senderName = Wide(sender);
    mail.sender = Address{sender, fmt::format("sender{}@contoso.com", n % 5)};
    mail.recipients = {{"Ann Lee", "ann.lee@contoso.com"},
                       {"Jürgen Müller", "juergen.mueller@fabrikam.de"}};
    mail.date = edbforge::filetimeFromIso(fmt::format("2009-03-{:02}T10:{:02}:00Z", 1 + n % 28, n));
    switch (n % 4) {
        case 0:
            mail.plainBody = Wide(fmt::format("Plain body of report {}.\r\n", n));
            break;
        case 1:
            // Long enough to be kept outside the record.
            mail.plainBody = std::u16string(900 + 37 * static_cast<std::size_t>(n), u'ä');
            break;
        case 2:
            mail.htmlBody = fmt::format("<html><body><p>Report {}</p></body></html>", n);
            break;
        default:
            mail.rtfBody = fmt::format("{{\\rtf1\\ansi\\deff0 Report \\b {}\\b0\\par}}", n);
            break;
    }
    if (withAttachment) {
        mail.attachments = {{Wide(fmt::format("report-{}.bin", n)),
                             edbforge::fillerBytes(600 + 300 * static_cast<std::size_t>(n % 7),
                                                   static_cast<std::uint64_t>(n)),
                             0}};
    }
    return mail;
}

Item Contact(const std::string& name, const std::string& phone) {
    Item contact;
    contact.messageClass = u"IPM.Contact";
    contact.subject = Wide(name);
    contact.properties = {{"S82a0", Wide(name)},
                          {"S3a09", Wide(phone)},
                          {"S81b0", Wide("mail@" + name.substr(0, name.find(' ')) + ".example")}};
    return contact;
}

}  // namespace

edbforge::Scenario SmallStoreScenario() {
    edbforge::Scenario sc;
    edbforge::Mailbox ann{0xa01, u"Ann Lee", {}};
    Folder inbox{0x0100000000001001ULL, 0, u"Inbox", u"IPF.Note", {}};
    for (int n = 1; n <= 36; ++n) {
        inbox.items.push_back(Mail(n, n % 2 == 0 ? "Bob Stone" : "Carla Weber", n % 5 == 0));
    }
    Folder sent{0x0100000000001002ULL, 0, u"Sent Items", u"IPF.Note", {}};
    for (int n = 40; n < 46; ++n) {
        sent.items.push_back(Mail(n, "Ann Lee", n % 3 == 0));
    }
    Folder contacts{0x0100000000001003ULL, 0, u"Contacts", u"IPF.Contact", {}};
    for (const auto& [name, phone] : {std::pair{"Bob Stone", "+1 555 0100"},
                                      {"Carla Weber", "+49 30 1234"},
                                      {"David Novak", "+420 2 5555"},
                                      {"Eve Adams", "+44 20 7946"}}) {
        contacts.items.push_back(Contact(name, phone));
    }
    ann.folders = {inbox, sent, contacts};
    edbforge::Mailbox bob{0xb01, u"Bob Stone", {}};
    Folder bobInbox{0x0100000000002001ULL, 0, u"Inbox", u"IPF.Note", {}};
    for (int n = 60; n < 68; ++n) {
        bobInbox.items.push_back(Mail(n, "Ann Lee", n % 4 == 0));
    }
    bob.folders = {bobInbox};
    sc.mailboxes = {ann, bob};
    // Both catalogues near the start of the file, as the engine writes them: a copy cut short
    // after them still opens.
    sc.options.cataloguePages = 64;
    return sc;
}

void WriteSmallStore(const std::filesystem::path& path) {
    edbforge::StoreBuilder::build(SmallStoreScenario(), path);
}

std::filesystem::path SampleStorePath() {
    return std::filesystem::path(EDB2MSG_SOURCE_DIR) / "samples" / "sample-store.edb";
}

}  // namespace damaged
