#include "app/window/export_edb_app.h"

#include "app/window/artwork.h"
#include "app/window/dialogs.h"
#include "app/window/export_edb_dlg.h"

namespace app {

CExportEdbApp::CExportEdbApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("ExportEdb"));
    setWindowIcon(ProgramIcon());
}

int CExportEdbApp::InitInstance() {
    QtDialogs dialogs;
    DialogOptions options;
    options.dialogs = &dialogs;
    CExportEdbDlg dialog(std::move(options));

    // ---- Controller: create it here with the window and hand it over with
    // dialog.SetCommands(...) and dialog.SetBeforeExit(...). ----

    dialog.ShowInitial();
    exec();
    return 0;
}

}  // namespace app
