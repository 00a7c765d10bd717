// Message boxes, the open-file and folder dialogs, modal dialogs and the shell's "open":
// every place where the window waits for the user or hands something to the desktop goes
// through Dialogs, so that tests can answer in the user's place.
#pragma once

#include <filesystem>
#include <optional>

#include <QString>

class QDialog;
class QWidget;

namespace app {

enum class MessageIcon { kInformation, kWarning, kError, kQuestion };

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // A Yes/No question with the question icon, modal for the whole application and kept on
    // top; true for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) = 0;
    // A message with an OK button; systemModal keeps it modal for the whole application and
    // on top, otherwise it is modal to parent only.
    virtual void ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                             MessageIcon icon, bool systemModal) = 0;
    // The open-file dialog; filter in the Windows form "text|patterns|...||". Returns the first
    // chosen file, or nullopt when the user cancels.
    virtual std::optional<std::filesystem::path> ChooseOpenFile(QWidget* parent,
                                                                const QString& title,
                                                                const QString& filter) = 0;
    // The folder dialog; nullopt when the user cancels.
    virtual std::optional<std::filesystem::path> ChooseFolder(QWidget* parent,
                                                              const QString& title) = 0;
    // Runs a dialog modally and returns its result code.
    virtual int RunModal(QDialog& dialog) = 0;
    // Opens a document with the desktop's default application; false when that failed.
    virtual bool OpenDocument(const std::filesystem::path& file) = 0;
};

// The real thing: QMessageBox, QFileDialog, QDialog::exec and QDesktopServices.
class QtDialogs final : public Dialogs {
  public:
    bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) override;
    void ShowMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon,
                     bool systemModal) override;
    std::optional<std::filesystem::path> ChooseOpenFile(QWidget* parent, const QString& title,
                                                        const QString& filter) override;
    std::optional<std::filesystem::path> ChooseFolder(QWidget* parent,
                                                      const QString& title) override;
    int RunModal(QDialog& dialog) override;
    bool OpenDocument(const std::filesystem::path& file) override;
};

// Turns a Windows file filter ("Text files (*.txt)|*.txt;*.log||") into Qt's form
// ("Text files (*.txt) (*.txt *.log)"), filters joined by ";;"; repeated patterns are dropped.
QString QtFileFilter(const QString& windowsFilter);

}  // namespace app
