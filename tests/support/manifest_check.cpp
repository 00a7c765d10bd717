#include "support/manifest_check.h"

#include <cstdio>
#include <string>

namespace testing_support {

nlohmann::json CheckManifest(const std::filesystem::path& manifest,
                             const std::filesystem::path& store) {
    auto quoted = [](const std::string& text) {
        std::string out = "'";
        for (const char c : text) {
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        return out + "'";
    };
    const std::filesystem::path script =
        std::filesystem::path(EDB2MSG_SOURCE_DIR) / "tests" / "support" / "manifest_check.py";
    std::string command = "python3 " + quoted(script.string()) + " " + quoted(manifest.string());
    if (!store.empty()) {
        command += " " + quoted(store.string());
    }
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return nullptr;
    }
    std::string out;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    if (pclose(pipe) != 0) {
        return nullptr;
    }
    return nlohmann::json::parse(out, nullptr, false);
}

}  // namespace testing_support
