#include "msg_readback.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/codepage.h"
#include "support/temp_dir.h"

extern char** environ;

namespace msgtest {

namespace {

namespace fs = std::filesystem;

struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a program with the given arguments and extra environment, collecting its output.
CommandResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                  const fs::path& workDir) {
    const fs::path outFile = workDir / "command.out";
    const fs::path errFile = workDir / "command.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);

    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        std::string_view entry(*e);
        const bool overridden = std::any_of(extraEnv.begin(), extraEnv.end(), [&](const auto& x) {
            return entry.substr(0, entry.find('=') + 1) == x.substr(0, x.find('=') + 1);
        });
        if (!overridden)
            envStrings.emplace_back(entry);
    }
    envStrings.insert(envStrings.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> env;
    for (auto& e : envStrings)
        env.push_back(e.data());
    env.push_back(nullptr);

    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    CommandResult result;
    if (rc != 0) {
        result.err = "cannot start " + argv[0];
        return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(outFile);
    result.err = ReadFile(errFile);
    return result;
}

std::string Base64Decode(std::string_view text) {
    static const std::string kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const auto pos = kAlphabet.find(c);
        if (pos == std::string::npos)
            continue;
        buffer = (buffer << 6) | static_cast<std::uint32_t>(pos);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

nlohmann::json RunInspector(std::vector<std::string> args, const fs::path& workDir) {
    const std::string mode = args.at(0);
    const std::string file = args.at(1);
    args.insert(args.begin(), {MSG_READBACK_PYTHON, MSG_READBACK_SCRIPT});
    const auto result = Run(args, {}, workDir);
    if (result.status != 0)
        throw ReadBackError("reading " + file + " as " + mode + " failed: " + result.err);
    try {
        return nlohmann::json::parse(result.out);
    } catch (const nlohmann::json::exception& e) {
        throw ReadBackError("unreadable inspector output for " + file + ": " + e.what());
    }
}

std::optional<std::string> OptionalText(const nlohmann::json& value) {
    if (value.is_null())
        return std::nullopt;
    return value.get<std::string>();
}

}  // namespace

std::string ReadBackJson(std::string_view reader, const fs::path& file) {
    testing_support::TempDir work;
    return RunInspector({std::string(reader), file.string()}, work.path()).dump();
}

ReadBackMessage ReadBackWithMsgconvert(const fs::path& msgFile) {
    testing_support::TempDir work;
    const fs::path eml = work.path() / (msgFile.stem().string() + ".eml");
    const auto converted =
        Run({"msgconvert", "--outfile", eml.string(), fs::absolute(msgFile).string()}, {"TZ=UTC"},
            work.path());
    if (converted.status != 0 || !fs::exists(eml))
        throw ReadBackError("msgconvert failed on " + msgFile.string() + ": " + converted.err);

    // Perl warns when it printed the message as UTF-8 because of wide characters.
    const bool wide = converted.err.find("Wide character in print") != std::string::npos;
    const auto json = RunInspector({"eml", eml.string(), wide ? "wide" : "bytes"}, work.path());
    ReadBackMessage m;
    m.from = json.at("From").get<std::string>();
    m.to = json.at("To").get<std::string>();
    m.cc = json.at("Cc").get<std::string>();
    m.subject = json.at("Subject").get<std::string>();
    m.date = json.at("Date").get<std::string>();
    m.textBody = OptionalText(json.at("text"));
    m.htmlBody = OptionalText(json.at("html"));
    for (const auto& a : json.at("attachments")) {
        m.attachments.push_back({a.at("name").get<std::string>(), a.at("mime").get<std::string>(),
                                 Base64Decode(a.at("data").get<std::string>())});
    }
    m.diagnostics = converted.err;
    return m;
}

ReadBackEml ReadBackEmlFile(const fs::path& emlFile) {
    testing_support::TempDir work;
    const auto json = RunInspector({"mime", emlFile.string()}, work.path());
    ReadBackEml m;
    m.from = json.at("From").get<std::string>();
    m.to = json.at("To").get<std::string>();
    m.cc = json.at("Cc").get<std::string>();
    m.subject = json.at("Subject").get<std::string>();
    m.date = json.at("Date").get<std::string>();
    m.messageId = json.at("Message-ID").get<std::string>();
    m.dateUtc = json.at("date_utc").get<std::string>();
    m.textBody = OptionalText(json.at("text"));
    m.htmlBody = OptionalText(json.at("html"));
    for (const auto& a : json.at("attachments")) {
        m.attachments.push_back({a.at("name").get<std::string>(), a.at("mime").get<std::string>(),
                                 Base64Decode(a.at("data").get<std::string>())});
    }
    for (const auto& p : json.at("parts"))
        m.parts.push_back(p.get<std::string>());
    for (const auto& p : json.at("problems"))
        m.problems.push_back(p.get<std::string>());
    return m;
}

const OleEntry* OleContents::Find(std::string_view path) const {
    for (const auto& e : entries) {
        if (e.path == path)
            return &e;
    }
    return nullptr;
}

const std::string& OleContents::Stream(std::string_view path) const {
    const OleEntry* e = Find(path);
    if (!e || e->storage)
        throw ReadBackError("no stream " + std::string(path));
    return e->bytes;
}

OleContents ReadOle(const fs::path& msgFile) {
    testing_support::TempDir work;
    const auto json = RunInspector({"ole", msgFile.string()}, work.path());
    OleContents contents;
    for (const auto& e : json.at("entries")) {
        OleEntry entry;
        entry.path = e.at("path").get<std::string>();
        entry.storage = e.at("storage").get<bool>();
        if (e.contains("data"))
            entry.bytes = Base64Decode(e.at("data").get<std::string>());
        contents.entries.push_back(std::move(entry));
    }
    for (const auto& p : json.at("order_problems"))
        contents.orderProblems.push_back(p.get<std::string>());
    return contents;
}

std::vector<std::string> OleStreams(const fs::path& msgFile) {
    std::vector<std::string> streams;
    for (const auto& e : ReadOle(msgFile).entries) {
        if (!e.storage)
            streams.push_back(e.path);
    }
    std::sort(streams.begin(), streams.end());
    return streams;
}

std::vector<PropertyEntry> ParsePropertyStream(std::string_view stream, std::size_t headerBytes) {
    if (stream.size() < headerBytes || (stream.size() - headerBytes) % 16 != 0)
        throw ReadBackError("property stream of " + std::to_string(stream.size()) +
                            " bytes does not hold whole entries after a " +
                            std::to_string(headerBytes) + "-byte header");
    const auto le = [&](std::size_t at, int bytes) {
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | static_cast<std::uint8_t>(stream[at + static_cast<std::size_t>(i)]);
        return v;
    };
    std::vector<PropertyEntry> entries;
    for (std::size_t at = headerBytes; at < stream.size(); at += 16) {
        entries.push_back({static_cast<std::uint32_t>(le(at, 4)),
                           static_cast<std::uint32_t>(le(at + 4, 4)), le(at + 8, 8)});
    }
    return entries;
}

std::optional<PropertyEntry> FindProperty(const std::vector<PropertyEntry>& entries,
                                          std::uint32_t tag) {
    for (const auto& e : entries) {
        if (e.tag == tag)
            return e;
    }
    return std::nullopt;
}

std::string Utf16StreamToUtf8(std::string_view stream) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < stream.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(stream[i]) |
                                             (static_cast<std::uint8_t>(stream[i + 1]) << 8)));
    }
    return platform::Utf16ToUtf8(text);
}

std::filesystem::path SavedFileOfSubject(const std::vector<std::filesystem::path>& files,
                                         const std::string& subject) {
    std::string stem = subject;
    for (char& c : stem) {
        if (std::string_view(":/\\*?<>|\"").find(c) != std::string_view::npos) {
            c = '-';
        }
    }
    std::filesystem::path file;
    for (const std::filesystem::path& f : files) {
        const std::string name = f.filename().string();
        if (name.starts_with(stem) && name.size() > stem.size() &&
            std::isdigit(static_cast<unsigned char>(name[stem.size()]))) {
            file = f;
        }
    }
    return file;
}

}  // namespace msgtest
