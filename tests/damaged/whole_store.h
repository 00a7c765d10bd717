// Reads a store the way the window does: the scan of the four tables, then every folder
// listed with its items read in full. What came through is counted.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace damaged {

struct StoreReading {
    // Each failing step in words, "step: reason"; empty when every step succeeded.
    std::vector<std::string> failures;
    // A step that failed without saying why (no reason in the session's error text).
    std::vector<std::string> silentFailures;

    bool opened = false;
    std::size_t tables = 0;
    std::size_t mailboxes = 0;
    std::size_t folders = 0;
    std::size_t messages = 0;     // the message index
    std::size_t attachments = 0;  // the attachment list
    std::size_t listedItems = 0;  // mail items and contacts of all folders' tables
    std::size_t itemsRead = 0;    // mail details and contact cards produced
    std::size_t bodyParts = 0;    // body texts that are not empty
    // Items read per folder table, by table name.
    std::map<std::u16string, std::size_t> readByTable;
    // Message ids of the items read.
    std::multiset<std::u16string> readIds;
};

// Reads everything; the item reader's files go into the work folder, which must exist.
StoreReading ReadWholeStore(const std::filesystem::path& store,
                            const std::filesystem::path& workFolder);

// A save of every mailbox and folder, as Save with every box checked does it.
// The files a save left under its destination, by kind.
struct SavedFiles {
    std::size_t msgFiles = 0;
    std::size_t htmlFiles = 0;
    std::size_t vcfFiles = 0;
    std::size_t icsFiles = 0;
    std::vector<std::string> otherFiles;  // anything else, manifest.csv at the top left out
};
SavedFiles CountSavedFiles(const std::filesystem::path& destination);

struct StoreExport {
    std::string error;  // why the save could not start or run on, or the scan's failure
    std::vector<std::string> folderErrors;  // "mailbox/folder: reason"
    int mails = 0;                          // as the save reports them
    int contacts = 0;
    int others = 0;     // appointments, tasks, journal entries, notes, distribution lists
    int calendars = 0;  // .ics files
    int skipped = 0;
    std::size_t msgFiles = 0;  // files found under the destination afterwards
    std::size_t htmlFiles = 0;
    std::size_t vcfFiles = 0;
    std::size_t icsFiles = 0;
    std::vector<std::string> otherFiles;  // anything else found there
    // Rows of manifest.csv at the destination's top, the store line and the header not counted;
    // -1 when there is no manifest.
    int manifestRows = -1;
};

// Scans the store, then saves everything into the destination, which must not exist yet; the
// item reader's files go into the work folder, which must exist. Recovering, the scan reads
// every page for each table's records and goes on past a table it cannot read whole, and the
// save also writes the items no folder lists.
StoreExport ExportWholeStore(const std::filesystem::path& store,
                             const std::filesystem::path& destination,
                             const std::filesystem::path& workFolder, bool recover = false);

// A one-line account of a reading, for test messages.
std::string Describe(const StoreReading& reading);
std::string Describe(const StoreExport& saved);

}  // namespace damaged
