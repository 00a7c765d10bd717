// Timings of the store scan, the folder listing with its item load and the save of a folder,
// each beside what libesedb takes for the same records and beside reading or writing the same
// bytes with nothing decoded or formatted.
//
//   edb_bench scan STORE                   the scan of "Mailbox", "Folders", "Msg" and "1-23"
//                                          against a walk of their records through libesedb and
//                                          against reading the pages of their record trees with
//                                          pread alone
//   edb_bench list STORE TABLE SCRATCH     the listing of one folder table with every item read
//                                          in full against a libesedb walk of the records it
//                                          reads
//   edb_bench export STORE TABLE SCRATCH   the save of one folder as message files against
//                                          writing as many files of the same sizes, and
//                                          against the libesedb walk of the records it reads
//
// Options: --rounds N (default 3; the best round counts), --ours-only (nothing beside ours:
// for profiling), --no-libesedb (no libesedb walk), --cold (scan: the store's pages are taken
// out of memory before each side of each round, so that all of them read from the disk). Where
// libesedb cannot read a table, the figures give libesedb's reason (the scan goes on with the other
// tables). Every run is timed by the clock and by the CPU time of the process (user and system).
// The figures go to standard output as one JSON object; a line per round goes to standard error.
// SCRATCH is an empty folder of our own: every round writes into new folders in it (roundN/), and
// nothing is deleted; the caller removes it.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "content/item_content.h"
#include "export/export_run.h"
#include "export/message_component.h"
#include "platform/codepage.h"
#include "store/long_value_tree.h"
#include "store/messages.h"
#include "store/page_file.h"
#include "store/record_reader.h"
#include "store/session.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr std::u16string_view kScannedTables[] = {u"Mailbox", u"Folders", u"Msg", u"1-23"};

struct Options {
    std::string mode;
    fs::path store;
    std::u16string table;
    fs::path scratch;
    int rounds = 3;
    bool oursOnly = false;
    bool noLibesedb = false;
    bool cold = false;  // scan: the store's pages out of memory before each side of a round
};

std::string U8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

double CpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One run timed by the clock and by the process's CPU time.
struct Times {
    double wall = 0;
    double cpu = 0;
};

Times Measure(const std::function<void()>& run) {
    const double cpu = CpuNow();
    const auto start = Clock::now();
    run();
    return {std::chrono::duration<double>(Clock::now() - start).count(), CpuNow() - cpu};
}

// The best of the rounds, clock and CPU time each.
struct Best {
    double wall = 1e300;
    double cpu = 1e300;
    bool measured = false;

    void Keep(Times t) {
        wall = std::min(wall, t.wall);
        cpu = std::min(cpu, t.cpu);
        measured = true;
    }
    json Json() const { return measured ? json{{"wall", wall}, {"cpu", cpu}} : json(nullptr); }
};

// The median of the values; null when there are none.
json Median(std::vector<double> values) {
    if (values.empty()) {
        return nullptr;
    }
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 != 0 ? values[half] : (values[half - 1] + values[half]) / 2;
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A new empty folder for one round's files. Nothing is deleted between rounds: on a file
// system that checks recently freed inodes before reusing them (ext4 without a journal),
// creating thousands of files right after deleting thousands costs more than the files
// themselves, and the bench would measure its own clean-up.
fs::path RoundFolder(const fs::path& scratch, int round, const char* what) {
    const fs::path folder = scratch / ("round" + std::to_string(round)) / what;
    if (fs::exists(folder)) {
        throw std::runtime_error(folder.string() + " is there already: SCRATCH must be empty");
    }
    fs::create_directories(folder);
    return folder;
}

std::optional<ese::Table> FindTable(const ese::File& file, std::u16string_view name) {
    for (int t = 0, n = file.tableCount(); t < n; ++t) {
        ese::Table table = file.table(t);
        if (table.name() == name) {
            return table;
        }
    }
    return std::nullopt;
}

std::uint32_t TableObjectId(const ese::Table& table) {
    std::uint32_t id = 0;
    if (libesedb_table_get_identifier(table.get(), &id, nullptr) != 1) {
        throw std::runtime_error("libesedb gives no object id for a table");
    }
    return id;
}

// What a walk through libesedb reads of one record: every value's type, flags and bytes, and,
// given the long-value trees, the whole of every long value, read through the store layer's
// own long-value reader (libesedb's lookup searches the rest of the long-value tree for every
// value and would measure only that).
struct Touch {
    std::uint64_t values = 0;
    std::uint64_t bytes = 0;
    std::uint64_t longValues = 0;
    std::uint64_t longValuesThroughLibesedb = 0;

    void Record(const ese::Record& record, ese::detail::LongValueTrees* trees,
                std::uint32_t tableId) {
        const int count = record.valueCount();
        for (int v = 0; v < count; ++v) {
            const std::uint8_t flags = record.valueFlags(v);
            const ese::Bytes data = record.valueData(v);
            bytes += data.size() + record.columnType(v);
            ++values;
            if (trees == nullptr || (flags & ese::kLongValue) == 0) {
                continue;
            }
            ++longValues;
            if (auto segments = trees->Segments(tableId, data)) {
                for (const auto& s : *segments) {
                    bytes += s.size();
                }
            } else if (auto value = record.longValue(v)) {
                ++longValuesThroughLibesedb;
                bytes += value->data().size();
            }
        }
    }
};

// A measurement of work that failed would mislead: the bench stops with the reason.
void Must(int result, const store::StoreSession& session) {
    if (result != store::kOk) {
        throw std::runtime_error(session.lastError);
    }
}

// The scan as the window runs it, without the window; the clock time of each table's scan
// goes into tableSeconds.
void Scan(store::StoreSession& session, const fs::path& path,
          std::map<std::string, double>* tableSeconds = nullptr) {
    if (store::OpenStore(session, path) != store::kOk || store::ListTables(session) != store::kOk) {
        throw std::runtime_error("cannot open " + path.string() + ": " + session.lastError);
    }
    for (std::u16string_view name : kScannedTables) {
        const Times t = Measure([&] { Must(store::ScanTableByName(session, name), session); });
        if (tableSeconds != nullptr) {
            (*tableSeconds)[U8(name)] = t.wall;
        }
    }
    store::ReleaseStore(session);
}

const store::FolderEntry& FolderOfTable(const store::StoreModel& model, std::u16string_view table) {
    for (const store::FolderEntry& folder : model.folders) {
        if (folder.messageTableName == table) {
            return folder;
        }
    }
    throw std::runtime_error("no folder has the table " + U8(table));
}

void Report(const char* mode, int round, const char* what, Times t) {
    std::fprintf(stderr, "%s round %d: %s %.3f s (CPU %.3f s)\n", mode, round, what, t.wall, t.cpu);
}

// --- scan --------------------------------------------------------------------------------------

// The pages of the record trees of the scanned tables (branches and leaves, in the order of a
// walk in key order), found with the store layer's page reader before anything is timed.
struct TreePages {
    std::uint32_t pageSize = 0;
    std::vector<std::uint32_t> pages;
    std::map<std::string, std::size_t> perTable;
    std::uint32_t lowest = 0xffffffffU;
    std::uint32_t highest = 0;
    std::uint64_t filePages = 0;
};

TreePages RecordTreePages(const fs::path& path) {
    using namespace ese::detail;
    std::shared_ptr<PageFile> file = PageFile::Open(path);
    if (!file) {
        throw std::runtime_error("the page reader cannot open " + path.string());
    }
    const std::optional<Catalogue> catalogue = Catalogue::Read(file);
    if (!catalogue) {
        throw std::runtime_error("the page reader cannot read the catalogue");
    }
    TreePages tree;
    tree.pageSize = file->pageSize();
    tree.filePages = file->pageCount();
    for (std::u16string_view name : kScannedTables) {
        const TableLayout* layout = nullptr;
        for (const auto& [id, table] : catalogue->tables()) {
            if (table.name == name) {
                layout = &table;
                break;
            }
        }
        if (layout == nullptr) {
            continue;
        }
        std::size_t count = 0;
        std::vector<std::uint32_t> pending{layout->dataRoot};
        Page page;
        while (!pending.empty()) {
            const std::uint32_t number = pending.back();
            pending.pop_back();
            if (const PageTrouble trouble = file->Read(number, page);
                trouble != PageTrouble::kNone) {
                throw std::runtime_error(file->Describe(number, trouble));
            }
            tree.pages.push_back(number);
            tree.lowest = std::min(tree.lowest, number);
            tree.highest = std::max(tree.highest, number);
            ++count;
            if (!page.IsLeaf()) {
                for (auto e = page.entries.rbegin(); e != page.entries.rend(); ++e) {
                    if ((e->flags & kTagDefunct) == 0) {
                        pending.push_back(Page::Child(*e));
                    }
                }
            }
        }
        tree.perTable[U8(name)] = count;
    }
    return tree;
}

// Reads the pages with pread into one buffer, nothing decoded: the least any reading of them
// costs.
std::uint64_t ReadPages(const fs::path& path, const TreePages& tree) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + path.string() + ": " + std::strerror(errno));
    }
    std::vector<std::uint8_t> buffer(tree.pageSize);
    std::uint64_t sum = 0;
    for (std::uint32_t number : tree.pages) {
        const auto position = static_cast<off_t>((number + 1ULL) * tree.pageSize);
        if (::pread(fd, buffer.data(), buffer.size(), position) !=
            static_cast<ssize_t>(buffer.size())) {
            ::close(fd);
            throw std::runtime_error("cannot read page " + std::to_string(number));
        }
        sum += buffer[0];
    }
    ::close(fd);
    return sum;
}

// The libesedb walk of the scanned tables, table by table. A table libesedb cannot read is
// left with libesedb's reason, and the walk goes on with the next; tables in skip are left
// out (they failed before).
struct LibesedbWalk {
    std::map<std::string, double> tableSeconds;
    std::map<std::string, std::string> failures;   // table name: libesedb's reason
    std::map<std::string, double> failureSeconds;  // how long libesedb took to fail
    std::uint64_t values = 0;
};

LibesedbWalk WalkThroughLibesedb(const fs::path& path, const std::set<std::string>& skip) {
    LibesedbWalk walk;
    ese::File file(path, ese::LongValueReading::kThroughLibesedb);
    Touch touched;
    for (std::u16string_view name : kScannedTables) {
        const std::string name8 = U8(name);
        if (skip.count(name8) != 0) {
            continue;
        }
        const auto start = Clock::now();
        try {
            const Times t = Measure([&] {
                if (auto table = FindTable(file, name)) {
                    for (int r = 0, n = table->recordCount(); r < n; ++r) {
                        touched.Record(table->record(r), nullptr, 0);
                    }
                }
            });
            walk.tableSeconds[name8] = t.wall;
        } catch (const ese::Error& e) {
            walk.failures[name8] = e.what();
            walk.failureSeconds[name8] =
                std::chrono::duration<double>(Clock::now() - start).count();
        }
    }
    walk.values = touched.values;
    return walk;
}

// Whether our own reader reads each scanned table (else the store layer falls back on
// libesedb).
json OwnReading(const fs::path& path) {
    json own = json::object();
    ese::File file(path);
    for (std::u16string_view name : kScannedTables) {
        if (auto table = FindTable(file, name)) {
            own[U8(name)] = table->readsOwnRecords();
        }
    }
    return own;
}

// Takes the store's pages out of the system's memory, as after a restart: what a store opened
// for the first time costs.
void Evict(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0) {
        throw std::runtime_error("cannot take the pages of " + path.string() + " out of memory");
    }
    ::close(fd);
}

int RunScanBench(const Options& o) {
    // Warm cache for every side: the pages all of them read are read once before timing.
    // Left out for --ours-only, which profiles our scan alone. With --cold, every side reads
    // from the disk instead.
    TreePages tree;
    if (!o.oursOnly) {
        tree = RecordTreePages(o.store);
        ReadPages(o.store, tree);
    }
    auto evictWhenCold = [&] {
        if (o.cold) {
            Evict(o.store);
        }
    };

    Best ours;
    Best libesedb;
    Best floor;
    std::size_t messages = 0;
    std::size_t attachments = 0;
    std::map<std::string, double> oursTables;
    std::map<std::string, double> libesedbTables;
    std::map<std::string, std::string> libesedbFailures;
    std::map<std::string, double> libesedbFailureSeconds;
    std::set<std::string> failed;
    auto keepLeast = [](std::map<std::string, double>& kept, const std::string& name, double s) {
        auto [at, added] = kept.emplace(name, s);
        at->second = std::min(at->second, s);
    };
    const bool withLibesedb = !o.oursOnly && !o.noLibesedb;
    std::vector<double> roundRatios;
    std::vector<double> clockRatios;
    for (int round = 1; round <= o.rounds; ++round) {
        if (withLibesedb) {
            LibesedbWalk walk;
            evictWhenCold();
            // A table libesedb cannot read fails the same way every time: it is tried once.
            const Times t = Measure([&] { walk = WalkThroughLibesedb(o.store, failed); });
            for (const auto& [name, seconds] : walk.tableSeconds) {
                keepLeast(libesedbTables, name, seconds);
            }
            for (const auto& [name, why] : walk.failures) {
                std::fprintf(stderr, "scan round %d: libesedb cannot read %s (%.3f s): %s\n", round,
                             name.c_str(), walk.failureSeconds[name], why.c_str());
                libesedbFailures[name] = why;
                libesedbFailureSeconds[name] = walk.failureSeconds[name];
                failed.insert(name);
            }
            if (libesedbFailures.empty()) {
                libesedb.Keep(t);
                Report("scan", round, "libesedb", t);
            }
        }
        store::NullScanHost host;
        store::StoreSession session(host);
        std::map<std::string, double> tables;
        evictWhenCold();
        const Times t = Measure([&] { Scan(session, o.store, &tables); });
        ours.Keep(t);
        for (const auto& [name, seconds] : tables) {
            keepLeast(oursTables, name, seconds);
        }
        messages = session.model.messages().size();
        attachments = session.model.attachments.size();
        Report("scan", round, "ours", t);
        if (!o.oursOnly) {
            evictWhenCold();
            const Times f = Measure([&] { ReadPages(o.store, tree); });
            floor.Keep(f);
            Report("scan", round, "pread", f);
            // Each round's scan against the floor read right after it: the host's state, which
            // moves the floor by half from one minute to the next, is much the same for both.
            roundRatios.push_back(t.cpu / f.cpu);
            // The scan reads "Msg" on two threads where the machine has the cores: by the
            // clock, it is what a user waits for.
            clockRatios.push_back(t.wall / f.wall);
        }
    }
    const json result = {
        {"mode", "scan"},
        {"ours", ours.Json()},
        {"oursTables", oursTables},
        {"ownReading", OwnReading(o.store)},
        {"libesedb", libesedb.Json()},
        {"libesedbTables", libesedbTables},
        {"libesedbFailures", libesedbFailures},
        {"libesedbFailureSeconds", libesedbFailureSeconds},
        {"pread", floor.Json()},
        {"ratioOfRounds", Median(roundRatios)},
        {"ratioOfRoundsByClock", Median(clockRatios)},
        {"pages", tree.pages.size()},
        {"pagesPerTable", tree.perTable},
        {"pageSize", tree.pageSize},
        {"lowestPage", tree.lowest},
        {"highestPage", tree.highest},
        {"filePages", tree.filePages},
        {"messages", messages},
        {"attachments", attachments},
        {"peakKb", PeakKilobytes()},
    };
    std::printf("%s\n", result.dump().c_str());
    return 0;
}

// --- list --------------------------------------------------------------------------------------

// The records a listing of the folder reads: its own table, the items' "Msg" records and the
// "1-23" records of their attachments (by record index).
struct TouchedRecords {
    std::vector<int> msg;
    std::vector<int> attachments;
};

TouchedRecords RecordsOfListing(const store::StoreModel& model,
                                const std::vector<store::ItemEntry>& items) {
    TouchedRecords touched;
    std::set<int> attachmentRecords;
    for (const store::ItemEntry& item : items) {
        for (std::size_t position : model.MessagesWithId(item.messageId)) {
            const store::MessageEntry& message = model.messages()[position];
            touched.msg.push_back(message.recordIndex);
            if (message.attachmentKeys.empty()) {
                continue;
            }
            for (std::size_t a : model.AttachmentsNamedIn(message.attachmentKeys)) {
                attachmentRecords.insert(model.attachments[a].recordIndex);
            }
        }
    }
    touched.attachments.assign(attachmentRecords.begin(), attachmentRecords.end());
    return touched;
}

// The walk through libesedb of the records a listing touches: the folder's table whole, then
// the given "Msg" and "1-23" records, every value and every long value read. ese::Error when
// libesedb cannot read one of the tables.
void WalkRecords(const Options& o, const TouchedRecords& records, Touch& touched) {
    ese::File file(o.store, ese::LongValueReading::kThroughLibesedb);
    const std::shared_ptr<ese::detail::LongValueTrees> trees =
        ese::detail::LongValueTrees::Open(o.store);
    auto own = FindTable(file, o.table);
    auto msg = FindTable(file, u"Msg");
    auto attachments = FindTable(file, u"1-23");
    if (!own || !msg || !attachments) {
        throw std::runtime_error("the store lacks a table");
    }
    const std::uint32_t ownId = TableObjectId(*own);
    const std::uint32_t msgId = TableObjectId(*msg);
    const std::uint32_t attachmentsId = TableObjectId(*attachments);
    // libesedb's errors do not say which table they come from: the walk adds it.
    auto named = [](std::u16string_view table, auto&& walk) {
        try {
            walk();
        } catch (const ese::Error& e) {
            throw ese::Error("\"" + U8(table) + "\": " + e.what());
        }
    };
    named(o.table, [&] {
        for (int r = 0, n = own->recordCount(); r < n; ++r) {
            touched.Record(own->record(r), trees.get(), ownId);
        }
    });
    named(u"Msg", [&] {
        for (int r : records.msg) {
            touched.Record(msg->record(r), trees.get(), msgId);
        }
    });
    named(u"1-23", [&] {
        for (int r : records.attachments) {
            touched.Record(attachments->record(r), trees.get(), attachmentsId);
        }
    });
}

// The libesedb walk of the records, timed, or libesedb's reason for not reading them.
struct WalkResult {
    Times times;
    std::string error;
    Touch touched;
};

WalkResult TimedWalk(const Options& o, const TouchedRecords& records) {
    WalkResult result;
    try {
        result.times = Measure([&] { WalkRecords(o, records, result.touched); });
    } catch (const ese::Error& e) {
        result.error = e.what();
    }
    return result;
}

int RunListBench(const Options& o) {
    store::NullScanHost host;
    store::StoreSession session(host);
    Scan(session, o.store);
    const store::FolderEntry folder = FolderOfTable(session.model, o.table);
    std::optional<content::ItemContent> itemContent;

    Best ours;
    Best libesedb;
    std::string libesedbError;
    std::size_t items = 0;
    std::size_t details = 0;
    std::size_t bodyParts = 0;
    TouchedRecords records;
    Touch touched;
    for (int round = 1; round <= o.rounds; ++round) {
        itemContent.emplace(RoundFolder(o.scratch, round, "work"));
        session.content = &*itemContent;
        // The listing as the window runs it for a click on the folder.
        const Times t = Measure([&] {
            session.model.items.clear();
            session.model.contacts.clear();
            session.state.sequence = 0;
            session.state.exportMode = 0;
            session.state.currentFolderClass = folder.folderClass;
            itemContent->mailDetails.clear();
            itemContent->contactCards.clear();
            if (store::OpenStore(session, o.store) != store::kOk) {
                throw std::runtime_error(session.lastError);
            }
            Must(store::ScanTableByName(session, o.table), session);
            itemContent->bodyParts.clear();
            Must(store::LoadFolderItems(session), session);
            store::ReleaseStore(session);
        });
        ours.Keep(t);
        items = session.model.items.size();
        details = itemContent->mailDetails.size();
        bodyParts = itemContent->bodyParts.size();
        Report("list", round, "ours", t);
        if (round == 1) {
            records = RecordsOfListing(session.model, session.model.items);
        }
        if (!o.oursOnly && !o.noLibesedb && libesedbError.empty()) {
            WalkResult walk = TimedWalk(o, records);
            if (walk.error.empty()) {
                libesedb.Keep(walk.times);
                touched = walk.touched;
                Report("list", round, "libesedb walk", walk.times);
            } else {
                libesedbError = walk.error;
                std::fprintf(stderr, "list round %d: libesedb cannot read the records: %s\n", round,
                             libesedbError.c_str());
            }
        }
    }
    const json result = {
        {"mode", "list"},
        {"ours", ours.Json()},
        {"libesedb", libesedb.Json()},
        {"libesedbError", libesedbError},
        {"items", items},
        {"details", details},
        {"bodyParts", bodyParts},
        {"msgRecords", records.msg.size()},
        {"attachmentRecords", records.attachments.size()},
        {"bytes", touched.bytes},
        {"longValues", touched.longValues},
        {"longValuesThroughLibesedb", touched.longValuesThroughLibesedb},
        {"peakKb", PeakKilobytes()},
    };
    std::printf("%s\n", result.dump().c_str());
    return 0;
}

// --- export ------------------------------------------------------------------------------------

class QuietUi final : public msgexport::ExportUi {
  public:
    void ShowMessage(std::u16string_view text) override {
        std::fprintf(stderr, "message: %s\n", U8(text).c_str());
    }
};

// Writes files of the given sizes, filled with one byte, into the folder.
void WriteFiles(const fs::path& folder, const std::vector<std::uintmax_t>& sizes) {
    std::vector<char> block;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (block.size() < sizes[i]) {
            block.assign(sizes[i], 'x');
        }
        const fs::path path = folder / (std::to_string(i) + ".msg");
        std::FILE* file = std::fopen(path.c_str(), "wbx");
        if (file == nullptr || std::fwrite(block.data(), 1, sizes[i], file) != sizes[i] ||
            std::fclose(file) != 0) {
            throw std::runtime_error("cannot write " + path.string());
        }
    }
}

int RunExportBench(const Options& o) {
    msgfile::RegisterMessageFileComponent();
    store::NullScanHost host;
    store::StoreSession session(host);
    Scan(session, o.store);
    const store::FolderEntry folder = FolderOfTable(session.model, o.table);
    msgexport::SaveRequest request;
    request.database = o.store;
    request.exportList =
        msgexport::BuildExportList(session.model, [](store::TreeItem) { return true; });
    std::erase_if(request.exportList.folders, [&](const msgexport::ExportFolderEntry& e) {
        return e.messageTableName != o.table || e.folderTreeItem != folder.treeItem;
    });

    // The records the save reads, found by a listing of the folder's table.
    TouchedRecords records;
    const bool walks = !o.oursOnly && !o.noLibesedb;
    if (walks) {
        if (store::OpenStore(session, o.store) != store::kOk) {
            throw std::runtime_error(session.lastError);
        }
        session.state.currentFolderClass = folder.folderClass;
        Must(store::ScanTableByName(session, o.table), session);
        store::ReleaseStore(session);
        records = RecordsOfListing(session.model, session.model.items);
        session.model.items.clear();
        session.model.contacts.clear();
    }

    Best ours;
    Best writes;
    Best libesedb;
    std::string libesedbError;
    int mails = 0;
    int skipped = 0;
    std::uintmax_t bytes = 0;
    std::size_t files = 0;
    for (int round = 1; round <= o.rounds; ++round) {
        request.workFolder = RoundFolder(o.scratch, round, "work");
        request.destinationRoot = RoundFolder(o.scratch, round, "saved");
        msgexport::SaveReport report;
        QuietUi ui;
        const Times t = Measure([&] { report = msgexport::RunSave(session, request, &ui); });
        if (!report.error.empty()) {
            throw std::runtime_error("the save failed: " + report.error);
        }
        ours.Keep(t);
        Report("export", round, "ours", t);
        mails = report.mails();
        skipped = report.skipped();
        std::vector<std::uintmax_t> sizes;
        for (const auto& entry : fs::recursive_directory_iterator(request.destinationRoot)) {
            if (entry.is_regular_file()) {
                sizes.push_back(entry.file_size());
            }
        }
        files = sizes.size();
        bytes = 0;
        for (std::uintmax_t size : sizes) {
            bytes += size;
        }
        if (!o.oursOnly) {
            const fs::path copies = RoundFolder(o.scratch, round, "copies");
            const Times w = Measure([&] { WriteFiles(copies, sizes); });
            writes.Keep(w);
            Report("export", round, "writes alone", w);
        }
        if (walks && libesedbError.empty()) {
            WalkResult walk = TimedWalk(o, records);
            if (walk.error.empty()) {
                libesedb.Keep(walk.times);
                Report("export", round, "libesedb walk", walk.times);
            } else {
                libesedbError = walk.error;
                std::fprintf(stderr, "export round %d: libesedb cannot read the records: %s\n",
                             round, libesedbError.c_str());
            }
        }
    }
    const json result = {
        {"mode", "export"},
        {"ours", ours.Json()},
        {"writes", writes.Json()},
        {"libesedb", libesedb.Json()},
        {"libesedbError", libesedbError},
        {"mails", mails},
        {"skipped", skipped},
        {"files", files},
        {"bytes", bytes},
        {"peakKb", PeakKilobytes()},
        {"mailbox", U8(folder.mailboxDisplayName)},
        {"folder", U8(folder.displayName)},
    };
    std::printf("%s\n", result.dump().c_str());
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: edb_bench scan STORE | list STORE TABLE SCRATCH | export STORE TABLE "
                 "SCRATCH  [--rounds N] [--ours-only] [--no-libesedb] [--cold]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            o.rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--ours-only") {
            o.oursOnly = true;
        } else if (arg == "--no-libesedb") {
            o.noLibesedb = true;
        } else if (arg == "--cold") {
            o.cold = true;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < 2) {
        return Usage();
    }
    o.mode = positional[0];
    o.store = positional[1];
    const bool needsTable = o.mode == "list" || o.mode == "export";
    if (needsTable) {
        if (positional.size() != 4) {
            return Usage();
        }
        o.table = platform::Utf8ToUtf16(positional[2]);
        o.scratch = positional[3];
    } else if (o.mode != "scan" || positional.size() != 2) {
        return Usage();
    }
    try {
        if (o.mode == "scan") {
            return RunScanBench(o);
        }
        fs::create_directories(o.scratch);
        return o.mode == "list" ? RunListBench(o) : RunExportBench(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "edb_bench: %s\n", e.what());
        return 1;
    }
}
