// Damaged copies of the bundled sample store and of a small written store: truncated, with
// flipped bits in record, long-value and catalogue pages, and with whole pages zeroed. Each is
// scanned, every folder listed and every listed item read, the way the window does it. The
// reading must finish, say in words what failed, and still bring every item that the damage
// left readable; a save of everything must then write every one of those items whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

#include "fixture_stores.h"
#include "platform/codepage.h"
#include "store_damage.h"
#include "support/temp_dir.h"
#include "whole_store.h"

namespace {

namespace fs = std::filesystem;
using namespace damaged;

// One undamaged store and what reading it gives.
struct BaseStore {
    std::string name;
    Bytes bytes;
    PageMap map;
    std::map<std::uint32_t, TreeOwner> owners;
    StoreReading whole;
    StoreExport saved;

    // Items read that a save of everything does not write: those of folders it leaves out.
    std::size_t NotSaved() const {
        return whole.itemsRead - static_cast<std::size_t>(saved.mails + saved.contacts);
    }

    // The table the page belongs to and its role; an empty table name for pages of no table
    // (the database's own trees, the catalogue).
    TreeOwner OwnerOf(const Page& page) const {
        const auto found = owners.find(page.object);
        return found == owners.end() ? TreeOwner{} : found->second;
    }
};

bool IsFolderTable(const std::u16string& table) {
    return table.starts_with(u"1-") && table != u"1-23";
}

// What a reading of a damaged copy must satisfy whatever the damage.
void ExpectSoundReading(const StoreReading& damaged, const BaseStore& base) {
    EXPECT_TRUE(damaged.silentFailures.empty()) << "a step failed without saying why";
    EXPECT_LE(damaged.itemsRead, base.whole.itemsRead);
    EXPECT_LE(damaged.listedItems, base.whole.listedItems);
}

// What a save of a damaged copy must satisfy: a file for every item it counts and nothing else
// left behind, no item that the undamaged store does not have, and every item that the reading
// of the same copy brought.
void ExpectSoundExport(const StoreExport& saved, const StoreReading& damaged,
                       const BaseStore& base) {
    SCOPED_TRACE(Describe(saved));
    // A contact is a page, a vCard and a message file.
    EXPECT_EQ(saved.msgFiles,
              static_cast<std::size_t>(saved.mails + saved.others + saved.contacts));
    EXPECT_EQ(saved.htmlFiles, static_cast<std::size_t>(saved.contacts));
    EXPECT_EQ(saved.vcfFiles, static_cast<std::size_t>(saved.contacts));
    EXPECT_EQ(saved.icsFiles, static_cast<std::size_t>(saved.calendars));
    EXPECT_TRUE(saved.otherFiles.empty()) << saved.otherFiles.front();
    if (saved.error.empty() || saved.manifestRows >= 0) {
        EXPECT_EQ(saved.manifestRows,
                  saved.mails + saved.others + 3 * saved.contacts + saved.calendars)
            << "one row per saved file";
    }
    const auto written = static_cast<std::size_t>(saved.mails + saved.contacts);
    EXPECT_LE(written, static_cast<std::size_t>(base.saved.mails + base.saved.contacts));
    EXPECT_GE(written + base.NotSaved(), damaged.itemsRead) << "a readable item was not saved";
}

// Items of every folder table other than `table` came through as in the undamaged store.
void ExpectOtherFoldersWhole(const StoreReading& damaged, const BaseStore& base,
                             const std::u16string& table) {
    for (const auto& [name, count] : base.whole.readByTable) {
        if (name == table) {
            continue;
        }
        const auto found = damaged.readByTable.find(name);
        EXPECT_EQ(found == damaged.readByTable.end() ? 0 : found->second, count)
            << "items of " << platform::Utf16ToUtf8(name);
    }
}

class DamagedStores : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<testing_support::TempDir>();
        WriteSmallStore(*dir_ / "small.edb");
        bases_ = {Load("small store", *dir_ / "small.edb"),
                  Load("sample store", SampleStorePath())};
    }
    static void TearDownTestSuite() {
        bases_.clear();
        dir_.reset();
    }

    static BaseStore Load(const std::string& name, const fs::path& path) {
        BaseStore base;
        base.name = name;
        base.bytes = ReadFileBytes(path);
        base.map = PageMap::Of(base.bytes);
        base.owners = TreeOwners(path);
        base.whole = Read(base.bytes);
        base.saved = Export(base.bytes);
        return base;
    }

    // Reads a copy made of these bytes, with a fresh work folder.
    static StoreReading Read(const Bytes& bytes) {
        const fs::path copy = *dir_ / "copy.edb";
        const fs::path work = *dir_ / "work";
        WriteFileBytes(copy, bytes);
        fs::remove_all(work);
        fs::create_directory(work);
        return ReadWholeStore(copy, work);
    }

    // Saves everything of a copy made of these bytes into a fresh destination.
    static StoreExport Export(const Bytes& bytes) {
        const fs::path copy = *dir_ / "copy.edb";
        const fs::path work = *dir_ / "work";
        const fs::path saved = *dir_ / "saved";
        WriteFileBytes(copy, bytes);
        fs::remove_all(work);
        fs::remove_all(saved);
        fs::create_directory(work);
        return ExportWholeStore(copy, saved, work);
    }

    // Reads the copy, then saves it, and checks both.
    static StoreReading ReadAndExport(const Bytes& bytes, const BaseStore& base) {
        const StoreReading damaged = Read(bytes);
        ExpectSoundReading(damaged, base);
        const StoreExport saved = Export(bytes);
        ExpectSoundExport(saved, damaged, base);
        ++tally_.copies;
        tally_.saved += static_cast<std::size_t>(saved.mails + saved.contacts);
        tally_.undamaged += static_cast<std::size_t>(base.saved.mails + base.saved.contacts);
        return damaged;
    }

    // What the damaged copies of one test saved, against what the undamaged stores save.
    struct Tally {
        std::size_t copies = 0;
        std::size_t saved = 0;
        std::size_t undamaged = 0;
    };
    void SetUp() override { tally_ = {}; }
    void TearDown() override {
        if (tally_.copies > 0) {
            std::printf("%zu damaged copies saved %zu items; undamaged, they save %zu\n",
                        tally_.copies, tally_.saved, tally_.undamaged);
        }
    }
    static Tally tally_;

    static std::unique_ptr<testing_support::TempDir> dir_;
    static std::vector<BaseStore> bases_;
};

std::unique_ptr<testing_support::TempDir> DamagedStores::dir_;
std::vector<BaseStore> DamagedStores::bases_;
DamagedStores::Tally DamagedStores::tally_;

// One page of each kind: the first page of every tree in each of its roles (root, branch,
// leaf), so that every table, long-value tree and the catalogue is hit once.
std::vector<Page> OnePageOfEachKind(const PageMap& map) {
    std::set<std::pair<std::uint32_t, std::uint32_t>> seen;
    return map.Select([&](const Page& p) {
        return seen.insert({p.object, p.flags & (kPageRoot | kPageLeaf | kPageParent)}).second;
    });
}

TEST_F(DamagedStores, UndamagedStoresAreReadWhole) {
    for (const BaseStore& base : bases_) {
        SCOPED_TRACE(base.name);
        EXPECT_TRUE(base.whole.failures.empty()) << Describe(base.whole);
        EXPECT_TRUE(base.whole.silentFailures.empty()) << Describe(base.whole);
        EXPECT_EQ(base.whole.itemsRead, base.whole.listedItems);
        EXPECT_GT(base.whole.itemsRead, 0u);
        // The page map finds every kind of page the damage is aimed at.
        EXPECT_FALSE(base.map.Select([](const Page& p) { return p.isCatalogue(); }).empty());
        EXPECT_FALSE(base.map.Select([](const Page& p) { return p.isLongValue(); }).empty());
        EXPECT_FALSE(base.map.Select([](const Page& p) { return p.isTableData(); }).empty());
        // The save writes every mail and contact of the folders it covers.
        SCOPED_TRACE(Describe(base.saved));
        EXPECT_TRUE(base.saved.error.empty());
        EXPECT_TRUE(base.saved.folderErrors.empty());
        EXPECT_GT(base.saved.mails, 0);
        EXPECT_GT(base.saved.contacts, 0);
        EXPECT_EQ(
            base.saved.msgFiles,
            static_cast<std::size_t>(base.saved.mails + base.saved.others + base.saved.contacts));
        EXPECT_LE(static_cast<std::size_t>(base.saved.mails + base.saved.contacts),
                  base.whole.itemsRead);
    }

    EXPECT_EQ(bases_[0].whole.itemsRead, kSmallStoreItems);
    EXPECT_EQ(bases_[0].whole.folders, 4u);
    // The small store's Inbox spans several record pages, so damage can hit part of it.
    std::set<std::uint32_t> inboxPages;
    for (const Page& p : bases_[0].map.Select([](const Page& p) { return p.isTableData(); })) {
        if (bases_[0].OwnerOf(p).table == u"1-1001") {
            inboxPages.insert(p.number);
        }
    }
    EXPECT_GE(inboxPages.size(), 3u);
}

TEST_F(DamagedStores, TruncatedCopiesFailInWordsAndShowNothingThatIsNotThere) {
    for (const BaseStore& base : bases_) {
        const std::size_t size = base.bytes.size();
        const std::size_t page = base.map.pageSize;
        for (std::size_t cut :
             {std::size_t{0}, std::size_t{100}, page, 2 * page, 3 * page + 123, size / 10,
              size / 4 + 777, size / 2, size * 3 / 4 + 5, size * 9 / 10, size - page, size - 1}) {
            SCOPED_TRACE(base.name + " cut at " + std::to_string(cut));
            const Bytes bytes(base.bytes.begin(),
                              base.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
            const StoreReading damaged = ReadAndExport(bytes, base);
            if (damaged.itemsRead < base.whole.itemsRead || damaged.tables < base.whole.tables) {
                EXPECT_FALSE(damaged.failures.empty())
                    << "a loss without a word: " << Describe(damaged);
            }
            for (const std::u16string& id : damaged.readIds) {
                EXPECT_TRUE(base.whole.readIds.contains(id));
            }
        }
    }
}

TEST_F(DamagedStores, AZeroedPageLosesAtMostWhatItsTableHolds) {
    for (const BaseStore& base : bases_) {
        const std::vector<Page> pages =
            &base == &bases_[0] ? base.map.pages : OnePageOfEachKind(base.map);
        for (const Page& page : pages) {
            const TreeOwner owner = base.OwnerOf(page);
            SCOPED_TRACE(base.name + ", page " + std::to_string(page.number) + " of \"" +
                         platform::Utf16ToUtf8(owner.table) + "\"" +
                         (owner.longValues ? " (long values)" : ""));
            Bytes bytes = base.bytes;
            ZeroPage(bytes, base.map, page);
            const StoreReading damaged = ReadAndExport(bytes, base);
            for (const std::u16string& id : damaged.readIds) {
                EXPECT_TRUE(base.whole.readIds.contains(id));
            }
            if (damaged.itemsRead < base.whole.itemsRead) {
                EXPECT_FALSE(damaged.failures.empty())
                    << "a loss without a word: " << Describe(damaged);
            }
            if (IsFolderTable(owner.table)) {
                ExpectOtherFoldersWhole(damaged, base, owner.table);
                if (owner.longValues) {
                    // Attachments are lost, their items are not.
                    EXPECT_EQ(damaged.itemsRead, base.whole.itemsRead) << Describe(damaged);
                }
            } else if ((owner.table == u"Msg" && owner.longValues) || owner.table == u"1-23" ||
                       (!page.isCatalogue() && owner.table != u"Msg" && owner.table != u"Mailbox" &&
                        owner.table != u"Folders")) {
                // Bodies, attachment names and tables that no item needs: every item is read.
                EXPECT_EQ(damaged.itemsRead, base.whole.itemsRead) << Describe(damaged);
            }
        }
    }
}

TEST_F(DamagedStores, FlippedBitsInRecordLongValueAndCataloguePages) {
    for (const BaseStore& base : bases_) {
        const std::vector<Page> pages =
            &base == &bases_[0] ? base.map.pages : OnePageOfEachKind(base.map);
        for (const Page& page : pages) {
            if (!page.isTableData() && !page.isLongValue() && !page.isCatalogue()) {
                continue;
            }
            const TreeOwner owner = base.OwnerOf(page);
            SCOPED_TRACE(base.name + ", page " + std::to_string(page.number) + " of \"" +
                         platform::Utf16ToUtf8(owner.table) + "\"" +
                         (owner.longValues ? " (long values)" : ""));
            for (bool repaired : {false, true}) {
                Bytes bytes = base.bytes;
                FlipBitsInPage(bytes, base.map, page, 3, page.number);
                if (repaired) {
                    // As if the page had been written so: the checksums do not give it away.
                    RepairPageChecksums(bytes, base.map, page);
                }
                const StoreReading damaged = ReadAndExport(bytes, base);
                if (IsFolderTable(owner.table)) {
                    ExpectOtherFoldersWhole(damaged, base, owner.table);
                } else if (owner.longValues || owner.table == u"1-23") {
                    EXPECT_EQ(damaged.itemsRead, base.whole.itemsRead) << Describe(damaged);
                }
            }
        }
    }
}

}  // namespace
