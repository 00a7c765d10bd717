// Dialogs answered by the test: questions take the next scripted answer, messages, file and
// folder dialogs, modal dialogs and opened documents are recorded.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QString>

#include <gtest/gtest.h>

#include "app/window/dialogs.h"

// Test failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace testing_support {

// The one application object of the test program, drawing off screen unless told otherwise.
inline QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "window_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

class ScriptedDialogs final : public app::Dialogs {
  public:
    struct Question {
        QString text;
        QString caption;
    };
    struct Message {
        QString text;
        QString caption;
        app::MessageIcon icon;
        bool systemModal;
    };

    std::deque<bool> answers;
    std::vector<Question> questions;
    std::vector<Message> messages;
    std::optional<std::filesystem::path> chosenFile;
    std::vector<std::pair<QString, QString>> fileDialogs;  // title, filter
    std::optional<std::filesystem::path> chosenFolder;
    std::vector<QString> folderDialogs;  // titles
    std::function<int(QDialog&)> onModal;
    std::vector<QString> modalTitles;
    std::vector<std::filesystem::path> openedDocuments;
    bool openSucceeds = true;

    bool AskYesNo(QWidget*, const QString& text, const QString& caption) override {
        questions.push_back({text, caption});
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text.toStdString();
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowMessage(QWidget*, const QString& text, const QString& caption, app::MessageIcon icon,
                     bool systemModal) override {
        messages.push_back({text, caption, icon, systemModal});
    }
    std::optional<std::filesystem::path> ChooseOpenFile(QWidget*, const QString& title,
                                                        const QString& filter) override {
        fileDialogs.emplace_back(title, filter);
        return chosenFile;
    }
    std::optional<std::filesystem::path> ChooseFolder(QWidget*, const QString& title) override {
        folderDialogs.push_back(title);
        return chosenFolder;
    }
    int RunModal(QDialog& dialog) override {
        modalTitles.push_back(dialog.windowTitle());
        return onModal ? onModal(dialog) : QDialog::Rejected;
    }
    bool OpenDocument(const std::filesystem::path& file) override {
        openedDocuments.push_back(file);
        return openSucceeds;
    }
};

}  // namespace testing_support
