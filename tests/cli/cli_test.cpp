// The command-line tool run as a user runs it, on the bundled sample store: the tree, the
// listings, item previews, the export read back by msgconvert, JSON output and exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>

#include "fixture_stores.h"
#include "msg_readback.h"
#include "store_damage.h"
#include "support/manifest_check.h"
#include "support/planted_links.h"
#include "support/temp_dir.h"
#include "tool_run.h"
#include "tools/edbforge/store_builder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kSample = fs::path(EDB2MSG_SOURCE_DIR) / "samples" / "sample-store.edb";

using cli_testing::Tool;
using cli_testing::ToolRun;

json ToolJson(const std::vector<std::string>& args, int expectedCode = 0) {
    std::vector<std::string> all = args;
    all.push_back("--json");
    const ToolRun run = Tool(all);
    EXPECT_EQ(run.code, expectedCode) << run.out;
    return json::parse(run.out);
}

TEST(Cli, TreeShowsExactlyTheVisibleMailboxesAndFolders) {
    const json tree = ToolJson({"tree", kSample.string()});
    std::vector<std::string> mailboxes;
    for (const json& m : tree["mailboxes"]) {
        mailboxes.push_back(m["name"]);
        EXPECT_EQ(m["folders"].size(), 9u) << m["name"];
        for (const json& f : m["folders"]) {
            EXPECT_TRUE(f.contains("id") && f.contains("parentId") && f.contains("image"));
            EXPECT_TRUE(f["table"].get<std::string>().starts_with("1-")) << f["table"];
        }
    }
    EXPECT_EQ(mailboxes, (std::vector<std::string>{"Alice Martin", "David Novak"}));
    const json& inbox = tree["mailboxes"][0]["folders"][0];
    EXPECT_EQ(inbox["name"], "Inbox");
    EXPECT_EQ(inbox["class"], "IPF.Note");
    EXPECT_EQ(inbox["items"], 10);

    const ToolRun text = Tool({"tree", kSample.string()});
    EXPECT_EQ(text.code, 0);
    EXPECT_NE(text.out.find("Contacts  [IPF.Contact"), std::string::npos);
}

TEST(Cli, ListGivesTheRowsWithTheColumnsOfTheFolder) {
    const json inbox = ToolJson({"list", kSample.string(), "Alice Martin/Inbox"});
    EXPECT_EQ(inbox["columns"],
              json({"", "Type", "S.No", "From", "Subject", "Date", "Attachment"}));
    ASSERT_EQ(inbox["rows"].size(), 10u);
    EXPECT_EQ(inbox["rows"][0][2], "1");
    EXPECT_EQ(inbox["rows"][0][4], "Quarterly budget review");
    EXPECT_FALSE(inbox["rows"][0][0].get<std::string>().empty()) << "the message id is listed";

    const json contacts = ToolJson({"list", kSample.string(), "Alice Martin/Contacts"});
    EXPECT_EQ(contacts["columns"][3], "Full name");
    EXPECT_EQ(contacts["rows"].size(), 4u);

    const json sent = ToolJson({"list", kSample.string(), "Alice Martin/Sent Items"});
    EXPECT_EQ(sent["columns"][3], "To");
}

// Mailboxes often share a display name. A folder spec that fits folders of more than one is
// refused with the specs that name each; the mailbox's key names each one.
TEST(Cli, FoldersOfMailboxesThatShareANameAreNamedByTheMailboxKey) {
    testing_support::TempDir dir;
    edbforge::Scenario scenario = damaged::SmallStoreScenario();
    ASSERT_EQ(scenario.mailboxes.size(), 2u);
    scenario.mailboxes[1].displayName = scenario.mailboxes[0].displayName;
    const fs::path store = dir / "twins.edb";
    edbforge::StoreBuilder::build(scenario, store);

    const ToolRun both = Tool({"list", store.string(), "Ann Lee/Inbox"}, true);
    EXPECT_EQ(both.code, 2);
    EXPECT_NE(both.out.find("names 2 folders; name one of them: a01/Inbox, b01/Inbox"),
              std::string::npos)
        << both.out;
    EXPECT_EQ(Tool({"show", store.string(), "Ann Lee/Inbox", "1"}).code, 2);
    EXPECT_EQ(ToolJson({"list", store.string(), "a01/Inbox"})["rows"].size(), 36u);
    EXPECT_EQ(ToolJson({"list", store.string(), "b01/Inbox"})["rows"].size(), 8u);
    // Only one of them has a "Sent Items": its name is enough.
    EXPECT_EQ(ToolJson({"list", store.string(), "Ann Lee/Sent Items"})["rows"].size(), 6u);

    EXPECT_EQ(Tool({"export", store.string(), "--out", (dir / "refused").string(), "--folder",
                    "Ann Lee/Inbox"})
                  .code,
              2);
    const json one = ToolJson(
        {"export", store.string(), "--out", (dir / "one").string(), "--folder", "b01/Inbox"});
    EXPECT_EQ(one["mails"], 8);
    const json byKey =
        ToolJson({"export", store.string(), "--out", (dir / "key").string(), "--mailbox", "b01"});
    EXPECT_EQ(byKey["mails"], 8);
    // By the shared name, both mailboxes are saved.
    const json byName = ToolJson(
        {"export", store.string(), "--out", (dir / "name").string(), "--mailbox", "Ann Lee"});
    EXPECT_EQ(byName["mails"], 36 + 6 + 8);
}

// A folder's path runs down from the top of its mailbox through its parents, found by their
// ids; a folder that names itself as its parent stands at the top.
TEST(Cli, FolderPathsRunThroughTheParentsByTheirIds) {
    testing_support::TempDir dir;
    edbforge::Scenario scenario = damaged::SmallStoreScenario();
    std::vector<edbforge::Folder>& folders = scenario.mailboxes[0].folders;
    const std::uint64_t inbox = folders[0].id;
    folders.push_back({0x0100000000001011ULL, inbox, u"Projects", u"IPF.Note", {}});
    folders.push_back({0x0100000000001012ULL, 0x0100000000001011ULL, u"2026", u"IPF.Note", {}});
    folders.push_back({0x0100000000001013ULL, 0x0100000000001013ULL, u"Loop", u"IPF.Note", {}});
    const fs::path store = dir / "nested.edb";
    edbforge::StoreBuilder::build(scenario, store);

    const json tree = ToolJson({"tree", store.string()});
    std::map<std::string, std::string> paths;
    for (const json& f : tree["mailboxes"][0]["folders"]) {
        paths[f["name"].get<std::string>()] = f["path"].get<std::string>();
    }
    EXPECT_EQ(paths["Inbox"], "Inbox");
    EXPECT_EQ(paths["Projects"], "Inbox/Projects");
    EXPECT_EQ(paths["2026"], "Inbox/Projects/2026");
    EXPECT_EQ(paths["Loop"], "Loop");
    EXPECT_EQ(Tool({"list", store.string(), "Ann Lee/Inbox/Projects/2026"}).code, 0);
    EXPECT_EQ(Tool({"list", store.string(), "Ann Lee/Projects/2026"}).code, 2);
}

TEST(Cli, ShowGivesTheBodyOfEachKind) {
    const std::string inbox = "Alice Martin/Inbox";
    const json plain = ToolJson({"show", kSample.string(), inbox, "1"});
    EXPECT_EQ(plain["bodyKind"], "txt");
    EXPECT_EQ(plain["subject"], "Quarterly budget review");
    EXPECT_NE(plain["body"].get<std::string>().find("budget figures for Q1"), std::string::npos);
    EXPECT_EQ(plain["attachments"], "Budget Q1 2009.xlsx;");
    EXPECT_TRUE(plain["page"].is_null());

    const json html = ToolJson({"show", kSample.string(), inbox, "2"});
    EXPECT_EQ(html["bodyKind"], "html");
    EXPECT_NE(html["body"].get<std::string>().find('<'), std::string::npos);
    EXPECT_TRUE(html["attachments"].is_null()) << "a mail without attachments has none";

    // A name's letters above ASCII survive in the sender's address part too.
    const json german = ToolJson({"show", kSample.string(), inbox, "3"});
    EXPECT_EQ(german["from"],
              "J\u00fcrgen M\u00fcller;J\u00fcrgen M\u00fcller<juergen.mueller@fabrikam.de>");

    // A mail with a plain-text and an HTML body shows the body of its kind alone.
    const json both = ToolJson({"show", kSample.string(), inbox, "6"});
    EXPECT_EQ(both["bodyKind"], "html");
    EXPECT_EQ(both["body"], "<html><body><p>Weekly report attached.</p></body></html>");

    const json rtf = ToolJson({"show", kSample.string(), inbox, "4"});
    EXPECT_EQ(rtf["bodyKind"], "txt") << "compressed RTF is shown as its text";
    EXPECT_FALSE(rtf["body"].get<std::string>().empty());
    EXPECT_EQ(rtf["body"].get<std::string>().find("\\rtf"), std::string::npos);

    const json contact = ToolJson({"show", kSample.string(), "Alice Martin/Contacts", "1"});
    EXPECT_TRUE(contact["body"].is_null());
    EXPECT_NE(contact["page"].get<std::string>().find("Full Name"), std::string::npos);
}

TEST(Cli, ExportWritesOneMessagePerItemAndOnePagePerContact) {
    testing_support::TempDir dir;
    const fs::path out = dir / "out";
    // Every item of the sample store is saved: the store has nothing wrong, so the exit is 0.
    const json report = ToolJson({"export", kSample.string(), "--out", out.string()}, 0);
    EXPECT_EQ(report["mails"], 24);
    EXPECT_EQ(report["contacts"], 5);
    EXPECT_EQ(report["appointments"], 4);
    EXPECT_EQ(report["tasks"], 3);
    EXPECT_EQ(report["journalEntries"], 2);
    EXPECT_EQ(report["notes"], 3);
    EXPECT_EQ(report["calendars"], 2);
    EXPECT_EQ(report["skipped"], 0);
    int msgFiles = 0;
    int pages = 0;
    int cards = 0;
    int calendars = 0;
    for (const json& f : report["folders"]) {
        const int found = f["found"];
        EXPECT_EQ(found, f["mails"].get<int>() + f["contacts"].get<int>() +
                             f["appointments"].get<int>() + f["tasks"].get<int>() +
                             f["journalEntries"].get<int>() + f["notes"].get<int>() +
                             f["distLists"].get<int>() + f["skippedCount"].get<int>())
            << f["folder"];
        for (const json& s : f["skipped"]) {
            EXPECT_FALSE(s["reason"].get<std::string>().empty());
        }
    }
    for (const auto& e : fs::recursive_directory_iterator(out)) {
        msgFiles += e.path().extension() == ".msg";
        pages += e.path().extension() == ".html";
        cards += e.path().extension() == ".vcf";
        calendars += e.path().extension() == ".ics";
    }
    // 24 mails, 12 appointments, tasks, journal entries and notes, and 5 contacts.
    EXPECT_EQ(msgFiles, 24 + 12 + 5);
    EXPECT_EQ(pages, 5);
    EXPECT_EQ(cards, 5);
    EXPECT_EQ(calendars, 2);

    // The inbox's first mail, read back by an independent reader.
    const fs::path inbox = out / "Alice Martin" / "Inbox";
    fs::path budget;
    for (const auto& e : fs::directory_iterator(inbox)) {
        if (e.path().filename().string().starts_with("Quarterly budget review")) {
            budget = e.path();
        }
    }
    ASSERT_FALSE(budget.empty());
    const msgtest::ReadBackMessage mail = msgtest::ReadBackWithMsgconvert(budget);
    EXPECT_EQ(mail.subject, "Quarterly budget review");
    EXPECT_NE(mail.from.find("bob.stone@contoso.com"), std::string::npos) << mail.from;
    EXPECT_NE(mail.to.find("alice.martin@contoso.com"), std::string::npos) << mail.to;
    EXPECT_NE(mail.date.find("05 Mar 2009 14:07:09"), std::string::npos) << mail.date;
    ASSERT_TRUE(mail.textBody);
    EXPECT_NE(mail.textBody->find("budget figures for Q1"), std::string::npos);
    ASSERT_EQ(mail.attachments.size(), 1u);
    EXPECT_EQ(mail.attachments[0].name, "Budget Q1 2009.xlsx");
    EXPECT_FALSE(mail.attachments[0].bytes.empty());

    // A second export into the same folder adds files and replaces none.
    const json again = ToolJson(
        {"export", kSample.string(), "--out", out.string(), "--folder", "Alice Martin/Inbox"}, 0);
    EXPECT_EQ(again["mails"], 10);
    int after = 0;
    for (const auto& e : fs::directory_iterator(inbox)) {
        after += e.path().extension() == ".msg";
    }
    EXPECT_EQ(after, 20);
}

// The text without carriage returns and without the line break that ends a single-part
// message's last line.
std::string Lines(std::string text) {
    std::erase(text, '\r');
    if (text.ends_with('\n')) {
        text.pop_back();
    }
    return text;
}

// Every mail of the sample store saved with --format eml and parsed by Python's email package:
// headers (non-ASCII ones decoded), the date, both bodies of an item that has both, and every
// attachment under its own name with its bytes. A second save adds files and replaces none.
TEST(Cli, ExportAsEmlWritesOneMimeMessagePerMail) {
    testing_support::TempDir dir;
    const fs::path out = dir / "out";
    const json report =
        ToolJson({"export", kSample.string(), "--out", out.string(), "--format", "eml", "--folder",
                  "Alice Martin/Inbox", "--folder", "Alice Martin/Sent Items", "--folder",
                  "Alice Martin/Drafts", "--folder", "David Novak/Inbox"});
    EXPECT_EQ(report["mails"], 19);
    std::ifstream in(fs::path(EDB2MSG_SOURCE_DIR) / "samples" / "sample-store.json");
    const json scenario = json::parse(in);
    int checked = 0;
    for (const json& mailbox : scenario["mailboxes"]) {
        for (const json& folder : mailbox["folders"]) {
            const fs::path saved =
                out / mailbox["name"].get<std::string>() / folder["name"].get<std::string>();
            if (!folder.contains("items") || !fs::exists(saved)) {
                continue;
            }
            std::vector<fs::path> files;
            for (const auto& e : fs::directory_iterator(saved)) {
                EXPECT_EQ(e.path().extension(), ".eml") << e.path();
                files.push_back(e.path());
            }
            EXPECT_EQ(files.size(), folder["items"].size()) << saved;
            for (const json& item : folder["items"]) {
                const std::string subject =
                    item.value("subjectPrefix", "") + item.value("subject", "");
                SCOPED_TRACE(subject);
                const fs::path file = msgtest::SavedFileOfSubject(files, subject);
                ASSERT_FALSE(file.empty());
                const msgtest::ReadBackEml mail = msgtest::ReadBackEmlFile(file);
                EXPECT_EQ(mail.problems, std::vector<std::string>{});
                EXPECT_EQ(mail.subject, subject);
                const json& from = item["from"];
                EXPECT_EQ(mail.from, from["name"].get<std::string>() + " <" +
                                         from["address"].get<std::string>() + ">");
                std::string to;
                for (const json& r : item["to"]) {
                    to += (to.empty() ? "" : ", ") + r["name"].get<std::string>() + " <" +
                          r["address"].get<std::string>() + ">";
                }
                EXPECT_EQ(mail.to, to);
                EXPECT_EQ(mail.dateUtc, item["date"]);
                EXPECT_TRUE(mail.messageId.starts_with("<") &&
                            mail.messageId.ends_with("@contoso.example>"))
                    << mail.messageId;
                const bool both = item.contains("body") && item.contains("html");
                EXPECT_EQ(std::count(mail.parts.begin(), mail.parts.end(), "multipart/alternative"),
                          both ? 1 : 0);
                if (item.contains("html")) {
                    ASSERT_TRUE(mail.htmlBody);
                    EXPECT_EQ(Lines(*mail.htmlBody), item["html"].get<std::string>());
                }
                if (item.contains("body")) {
                    ASSERT_TRUE(mail.textBody);
                    EXPECT_EQ(Lines(*mail.textBody), Lines(item["body"]));
                } else if (item.contains("rtf")) {
                    ASSERT_TRUE(mail.textBody);
                    EXPECT_FALSE(mail.textBody->empty());
                    EXPECT_EQ(mail.textBody->find("\\rtf"), std::string::npos);
                } else {
                    EXPECT_FALSE(mail.textBody);
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
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 19);

    // Non-ASCII headers and names go encoded: the file itself is 7-bit (checked above), and the
    // name of "Änderungen.txt" is an RFC 2231 parameter.
    const fs::path inbox = out / "Alice Martin" / "Inbox";
    for (const auto& e : fs::directory_iterator(inbox)) {
        if (e.path().filename().string().starts_with("Contract draft v3")) {
            std::ifstream eml(e.path(), std::ios::binary);
            const std::string raw{std::istreambuf_iterator<char>(eml), {}};
            EXPECT_NE(raw.find("filename*=UTF-8''%C3%84nderungen.txt"), std::string::npos);
        }
    }

    const json again = ToolJson({"export", kSample.string(), "--out", out.string(), "--format",
                                 "eml", "--folder", "Alice Martin/Inbox"});
    EXPECT_EQ(again["mails"], 10);
    EXPECT_EQ(std::distance(fs::directory_iterator(inbox), fs::directory_iterator()), 20);
    EXPECT_EQ(Tool({"export", kSample.string(), "--out", out.string(), "--format", "pdf"}).code, 2);
}

std::string FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Cli, TheManifestListsEveryWrittenFileWithItsItemSizeAndDigest) {
    testing_support::TempDir dir;
    const fs::path out = dir / "out";
    const json report =
        ToolJson({"export", kSample.string(), "--out", out.string(), "--hash-store"}, 0);
    EXPECT_EQ(report["manifest"], (out / "manifest.csv").string());
    // Read back by Python's csv module; every size and SHA-256, the store's included, recomputed.
    const json manifest = testing_support::CheckManifest(out / "manifest.csv", kSample);
    ASSERT_TRUE(manifest.is_object());
    EXPECT_EQ(manifest["problems"], json::array());
    EXPECT_EQ(manifest["header"], json({"mailbox", "folder", "record", "message_id", "class",
                                        "subject", "date", "file", "bytes", "sha256"}));
    EXPECT_EQ(manifest["listed"], manifest["present"]) << "every file listed, and nothing else";
    // 24 mails, 12 other items, 5 contacts of three files each, 2 calendars.
    EXPECT_EQ(manifest["listed"].size(), 24u + 12u + 3u * 5u + 2u);
    const json& storeLine = manifest["store"];
    ASSERT_EQ(storeLine.size(), 8u) << storeLine;
    EXPECT_EQ(storeLine[0], "# store");
    EXPECT_EQ(fs::path(storeLine[1].get<std::string>()), fs::absolute(kSample));
    EXPECT_EQ(storeLine[6], "sha256");

    // The rows name the items as the list shows them.
    const json inbox = ToolJson({"list", kSample.string(), "Alice Martin/Inbox"});
    int contactPages = 0;
    int contactFiles = 0;
    int calendars = 0;
    bool budgetFound = false;
    for (const json& row : manifest["rows"]) {
        const std::string file = row[7];
        EXPECT_TRUE(
            file.starts_with(row[0].get<std::string>() + "/" + row[1].get<std::string>() + "/"))
            << file;
        if (row[1] == "Contacts") {
            contactPages += file.ends_with(".html");
            ++contactFiles;
            EXPECT_EQ(row[4], "IPM.Contact");
            EXPECT_FALSE(row[2].get<std::string>().empty());
        } else if (file.ends_with(".ics")) {
            // The calendar file holds the folder's events: no record of its own.
            ++calendars;
            EXPECT_EQ(row[1], "Calendar");
            EXPECT_EQ(row[2], "");
            EXPECT_EQ(row[4], "IPF.Appointment");
        } else if (row[0] == "Alice Martin" && row[1] == "Inbox" && row[2] == "1") {
            budgetFound = true;
            EXPECT_EQ(row[3], inbox["rows"][0][0]);
            EXPECT_EQ(row[4], "IPM.Note");
            EXPECT_EQ(row[5], "Quarterly budget review");
            EXPECT_EQ(row[6], "Mar 05, 2009 14:07:09") << "a field with a comma comes back whole";
            EXPECT_TRUE(file.ends_with(".msg")) << file;
        }
    }
    EXPECT_EQ(contactPages, 5);
    EXPECT_EQ(contactFiles, 15);
    EXPECT_EQ(calendars, 2);
    EXPECT_TRUE(budgetFound);

    // A second save into the folder leaves the first manifest as it was and lists its own files
    // in manifest-2.csv, without the store's digest this time.
    const std::string first = FileBytes(out / "manifest.csv");
    const json again = ToolJson(
        {"export", kSample.string(), "--out", out.string(), "--folder", "Alice Martin/Inbox"}, 0);
    EXPECT_EQ(again["manifest"], (out / "manifest-2.csv").string());
    EXPECT_EQ(FileBytes(out / "manifest.csv"), first);
    const json second = testing_support::CheckManifest(out / "manifest-2.csv", kSample);
    ASSERT_TRUE(second.is_object());
    EXPECT_EQ(second["problems"], json::array());
    EXPECT_EQ(second["store"].size(), 6u) << second["store"];
    ASSERT_EQ(second["rows"].size(), 10u);
    for (const json& row : second["rows"]) {
        EXPECT_EQ(row[1], "Inbox");
        EXPECT_EQ(std::count(manifest["listed"].begin(), manifest["listed"].end(), row[7]), 0)
            << row[7];
    }
}

TEST(Cli, FiltersKeepTheItemsOnTheirBoundsAndABadDateIsBadUsage) {
    const std::string inbox = "Alice Martin/Inbox";
    using Rows = std::vector<std::string>;
    auto listed = [&](const std::vector<std::string>& filter) {
        std::vector<std::string> args = {"list", kSample.string(), inbox};
        args.insert(args.end(), filter.begin(), filter.end());
        Rows sequences;
        const json list = ToolJson(args);
        for (const json& row : list["rows"]) {
            sequences.push_back(row[2]);
        }
        return sequences;
    };
    // Item 3 is dated Mar 09, 2009 07:45:30 and item 6 Mar 13, 2009 17:05:12.
    EXPECT_EQ(listed({"--since", "2009-03-09T07:45:30", "--until", "2009-03-13T17:05:12"}),
              (Rows{"3", "4", "5", "6"}));
    EXPECT_EQ(listed({"--since", "2009-03-09T07:45:31", "--until", "2009-03-13T17:05:11"}),
              (Rows{"4", "5"}));
    EXPECT_EQ(listed({"--since", "2009-03-19", "--until", "2009-03-13"}), Rows{});
    EXPECT_EQ(listed({"--until", "2009-03-13"}), (Rows{"1", "2", "3", "4", "5", "6"}))
        << "a date alone runs to the end of its day";
    EXPECT_EQ(listed({"--from", "MÜLLER"}), Rows{"3"});
    EXPECT_EQ(listed({"--subject", "ÜBERSICHT DER"}), Rows{"3"});
    EXPECT_EQ(listed({"--subject", "re:", "--from", "BOB"}), Rows{"10"});
    EXPECT_EQ(listed({"--class", "ipm.note"}), (Rows{"1", "2", "3", "4", "6", "7", "8", "9", "10"}))
        << "item 5 has no class";
    EXPECT_EQ(listed({"--class", "IPM.No"}), Rows{}) << "a class is taken whole";
    EXPECT_EQ(listed({"--subject", "no such subject"}), Rows{});

    // The save takes the same items, and the items left out are neither saved nor skipped.
    testing_support::TempDir dir;
    const json one = ToolJson({"export", kSample.string(), "--out", (dir / "one").string(),
                               "--folder", inbox, "--since", "2009-03-19T12:00:00"},
                              0);
    ASSERT_EQ(one["folders"].size(), 1u);
    EXPECT_EQ(one["folders"][0]["found"], 10);
    EXPECT_EQ(one["folders"][0]["mails"], 1);
    EXPECT_EQ(one["folders"][0]["skippedCount"], 0);
    EXPECT_EQ(one["folders"][0]["filtered"], 9);
    const json manifest = testing_support::CheckManifest(dir / "one" / "manifest.csv");
    ASSERT_TRUE(manifest.is_object());
    ASSERT_EQ(manifest["rows"].size(), 1u);
    EXPECT_EQ(manifest["rows"][0][2], "10");
    EXPECT_EQ(manifest["listed"], manifest["present"]);

    const json mail = ToolJson(
        {"export", kSample.string(), "--out", (dir / "mail").string(), "--class", "IPM.Note"}, 0);
    EXPECT_EQ(mail["mails"], 22);
    EXPECT_EQ(mail["contacts"], 0);
    EXPECT_EQ(mail["skipped"], 0) << "calendar items and contacts are filtered out, not skipped";
    for (const json& f : mail["folders"]) {
        EXPECT_EQ(f["found"], f["mails"].get<int>() + f["contacts"].get<int>() +
                                  f["skippedCount"].get<int>() + f["filtered"].get<int>())
            << f["folder"];
    }

    for (const std::string bad : {"2009-02-29", "2009-3-09", "2009-03-09T24:00:00", "yesterday"}) {
        const ToolRun run = Tool({"list", kSample.string(), inbox, "--since", bad}, true);
        EXPECT_EQ(run.code, 2) << bad;
        EXPECT_NE(run.out.find("\"" + bad + "\""), std::string::npos) << run.out;
    }
    const ToolRun badExport =
        Tool({"export", kSample.string(), "--out", (dir / "bad").string(), "--until", "2009-13-01"},
             true);
    EXPECT_EQ(badExport.code, 2);
    EXPECT_NE(badExport.out.find("\"2009-13-01\""), std::string::npos) << badExport.out;
    EXPECT_FALSE(fs::exists(dir / "bad")) << "nothing is written";
}

TEST(Cli, WorkFilesNeverGoThroughLinksPlantedInTheTemporaryDirectory) {
    const testing_support::TempDir dir;
    const testing_support::PlantedLinks planted;
    const std::string inbox = "Alice Martin/Inbox";
    for (const char* row : {"1", "2", "4"}) {
        EXPECT_FALSE(ToolJson({"show", kSample.string(), inbox, row})["body"].is_null()) << row;
    }
    EXPECT_FALSE(
        ToolJson({"show", kSample.string(), "Alice Martin/Contacts", "1"})["page"].is_null());
    const json report = ToolJson(
        {"export", kSample.string(), "--out", (dir / "out").string(), "--folder", inbox}, 0);
    EXPECT_EQ(report["mails"], 10);

    EXPECT_EQ(planted.Check(), "");
    EXPECT_EQ(planted.Others(), std::vector<std::string>{}) << "a run leaves no work folder behind";
}

TEST(Cli, BadUsageAndUnreadableStoresExitWithTwo) {
    testing_support::TempDir dir;
    std::ofstream(dir / "not-a-store.edb") << std::string(8192, 'x');
    EXPECT_EQ(Tool({}).code, 2);
    EXPECT_EQ(Tool({"frobnicate"}).code, 2);
    EXPECT_EQ(Tool({"tree"}).code, 2);
    EXPECT_EQ(Tool({"tree", (dir / "missing.edb").string()}).code, 2);
    EXPECT_EQ(Tool({"tree", (dir / "not-a-store.edb").string()}).code, 2);
    EXPECT_EQ(Tool({"tree", dir.path().string()}).code, 2);
    EXPECT_EQ(Tool({"list", kSample.string(), "Nobody/Inbox"}).code, 2);
    EXPECT_EQ(Tool({"show", kSample.string(), "Alice Martin/Inbox", "999"}).code, 2);
    EXPECT_EQ(Tool({"export", kSample.string()}).code, 2) << "--out is required";
    EXPECT_EQ(Tool({"--help"}).code, 0);
    EXPECT_EQ(Tool({"export", "--help"}).code, 0);
}

TEST(Cli, InfoCountsTablesMailboxesAndMessages) {
    const json info = ToolJson({"info", kSample.string()});
    EXPECT_EQ(info["mailboxes"].size(), 2u);
    EXPECT_EQ(info["messages"], 46);
    bool msg = false;
    for (const json& t : info["tables"]) {
        msg = msg || (t["name"] == "Msg" && t["records"] == 46);
    }
    EXPECT_TRUE(msg);
}

TEST(Cli, InfoNamesTheTablesThatACutShortStoreLost) {
    testing_support::TempDir dir;
    damaged::WriteSmallStore(dir / "small.edb");
    damaged::Bytes bytes = damaged::ReadFileBytes(dir / "small.edb");
    bytes.resize(bytes.size() / 2);
    damaged::WriteFileBytes(dir / "cut.edb", bytes);

    const json info = ToolJson({"info", (dir / "cut.edb").string()}, 1);
    std::map<std::string, json> tables;
    for (const json& t : info["tables"]) {
        tables[t["name"].get<std::string>()] = t;
    }
    ASSERT_TRUE(tables.contains("Msg"));
    EXPECT_NE(tables["Msg"].value("error", "").find("the file is cut short"), std::string::npos)
        << tables["Msg"];
    EXPECT_EQ(tables["Mailbox"]["records"], 2);
    EXPECT_FALSE(tables["Mailbox"].contains("error"));
    const ToolRun text = Tool({"info", (dir / "cut.edb").string()});
    EXPECT_EQ(text.code, 1);
    EXPECT_NE(text.out.find("  Msg  unreadable: its records lie on page"), std::string::npos)
        << text.out;

    // A listing of a folder whose table is gone says so in its exit code; the others list.
    const json tree = ToolJson({"tree", (dir / "cut.edb").string()});
    int failedListings = 0;
    for (const json& m : tree["mailboxes"]) {
        for (const json& f : m["folders"]) {
            const std::string table = f["table"];
            const bool lost = !tables.contains(table) || tables[table].contains("error");
            const std::string path =
                m["name"].get<std::string>() + "/" + f["path"].get<std::string>();
            const ToolRun list = Tool({"list", (dir / "cut.edb").string(), path});
            EXPECT_EQ(list.code, lost ? 1 : 0) << path << " in table " << table;
            failedListings += list.code == 1;
        }
    }
    EXPECT_GT(failedListings, 0);
}

}  // namespace
