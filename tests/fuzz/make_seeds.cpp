// Writes the seed corpora of the fuzzing harnesses, made with the fixture writer:
//   fuzz_seeds FOLDER   writes FOLDER/<harness>/<name> for every harness
// The hand-made seeds in tests/fuzz/seeds are added to these by scripts/fuzz.
#include <fmt/format.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "content/compressed_rtf.h"
#include "fixture_stores.h"
#include "store/esedb.h"
#include "store_patches.h"
#include "tools/edbforge/compressed_rtf.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class Corpus {
  public:
    explicit Corpus(fs::path folder) : folder_(std::move(folder)) {}
    void Add(const std::string& harness, const Bytes& bytes) {
        const fs::path dir = folder_ / harness;
        fs::create_directories(dir);
        damaged::WriteFileBytes(dir / fmt::format("seed-{:03}", ++count_[harness]), bytes);
    }
    void Add(const std::string& harness, std::string_view text) {
        Add(harness, Bytes(text.begin(), text.end()));
    }

  private:
    fs::path folder_;
    std::map<std::string, int> count_;
};

const std::vector<std::string>& RtfDocuments() {
    static const std::vector<std::string> docs = {
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}Hello\\par World}",
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}{\\colortbl;\\red0"
        "\\green0\\blue0;}{\\*\\generator Riched20;}\\viewkind4\\uc1\\pard\\f0\\fs20 Caf\\'e9 "
        "\\u8364? price\\tab 12\\par\\pard{\\*\\htmltag84 <b>}\\b bold\\b0\\par}",
        std::string("{\\rtf1{\\info{\\author Ann}{\\title T}}{\\header head}\\bin3 a\0c text}", 65),
        "{\\rtf1\\li-720\\ri720\\fi360 {\\*\\unknownword skipped}{\\*\\b kept}\\\n line\\\r}",
        "{\\rtf1\\uc2\\u8364\\'80\\'80 two\\ldblquote q\\rdblquote {\\pict 0102}\\{\\}\\\\}",
        "{\\rtf1\\ansi\\deff0 Report \\b 7\\b0\\par}",
    };
    return docs;
}

// The 7-bit packing of compressed ESE text: a header byte, then characters of 7 bits each,
// least significant bits first.
Bytes PackSevenBit(std::uint8_t header, std::string_view text) {
    Bytes out = {header};
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        bits |= static_cast<std::uint32_t>(c & 0x7F) << count;
        count += 7;
        while (count >= 8) {
            out.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count > 0) {
        out.push_back(static_cast<std::uint8_t>(bits));
    }
    return out;
}

Bytes Mela(std::string_view rtf) {
    const auto size = static_cast<std::uint32_t>(rtf.size());
    Bytes out;
    for (std::uint32_t v : {size + 12, size, 0x414C454Du, 0u}) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    out.insert(out.end(), rtf.begin(), rtf.end());
    return out;
}

// The raw bytes of every sender ("N67be") and recipient ("N67b4") value of a store.
std::vector<Bytes> AddressValues(const fs::path& store) {
    std::vector<Bytes> values;
    const ese::File file(store);
    for (int t = 0; t < file.tableCount(); ++t) {
        const ese::Table table = file.table(t);
        std::vector<int> wanted;
        for (int c = 0; c < table.columnCount(); ++c) {
            const std::u16string name = table.column(c).name();
            if (name == u"N67be" || name == u"N67b4") {
                wanted.push_back(c);
            }
        }
        for (int r = 0; r < table.recordCount() && !wanted.empty(); ++r) {
            const ese::Record record = table.record(r);
            for (int c : wanted) {
                Bytes bytes =
                    record.isLongValue(c) ? record.longValue(c)->data() : record.valueData(c);
                if (!bytes.empty()) {
                    values.push_back(std::move(bytes));
                }
            }
        }
    }
    return values;
}

void StoreSeeds(Corpus& corpus, bool small, const fs::path& store) {
    using fuzz::Patch;
    const damaged::Bytes bytes = damaged::ReadFileBytes(store);
    const damaged::PageMap map = damaged::PageMap::Of(bytes);
    auto add = [&](fuzz::StoreDamage damage, bool alsoRepaired) {
        damage.smallStore = small;
        corpus.Add("store", fuzz::EncodeDamage(damage));
        // The long-value harness takes the same input and always repairs the checksums.
        corpus.Add("long_values", fuzz::EncodeDamage(damage));
        // And the recovering save, which reads every page of the copy.
        corpus.Add("recovery", fuzz::EncodeDamage(damage));
        if (alsoRepaired) {
            damage.repairChecksums = true;
            corpus.Add("store", fuzz::EncodeDamage(damage));
        }
    };
    add({}, false);
    add({.cut = true, .cutAt = 0x8000}, false);
    // One page of each kind (each tree's root, branch and leaf pages): zeroed, and with a few
    // bits of its records flipped.
    std::set<std::pair<std::uint32_t, std::uint32_t>> seen;
    bool first = true;
    for (const damaged::Page& page : map.pages) {
        if (!seen.insert({page.object, page.flags & 0xFF}).second) {
            continue;
        }
        const auto filePage = static_cast<std::uint16_t>(page.number + 1);
        add({.patches = {{Patch::kZero, filePage, 0, Bytes(255)}}}, false);
        add({.patches = {{Patch::kXor, filePage, 40, {0x10, 0x20, 0, 0, 0x80}}}}, false);
        if (!page.isTableData() || !first) {
            continue;
        }
        // On the first record page also its header, its tag array and the whole page.
        first = false;
        const auto last = static_cast<std::uint16_t>(map.pageSize - 4);
        add({.patches = {{Patch::kXor, filePage, 16, {1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0x40}}}},
            true);
        add({.patches = {{Patch::kWrite, filePage, last, {0xff, 0x1f, 0xff, 0x1f}}}}, true);
        add({.patches =
                 {{Patch::kCopyPage, filePage, static_cast<std::uint16_t>(filePage + 1), {}}}},
            true);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    try {
        const fs::path out = argv[1];
        Corpus corpus(out);
        for (const std::string& rtf : RtfDocuments()) {
            corpus.Add("rtf_text", rtf);
            const Bytes compressed = edbforge::compressRtf(rtf);
            corpus.Add("compressed_rtf", compressed);
            corpus.Add("compressed_rtf", Mela(rtf));
            corpus.Add("compressed_rtf",
                       Bytes(compressed.begin(), compressed.begin() + static_cast<std::ptrdiff_t>(
                                                                          compressed.size() / 2)));
            if (const auto decoded = content::DecompressRtf(compressed)) {
                corpus.Add("rtf_text", *decoded);
            }
        }
        for (std::string_view text : {"", "a", "Hello, world", "0123456789abcdefghijklmnopqrstuv",
                                      "Subject: Quarterly budget review \\ 12% above plan"}) {
            corpus.Add("seven_bit", PackSevenBit(0x12, text));
            corpus.Add("seven_bit", PackSevenBit(0x00, text));
        }

        const fs::path stores = out / "stores";
        fs::create_directories(stores);
        edbforge::StoreBuilder::build(fuzz::TinyStoreScenario(), stores / "tiny.edb");
        damaged::WriteSmallStore(stores / "small.edb");
        std::set<Bytes> addresses;
        for (Bytes& value : AddressValues(stores / "small.edb")) {
            addresses.insert(std::move(value));
        }
        for (const Bytes& value : addresses) {
            Bytes asBytes = {1};
            asBytes.insert(asBytes.end(), value.begin(), value.end());
            corpus.Add("address", asBytes);
            Bytes asText = {0};
            for (std::uint8_t b : value) {
                for (char c : fmt::format("{:02x}", b)) {
                    asText.push_back(static_cast<std::uint8_t>(c));
                    asText.push_back(0);
                }
            }
            corpus.Add("address", asText);
        }
        StoreSeeds(corpus, false, stores / "tiny.edb");
        StoreSeeds(corpus, true, stores / "small.edb");
        fs::remove_all(stores);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
