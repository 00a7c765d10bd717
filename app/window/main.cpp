// ExportEdb: the desktop window of the Exchange database converter.
#include <cstdio>
#include <cstring>

#include "app/window/export_edb_app.h"

namespace {

constexpr char kUsage[] =
    "Usage: ExportEdb [OPTION]...\n"
    "The desktop window of edb2msg: opens a Microsoft Exchange mailbox database (.edb) straight\n"
    "from disk, lists its mailboxes, folders and items, previews one item at a time, and saves\n"
    "the items of the checked mailboxes: mail as Outlook .msg or MIME .eml files, contacts as\n"
    "HTML pages.\n"
    "\n"
    "Options:\n"
    "  --self-test=STORE    Choose and scan STORE as Browse and Scan File would, print the\n"
    "                       mailboxes found and leave: exit 0 when everything went as expected,\n"
    "                       1 otherwise. Needs a display (Xvfb will do).\n"
    "  --screenshot=FILE    With --self-test: check the first mailbox, list its Inbox, preview\n"
    "                       the first item and save a PNG picture of the window to FILE.\n"
    "  --help               Show this help and leave.\n"
    "  --version            Show the version and leave.\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are taken as well.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before the window is made, so that they need no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("ExportEdb " EDB2MSG_VERSION "\n", stdout);
            return 0;
        }
    }
    app::CExportEdbApp application(argc, argv);
    return application.InitInstance();
}
