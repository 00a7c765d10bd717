// Damaged and dirty stores through the command-line tool, as an examiner runs it: a plain save
// that cannot read a table fails and says which; a recovering save brings back what the pages
// of a store with zeroed pages, a lost root or a cut-off end still hold, saves the items that no
// folder lists and names the items it could save only in part; a store that was not shut down
// cleanly opens with a warning and is left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "fixture_stores.h"
#include "store/record_reader.h"
#include "store_damage.h"
#include "support/manifest_check.h"
#include "support/temp_dir.h"
#include "tool_run.h"
#include "tools/edbforge/large_store.h"
#include "tools/edbforge/store_builder.h"
#include "whole_store.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace damaged;

using cli_testing::Tool;
using cli_testing::ToolRun;

// A save of every mailbox, with what it reported and what it left in the destination.
struct Saved {
    int code = -1;
    json report;
    std::size_t msgFiles = 0;
    std::size_t htmlFiles = 0;
    std::size_t vcfFiles = 0;
    std::size_t icsFiles = 0;
    // anything but message files, contact pages and cards, calendars and the manifest
    std::vector<std::string> strayFiles;
    std::set<std::string> ids;  // message ids of the manifest's rows
};

constexpr std::size_t kMessages = 900;  // records of "Msg" in the generated store

class Recovery : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<testing_support::TempDir>();
        edbforge::LargeStoreOptions options;
        options.messages = kMessages;
        options.bigFolderItems = 300;
        options.mailboxes = 2;
        options.writer.cataloguePages = 64;  // a copy cut short still has its catalogue
        edbforge::writeLargeStore(Original(), options);
        bytes_ = ReadFileBytes(Original());
        map_ = PageMap::Of(bytes_);
        for (const auto& [object, owner] : TreeOwners(Original())) {
            if (owner.table == u"Msg" && !owner.longValues) {
                msgObject_ = object;
            }
            if (owner.table == u"Folders" && !owner.longValues) {
                foldersObject_ = object;
            }
            if (owner.table == u"Msg" && owner.longValues) {
                msgLongValues_ = object;
            }
        }
        plain_ = new Saved(Export(bytes_, false));
    }
    static void TearDownTestSuite() {
        delete plain_;
        dir_.reset();
    }

    static fs::path Original() { return *dir_ / "store.edb"; }
    // Saved items of every class.
    static std::size_t Items(const Saved& s) {
        int n = 0;
        for (const char* count : {"mails", "contacts", "appointments", "tasks", "journalEntries",
                                  "notes", "distLists"}) {
            n += s.report[count].get<int>();
        }
        return static_cast<std::size_t>(n);
    }

    // Saves everything of a copy made of these bytes into a fresh destination.
    static Saved Export(const Bytes& bytes, bool recover) {
        const fs::path copy = *dir_ / "copy.edb";
        const fs::path out = *dir_ / "out";
        fs::remove_all(out);
        WriteFileBytes(copy, bytes);
        std::vector<std::string> args = {"export", copy.string(), "--out", out.string(), "--json"};
        if (recover) {
            args.push_back("--recover");
        }
        const ToolRun run = Tool(args);
        Saved saved;
        saved.code = run.code;
        saved.report = json::parse(run.out, nullptr, false);
        EXPECT_FALSE(saved.report.is_discarded()) << run.out;
        damaged::SavedFiles files = damaged::CountSavedFiles(out);
        saved.msgFiles = files.msgFiles;
        saved.htmlFiles = files.htmlFiles;
        saved.vcfFiles = files.vcfFiles;
        saved.icsFiles = files.icsFiles;
        saved.strayFiles = std::move(files.otherFiles);
        const json manifest = testing_support::CheckManifest(out / "manifest.csv");
        if (manifest.contains("rows")) {
            for (const json& row : manifest["rows"]) {
                saved.ids.insert(row[3].get<std::string>());
            }
        }
        // Nothing beside the copy and the destination.
        for (const auto& entry : fs::directory_iterator(dir_->path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "store.edb" || name == "copy.edb" || name == "out") << name;
        }
        return saved;
    }

    // What every save of a damaged copy must satisfy: one file per saved item and nothing else,
    // and no more items than the message table holds (a save that recovers items no folder
    // lists also saves those a folder's save passes over: appointments, tasks, notes).
    static void ExpectSound(const Saved& s) {
        // A contact is a page, a card and a message file; every other item a message file.
        const auto contacts = static_cast<std::size_t>(s.report["contacts"].get<int>());
        EXPECT_EQ(s.msgFiles, Items(s));
        EXPECT_EQ(s.htmlFiles, contacts);
        EXPECT_EQ(s.vcfFiles, contacts);
        EXPECT_EQ(s.icsFiles, static_cast<std::size_t>(s.report["calendars"].get<int>()));
        EXPECT_TRUE(s.strayFiles.empty()) << s.strayFiles.front();
        EXPECT_LE(Items(s), kMessages);
    }

    static Bytes Zeroed(std::vector<Page> pages) {
        Bytes copy = bytes_;
        for (const Page& p : pages) {
            ZeroPage(copy, map_, p);
        }
        return copy;
    }
    static Page RootOf(std::uint32_t object) {
        const std::vector<Page> roots =
            map_.Select([&](const Page& p) { return p.object == object && p.isRoot(); });
        EXPECT_EQ(roots.size(), 1u);
        return roots.front();
    }

    static std::unique_ptr<testing_support::TempDir> dir_;
    static Bytes bytes_;
    static PageMap map_;
    static std::uint32_t msgObject_;
    static std::uint32_t foldersObject_;
    static std::uint32_t msgLongValues_;
    static Saved* plain_;  // the plain save of the undamaged store
};

std::unique_ptr<testing_support::TempDir> Recovery::dir_;
Bytes Recovery::bytes_;
PageMap Recovery::map_;
std::uint32_t Recovery::msgObject_ = 0;
std::uint32_t Recovery::foldersObject_ = 0;
std::uint32_t Recovery::msgLongValues_ = 0;
Saved* Recovery::plain_ = nullptr;

TEST_F(Recovery, AnUndamagedStoreIsReadAlikeWithAndWithoutRecovery) {
    ASSERT_GT(Items(*plain_), 500u);
    const Saved recovering = Export(bytes_, true);
    EXPECT_EQ(recovering.code, plain_->code) << recovering.report.dump(1);
    ASSERT_EQ(recovering.report["folders"].size(), plain_->report["folders"].size());
    for (std::size_t i = 0; i < recovering.report["folders"].size(); ++i) {
        const json& a = plain_->report["folders"][i];
        const json& b = recovering.report["folders"][i];
        EXPECT_EQ(a["folder"], b["folder"]);
        EXPECT_EQ(a["found"], b["found"]) << a["folder"];
        EXPECT_EQ(a["mails"], b["mails"]) << a["folder"];
        EXPECT_EQ(a["contacts"], b["contacts"]) << a["folder"];
        EXPECT_EQ(b["recovered"], 0);
    }
    EXPECT_EQ(recovering.report["unlisted"], 0);
    EXPECT_EQ(recovering.report["partial"], 0);
    for (const json& t : recovering.report["tables"]) {
        EXPECT_EQ(t["recovered"], 0) << t["name"];
        EXPECT_TRUE(t["unreadablePages"].empty()) << t["name"];
    }
    ExpectSound(recovering);
}

TEST_F(Recovery, APlainSaveThatCannotReadTheFolderTableFailsAndRecoverySavesItsItems) {
    // The folder rows are lost: a plain save has no folder to save, and must say so.
    const Bytes copy = Zeroed({RootOf(foldersObject_)});
    const Saved plain = Export(copy, false);
    EXPECT_EQ(plain.code, 1) << plain.report.dump(1);
    ASSERT_FALSE(plain.report["unreadTables"].empty());
    const std::string reason = plain.report["unreadTables"][0];
    EXPECT_NE(reason.find("\"Folders\""), std::string::npos) << reason;
    EXPECT_NE(reason.find("page " + std::to_string(RootOf(foldersObject_).number)),
              std::string::npos)
        << reason;
    ExpectSound(plain);

    // Recovering, every item of the message table is saved all the same, at the top, and
    // counted apart.
    const Saved recovering = Export(copy, true);
    EXPECT_EQ(recovering.code, 1) << "the folder rows are still lost";
    ExpectSound(recovering);
    EXPECT_GE(Items(recovering) * 100, Items(*plain_) * 99);
    EXPECT_EQ(recovering.report["unlisted"].get<std::size_t>(), Items(recovering));
    for (const json& f : recovering.report["folders"]) {
        EXPECT_EQ(f["folder"], "Recovered items");
        EXPECT_TRUE(f["unlisted"].get<bool>());
        EXPECT_EQ(fs::path(f["path"].get<std::string>()).parent_path(), *dir_ / "out");
    }
}

TEST_F(Recovery, ALostRootZeroedPagesAndACutFileGiveWhatTheirPagesStillHold) {
    {
        SCOPED_TRACE("the message table's root zeroed");
        const Saved s = Export(Zeroed({RootOf(msgObject_)}), true);
        ExpectSound(s);
        EXPECT_GE(Items(s) * 100, Items(*plain_) * 99) << s.report["tables"].dump(1);
    }
    {
        SCOPED_TRACE("5% of the data pages zeroed at random");
        std::vector<Page> data =
            map_.Select([](const Page& p) { return !p.isCatalogue() && p.object > 3; });
        std::mt19937 random(15);
        std::shuffle(data.begin(), data.end(), random);
        data.resize(data.size() / 20);
        const Saved s = Export(Zeroed(data), true);
        ExpectSound(s);
        EXPECT_EQ(s.code, 1);
        EXPECT_GE(Items(s) * 100, Items(*plain_) * 85) << s.report["tables"].dump(1);
        // Every unreadable page the report names is one that was zeroed.
        std::set<std::uint32_t> zeroed;
        for (const Page& p : data) {
            zeroed.insert(p.number);
        }
        for (const json& t : s.report["tables"]) {
            for (const json& page : t["unreadablePages"]) {
                EXPECT_EQ(zeroed.count(page["page"].get<std::uint32_t>()), 1u) << page;
            }
        }
    }
    {
        SCOPED_TRACE("the file cut at 60%");
        const std::size_t cut = bytes_.size() * 6 / 10;
        // The message ids of the records of "Msg" on leaves wholly before the cut, read from
        // the pages of the undamaged store, of the items its save writes.
        const auto file = ese::detail::PageFile::Open(Original());
        ASSERT_NE(file, nullptr);
        const auto catalogue = ese::detail::Catalogue::Read(file);
        ASSERT_TRUE(catalogue.has_value());
        const ese::detail::TableLayout* msg = catalogue->Table(msgObject_);
        ASSERT_NE(msg, nullptr);
        std::size_t idColumn = msg->columns.size();
        for (std::size_t c = 0; c < msg->columns.size(); ++c) {
            idColumn = msg->columns[c].name == u"N67b0" ? c : idColumn;
        }
        ASSERT_LT(idColumn, msg->columns.size());
        std::set<std::string> before;
        ese::detail::Page page;
        for (const Page& p : map_.Select([&](const Page& p) {
                 return p.object == msgObject_ && p.isTableData() &&
                        map_.OffsetOf(p) + map_.pageSize <= cut;
             })) {
            ASSERT_EQ(file->Read(p.number, page), ese::detail::PageTrouble::kNone);
            for (const auto& e : page.entries) {
                ese::detail::DecodedRecord record;
                std::string why;
                ASSERT_TRUE(ese::detail::DecodeRecord(e.data, *msg, *file, record, why)) << why;
                std::uint64_t id = 0;  // stored big-endian, shown in hexadecimal
                for (const std::uint8_t b : record.Data(idColumn)) {
                    id = id << 8 | b;
                }
                char text[17];
                std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(id));
                if (plain_->ids.count(text) != 0) {
                    before.insert(text);
                }
            }
        }
        ASSERT_GT(before.size(), 100u);
        const Saved s =
            Export(Bytes(bytes_.begin(), bytes_.begin() + static_cast<long>(cut)), true);
        ExpectSound(s);
        for (const std::string& id : before) {
            EXPECT_EQ(s.ids.count(id), 1u) << "message " << id << " lies before the cut";
        }
    }
}

TEST_F(Recovery, ItemsWhoseLongValuesLostAPageAreSavedInPartAndNamed) {
    // Every hundredth leaf of the message table's long values: the bodies with a part on one
    // lose that part.
    std::vector<Page> leaves = map_.Select(
        [](const Page& p) { return p.object == msgLongValues_ && p.isLeaf() && !p.isRoot(); });
    ASSERT_GT(leaves.size(), 400u);
    std::vector<Page> lost;
    for (std::size_t i = 50; i < leaves.size(); i += 100) {
        lost.push_back(leaves[i]);
    }
    const Saved s = Export(Zeroed(lost), true);
    ExpectSound(s);
    EXPECT_EQ(s.code, 1) << "items saved in part are no success";
    EXPECT_EQ(Items(s), Items(*plain_)) << "a lost part never costs the item";
    ASSERT_GT(s.report["partial"].get<int>(), 0);
    std::set<std::string> ids;
    for (const json& f : s.report["folders"]) {
        for (const json& p : f["partial"]) {
            const std::string id = p["item"];
            EXPECT_FALSE(id.empty());
            EXPECT_TRUE(ids.insert(id).second) << "named once: " << id;
            EXPECT_NE(p["missing"].get<std::string>().find("bytes"), std::string::npos) << p;
        }
    }
    EXPECT_EQ(ids.size(), s.report["partial"].get<std::size_t>());
}

TEST(DirtyShutdown, TheStoreOpensWithAWarningAndIsReadAsItStands) {
    testing_support::TempDir dir;
    edbforge::Scenario scenario = SmallStoreScenario();
    edbforge::StoreBuilder::build(scenario, dir / "clean.edb");
    scenario.options.dirtyShutdown = true;
    edbforge::StoreBuilder::build(scenario, dir / "dirty.edb");
    const Bytes before = ReadFileBytes(dir / "dirty.edb");

    const ToolRun info = Tool({"info", (dir / "dirty.edb").string()}, true);
    EXPECT_EQ(info.code, 0) << info.out;
    EXPECT_NE(info.out.find("not shut down cleanly"), std::string::npos) << info.out;
    const ToolRun clean = Tool({"info", (dir / "clean.edb").string()}, true);
    EXPECT_EQ(clean.out.find("shut down"), std::string::npos) << clean.out;

    // Read as it stands: everything the clean store saves, and the file left as it was.
    auto save = [&](const std::string& name) {
        const ToolRun run = Tool(
            {"export", (dir / name).string(), "--out", (dir / (name + ".out")).string(), "--json"});
        return json::parse(run.out);
    };
    const json dirty = save("dirty.edb");
    const json whole = save("clean.edb");
    EXPECT_NE(dirty["warning"].get<std::string>().find("dirty shutdown"), std::string::npos);
    EXPECT_TRUE(whole["warning"].is_null());
    EXPECT_EQ(dirty["mails"], whole["mails"]);
    EXPECT_EQ(dirty["contacts"], whole["contacts"]);
    EXPECT_GT(dirty["mails"].get<int>(), 0);
    EXPECT_EQ(ReadFileBytes(dir / "dirty.edb"), before) << "the store is never written";
}

}  // namespace
