// A run of the window without a user, for the build's checks and for the picture of the window
// in the documentation:
//
//   ExportEdb --self-test=STORE [--screenshot=FILE]
//
// STORE is chosen as if through Browse and scanned with Scan File, and the status page of the
// completed scan must show its image (found beside the program or, installed, in
// ../share/edb2msg). With --screenshot the first mailbox is then checked, its Inbox listed and
// the Inbox's first item previewed, and a picture of the window is saved to FILE. The run
// leaves through the exit question, answered Yes. What it sees goes to standard output; the
// process ends with 0 when everything went as expected, and with 1 otherwise. The run uses a
// work folder of its own.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QStringList>

#include "app/window/dialogs.h"

namespace app {

class CExportEdbDlg;
class WindowFrontEnd;

struct SelfRunOptions {
    std::filesystem::path store;
    std::filesystem::path screenshot;  // empty: no picture
};

// The run asked for on the command line, if any.
std::optional<SelfRunOptions> SelfRunFromArguments(const QStringList& arguments);

// Answers in the user's place: the store for the open-file dialog, Yes to every question;
// messages are printed.
class SelfRunDialogs final : public Dialogs {
  public:
    explicit SelfRunDialogs(std::filesystem::path store) : store_(std::move(store)) {}

    bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) override;
    void ShowMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon,
                     bool systemModal) override;
    std::optional<std::filesystem::path> ChooseOpenFile(QWidget* parent, const QString& title,
                                                        const QString& filter) override;
    std::optional<std::filesystem::path> ChooseFolder(QWidget* parent,
                                                      const QString& title) override;
    int RunModal(QDialog& dialog) override;
    bool OpenDocument(const std::filesystem::path& file) override;

    const std::vector<QString>& messages() const { return messages_; }

  private:
    std::filesystem::path store_;
    std::vector<QString> messages_;
};

class SelfRun : public QObject {
    Q_OBJECT

  public:
    SelfRun(SelfRunOptions options, SelfRunDialogs& dialogs);
    // Ends the process with the run's result once the window has been left.
    void EndProcess(int code);

    // Shows the window and starts the run.
    void Start(CExportEdbDlg& dialog, WindowFrontEnd& frontEnd);

  private:
    void Fail(const std::string& what);
    // Calls next once no work runs (checked every few milliseconds; gives up after a minute).
    void WhenIdle(std::function<void()> next);
    void AfterScan();
    void Picture();
    void Leave();

    SelfRunOptions options_;
    SelfRunDialogs& dialogs_;
    CExportEdbDlg* dialog_ = nullptr;
    WindowFrontEnd* frontEnd_ = nullptr;
    bool failed_ = false;
};

}  // namespace app
