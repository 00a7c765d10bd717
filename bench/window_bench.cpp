// The window's folder listing against the command-line tool's: a store scanned and one of its
// folders listed in the main window, drawn off screen, against `edb2msg list STORE FOLDER` run
// as a process. Rounds alternate between the two.
//
//   window_bench STORE MAILBOX/FOLDER EDB2MSG SCRATCH [--rounds N]
//
// The window's figures: Scan File to the end of the scan, and the click on the folder to the end
// of its listing with every row in the list; their sum is the window's counterpart of the tool's
// run, which scans the store too. The tool's figure is its whole run with its output written to
// a file in SCRATCH. Each figure is the best of --rounds rounds (default 3). The figures go to
// standard output as one JSON object; a line per round goes to standard error. SCRATCH is a
// folder of our own: it is emptied before every round.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <QAbstractItemModel>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidgetItem>

#include "app/window/export_edb_dlg.h"
#include "app/window/window_front_end.h"
#include "export/message_component.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Answers in the user's place: the store for the open-file dialog, No to every question.
class BenchDialogs final : public app::Dialogs {
  public:
    explicit BenchDialogs(fs::path store) : store_(std::move(store)) {}

    bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
    void ShowMessage(QWidget*, const QString& text, const QString&, app::MessageIcon,
                     bool) override {
        messages.push_back(text);
    }
    std::optional<fs::path> ChooseOpenFile(QWidget*, const QString&, const QString&) override {
        return store_;
    }
    std::optional<fs::path> ChooseFolder(QWidget*, const QString&) override { return std::nullopt; }
    int RunModal(QDialog&) override { return 0; }
    bool OpenDocument(const fs::path&) override { return false; }

    std::vector<QString> messages;

  private:
    fs::path store_;
};

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double CpuSeconds(const rusage& usage) {
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The processor time of this process so far, every thread's.
double OwnCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

void EmptyFolder(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
}

// Runs the window's event loop until no work runs.
void WaitIdle(app::WindowFrontEnd& front) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!front.Busy()) {
            loop.quit();
        }
    });
    poll.start(1);
    loop.exec();
}

app::TreeHandle FindFolder(app::CFolderTreeCtrl1& tree, const QString& mailbox,
                           const QString& folder) {
    QTreeWidgetItem* root = tree.ItemFromHandle(tree.Root());
    for (int i = 0; root != nullptr && i < root->childCount(); ++i) {
        QTreeWidgetItem* m = root->child(i);
        for (int j = 0; m->text(0) == mailbox && j < m->childCount(); ++j) {
            if (m->child(j)->text(0) == folder) {
                return tree.HandleOf(m->child(j));
            }
        }
    }
    throw std::runtime_error("no folder " + mailbox.toStdString() + "/" + folder.toStdString() +
                             " in the window's tree");
}

struct WindowRound {
    double scan = 0;
    double listing = 0;
    double cpu = 0;  // both, every thread
    int rows = 0;
};

struct ToolRound {
    double seconds = 0;
    double cpu = 0;
};

WindowRound RunWindow(const fs::path& store, const QString& mailbox, const QString& folder,
                      const fs::path& scratch) {
    BenchDialogs dialogs(store);
    app::DialogOptions options;
    options.dialogs = &dialogs;
    options.applicationDirectory = scratch;
    options.workFolder = scratch / "work";
    options.endProcess = [](int) {};
    app::CExportEdbDlg window(std::move(options));
    window.resize(1180, 760);
    window.show();
    QCoreApplication::processEvents();

    app::WindowFrontEndOptions frontOptions;
    frontOptions.programFile = scratch / "ExportEdb";
    frontOptions.tempFolder = scratch;
    auto front = std::make_unique<app::WindowFrontEnd>(window, std::move(frontOptions));

    WindowRound round;
    front->OnBrowse();
    const double cpuBefore = OwnCpuSeconds();
    auto start = Clock::now();
    front->OnScanFile();
    WaitIdle(*front);
    round.scan = Since(start);
    if (dialogs.messages.empty() ||
        dialogs.messages.back() != QStringLiteral("Analysis Completed sucessfully")) {
        throw std::runtime_error("the window's scan did not complete");
    }

    const app::TreeHandle item = FindFolder(*window.FolderTree(), mailbox, folder);
    start = Clock::now();
    front->OnFolderItemPressed(item);
    WaitIdle(*front);
    round.listing = Since(start);
    round.cpu = OwnCpuSeconds() - cpuBefore;
    round.rows = window.ItemList()->model()->rowCount();
    front.reset();
    return round;
}

// The tool's whole run, its standard output into `out`.
ToolRound RunTool(const fs::path& tool, const fs::path& store, const std::string& folder,
                  const fs::path& out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {tool.string(), "list", store.string(), folder};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot run " + tool.string());
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = Since(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(tool.string() + " list failed");
    }
    return {seconds, CpuSeconds(usage)};
}

// The rows of the tool's text output: every line but the column titles.
int ToolRows(const fs::path& out) {
    std::ifstream in(out);
    int lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
    }
    return std::max(0, lines - 1);
}

int Usage() {
    std::fprintf(stderr, "usage: window_bench STORE MAILBOX/FOLDER EDB2MSG SCRATCH [--rounds N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 3;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 4) {
        return Usage();
    }
    const fs::path store = fs::absolute(positional[0]);
    const std::string folderSpec = positional[1];
    const fs::path tool = fs::absolute(positional[2]);
    const fs::path scratch = fs::absolute(positional[3]);
    const std::size_t slash = folderSpec.find('/');
    if (slash == std::string::npos) {
        return Usage();
    }
    const QString mailbox = QString::fromStdString(folderSpec.substr(0, slash));
    const QString folder = QString::fromStdString(folderSpec.substr(slash + 1));

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    msgfile::RegisterMessageFileComponent();
    try {
        double bestScan = 1e300;
        double bestListing = 1e300;
        double bestWindow = 1e300;
        double bestWindowCpu = 1e300;
        double bestTool = 1e300;
        double bestToolCpu = 1e300;
        int windowRows = 0;
        for (int round = 1; round <= rounds; ++round) {
            EmptyFolder(scratch);
            const fs::path out = scratch / "list.txt";
            const ToolRound t = RunTool(tool, store, folderSpec, out);
            const int toolRows = ToolRows(out);
            EmptyFolder(scratch);
            const WindowRound w = RunWindow(store, mailbox, folder, scratch);
            windowRows = w.rows;
            if (windowRows != toolRows) {
                throw std::runtime_error("the window lists " + std::to_string(windowRows) +
                                         " rows, the tool " + std::to_string(toolRows));
            }
            bestScan = std::min(bestScan, w.scan);
            bestListing = std::min(bestListing, w.listing);
            bestWindow = std::min(bestWindow, w.scan + w.listing);
            bestWindowCpu = std::min(bestWindowCpu, w.cpu);
            bestTool = std::min(bestTool, t.seconds);
            bestToolCpu = std::min(bestToolCpu, t.cpu);
            std::fprintf(stderr,
                         "window round %d: scan %.3f s, listing %.3f s, together %.3f s "
                         "(processor %.3f s); edb2msg list %.3f s (processor %.3f s)\n",
                         round, w.scan, w.listing, w.scan + w.listing, w.cpu, t.seconds, t.cpu);
        }
        fs::remove_all(scratch);
        std::printf(
            "{\"mode\":\"window\",\"scan\":%.4f,\"listing\":%.4f,\"window\":%.4f,"
            "\"windowCpu\":%.4f,\"tool\":%.4f,\"toolCpu\":%.4f,\"rows\":%d}\n",
            bestScan, bestListing, bestWindow, bestWindowCpu, bestTool, bestToolCpu, windowRows);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "window_bench: %s\n", e.what());
        return 1;
    }
}
