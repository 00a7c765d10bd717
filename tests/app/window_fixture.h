// A main window on the off-screen platform with scripted dialogs, its own work folder and
// application folder, and a process end that is only recorded.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include "app/window/export_edb_dlg.h"
#include "scripted_dialogs.h"
#include "support/temp_dir.h"

namespace testing_support {

// Records the window's calls out.
struct RecordingCommands final : app::DialogCommands {
    std::vector<std::string> calls;
    std::vector<app::TreeHandle> pressed;
    void OnBrowse() override { calls.push_back("browse"); }
    void OnScanFile() override { calls.push_back("scan"); }
    void OnStop() override { calls.push_back("stop"); }
    void OnSave() override { calls.push_back("save"); }
    void OnFolderItemPressed(app::TreeHandle item) override {
        calls.push_back("pressed");
        pressed.push_back(item);
    }
    void OnTreeClicked() override { calls.push_back("tree-click"); }
    void OnItemListClicked() override { calls.push_back("list-click"); }
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TestApplication();
        workFolder = temp.path() / "work" / "test1";
        appFolder = temp.path() / "app";
        std::filesystem::create_directories(appFolder);
        app::DialogOptions options;
        options.dialogs = &dialogs;
        options.applicationDirectory = appFolder;
        sharedFolder = temp.path() / "share" / "edb2msg";
        options.sharedFolder = sharedFolder;
        if (!ownWorkFolder) {
            options.workFolder = workFolder;
        }
        options.endProcess = [this](int code) { endCodes.push_back(code); };
        window = std::make_unique<app::CExportEdbDlg>(std::move(options));
        if (ownWorkFolder) {
            workFolder = window->WorkFolder();
        }
        window->SetCommands(&commands);
    }

    void TearDown() override {
        window.reset();
        QCoreApplication::processEvents();
    }

    // Shows the window at its normal size and waits until it is on screen.
    void ShowNormal() {
        window->showNormal();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        // Without a window manager the window may stay inactive; the tests do not need it.
        (void)QTest::qWaitForWindowActive(window.get(), 1000);
        Settle();
    }

    static void Settle() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

    // Waits (up to a second) until the client area has this size.
    bool WaitForClientSize(QSize size) {
        QElapsedTimer timer;
        timer.start();
        while (window->ClientArea()->size() != size && timer.elapsed() < 1000) {
            QTest::qWait(10);
        }
        Settle();
        return window->ClientArea()->size() == size;
    }

    // Set by a fixture's constructor: the window makes its own work folder, as at a real start.
    bool ownWorkFolder = false;
    TempDir temp;
    std::filesystem::path workFolder;
    std::filesystem::path appFolder;
    std::filesystem::path sharedFolder;  // the installed program's shared files
    ScriptedDialogs dialogs;
    RecordingCommands commands;
    std::vector<int> endCodes;
    std::unique_ptr<app::CExportEdbDlg> window;
};

}  // namespace testing_support
