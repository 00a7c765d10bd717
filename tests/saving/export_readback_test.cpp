// The whole sample store saved through the real message-file component, and every message
// file read back by msgconvert and olefile and compared with what the store was built from.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "export/compose.h"
#include "export/export_run.h"
#include "msg_readback.h"
#include "platform/codepage.h"
#include "support/temp_dir.h"
#include "tests/store/store_fixture.h"
#include "tools/edbforge/scenario_json.h"
#include "tools/edbforge/store_builder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kSamples = fs::path(EDB2MSG_SOURCE_DIR) / "samples";

class NoUi final : public msgexport::ExportUi {
  public:
    void ShowMessage(std::u16string_view text) override { shown.emplace_back(text); }
    std::vector<std::u16string> shown;
};

// "2009-03-05T14:07:09Z" as msgconvert writes dates: "05 Mar 2009 14:07:09".
std::string MailDate(const std::string& iso) {
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int month = std::stoi(iso.substr(5, 2));
    return iso.substr(8, 2) + " " + kMonths[month - 1] + " " + iso.substr(0, 4) + " " +
           iso.substr(11, 8);
}

std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

// Scans the store and saves every mailbox of it into dir/saved in the format.
msgexport::SaveReport SaveWholeStore(const fs::path& storePath, const fs::path& dir,
                                     msgexport::MailFormat format) {
    fs::create_directories(dir / "work");
    msgfile::RegisterMessageFileComponent();
    store_fixture::RecordingTree tree;
    store::NullScanHost host;
    store::StoreSession session(host, &tree);
    EXPECT_EQ(store::OpenStore(session, storePath), store::kOk);
    EXPECT_EQ(store::ListTables(session), store::kOk);
    for (const char16_t* table : {u"Mailbox", u"Folders", u"Msg", u"1-23"}) {
        EXPECT_EQ(store::ScanTableByName(session, table), store::kOk);
    }
    store::ReleaseStore(session);
    msgexport::SaveRequest request{
        storePath,
        dir / "saved",
        dir / "work",
        msgexport::BuildExportList(session.model, [](auto) { return true; }),
        store::ItemFilter{},
        false,
        format};
    NoUi ui;
    msgexport::SaveReport report = msgexport::RunSave(session, request, &ui);
    EXPECT_TRUE(report.error.empty()) << report.error;
    EXPECT_TRUE(ui.shown.empty());
    return report;
}

// The one file of the folder.
fs::path OnlyFile(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        files.push_back(e.path());
    }
    EXPECT_EQ(files.size(), 1u) << folder;
    return files.empty() ? fs::path() : files.front();
}

TEST(ExportReadback, EveryMailOfTheSampleStoreComesBackWhole) {
    testing_support::TempDir dir;
    const fs::path storePath = kSamples / "sample-store.edb";
    const msgexport::SaveReport report =
        SaveWholeStore(storePath, dir.path(), msgexport::MailFormat::kMsg);
    ASSERT_TRUE(report.error.empty());
    const fs::path destinationRoot = dir / "saved";

    std::ifstream in(kSamples / "sample-store.json");
    const json scenario = json::parse(in);
    int checked = 0;
    for (const json& mailbox : scenario["mailboxes"]) {
        for (const json& folder : mailbox["folders"]) {
            if (folder.value("class", "") != "IPF.Note" || !folder.contains("items")) {
                continue;
            }
            const fs::path saved = destinationRoot / mailbox["name"].get<std::string>() /
                                   folder["name"].get<std::string>();
            if (!fs::exists(saved)) {
                continue;  // hidden folders are not saved
            }
            std::vector<fs::path> files;
            for (const auto& e : fs::directory_iterator(saved)) {
                files.push_back(e.path());
            }
            EXPECT_EQ(files.size(), folder["items"].size()) << saved;
            for (const json& item : folder["items"]) {
                const std::string subject =
                    item.value("subjectPrefix", "") + item.value("subject", "");
                SCOPED_TRACE(subject);
                const fs::path file = msgtest::SavedFileOfSubject(files, subject);
                ASSERT_FALSE(file.empty());
                const msgtest::ReadBackMessage mail = msgtest::ReadBackWithMsgconvert(file);
                EXPECT_EQ(mail.subject, subject);
                EXPECT_NE(mail.from.find(item["from"]["name"].get<std::string>() + " <" +
                                         item["from"]["address"].get<std::string>() + ">"),
                          std::string::npos)
                    << mail.from;
                // Each recipient with its display name.
                for (const json& to : item["to"]) {
                    EXPECT_NE(mail.to.find(to["name"].get<std::string>() + " <" +
                                           to["address"].get<std::string>() + ">"),
                              std::string::npos)
                        << mail.to;
                }
                EXPECT_NE(mail.date.find(MailDate(item["date"])), std::string::npos) << mail.date;
                if (item.contains("html")) {
                    ASSERT_TRUE(mail.htmlBody);
                    EXPECT_NE(mail.htmlBody->find(item["html"].get<std::string>().substr(0, 40)),
                              std::string::npos);
                    EXPECT_EQ(mail.htmlBody->find(item["html"].get<std::string>()), 0u)
                        << "the HTML body is the item's HTML alone: " << *mail.htmlBody;
                } else if (item.contains("body")) {
                    ASSERT_TRUE(mail.textBody);
                    EXPECT_EQ(WithoutCarriageReturns(*mail.textBody)
                                  .find(WithoutCarriageReturns(item["body"])),
                              0u)
                        << *mail.textBody;
                } else if (item.contains("rtf")) {
                    ASSERT_TRUE(mail.textBody);
                    EXPECT_FALSE(mail.textBody->empty());
                    EXPECT_EQ(mail.textBody->find("\\rtf"), std::string::npos);
                }
                const json attachments = item.value("attachments", json::array());
                ASSERT_EQ(mail.attachments.size(), attachments.size());
                for (std::size_t i = 0; i < attachments.size(); ++i) {
                    EXPECT_EQ(mail.attachments[i].name, attachments[i]["name"]);
                    if (attachments[i].contains("text")) {
                        EXPECT_EQ(mail.attachments[i].bytes, attachments[i]["text"]);
                    } else {
                        EXPECT_EQ(mail.attachments[i].bytes.size(), attachments[i]["size"]);
                    }
                }
                const msgtest::OleContents ole = msgtest::ReadOle(file);
                EXPECT_TRUE(ole.orderProblems.empty());
                EXPECT_NE(ole.Find("__nameid_version1.0"), nullptr);
                EXPECT_NE(ole.Find("__properties_version1.0"), nullptr);
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, report.mails());
}

// Attachment names that no file name may hold, and recipients with display names: the message
// carries the names as the store holds them, in both formats; only the work files had safe
// names.
TEST(ExportReadback, NamesStayAsTheStoreHoldsThem) {
    testing_support::TempDir dir;
    edbforge::Item item;
    item.messageClass = u"IPM.Note";
    item.subject = u"Odd names";
    item.senderName = edbforge::utf8ToUtf16("J\u00fcrgen M\u00fcller");
    item.sender = edbforge::Address{"J\u00fcrgen M\u00fcller", "juergen.mueller@fabrikam.de"};
    item.recipients = {{"Ann Lee", "ann.lee@contoso.com"},
                       {"Fran\u00e7ois Dubois", "francois.dubois@adatum.fr"}};
    item.date = edbforge::filetimeFromIso("2009-03-05T14:07:09Z");
    item.plainBody = u"See the files.";
    // The last two share their work file's name with the first and the third: each still
    // keeps its own content.
    const std::vector<std::pair<std::string, std::string>> files = {
        {"a:b.txt", "colon\n"},
        {"<angle>|pipe.txt", "angle and pipe\n"},
        {"\u00c4nderungen.txt", "umlaut\n"},
        {"a_b.txt", "underscore\n"},
        {"\u00c4nderungen.txt", "the same name again\n"}};
    for (const auto& [name, text] : files) {
        item.attachments.push_back(
            {edbforge::utf8ToUtf16(name), edbforge::Bytes(text.begin(), text.end()), 0});
    }
    edbforge::Scenario scenario;
    scenario.mailboxes = {
        {0xa01, u"Ann Lee", {{0x0100000000001001ULL, 0, u"Inbox", u"IPF.Note", {item}}}}};
    const fs::path storePath = dir / "odd.edb";
    edbforge::StoreBuilder::build(scenario, storePath);

    for (const auto format : {msgexport::MailFormat::kMsg, msgexport::MailFormat::kEml}) {
        const bool msg = format == msgexport::MailFormat::kMsg;
        SCOPED_TRACE(msg ? "msg" : "eml");
        const fs::path out = dir / (msg ? "msg" : "eml");
        const msgexport::SaveReport report = SaveWholeStore(storePath, out, format);
        ASSERT_EQ(report.mails(), 1);
        const fs::path file = OnlyFile(out / "saved" / "Ann Lee" / "Inbox");
        ASSERT_EQ(file.extension(), msg ? ".msg" : ".eml");
        const msgtest::ReadBackMessage mail =
            msg ? msgtest::ReadBackWithMsgconvert(file) : msgtest::ReadBackEmlFile(file);
        EXPECT_EQ(mail.from, "J\u00fcrgen M\u00fcller <juergen.mueller@fabrikam.de>");
        EXPECT_EQ(
            mail.to,
            "Ann Lee <ann.lee@contoso.com>, Fran\u00e7ois Dubois <francois.dubois@adatum.fr>");
        ASSERT_EQ(mail.attachments.size(), files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(mail.attachments[i].name, files[i].first);
            EXPECT_EQ(mail.attachments[i].bytes, files[i].second);
        }
        if (msg) {
            // The long file name and the display name of each attachment, read by olefile.
            const msgtest::OleContents ole = msgtest::ReadOle(file);
            for (std::size_t i = 0; i < files.size(); ++i) {
                const std::string storage = "__attach_version1.0_#0000000" + std::to_string(i);
                EXPECT_EQ(msgtest::Utf16StreamToUtf8(ole.Stream(storage + "/__substg1.0_3707001F")),
                          files[i].first);
                EXPECT_EQ(msgtest::Utf16StreamToUtf8(ole.Stream(storage + "/__substg1.0_3001001F")),
                          files[i].first);
            }
            EXPECT_EQ(msgtest::Utf16StreamToUtf8(
                          ole.Stream("__recip_version1.0_#00000001/__substg1.0_3001001F")),
                      "Fran\u00e7ois Dubois");
        }
    }
}

const std::string kAppointmentSet = "00062002-0000-0000-C000-000000000046/";
const std::string kTaskSet = "00062003-0000-0000-C000-000000000046/";
const std::string kAddressSet = "00062004-0000-0000-C000-000000000046/";
const std::string kLogSet = "0006200A-0000-0000-C000-000000000046/";

std::vector<fs::path> FilesWithExtension(const fs::path& folder, const std::string& extension) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().extension() == extension) {
            files.push_back(e.path());
        }
    }
    return files;
}

// Appointments, tasks, journal entries and notes come back as message files of their own class
// with the class's properties, each calendar folder as one .ics of its events, and each contact
// as a vCard and a message file beside its page; the whole store is saved with nothing skipped.
TEST(ExportReadback, EveryOtherItemComesBackAsItsClass) {
    testing_support::TempDir dir;
    const msgexport::SaveReport report =
        SaveWholeStore(kSamples / "sample-store.edb", dir.path(), msgexport::MailFormat::kMsg);
    EXPECT_EQ(report.skipped(), 0);
    const fs::path destinationRoot = dir / "saved";
    std::ifstream in(kSamples / "sample-store.json");
    const json scenario = json::parse(in);
    int items = 0;
    int contacts = 0;
    for (const json& mailbox : scenario["mailboxes"]) {
        for (const json& folder : mailbox["folders"]) {
            const std::string folderClass = folder.value("class", "");
            if (folderClass == "IPF.Note" || folder.value("items", json::array()).empty()) {
                continue;
            }
            const fs::path saved = destinationRoot / mailbox["name"].get<std::string>() /
                                   folder["name"].get<std::string>();
            SCOPED_TRACE(saved.string());
            const std::vector<fs::path> messages = FilesWithExtension(saved, ".msg");
            EXPECT_EQ(messages.size(), folder["items"].size());
            json calendar;
            if (folderClass == "IPF.Appointment") {
                const std::vector<fs::path> ics = FilesWithExtension(saved, ".ics");
                ASSERT_EQ(ics.size(), 1u);
                calendar = json::parse(msgtest::ReadBackJson("ics", ics[0]));
                EXPECT_EQ(calendar["version"], "2.0");
                EXPECT_TRUE(calendar["problems"].empty()) << calendar["problems"];
                EXPECT_EQ(calendar["events"].size(), folder["items"].size());
            }
            const std::vector<fs::path> cards = FilesWithExtension(saved, ".vcf");
            EXPECT_EQ(cards.size(), folderClass == "IPF.Contact" ? folder["items"].size() : 0u);
            for (const json& item : folder["items"]) {
                const std::string subject = item["subject"];
                SCOPED_TRACE(subject);
                // A contact's files are named after its full name and last name, as its page.
                const std::string base =
                    folderClass == "IPF.Contact"
                        ? subject + item["properties"]["S3a06"].get<std::string>()
                        : subject;
                const fs::path file = msgtest::SavedFileOfSubject(messages, base);
                ASSERT_FALSE(file.empty());
                const json props = json::parse(msgtest::ReadBackJson("props", file));
                EXPECT_EQ(props["class"], item["class"]);
                const json& named = props["named"];
                if (folderClass == "IPF.Contact") {
                    const json& p = item["properties"];
                    EXPECT_EQ(props["tagged"]["0x3001"], p["S82a0"]);
                    EXPECT_EQ(props["tagged"]["0x3A11"], p["S3a06"]) << "the surname";
                    EXPECT_EQ(named[kAddressSet + "0x8083"], p["S81b0"]);
                    const fs::path card = msgtest::SavedFileOfSubject(cards, base);
                    ASSERT_FALSE(card.empty());
                    const json vcard = json::parse(msgtest::ReadBackJson("vcard", card));
                    EXPECT_TRUE(vcard["problems"].empty()) << vcard["problems"];
                    ASSERT_EQ(vcard["cards"].size(), 1u);
                    const json& c = vcard["cards"][0];
                    EXPECT_EQ(c["VERSION"][0]["value"], "4.0");
                    EXPECT_EQ(c["FN"][0]["value"], p["S82a0"]);
                    EXPECT_EQ(c["N"][0]["value"]["family"], p["S3a06"]);
                    EXPECT_EQ(c["N"][0]["value"]["given"], p["S3a11"]);
                    EXPECT_EQ(c["EMAIL"][0]["value"], p["S81b0"]);
                    if (p.contains("S3a16")) {
                        EXPECT_EQ(c["ORG"][0]["value"][0], p["S3a16"]);
                    }
                    std::string phones;
                    for (const json& tel : c.value("TEL", json::array())) {
                        phones += tel["value"].get<std::string>() + "|";
                    }
                    for (const char* column : {"S3a08", "S3a1c", "S3a09"}) {
                        if (p.contains(column)) {
                            EXPECT_NE(phones.find(p[column].get<std::string>() + "|"),
                                      std::string::npos)
                                << column << " in " << phones;
                        }
                    }
                    ++contacts;
                    continue;
                }
                const msgtest::ReadBackMessage message = msgtest::ReadBackWithMsgconvert(file);
                EXPECT_EQ(message.subject, subject);
                if (item.contains("body")) {
                    ASSERT_TRUE(message.textBody);
                    EXPECT_EQ(WithoutCarriageReturns(*message.textBody)
                                  .find(WithoutCarriageReturns(item["body"])),
                              0u);
                }
                if (folderClass == "IPF.Appointment") {
                    EXPECT_EQ(named[kAppointmentSet + "0x820D"], item["date"]);
                    EXPECT_EQ(named[kAppointmentSet + "0x820E"], item["secondDate"]);
                    EXPECT_EQ(named[kAppointmentSet + "0x8208"], item["appointment"]);
                    EXPECT_EQ(named[kAppointmentSet + "0x8205"], item["busyStatus"]);
                    EXPECT_EQ(named[kAppointmentSet + "0x8215"], item["allDay"]);
                    const json to = item.value("to", json::array());
                    ASSERT_EQ(props["recipients"].size(), to.size());
                    for (std::size_t i = 0; i < to.size(); ++i) {
                        EXPECT_EQ(props["recipients"][i], to[i]["name"]);
                    }
                    const json* event = nullptr;
                    for (const json& e : calendar["events"]) {
                        event = e["summary"] == subject ? &e : event;
                    }
                    ASSERT_NE(event, nullptr);
                    EXPECT_EQ((*event)["start"], item["date"]);
                    EXPECT_EQ((*event)["end"], item["secondDate"]);
                    EXPECT_EQ((*event)["location"], item["appointment"]);
                    EXPECT_EQ((*event)["organizer"],
                              "mailto:" + item["from"]["address"].get<std::string>());
                    EXPECT_EQ((*event)["organizer_cn"], item["from"]["name"]);
                    ASSERT_EQ((*event)["attendees"].size(), to.size());
                    for (std::size_t i = 0; i < to.size(); ++i) {
                        EXPECT_EQ((*event)["attendees"][i],
                                  "mailto:" + to[i]["address"].get<std::string>());
                    }
                } else if (folderClass == "IPF.Task") {
                    EXPECT_EQ(named[kTaskSet + "0x8104"], item["date"]);
                    EXPECT_EQ(named[kTaskSet + "0x8105"], item["secondDate"]);
                    EXPECT_EQ(named[kTaskSet + "0x8101"], item["taskStatus"]);
                    EXPECT_EQ(named[kTaskSet + "0x8102"], item["percentComplete"]);
                    EXPECT_EQ(named[kTaskSet + "0x811C"], item["taskStatus"] == 2);
                } else if (folderClass == "IPF.Journal") {
                    EXPECT_EQ(named[kLogSet + "0x8700"], item["journalType"]);
                    EXPECT_EQ(named[kLogSet + "0x8706"], item["date"]);
                    EXPECT_EQ(named[kLogSet + "0x8708"], item["secondDate"]);
                    EXPECT_EQ(named[kLogSet + "0x8707"], item["duration"]);
                }
                ++items;
            }
        }
    }
    EXPECT_EQ(items, 12);
    EXPECT_EQ(contacts, 5);
    EXPECT_EQ(report.contacts(), 5);
}

// The edges: an all-day appointment free of time, a journal entry whose duration is its times',
// a distribution list, and a contact whose values need escaping and folding in its vCard.
TEST(ExportReadback, ClassEdgesComeBackAsStored) {
    testing_support::TempDir dir;
    edbforge::Item allDay;
    allDay.messageClass = u"IPM.Appointment";
    allDay.subject = u"Company holiday";
    allDay.senderName = u"Ann Lee";
    allDay.sender = edbforge::Address{"Ann Lee", "ann.lee@contoso.com"};
    allDay.date = edbforge::filetimeFromIso("2009-05-01T00:00:00Z");
    allDay.secondDate = edbforge::filetimeFromIso("2009-05-02T00:00:00Z");
    allDay.allDay = true;
    allDay.busyStatus = 0;
    edbforge::Item call;
    call.messageClass = u"IPM.Activity";
    call.subject = u"Call";
    call.date = edbforge::filetimeFromIso("2009-05-04T10:00:00Z");
    call.secondDate = edbforge::filetimeFromIso("2009-05-04T10:40:00Z");
    call.journalType = u"Phone call";
    edbforge::Item list;
    list.messageClass = u"IPM.DistList";
    list.subject = u"Team";
    list.properties = {{"S82a0", u"Team"}};
    const std::u16string longName = edbforge::utf8ToUtf16(
        "M\u00fcller; Jos\u00e9, Ren\u00e9e the third of that n\u00e4me "
        "\u2013 Gesch\u00e4ftsf\u00fchrung");
    edbforge::Item contact;
    contact.messageClass = u"IPM.Contact";
    contact.subject = longName;
    contact.properties = {{"S82a0", longName}, {"S3a06", u"M\u00fcller"}, {"S3a16", u"A;B, C"}};
    edbforge::Scenario scenario;
    scenario.mailboxes = {
        {0xa01,
         u"Ann Lee",
         {{0x0100000000001001ULL, 0, u"Calendar", u"IPF.Appointment", {allDay}},
          {0x0100000000001002ULL, 0, u"Journal", u"IPF.Journal", {call}},
          {0x0100000000001003ULL, 0, u"Contacts", u"IPF.Contact", {list, contact}}}}};
    const fs::path storePath = dir / "edges.edb";
    edbforge::StoreBuilder::build(scenario, storePath);
    const msgexport::SaveReport report =
        SaveWholeStore(storePath, dir.path(), msgexport::MailFormat::kMsg);
    EXPECT_EQ(report.skipped(), 0);
    const fs::path saved = dir / "saved" / "Ann Lee";

    const std::vector<fs::path> ics = FilesWithExtension(saved / "Calendar", ".ics");
    ASSERT_EQ(ics.size(), 1u);
    const json calendar = json::parse(msgtest::ReadBackJson("ics", ics[0]));
    ASSERT_EQ(calendar["events"].size(), 1u);
    EXPECT_EQ(calendar["events"][0]["start"], "2009-05-01");
    EXPECT_EQ(calendar["events"][0]["end"], "2009-05-02");
    EXPECT_EQ(calendar["events"][0]["transp"], "TRANSPARENT");
    EXPECT_EQ(calendar["events"][0]["busy"], "FREE");
    const json holiday = json::parse(
        msgtest::ReadBackJson("props", FilesWithExtension(saved / "Calendar", ".msg").at(0)));
    EXPECT_EQ(holiday["named"][kAppointmentSet + "0x8215"], true);
    EXPECT_EQ(holiday["named"][kAppointmentSet + "0x8205"], 0);
    EXPECT_EQ(holiday["named"][kAppointmentSet + "0x8213"], 24 * 60);

    const json journal = json::parse(
        msgtest::ReadBackJson("props", FilesWithExtension(saved / "Journal", ".msg").at(0)));
    EXPECT_EQ(journal["class"], "IPM.Activity");
    EXPECT_EQ(journal["named"][kLogSet + "0x8707"], 40);

    const std::vector<fs::path> messages = FilesWithExtension(saved / "Contacts", ".msg");
    const json team =
        json::parse(msgtest::ReadBackJson("props", msgtest::SavedFileOfSubject(messages, "Team")));
    EXPECT_EQ(team["class"], "IPM.DistList");
    EXPECT_EQ(team["named"][kAddressSet + "0x8053"], "Team");
    const std::vector<fs::path> cards = FilesWithExtension(saved / "Contacts", ".vcf");
    ASSERT_EQ(cards.size(), 2u);
    const json group =
        json::parse(msgtest::ReadBackJson("vcard", msgtest::SavedFileOfSubject(cards, "Team")));
    EXPECT_EQ(group["cards"][0]["KIND"][0]["value"], "group");
    const std::string name = edbforge::utf16ToUtf8(longName);
    const fs::path cardFile = msgtest::SavedFileOfSubject(cards, name + "M\u00fcller");
    ASSERT_FALSE(cardFile.empty());
    const json card = json::parse(msgtest::ReadBackJson("vcard", cardFile));
    EXPECT_TRUE(card["problems"].empty()) << card["problems"];
    EXPECT_EQ(card["cards"][0]["FN"][0]["value"], name);
    EXPECT_EQ(card["cards"][0]["ORG"][0]["value"][0], "A;B, C");
}

}  // namespace
