// edbforge: writes Exchange-shaped ESE stores.
//
//   edbforge build SCENARIO.json OUTPUT.edb     a store described by a JSON scenario
//   edbforge large OUTPUT.edb [--messages N] [--folder-items N] [--mailboxes N] [--seed N]
//                                               a large generated store for benchmarks
// Both take --page-size and --format-revision (2, 9, 11 or 20: the format Exchange 2000, 2003,
// 2003 SP1 and 2007, or 2013 and later wrote; 20 by default), and --dirty-shutdown for a header
// that says the database was not shut down cleanly.
#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <chrono>
#include <exception>

#include "tools/edbforge/large_store.h"
#include "tools/edbforge/scenario_json.h"

int main(int argc, char** argv) {
    CLI::App app{"Writes ESE databases shaped like Exchange mailbox stores"};
    app.require_subcommand(1);

    std::string scenarioPath;
    std::string output;
    std::uint32_t pageSize = 0;
    std::uint32_t revision = edbforge::kRevisionExchange2013;
    auto revisions = CLI::IsMember({2, 9, 11, 20});
    auto* build = app.add_subcommand("build", "Write the store a JSON scenario describes");
    build->add_option("scenario", scenarioPath, "Scenario file (JSON)")->required();
    build->add_option("output", output, "Database file to write")->required();
    build->add_option("--page-size", pageSize,
                      "Page size: 4096, 8192, or with revision 20 16384 or 32768 (default: "
                      "scenario's)");
    build->add_option("--format-revision", revision, "Format revision: 2, 9, 11 or 20")
        ->capture_default_str()
        ->check(revisions);

    edbforge::LargeStoreOptions large;
    auto* largeCmd = app.add_subcommand("large", "Write a large generated store");
    largeCmd->add_option("output", output, "Database file to write")->required();
    largeCmd->add_option("--messages", large.messages, "Items in the store")->capture_default_str();
    largeCmd->add_option("--folder-items", large.bigFolderItems, "Items in the large Inbox")
        ->capture_default_str();
    largeCmd->add_option("--mailboxes", large.mailboxes, "Visible mailboxes")
        ->capture_default_str()
        ->check(CLI::Range(1, 2000));
    largeCmd->add_option("--seed", large.seed, "Seed of the generated content")
        ->capture_default_str();
    largeCmd->add_option("--page-size", pageSize,
                         "Page size: 4096, 8192, or with revision 20 16384 or 32768");
    largeCmd->add_option("--format-revision", revision, "Format revision: 2, 9, 11 or 20")
        ->capture_default_str()
        ->check(revisions);

    bool dirtyShutdown = false;
    std::uint32_t cataloguePages = 0;
    for (CLI::App* command : {build, largeCmd}) {
        command->add_flag("--dirty-shutdown", dirtyShutdown,
                          "Write a header that says the database was not shut down cleanly");
        command->add_option("--catalogue-pages", cataloguePages,
                            "Pages kept near the start of the file for the catalogues, so that a "
                            "copy cut short still opens (0: the catalogues go at the end)");
    }

    CLI11_PARSE(app, argc, argv);
    try {
        auto start = std::chrono::steady_clock::now();
        if (build->parsed()) {
            edbforge::Scenario sc = edbforge::loadScenario(scenarioPath);
            if (pageSize != 0) {
                sc.options.pageSize = pageSize;
            }
            sc.options.formatRevision = revision;
            sc.options.dirtyShutdown = dirtyShutdown;
            sc.options.cataloguePages = cataloguePages;
            edbforge::StoreBuilder::build(sc, output);
        } else {
            if (pageSize != 0) {
                large.writer.pageSize = pageSize;
            }
            large.writer.formatRevision = revision;
            large.writer.dirtyShutdown = dirtyShutdown;
            large.writer.cataloguePages = cataloguePages;
            auto stats = edbforge::writeLargeStore(output, large);
            double secs =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            fmt::print("{} items, {} attachments, {:.1f} MB in {:.1f} s ({:.0f} MB/s)\n",
                       stats.items, stats.attachments, static_cast<double>(stats.bytes) / 1e6, secs,
                       static_cast<double>(stats.bytes) / 1e6 / secs);
        }
    } catch (const std::exception& e) {
        fmt::print(stderr, "edbforge: {}\n", e.what());
        return 1;
    }
    return 0;
}
