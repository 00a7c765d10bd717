#include "tools/edbforge/scenario_json.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace edbforge {

namespace {

using nlohmann::json;

std::uint64_t parseId(const json& j) {
    if (j.is_number_unsigned()) {
        return j.get<std::uint64_t>();
    }
    std::string s = j.get<std::string>();
    std::size_t used = 0;
    std::uint64_t v = std::stoull(s, &used, 0);
    if (used != s.size()) {
        throw std::invalid_argument("bad identifier " + s);
    }
    return v;
}

std::u16string text(const json& j) {
    return utf8ToUtf16(j.get<std::string>());
}

Bytes fromHex(const std::string& hex) {
    if (hex.size() % 2 != 0) {
        throw std::invalid_argument("odd hexadecimal text");
    }
    Bytes b;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        b.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return b;
}

std::string repeated(const json& j) {
    if (j.is_string()) {
        return j.get<std::string>();
    }
    std::string unit = j.at("repeat").get<std::string>();
    std::size_t times = j.at("times").get<std::size_t>();
    std::string out;
    out.reserve(unit.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += unit;
    }
    return out;
}

Address address(const json& j) {
    return {j.value("name", std::string()), j.value("address", std::string())};
}

Item parseItem(const json& j, std::uint64_t seed) {
    Item item;
    if (j.contains("id")) {
        item.id = parseId(j["id"]);
    }
    if (j.contains("class")) {
        item.messageClass = text(j["class"]);
    }
    if (j.contains("subjectPrefix")) {
        item.subjectPrefix = text(j["subjectPrefix"]);
    }
    if (j.contains("subject")) {
        item.subject = utf8ToUtf16(repeated(j["subject"]));
    }
    if (j.contains("from")) {
        item.sender = address(j["from"]);
        item.senderName = utf8ToUtf16(item.sender->displayName);
    }
    if (j.contains("senderName")) {
        item.senderName = text(j["senderName"]);
    }
    const json to = j.value("to", json::array());
    for (const json& r : to) {
        item.recipients.push_back(address(r));
    }
    if (j.contains("date")) {
        item.date = filetimeFromIso(j["date"].get<std::string>());
    }
    if (j.contains("secondDate")) {
        item.secondDate = filetimeFromIso(j["secondDate"].get<std::string>());
    }
    if (j.contains("body")) {
        item.plainBody = utf8ToUtf16(repeated(j["body"]));
    }
    if (j.contains("html")) {
        item.htmlBody = repeated(j["html"]);
    }
    if (j.contains("rtf")) {
        item.rtfBody = repeated(j["rtf"]);
    }
    if (j.contains("rawRtfHex")) {
        item.rawCompressedRtf = fromHex(j["rawRtfHex"].get<std::string>());
    }
    if (j.contains("appointment")) {
        item.appointmentText = text(j["appointment"]);
    }
    if (j.contains("busyStatus")) {
        item.busyStatus = j["busyStatus"].get<std::int32_t>();
    }
    if (j.contains("allDay")) {
        item.allDay = j["allDay"].get<bool>();
    }
    if (j.contains("taskStatus")) {
        item.taskStatus = j["taskStatus"].get<std::int32_t>();
    }
    if (j.contains("percentComplete")) {
        item.percentComplete = j["percentComplete"].get<double>();
    }
    if (j.contains("journalType")) {
        item.journalType = text(j["journalType"]);
    }
    if (j.contains("duration")) {
        item.durationMinutes = j["duration"].get<std::int32_t>();
    }
    std::uint64_t n = 0;
    const json attachments = j.value("attachments", json::array());
    for (const json& a : attachments) {
        Attachment att;
        att.fileName = text(a.at("name"));
        if (a.contains("id")) {
            att.id = parseId(a["id"]);
        }
        if (a.contains("text")) {
            std::string t = repeated(a["text"]);
            att.content.assign(t.begin(), t.end());
        } else if (a.contains("hex")) {
            att.content = fromHex(a["hex"].get<std::string>());
        } else if (a.contains("size")) {
            att.content = fillerBytes(a["size"].get<std::size_t>(), seed * 31 + ++n);
        }
        item.attachments.push_back(std::move(att));
    }
    const json properties = j.value("properties", json::object());
    for (const auto& [name, value] : properties.items()) {
        item.properties.emplace_back(name, text(value));
    }
    return item;
}

}  // namespace

std::uint64_t filetimeFromIso(std::string_view iso) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    std::string str(iso);
    if (std::sscanf(str.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) {
        throw std::invalid_argument("bad date " + str);
    }
    // Days since 1970-01-01 (H. Hinnant's algorithm).
    y -= mo <= 2 ? 1 : 0;
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yoe = y - era * 400;
    long long doy = (153LL * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long long days = era * 146097 + doe - 719468;
    long long secs = days * 86400 + h * 3600LL + mi * 60LL + s;
    return static_cast<std::uint64_t>(secs + 11644473600LL) * 10000000ULL;
}

Bytes fillerBytes(std::size_t size, std::uint64_t seed) {
    Bytes b(size);
    std::uint64_t x = seed * 0x9e3779b97f4a7c15ULL + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b[i] = static_cast<std::uint8_t>(x >> 24);
    }
    return b;
}

Scenario scenarioFromJson(std::string_view jsonText) {
    json root = json::parse(jsonText);
    Scenario sc;
    sc.options.pageSize = root.value("pageSize", 4096U);
    std::uint64_t seed = 0;
    for (const json& m : root.at("mailboxes")) {
        Mailbox mb;
        mb.id = parseId(m.at("id"));
        mb.displayName = text(m.at("name"));
        const json folders = m.value("folders", json::array());
        for (const json& f : folders) {
            Folder folder;
            folder.id = parseId(f.at("id"));
            if (f.contains("parent")) {
                folder.parentId = parseId(f["parent"]);
            }
            folder.name = text(f.at("name"));
            folder.folderClass = utf8ToUtf16(f.value("class", std::string()));
            const json items = f.value("items", json::array());
            for (const json& i : items) {
                folder.items.push_back(parseItem(i, ++seed));
            }
            mb.folders.push_back(std::move(folder));
        }
        sc.mailboxes.push_back(std::move(mb));
    }
    return sc;
}

Scenario loadScenario(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::stringstream ss;
    ss << in.rdbuf();
    return scenarioFromJson(ss.str());
}

}  // namespace edbforge
