// The command-line tool run as a user runs it, from a shell: its output and its exit code.
// EDB2MSG_CLI names the tool's program file.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

namespace cli_testing {

struct ToolRun {
    int code = -1;
    std::string out;
};

// Runs the tool with the arguments (each quoted for the shell); standard error is dropped, or
// with withErrors taken into the output.
inline ToolRun Tool(const std::vector<std::string>& args, bool withErrors = false) {
    std::string command = std::string("'") + EDB2MSG_CLI + "'";
    for (const std::string& a : args) {
        command += " '" + a + "'";
    }
    command += withErrors ? " 2>&1" : " 2>/dev/null";
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace cli_testing
