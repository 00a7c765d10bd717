#include "app/window/export_edb_app.h"

#include <filesystem>
#include <memory>
#include <optional>

#include "app/controller.h"
#include "app/window/artwork.h"
#include "app/window/dialogs.h"
#include "app/window/export_edb_dlg.h"
#include "app/window/self_run.h"
#include "app/window/window_front_end.h"
#include "export/message_component.h"

namespace app {

CExportEdbApp::CExportEdbApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("ExportEdb"));
    setWindowIcon(ProgramIcon());
}

int CExportEdbApp::InitInstance() {
    msgfile::RegisterMessageFileComponent();

    QtDialogs qtDialogs;
    DialogOptions options;
    options.dialogs = &qtDialogs;
    // A run without a user (checks, the documentation's picture) answers the dialogs itself.
    std::unique_ptr<SelfRunDialogs> selfRunDialogs;
    std::unique_ptr<SelfRun> selfRun;
    if (const std::optional<SelfRunOptions> run = SelfRunFromArguments(arguments())) {
        selfRunDialogs = std::make_unique<SelfRunDialogs>(run->store);
        selfRun = std::make_unique<SelfRun>(*run, *selfRunDialogs);
        options.dialogs = selfRunDialogs.get();
        options.endProcess = [run = selfRun.get()](int code) { run->EndProcess(code); };
    }
    const std::filesystem::path programFile(applicationFilePath().toStdU16String());
    options.sharedFolder = SharedFilesFolder(programFile);
    CExportEdbDlg dialog(std::move(options));

    WindowFrontEndOptions frontEndOptions;
    frontEndOptions.programFile = programFile;
    WindowFrontEnd frontEnd(dialog, std::move(frontEndOptions));

    if (selfRun) {
        selfRun->Start(dialog, frontEnd);
    } else {
        dialog.ShowInitial();
    }
    exec();
    return 0;
}

}  // namespace app
