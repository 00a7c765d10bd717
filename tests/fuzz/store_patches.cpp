#include "store_patches.h"

#include <algorithm>

#include "tools/edbforge/database_writer.h"
#include "tools/edbforge/scenario_json.h"

namespace fuzz {
namespace {

std::uint16_t Get16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// Makes a page's checksums right: the file header and its copy have one checksum of their
// own, every other page two seeded with its page number.
void RepairChecksums(damaged::Bytes& file, std::size_t pageSize, std::size_t filePage) {
    std::uint8_t* p = file.data() + filePage * pageSize;
    if (filePage < 2) {
        Put32(p, edbforge::headerChecksum(p, pageSize));
        return;
    }
    const auto [x, ecc] =
        edbforge::pageChecksums(p, pageSize, static_cast<std::uint32_t>(filePage - 1));
    Put32(p, x);
    Put32(p + 4, ecc);
}

}  // namespace

edbforge::Scenario TinyStoreScenario() {
    edbforge::Scenario sc;
    edbforge::Mailbox mailbox{0xa01, u"Ann Lee", {}};
    edbforge::Folder inbox{0x0100000000001001ULL, 0, u"Inbox", u"IPF.Note", {}};
    edbforge::Item plain;
    plain.messageClass = u"IPF.Note";
    plain.subject = u"Plain text";
    plain.senderName = u"Bob Stone";
    plain.sender = edbforge::Address{"Bob Stone", "bob.stone@contoso.com"};
    plain.date = edbforge::filetimeFromIso("2009-03-05T14:07:09Z");
    plain.plainBody = u"Hello Ann,\r\nthe figures are attached.\r\nBob";
    plain.attachments = {{u"figures.bin", edbforge::fillerBytes(1500, 7), 0}};
    edbforge::Item html;
    html.subject = u"HTML";
    html.subjectPrefix = u"RE: ";
    html.recipients = {{"Ann Lee", "ann.lee@contoso.com"}, {"Carla Weber", "carla@fabrikam.de"}};
    html.htmlBody = "<html><body><p>Caf\xc3\xa9 at noon?</p></body></html>";
    edbforge::Item rtf;
    rtf.messageClass = u"IPF.Note";
    rtf.subject = u"RTF";
    rtf.rtfBody = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}Hello \\b world\\b0\\par}";
    inbox.items = {plain, html, rtf};
    // Short mails enough to spread the Inbox and "Msg" over more than one page.
    for (int n = 1; n <= 14; ++n) {
        edbforge::Item note;
        note.subject = u"Note " + std::u16string(1, static_cast<char16_t>(u'A' + n));
        note.plainBody = std::u16string(120, static_cast<char16_t>(u'a' + n));
        note.senderName = u"Carla Weber";
        inbox.items.push_back(note);
    }
    edbforge::Folder contacts{0x0100000000001002ULL, 0, u"Contacts", u"IPF.Contact", {}};
    edbforge::Item contact;
    contact.messageClass = u"IPM.Contact";
    contact.subject = u"Bob Stone";
    contact.properties = {{"S82a0", u"Bob Stone"}, {"S3a09", u"+1 555 0100"}};
    contacts.items = {contact};
    edbforge::Folder calendar{0x0100000000001003ULL, 0, u"Calendar", u"IPF.Appointment", {}};
    edbforge::Item meeting;
    meeting.messageClass = u"IPM.Appointment";
    meeting.subject = u"Budget meeting";
    meeting.date = edbforge::filetimeFromIso("2009-03-06T09:00:00Z");
    meeting.secondDate = edbforge::filetimeFromIso("2009-03-06T10:00:00Z");
    meeting.appointmentText = u"Room 4";
    calendar.items = {meeting};
    mailbox.folders = {inbox, contacts, calendar};
    sc.mailboxes = {mailbox};
    return sc;
}

StoreDamage ParseDamage(std::span<const std::uint8_t> input) {
    StoreDamage damage;
    if (input.empty()) {
        return damage;
    }
    damage.smallStore = (input[0] & 1) != 0;
    damage.repairChecksums = (input[0] & 2) != 0;
    std::size_t at = 1;
    if ((input[0] & 4) != 0 && input.size() >= 3) {
        damage.cut = true;
        damage.cutAt = Get16(input, 1);
        at = 3;
    }
    while (input.size() - at >= 6) {
        Patch patch;
        patch.kind = static_cast<Patch::Kind>(input[at] % 4);
        patch.page = Get16(input, at + 1);
        patch.offset = Get16(input, at + 3);
        const std::size_t count = input[at + 5];
        at += 6;
        if (patch.kind == Patch::kWrite || patch.kind == Patch::kXor) {
            const std::size_t n = std::min(count, input.size() - at);
            patch.bytes.assign(input.begin() + static_cast<std::ptrdiff_t>(at),
                               input.begin() + static_cast<std::ptrdiff_t>(at + n));
            at += n;
        } else if (patch.kind == Patch::kZero) {
            patch.bytes.resize(count);
        }
        damage.patches.push_back(std::move(patch));
    }
    return damage;
}

std::vector<std::uint8_t> EncodeDamage(const StoreDamage& damage) {
    std::vector<std::uint8_t> out;
    out.push_back(static_cast<std::uint8_t>(
        (damage.smallStore ? 1 : 0) | (damage.repairChecksums ? 2 : 0) | (damage.cut ? 4 : 0)));
    if (damage.cut) {
        Put16(out, damage.cutAt);
    }
    for (const Patch& patch : damage.patches) {
        out.push_back(patch.kind);
        Put16(out, patch.page);
        Put16(out, patch.offset);
        out.push_back(static_cast<std::uint8_t>(std::min<std::size_t>(patch.bytes.size(), 255)));
        if (patch.kind == Patch::kWrite || patch.kind == Patch::kXor) {
            out.insert(out.end(), patch.bytes.begin(),
                       patch.bytes.begin() + static_cast<std::ptrdiff_t>(
                                                 std::min<std::size_t>(patch.bytes.size(), 255)));
        }
    }
    return out;
}

damaged::Bytes ApplyDamage(const damaged::Bytes& store, const StoreDamage& damage) {
    damaged::Bytes file = store;
    const std::size_t pageSize = damaged::PageMap::Of(store).pageSize;
    const std::size_t pages = file.size() / pageSize;
    for (const Patch& patch : damage.patches) {
        const std::size_t page = patch.page % pages;
        const std::size_t offset = patch.offset % pageSize;
        std::uint8_t* p = file.data() + page * pageSize;
        switch (patch.kind) {
            case Patch::kWrite:
            case Patch::kXor:
                for (std::size_t i = 0; i < patch.bytes.size() && offset + i < pageSize; ++i) {
                    p[offset + i] = patch.kind == Patch::kWrite
                                        ? patch.bytes[i]
                                        : static_cast<std::uint8_t>(p[offset + i] ^ patch.bytes[i]);
                }
                break;
            case Patch::kZero:
                std::fill(p + offset, p + std::min(pageSize, offset + 16 * patch.bytes.size()),
                          std::uint8_t{0});
                break;
            case Patch::kCopyPage:
                std::copy_n(file.data() + (patch.offset % pages) * pageSize, pageSize, p);
                break;
        }
        if (damage.repairChecksums) {
            RepairChecksums(file, pageSize, page);
        }
    }
    if (damage.cut) {
        file.resize(file.size() * damage.cutAt / 65536);
    }
    return file;
}

}  // namespace fuzz
