// Timings of the store scan, the folder listing with its item load and the save of a folder,
// each beside a baseline that does the same input or output with nothing decoded or formatted.
//
//   edb_bench scan STORE                   the scan of "Mailbox", "Folders", "Msg" and "1-23"
//                                          against a bare libesedb walk of their records
//   edb_bench list STORE TABLE SCRATCH     the listing of one folder table with every item read
//                                          in full against a bare walk of the records it reads
//   edb_bench export STORE TABLE SCRATCH   the save of one folder as message files against
//                                          writing as many files of the same sizes, and
//                                          against the bare walk of the records it reads
//
// Options: --rounds N (default 3; the best round counts), --ours-only (no baseline: for
// profiling). The figures go to standard output as one JSON object; a line per round goes to
// standard error. SCRATCH is a folder of our own: it is emptied before every round.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "content/item_content.h"
#include "export/export_run.h"
#include "export/message_component.h"
#include "platform/codepage.h"
#include "store/messages.h"
#include "store/session.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::u16string_view kScannedTables[] = {u"Mailbox", u"Folders", u"Msg", u"1-23"};

struct Options {
    std::string mode;
    fs::path store;
    std::u16string table;
    fs::path scratch;
    int rounds = 3;
    bool oursOnly = false;
};

double Seconds(const std::function<void()>& run) {
    const auto start = Clock::now();
    run();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void EmptyFolder(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
}

// What a bare walk reads of one record: every value's type, flags and bytes, and the whole of
// every long value.
struct Touch {
    std::uint64_t values = 0;
    std::uint64_t bytes = 0;

    void Record(const ese::Record& record, bool longValues) {
        const int count = record.valueCount();
        for (int v = 0; v < count; ++v) {
            const std::uint8_t flags = record.valueFlags(v);
            bytes += record.valueData(v).size() + record.columnType(v);
            ++values;
            if (longValues && (flags & ese::kLongValue) != 0) {
                if (auto value = record.longValue(v)) {
                    const int segments = value->segmentCount();
                    for (int s = 0; s < segments; ++s) {
                        bytes += value->segment(s).size();
                    }
                }
            }
        }
    }
};

std::optional<ese::Table> FindTable(const ese::File& file, std::u16string_view name) {
    for (int t = 0, n = file.tableCount(); t < n; ++t) {
        ese::Table table = file.table(t);
        if (table.name() == name) {
            return table;
        }
    }
    return std::nullopt;
}

// A measurement of work that failed would mislead: the bench stops with the reason.
void Must(int result, const store::StoreSession& session) {
    if (result != store::kOk) {
        throw std::runtime_error(session.lastError);
    }
}

// The scan as the window runs it, without the window.
void Scan(store::StoreSession& session, const fs::path& path) {
    if (store::OpenStore(session, path) != store::kOk || store::ListTables(session) != store::kOk) {
        throw std::runtime_error("cannot open " + path.string() + ": " + session.lastError);
    }
    for (std::u16string_view name : kScannedTables) {
        Must(store::ScanTableByName(session, name), session);
    }
    store::ReleaseStore(session);
}

const store::FolderEntry& FolderOfTable(const store::StoreModel& model, std::u16string_view table) {
    for (const store::FolderEntry& folder : model.folders) {
        if (folder.messageTableName == table) {
            return folder;
        }
    }
    throw std::runtime_error("no folder has the table " + platform::Utf16ToUtf8(table));
}

// Text for a JSON string: UTF-8 with quotes, backslashes and control characters escaped.
std::string JsonText(std::u16string_view text) {
    std::string out;
    for (char c : platform::Utf16ToUtf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

struct Result {
    double ours = 1e300;
    double bare = 1e300;
};

void Report(const char* mode, int round, double ours, double bare) {
    std::fprintf(stderr, "%s round %d: ours %.3f s, baseline %.3f s\n", mode, round, ours, bare);
}

// --- scan --------------------------------------------------------------------------------------

int RunScanBench(const Options& o) {
    Result best;
    std::size_t messages = 0;
    std::size_t attachments = 0;
    Touch touched;
    for (int round = 1; round <= o.rounds; ++round) {
        double bare = 0;
        if (!o.oursOnly) {
            touched = Touch{};
            bare = Seconds([&] {
                ese::File file(o.store);
                for (std::u16string_view name : kScannedTables) {
                    if (auto table = FindTable(file, name)) {
                        for (int r = 0, n = table->recordCount(); r < n; ++r) {
                            touched.Record(table->record(r), false);
                        }
                    }
                }
            });
            best.bare = std::min(best.bare, bare);
        }
        store::NullScanHost host;
        store::StoreSession session(host);
        const double ours = Seconds([&] { Scan(session, o.store); });
        best.ours = std::min(best.ours, ours);
        messages = session.model.messages().size();
        attachments = session.model.attachments.size();
        Report("scan", round, ours, bare);
    }
    std::printf(
        "{\"mode\":\"scan\",\"ours\":%.4f,\"bare\":%.4f,\"messages\":%zu,\"attachments\":%zu,"
        "\"values\":%llu,\"peakKb\":%ld}\n",
        best.ours, o.oursOnly ? 0.0 : best.bare, messages, attachments,
        static_cast<unsigned long long>(touched.values), PeakKilobytes());
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

// The bare walk of the records a listing touches: the folder's table whole, then the given
// "Msg" and "1-23" records, every value and every long value read.
void WalkRecords(const Options& o, const TouchedRecords& records, Touch& touched) {
    ese::File file(o.store);
    auto own = FindTable(file, o.table);
    auto msg = FindTable(file, u"Msg");
    auto attachments = FindTable(file, u"1-23");
    if (!own || !msg || !attachments) {
        throw std::runtime_error("the store lacks a table");
    }
    for (int r = 0, n = own->recordCount(); r < n; ++r) {
        touched.Record(own->record(r), true);
    }
    for (int r : records.msg) {
        touched.Record(msg->record(r), true);
    }
    for (int r : records.attachments) {
        touched.Record(attachments->record(r), true);
    }
}

int RunListBench(const Options& o) {
    store::NullScanHost host;
    store::StoreSession session(host);
    Scan(session, o.store);
    const store::FolderEntry folder = FolderOfTable(session.model, o.table);
    const fs::path work = o.scratch / "work";
    content::ItemContent itemContent(work);
    session.content = &itemContent;

    Result best;
    std::size_t items = 0;
    std::size_t details = 0;
    std::size_t bodyParts = 0;
    TouchedRecords records;
    Touch touched;
    for (int round = 1; round <= o.rounds; ++round) {
        EmptyFolder(work);
        // The listing as the window runs it for a click on the folder.
        const double ours = Seconds([&] {
            session.model.items.clear();
            session.model.contacts.clear();
            session.state.sequence = 0;
            session.state.exportMode = 0;
            session.state.currentFolderClass = folder.folderClass;
            itemContent.mailDetails.clear();
            itemContent.contactCards.clear();
            if (store::OpenStore(session, o.store) != store::kOk) {
                throw std::runtime_error(session.lastError);
            }
            Must(store::ScanTableByName(session, o.table), session);
            itemContent.bodyParts.clear();
            Must(store::LoadFolderItems(session), session);
            store::ReleaseStore(session);
        });
        best.ours = std::min(best.ours, ours);
        items = session.model.items.size();
        details = itemContent.mailDetails.size();
        bodyParts = itemContent.bodyParts.size();
        if (round == 1) {
            records = RecordsOfListing(session.model, session.model.items);
        }
        double bare = 0;
        if (!o.oursOnly) {
            touched = Touch{};
            bare = Seconds([&] { WalkRecords(o, records, touched); });
            best.bare = std::min(best.bare, bare);
        }
        Report("list", round, ours, bare);
    }
    std::printf(
        "{\"mode\":\"list\",\"ours\":%.4f,\"bare\":%.4f,\"items\":%zu,\"details\":%zu,"
        "\"bodyParts\":%zu,\"msgRecords\":%zu,\"attachmentRecords\":%zu,\"bytes\":%llu,"
        "\"peakKb\":%ld}\n",
        best.ours, o.oursOnly ? 0.0 : best.bare, items, details, bodyParts, records.msg.size(),
        records.attachments.size(), static_cast<unsigned long long>(touched.bytes),
        PeakKilobytes());
    return 0;
}

// --- export ------------------------------------------------------------------------------------

class QuietUi final : public msgexport::ExportUi {
  public:
    void ShowMessage(std::u16string_view text) override {
        std::fprintf(stderr, "message: %s\n", platform::Utf16ToUtf8(text).c_str());
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
    request.workFolder = o.scratch / "work";
    request.destinationRoot = o.scratch / "saved";
    const fs::path copies = o.scratch / "copies";

    // The records the save reads, found by a listing of the folder's table.
    TouchedRecords records;
    if (!o.oursOnly) {
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

    Result best;
    double bestWalk = 1e300;
    int mails = 0;
    int skipped = 0;
    std::uintmax_t bytes = 0;
    std::size_t files = 0;
    for (int round = 1; round <= o.rounds; ++round) {
        EmptyFolder(request.workFolder);
        fs::remove_all(request.destinationRoot);
        msgexport::SaveReport report;
        QuietUi ui;
        const double ours = Seconds([&] { report = msgexport::RunSave(session, request, &ui); });
        if (!report.error.empty()) {
            throw std::runtime_error("the save failed: " + report.error);
        }
        best.ours = std::min(best.ours, ours);
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
        double bare = 0;
        double walk = 0;
        if (!o.oursOnly) {
            EmptyFolder(copies);
            bare = Seconds([&] { WriteFiles(copies, sizes); });
            best.bare = std::min(best.bare, bare);
            Touch touched;
            walk = Seconds([&] { WalkRecords(o, records, touched); });
            bestWalk = std::min(bestWalk, walk);
        }
        Report("export", round, ours, bare);
        std::fprintf(stderr, "export round %d: bare walk of the records read %.3f s\n", round,
                     walk);
    }
    std::printf(
        "{\"mode\":\"export\",\"ours\":%.4f,\"bare\":%.4f,\"walk\":%.4f,\"mails\":%d,"
        "\"skipped\":%d,"
        "\"files\":%zu,\"bytes\":%llu,\"peakKb\":%ld,\"mailbox\":\"%s\",\"folder\":\"%s\"}\n",
        best.ours, o.oursOnly ? 0.0 : best.bare, o.oursOnly ? 0.0 : bestWalk, mails, skipped, files,
        static_cast<unsigned long long>(bytes), PeakKilobytes(),
        JsonText(folder.mailboxDisplayName).c_str(), JsonText(folder.displayName).c_str());
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: edb_bench scan STORE | list STORE TABLE SCRATCH | export STORE TABLE "
                 "SCRATCH  [--rounds N] [--ours-only]\n");
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
