// edb2msg: the store reader's command-line front end. It drives the same controller as the
// window: info, tree, list, show and export, with text or JSON output.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <unordered_map>

#include "app/controller.h"
#include "export/message_component.h"
#include "platform/codepage.h"
#include "platform/work_folder.h"
#include "store/esedb.h"
#include "store/item_filter.h"
#include "store/recovery.h"

namespace {

// The per-folder counts of the classes other than mail and contacts, as the summary names them.
constexpr std::pair<const char*, const char*> kOtherCounts[] = {
    {"appointments", "appointments"},      {"tasks", "tasks"},
    {"journalEntries", "journal entries"}, {"notes", "notes"},
    {"distLists", "distribution lists"},   {"calendars", "calendars"}};

namespace fs = std::filesystem;
using nlohmann::json;

std::string U8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}
std::u16string U16(std::string_view text) {
    return platform::Utf8ToUtf16(text);
}
json OrNull(const std::optional<std::u16string>& text) {
    return text ? json(U8(*text)) : json(nullptr);
}
// An empty label stands for a value the item does not have.
json NonEmptyOrNull(const std::optional<std::u16string>& text) {
    return text && !text->empty() ? json(U8(*text)) : json(nullptr);
}

// Bad usage and stores that cannot be opened.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Node {
    store::TreeItem parent;
    std::u16string text;
    int image;
};

// The tool's front end: the tree and the list kept in memory, progress on standard error
// while a terminal is attached.
class CliFrontEnd final : public app::FrontEnd {
  public:
    explicit CliFrontEnd(bool progress) : progress_(progress) {}
    ~CliFrontEnd() override { EndProgress(); }

    void SetProgress(int position) override {
        if (!progress_) {
            return;
        }
        ++steps_;
        if (steps_ % 50 != 0 && position != 0) {
            return;
        }
        const int filled = std::clamp(position, 0, 100) / 5;
        std::fprintf(stderr, "\r%-60.60s [%-20s] %d", status_.c_str(),
                     std::string(static_cast<std::size_t>(filled), '#').c_str(), steps_);
        std::fflush(stderr);
        shown_ = true;
    }
    void SetStatus(std::u16string_view text) override { status_ = U8(text); }
    void EndProgress() {
        if (shown_) {
            std::fprintf(stderr, "\r%80s\r", "");
            shown_ = false;
        }
    }

    store::TreeItem InsertTreeItem(store::TreeItem parent, std::u16string_view text,
                                   int image) override {
        nodes.push_back({parent, std::u16string(text), image});
        return static_cast<store::TreeItem>(nodes.size());
    }
    void ExpandRoot() override {}
    void ClearTree() override { nodes.clear(); }
    bool IsChecked(store::TreeItem item) override { return checked.count(item) != 0; }
    std::u16string TreeItemText(store::TreeItem item) override {
        return item > 0 && static_cast<std::size_t>(item) <= nodes.size()
                   ? nodes[static_cast<std::size_t>(item) - 1].text
                   : u"";
    }
    const Node* At(store::TreeItem item) const {
        return item > 0 && static_cast<std::size_t>(item) <= nodes.size()
                   ? &nodes[static_cast<std::size_t>(item) - 1]
                   : nullptr;
    }
    void EnableTree(bool) override {}
    void SetColumns(const std::vector<app::ListColumn>& c) override { columns = c; }
    void AppendRow(std::vector<std::u16string> cells) override { rows.push_back(std::move(cells)); }
    void ClearRows() override { rows.clear(); }
    void EnableList(bool) override {}
    void SetLabel(app::Label label, std::u16string_view text) override {
        labels[label] = std::u16string(text);
    }
    void Navigate(const fs::path& path) override { shownPath = path; }
    void SetPathText(std::u16string_view) override {}
    void EnableControl(app::Control, bool) override {}
    bool AskYesNo(std::u16string_view, std::u16string_view) override { return false; }
    void ShowMessage(std::u16string_view text, std::u16string_view) override {
        messages.emplace_back(text);
    }
    void SaveFinished(const msgexport::SaveReport&) override {}

    std::vector<Node> nodes;
    std::set<store::TreeItem> checked;
    std::vector<app::ListColumn> columns;
    std::vector<std::vector<std::u16string>> rows;
    std::map<app::Label, std::u16string> labels;
    fs::path shownPath;
    std::vector<std::u16string> messages;

  private:
    bool progress_;
    std::string status_;
    int steps_ = 0;
    bool shown_ = false;
};

// The work folder of this run, removed when the command ends.
platform::WorkFolder MakeWorkFolder() {
    auto folder = platform::WorkFolder::Create("edb2msg");
    if (!folder) {
        throw std::runtime_error(folder.error());
    }
    return std::move(*folder);
}

// One store opened and scanned through the controller.
class Session {
  public:
    Session(const fs::path& store, bool recover)
        : front_(::isatty(2) != 0),
          controller_(front_, {work_.path() / "edb2msgtemp.html", work_.path(), work_.path()}) {
        controller_.setRecover(recover);
        std::error_code ec;
        if (!fs::exists(store, ec)) {
            throw UsageError(store.string() + ": no such file");
        }
        if (fs::is_directory(store, ec)) {
            throw UsageError(store.string() + ": is a folder, not a store");
        }
        controller_.setDatabasePath(store);
        if (!controller_.RunScan()) {
            front_.EndProgress();
            const std::string reason = controller_.session().lastError;
            if (controller_.session().model.tables.empty()) {
                throw UsageError(store.string() + ": cannot open: " +
                                 (reason.empty() ? "not an ESE database" : reason));
            }
            warnings_.push_back(store.string() + ": the scan ended early: " + reason);
        }
        front_.EndProgress();
        front_.messages.clear();  // the scan's completion message is for the window
        const store::StoreSession& session = controller_.session();
        if (!session.storeWarning.empty()) {
            warnings_.push_back(store.string() + ": " + session.storeWarning);
        }
        if (recover) {
            for (const store::TableReading& reading : session.tableReadings) {
                if (!reading.error.empty()) {
                    warnings_.push_back(store.string() + ": recovered in part: " + reading.error);
                }
            }
        }
        // Everything checked, as a user who wants every item out would do.
        for (const store::MailboxEntry& m : controller_.session().model.mailboxes) {
            front_.checked.insert(m.treeItem);
        }
    }

    CliFrontEnd& front() { return front_; }
    app::Controller& controller() { return controller_; }
    const store::StoreModel& model() { return controller_.session().model; }
    // Lists the folder; false, with a warning, when it could not be read whole.
    bool List(const store::FolderEntry& folder) {
        const platform::Result<> listed = controller_.RunListing(folder.treeItem);
        front_.EndProgress();
        if (!listed) {
            warnings_.push_back(U8(folder.displayName) + ": not read whole: " + listed.error());
        }
        return listed.has_value();
    }

    // The folder named "Mailbox/Folder" (a nested folder: "Mailbox/Parent/Child"); the folder
    // may be named by its own name alone where that is enough. The mailbox is named by its
    // display name or by its key ("key" in tree --json). Mailboxes often share a display name:
    // a spec that fits folders of more than one mailbox, or more than one folder path, is
    // refused with the specs that name each, never settled by taking one of them.
    const store::FolderEntry& FindFolder(const std::string& spec) {
        const std::size_t slash = spec.find('/');
        if (slash == std::string::npos) {
            throw UsageError("a folder is named MAILBOX/FOLDER, not \"" + spec + "\"");
        }
        const std::u16string mailbox = U16(spec.substr(0, slash));
        const std::u16string path = U16(spec.substr(slash + 1));
        std::vector<const store::FolderEntry*> byPath;
        std::vector<const store::FolderEntry*> byName;
        for (const store::FolderEntry& f : model().folders) {
            if (MailboxName(f) != mailbox && f.mailboxKey != mailbox) {
                continue;
            }
            if (FolderPath(f) == path) {
                byPath.push_back(&f);
            } else if (f.displayName == path) {
                byName.push_back(&f);
            }
        }
        const std::vector<const store::FolderEntry*>& found = byPath.empty() ? byName : byPath;
        if (found.empty()) {
            throw UsageError("no folder \"" + spec + "\" in the store");
        }
        // Folders that only their mailbox's key and their whole path tell apart.
        std::set<std::u16string> specs;
        for (const store::FolderEntry* f : found) {
            specs.insert(f->mailboxKey + u"/" + FolderPath(*f));
        }
        if (specs.size() > 1) {
            std::string which;
            for (const std::u16string& each : specs) {
                which += (which.empty() ? "" : ", ") + U8(each);
            }
            throw UsageError("\"" + spec + "\" names " + std::to_string(specs.size()) +
                             " folders; name one of them: " + which);
        }
        // The same mailbox and path twice (a store written twice over): the last, as listed.
        return *found.back();
    }

    std::u16string MailboxName(const store::FolderEntry& f) {
        for (const store::MailboxEntry& m : model().mailboxes) {
            if (m.key == f.mailboxKey) {
                return m.displayName;
            }
        }
        return f.mailboxDisplayName;
    }

    // The folder's names from the top of its mailbox, joined by "/".
    // A folder's parent is the last other folder whose id is its parent id.
    std::u16string FolderPath(const store::FolderEntry& f) {
        const FolderIds& byId = FoldersById();
        std::u16string path = f.displayName;
        const store::FolderEntry* current = &f;
        for (int depth = 0; depth < 64; ++depth) {
            const store::FolderEntry* parent = nullptr;
            if (const auto same = byId.find(current->parentId); same != byId.end()) {
                for (auto p = same->second.rbegin(); p != same->second.rend() && !parent; ++p) {
                    parent = *p != current ? *p : nullptr;
                }
            }
            if (parent == nullptr) {
                break;
            }
            path = parent->displayName + u"/" + path;
            current = parent;
        }
        return path;
    }

    int Image(store::TreeItem item) {
        const Node* node = front_.At(item);
        return node ? node->image : -1;
    }

  private:
    using FolderIds = std::unordered_map<std::u16string, std::vector<const store::FolderEntry*>>;

    // Every folder under its id, in the model's order: made once, for the folders as the scan
    // left them, so that the paths of ten thousand folders do not each search them all.
    const FolderIds& FoldersById() {
        if (!foldersById_) {
            foldersById_.emplace();
            for (const store::FolderEntry& f : model().folders) {
                (*foldersById_)[f.id].push_back(&f);
            }
        }
        return *foldersById_;
    }

    platform::WorkFolder work_ = MakeWorkFolder();
    CliFrontEnd front_;
    app::Controller controller_;
    std::vector<std::string> warnings_;
    std::optional<FolderIds> foldersById_;

  public:
    // What went wrong along the way goes to standard error, after the output.
    ~Session() {
        for (const std::string& warning : warnings_) {
            std::cerr << "edb2msg: warning: " << warning << "\n";
        }
    }
};

ese::Recovery RecoveryOf(bool recover) {
    return recover ? ese::Recovery::kEveryPage : ese::Recovery::kOff;
}

// The file opened once for every count: with recovery each opening reads every page.
std::optional<ese::File> OpenForCounts(const fs::path& store, bool recover) {
    try {
        std::optional<ese::File> file(std::in_place);
        file->open(store, ese::LongValueReading::kDirect, RecoveryOf(recover));
        return file;
    } catch (const ese::Error&) {
        return std::nullopt;
    }
}

// Where each table lies in the file's list, by name (the first of each name). A store of many
// mailboxes has thousands of folder tables: each is then opened once, not once for every table
// before it.
std::map<std::u16string, int> TablePlaces(const std::optional<ese::File>& file) {
    std::map<std::u16string, int> places;
    if (file) {
        try {
            const std::vector<std::u16string> names = file->tableNames();
            for (std::size_t i = 0; i < names.size(); ++i) {
                places.emplace(names[i], static_cast<int>(i));
            }
        } catch (const ese::Error&) {
        }
    }
    return places;
}

int ItemCount(const std::optional<ese::File>& file, const std::map<std::u16string, int>& places,
              const std::u16string& table) {
    const auto at = places.find(table);
    if (!file || at == places.end()) {
        return 0;
    }
    try {
        // Only the table of that name is counted.
        if (const ese::Table t = file->table(at->second); t.name() == table) {
            return t.recordCount();
        }
    } catch (const ese::Error&) {
    }
    return 0;
}

void Print(const json& j) {
    std::cout << j.dump(2) << "\n";
}

// With recovery: the leaf pages read, the records found only by reading every page, and the
// pages that could not be read, by number and reason.
void AddRecoveryFigures(json& entry, const store::TableReading& reading) {
    entry["pagesRead"] = reading.pagesRead;
    entry["recovered"] = reading.recovered;
    json pages = json::array();
    for (const store::UnreadablePage& page : reading.unreadable) {
        pages.push_back({{"page", page.number}, {"reason", page.reason}});
    }
    entry["unreadablePages"] = pages;
}

int Info(const fs::path& storePath, bool recover, bool asJson) {
    Session s(storePath, recover);
    json tables = json::array();
    ese::File file;
    file.open(storePath, ese::LongValueReading::kDirect, RecoveryOf(recover));
    std::map<std::u16string, int> counts;
    bool unreadable = false;
    for (int i = 0; i < file.tableCount(); ++i) {
        const ese::Table t = file.table(i);
        json entry = {{"name", U8(t.name())}, {"records", 0}};
        try {
            entry["records"] = counts[t.name()] = t.recordCount();
            // Records on damaged pages are not counted: the table says which pages they were.
            if (const std::vector<std::string> damage = t.damage(); !damage.empty()) {
                std::string text = damage.front();
                if (damage.size() > 1) {
                    text += " (" + std::to_string(damage.size() - 1) + " more damaged pages)";
                }
                entry["error"] = text + "; the records of its other pages were counted";
                unreadable = true;
            }
        } catch (const ese::Error& e) {
            entry["error"] = e.what();
            unreadable = true;
        }
        if (recover) {
            AddRecoveryFigures(entry, store::ReadingOf(t, true));
        }
        tables.push_back(std::move(entry));
    }
    json mailboxes = json::array();
    for (const store::MailboxEntry& m : s.model().mailboxes) {
        int folders = 0;
        int items = 0;
        for (const store::FolderEntry& f : s.model().folders) {
            if (f.mailboxKey == m.key) {
                ++folders;
                items += counts[f.messageTableName];
            }
        }
        mailboxes.push_back({{"key", U8(m.key)},
                             {"name", U8(m.displayName)},
                             {"folders", folders},
                             {"items", items}});
    }
    const std::string& warning = s.controller().session().storeWarning;
    const json out = {{"store", storePath.string()},
                      {"warning", warning.empty() ? json(nullptr) : json(warning)},
                      {"tables", tables},
                      {"mailboxes", mailboxes},
                      {"folders", s.model().folders.size()},
                      {"messages", s.model().messages().size()},
                      {"attachments", s.model().attachments.size()}};
    if (asJson) {
        Print(out);
        return unreadable ? 1 : 0;
    }
    std::cout << "Store: " << storePath.string() << "\n\nTables:\n";
    for (const json& t : tables) {
        std::cout << "  " << t["name"].get<std::string>() << "  ";
        if (t.contains("error") && t["records"] > 0) {
            std::cout << t["records"] << " records, damaged: " << t["error"].get<std::string>()
                      << "\n";
        } else if (t.contains("error")) {
            std::cout << "unreadable: " << t["error"].get<std::string>() << "\n";
        } else {
            std::cout << t["records"] << " records\n";
        }
        if (recover) {
            std::cout << "    " << t["pagesRead"] << " leaf pages read, " << t["recovered"]
                      << " records recovered outside the tree, " << t["unreadablePages"].size()
                      << " pages unreadable\n";
            for (const json& page : t["unreadablePages"]) {
                std::cout << "      " << page["reason"].get<std::string>() << "\n";
            }
        }
    }
    std::cout << "\nMailboxes:\n";
    for (const json& m : mailboxes) {
        std::cout << "  " << m["name"].get<std::string>() << "  (" << m["folders"] << " folders, "
                  << m["items"] << " items)\n";
    }
    std::cout << "\nFolders: " << out["folders"] << "\nMessages: " << out["messages"]
              << "\nAttachments: " << out["attachments"] << "\n";
    return unreadable ? 1 : 0;
}

int Tree(const fs::path& storePath, bool recover, bool asJson) {
    Session s(storePath, recover);
    const std::optional<ese::File> counts = OpenForCounts(storePath, recover);
    const std::map<std::u16string, int> places = TablePlaces(counts);
    json mailboxes = json::array();
    for (const store::MailboxEntry& m : s.model().mailboxes) {
        json folders = json::array();
        for (const store::FolderEntry& f : s.model().folders) {
            if (f.mailboxKey != m.key) {
                continue;
            }
            folders.push_back({{"id", U8(f.id)},
                               {"parentId", U8(f.parentId)},
                               {"name", U8(f.displayName)},
                               {"path", U8(s.FolderPath(f))},
                               {"class", U8(f.folderClass)},
                               {"table", U8(f.messageTableName)},
                               {"image", s.Image(f.treeItem)},
                               {"items", ItemCount(counts, places, f.messageTableName)}});
        }
        mailboxes.push_back({{"key", U8(m.key)},
                             {"name", U8(m.displayName)},
                             {"image", s.Image(m.treeItem)},
                             {"folders", folders}});
    }
    if (asJson) {
        Print({{"mailboxes", mailboxes}});
        return 0;
    }
    std::cout << storePath.string() << "\n";
    for (const json& m : mailboxes) {
        std::cout << "  " << m["name"].get<std::string>() << "\n";
        for (const json& f : m["folders"]) {
            std::cout << "    " << f["path"].get<std::string>() << "  ["
                      << f["class"].get<std::string>() << ", table "
                      << f["table"].get<std::string>() << ", " << f["items"] << " items]\n";
        }
    }
    return 0;
}

// The item filter of the options; a date that cannot be read is bad usage.
store::ItemFilter Filter(const store::ItemFilterTexts& texts) {
    platform::Result<store::ItemFilter> filter = store::MakeItemFilter(texts);
    if (!filter) {
        throw UsageError(filter.error());
    }
    return std::move(*filter);
}

int List(const fs::path& storePath, const std::string& folderSpec, const store::ItemFilter& filter,
         bool recover, bool asJson) {
    Session s(storePath, recover);
    const store::FolderEntry& folder = s.FindFolder(folderSpec);
    s.controller().setItemFilter(filter);
    const int code = s.List(folder) ? 0 : 1;
    const auto& columns = s.front().columns;
    json titles = json::array();
    for (const app::ListColumn& c : columns) {
        titles.push_back(U8(c.title));
    }
    json rows = json::array();
    for (const auto& row : s.front().rows) {
        json cells = json::array();
        for (const std::u16string& cell : row) {
            cells.push_back(U8(cell));
        }
        rows.push_back(cells);
    }
    if (asJson) {
        Print({{"columns", titles}, {"rows", rows}});
        return code;
    }
    // Text: the visible columns (from "Type" on), one row per line, separated by " | ".
    for (std::size_t i = 1; i < columns.size(); ++i) {
        std::cout << (i > 1 ? " | " : "") << U8(columns[i].title);
    }
    std::cout << "\n";
    for (const auto& row : s.front().rows) {
        for (std::size_t i = 1; i < columns.size(); ++i) {
            std::cout << (i > 1 ? " | " : "") << (i < row.size() ? U8(row[i]) : "");
        }
        std::cout << "\n";
    }
    return code;
}

std::u16string ReadUtf16File(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
}

int Show(const fs::path& storePath, const std::string& folderSpec, const std::string& sequence,
         bool recover, bool asJson) {
    Session s(storePath, recover);
    const store::FolderEntry& folder = s.FindFolder(folderSpec);
    const int code = s.List(folder) ? 0 : 1;
    const std::u16string seq = U16(sequence);
    const std::vector<std::u16string>* row = nullptr;
    for (const auto& r : s.front().rows) {
        if (r.size() > 2 && r[2] == seq) {
            row = &r;
        }
    }
    if (row == nullptr) {
        throw UsageError("no item " + sequence + " in \"" + folderSpec + "\"");
    }
    s.front().shownPath.clear();
    s.controller().Preview(*row);
    auto& labels = s.front().labels;
    auto label = [&](app::Label l) -> std::optional<std::u16string> {
        auto it = labels.find(l);
        return it == labels.end() ? std::nullopt : std::optional<std::u16string>(it->second);
    };
    const std::u16string& id = (*row)[0];
    json out = {{"from", OrNull(label(app::Label::kFrom))},
                {"to", OrNull(label(app::Label::kTo))},
                {"subject", OrNull(label(app::Label::kSubject))},
                {"date", OrNull(label(app::Label::kDate))},
                {"attachments", NonEmptyOrNull(label(app::Label::kAttachments))},
                {"bodyKind", nullptr},
                {"body", nullptr},
                {"page", nullptr}};
    const content::ItemContent& content = s.controller().content();
    for (const content::MailDetailEntry& d : content.mailDetails) {
        if (d.messageId == id) {
            std::u16string body;
            for (const content::BodyPartEntry& p : content.bodyParts) {
                if (p.messageKey == id && p.kind == d.bodyKind) {
                    body += p.text;
                }
            }
            out["bodyKind"] = U8(d.bodyKind);
            out["body"] = U8(body);
            break;
        }
    }
    const fs::path shown = s.front().shownPath;
    if (out["body"].is_null() && shown.filename() == "htmlbody.html") {
        out["page"] = U8(ReadUtf16File(shown));
    }
    if (asJson) {
        Print(out);
        return code;
    }
    auto text = [](const json& j) { return j.is_null() ? std::string() : j.get<std::string>(); };
    std::cout << "From: " << text(out["from"]) << "\nTo: " << text(out["to"])
              << "\nSubject: " << text(out["subject"]) << "\nDate: " << text(out["date"])
              << "\nAttachments: " << text(out["attachments"]) << "\n\n"
              << (out["body"].is_null() ? text(out["page"]) : text(out["body"])) << "\n";
    return code;
}

int Export(const fs::path& storePath, const fs::path& outDir,
           const std::vector<std::string>& mailboxes, const std::vector<std::string>& folders,
           msgexport::MailFormat format, const store::ItemFilter& filter, bool hashStore,
           bool recover, bool asJson) {
    Session s(storePath, recover);
    s.controller().setMailFormat(format);
    s.controller().setItemFilter(filter);
    s.controller().setHashStore(hashStore);
    // Check exactly the chosen mailboxes (all when none is named).
    if (!mailboxes.empty() || !folders.empty()) {
        s.front().checked.clear();
        std::set<std::u16string> wanted;
        for (const std::string& m : mailboxes) {
            wanted.insert(U16(m));
        }
        for (const std::string& f : folders) {
            wanted.insert(s.MailboxName(s.FindFolder(f)));
        }
        for (const std::u16string& name : wanted) {
            bool found = false;
            for (const store::MailboxEntry& m : s.model().mailboxes) {
                if (m.displayName == name || m.key == name) {
                    s.front().checked.insert(m.treeItem);
                    found = true;
                }
            }
            if (!found) {
                throw UsageError("no mailbox \"" + U8(name) + "\" in the store");
            }
        }
    }
    std::set<store::TreeItem> onlyFolders;
    for (const std::string& f : folders) {
        onlyFolders.insert(s.FindFolder(f).treeItem);
    }
    const msgexport::SaveReport report = s.controller().RunSave(
        outDir, onlyFolders.empty() ? std::function<bool(const msgexport::ExportFolderEntry&)>()
                                    : [&](const msgexport::ExportFolderEntry& e) {
                                          return onlyFolders.count(e.folderTreeItem) != 0;
                                      });
    s.front().EndProgress();
    json jfolders = json::array();
    // A table of the store that could not be read whole, or an item saved in part, loses
    // items or parts of them: never a success.
    const std::vector<std::string> unread = report.unreadTables();
    bool trouble =
        !report.error.empty() || report.stopped || !unread.empty() || report.partial() > 0;
    auto itemList = [](const std::vector<content::SkippedItem>& items, const char* what) {
        json out = json::array();
        for (const content::SkippedItem& item : items) {
            out.push_back({{"item", U8(item.item)}, {what, item.reason}});
        }
        return out;
    };
    for (const msgexport::FolderReport& f : report.folders) {
        trouble = trouble || f.skippedCount > 0 || !f.error.empty();
        json folder = {{"mailbox", U8(f.mailbox)},
                       {"folder", U8(f.folder)},
                       {"path", f.path.string()},
                       {"found", f.found},
                       {"mails", f.mails},
                       {"contacts", f.contacts},
                       {"appointments", f.appointments},
                       {"tasks", f.tasks},
                       {"journalEntries", f.journalEntries},
                       {"notes", f.notes},
                       {"distLists", f.distLists},
                       {"calendars", f.calendars},
                       {"skippedCount", f.skippedCount},
                       {"skipped", itemList(f.skipped, "reason")},
                       {"filtered", f.filtered},
                       {"error", f.error.empty() ? json(nullptr) : json(f.error)}};
        if (report.recovering) {
            folder["recovered"] = f.recovered;
            folder["partial"] = itemList(f.partial, "missing");
            folder["unlisted"] = f.unlisted;
        }
        jfolders.push_back(std::move(folder));
    }
    json jtables = json::array();
    for (const store::TableReading& t : report.tables) {
        json entry = {{"name", U8(t.table)},
                      {"records", t.records},
                      {"error", t.error.empty() ? json(nullptr) : json(t.error)}};
        if (report.recovering) {
            AddRecoveryFigures(entry, t);
        }
        jtables.push_back(std::move(entry));
    }
    for (const std::u16string& m : s.front().messages) {
        std::cerr << "edb2msg: " << U8(m) << "\n";
    }
    if (asJson) {
        Print(
            {{"folders", jfolders},
             {"mails", report.mails()},
             {"contacts", report.contacts()},
             {"appointments", report.Total(&msgexport::FolderReport::appointments)},
             {"tasks", report.Total(&msgexport::FolderReport::tasks)},
             {"journalEntries", report.Total(&msgexport::FolderReport::journalEntries)},
             {"notes", report.Total(&msgexport::FolderReport::notes)},
             {"distLists", report.Total(&msgexport::FolderReport::distLists)},
             {"calendars", report.Total(&msgexport::FolderReport::calendars)},
             {"skipped", report.skipped()},
             {"filtered", report.filtered()},
             {"manifest", report.manifest.empty() ? json(nullptr) : json(report.manifest.string())},
             {"stopped", report.stopped},
             {"error", report.error.empty() ? json(nullptr) : json(report.error)},
             {"tables", jtables},
             {"unreadTables", unread},
             {"partial", report.partial()},
             {"unlisted", report.unlisted()},
             {"warning", report.storeWarning.empty() ? json(nullptr) : json(report.storeWarning)}});
    } else {
        for (const json& f : jfolders) {
            std::cout << f["mailbox"].get<std::string>() << "/" << f["folder"].get<std::string>()
                      << ": found " << f["found"] << ", mails " << f["mails"] << ", contacts "
                      << f["contacts"];
            for (const auto& [key, label] : kOtherCounts) {
                if (f[key].get<int>() > 0) {
                    std::cout << ", " << label << " " << f[key];
                }
            }
            std::cout << ", skipped " << f["skippedCount"];
            if (!filter.empty()) {
                std::cout << ", filtered out " << f["filtered"];
            }
            std::cout << "\n";
            if (report.recovering) {
                std::cout << "    recovered records " << f["recovered"] << ", partial items "
                          << f["partial"].size()
                          << (f["unlisted"].get<bool>() ? " (items no folder lists)" : "") << "\n";
                for (const json& k : f["partial"]) {
                    std::cout << "    partial " << k["item"].get<std::string>() << ": "
                              << k["missing"].get<std::string>() << "\n";
                }
            }
            for (const json& k : f["skipped"]) {
                std::cout << "    skipped " << k["item"].get<std::string>() << ": "
                          << k["reason"].get<std::string>() << "\n";
            }
            if (!f["error"].is_null()) {
                std::cout << "    error: " << f["error"].get<std::string>() << "\n";
            }
        }
        std::cout << "Saved " << report.mails() << " mails and " << report.contacts()
                  << " contacts into " << outDir.string() << " (" << report.folders.size()
                  << " folders, " << report.skipped() << " skipped";
        if (!filter.empty()) {
            std::cout << ", " << report.filtered() << " filtered out";
        }
        std::cout << ")\n";
        std::cout << "Saved " << msgexport::OtherItemsText(report) << "\n";
        if (!report.manifest.empty()) {
            std::cout << "Manifest: " << report.manifest.string() << "\n";
        }
        if (report.recovering) {
            std::cout << "Recovered: " << report.unlisted() << " items no folder lists, "
                      << report.partial() << " items saved in part\n";
            for (const json& t : jtables) {
                std::cout << "  table " << t["name"].get<std::string>() << ": " << t["records"]
                          << " records, " << t["recovered"] << " recovered outside the tree, "
                          << t["pagesRead"] << " leaf pages read, " << t["unreadablePages"].size()
                          << " unreadable\n";
                for (const json& page : t["unreadablePages"]) {
                    std::cout << "    " << page["reason"].get<std::string>() << "\n";
                }
            }
        }
        for (const std::string& table : unread) {
            std::cout << "error: not read whole: " << table << "\n";
        }
        if (!report.error.empty()) {
            std::cout << "error: " << report.error << "\n";
        }
    }
    return trouble ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App cli{
        "Reads an Exchange mailbox store (.edb) and saves its mail as .msg or .eml files."};
    cli.require_subcommand(1);
    cli.set_help_all_flag("--help-all", "Help on every command");
    cli.set_version_flag("--version", "edb2msg " EDB2MSG_VERSION);
    std::string store;
    std::string folder;
    std::string sequence;
    std::string out;
    std::vector<std::string> mailboxes;
    std::vector<std::string> folders;
    store::ItemFilterTexts filterTexts;
    bool hashStore = false;
    bool asJson = false;

    bool recover = false;
    auto withStore = [&](CLI::App* c) {
        c->add_option("STORE", store, "The store file (.edb)")->required();
        c->add_flag("--json", asJson, "Print JSON instead of text");
        c->add_flag("--recover", recover,
                    "Recover a damaged store: read every page of the file for each table's "
                    "records and long values; save the items no folder lists into \"Recovered "
                    "items\"");
        return c;
    };
    CLI::App* info = withStore(cli.add_subcommand(
        "info", "Tables with record counts, mailboxes, folders and message counts"));
    CLI::App* tree = withStore(
        cli.add_subcommand("tree", "Mailboxes and their folders with class, table and item count"));
    auto withFilter = [&](CLI::App* c) {
        c->add_option("--since", filterTexts.since,
                      "Only items dated from DATE on (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, UTC)");
        c->add_option("--until", filterTexts.until,
                      "Only items dated up to DATE (a date alone: to its end), UTC");
        c->add_option("--from", filterTexts.from,
                      "Only items whose sender name or address contains TEXT (any case)");
        c->add_option("--subject", filterTexts.subject,
                      "Only items whose subject contains TEXT (any case)");
        c->add_option("--class", filterTexts.messageClass,
                      "Only items of message class CLASS or a class below it (IPM.Note takes "
                      "IPM.Note.SMIME)");
        return c;
    };
    CLI::App* list =
        withFilter(withStore(cli.add_subcommand("list", "The item list of one folder")));
    list->add_option("FOLDER", folder,
                     "MAILBOX/FOLDER, e.g. \"Alice Martin/Inbox\"; MAILBOX: its name or its key")
        ->required();
    CLI::App* show = withStore(cli.add_subcommand("show", "One item's preview"));
    show->add_option("FOLDER", folder, "MAILBOX/FOLDER")->required();
    show->add_option("SEQ", sequence, "The item's S.No in the folder's list")->required();
    CLI::App* exp = withFilter(withStore(cli.add_subcommand(
        "export",
        "Saves mail as .msg or .eml files, appointments, tasks, journal entries and notes as "
        ".msg files of their class (and each calendar as .ics), contacts as .html, .vcf and "
        ".msg, one folder per folder, with manifest.csv listing every file with its SHA-256")));
    exp->add_flag("--hash-store", hashStore,
                  "Give the store file's SHA-256 in the manifest too (reads the store once more)");
    exp->add_option("--out", out, "The folder to save into")->required();
    exp->add_option("--mailbox", mailboxes,
                    "Only this mailbox, by its name or its key (repeatable; default: all)");
    exp->add_option("--folder", folders, "Only this MAILBOX/FOLDER (repeatable)");
    msgexport::MailFormat format = msgexport::MailFormat::kMsg;
    exp->add_option("--format", format, "How mail is saved: msg (Outlook) or eml (MIME)")
        ->transform(CLI::CheckedTransformer(std::map<std::string, msgexport::MailFormat>{
            {"msg", msgexport::MailFormat::kMsg}, {"eml", msgexport::MailFormat::kEml}}));

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = cli.exit(e);
        return code == 0 ? 0 : 2;
    }
    msgfile::RegisterMessageFileComponent();
    try {
        if (info->parsed()) {
            return Info(store, recover, asJson);
        }
        if (tree->parsed()) {
            return Tree(store, recover, asJson);
        }
        if (list->parsed()) {
            return List(store, folder, Filter(filterTexts), recover, asJson);
        }
        if (show->parsed()) {
            return Show(store, folder, sequence, recover, asJson);
        }
        return Export(store, out, mailboxes, folders, format, Filter(filterTexts), hashStore,
                      recover, asJson);
    } catch (const UsageError& e) {
        std::cerr << "edb2msg: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "edb2msg: " << e.what() << "\n";
        return 1;
    }
}
