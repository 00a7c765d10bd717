#include "fuzz_targets.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "content/compressed_rtf.h"
#include "content/rtf_text.h"
#include "export/compose.h"
#include "fixture_stores.h"
#include "platform/datetime.h"
#include "store/address.h"
#include "store/esedb.h"
#include "store/long_value_tree.h"
#include "store/values.h"
#include "store_patches.h"
#include "whole_store.h"

namespace fuzz {
namespace {

std::uint32_t Le32(Input in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
           static_cast<std::uint32_t>(in[at + 2]) << 16 |
           static_cast<std::uint32_t>(in[at + 3]) << 24;
}

bool IsPrintable(char16_t c) {
    return c >= 32 && c <= 122;
}

std::string FirstNonPrintable(std::u16string_view text, std::string_view what) {
    const auto bad = std::find_if_not(text.begin(), text.end(), IsPrintable);
    if (bad == text.end()) {
        return {};
    }
    return fmt::format("{} holds the character {:#x}", what, static_cast<unsigned>(*bad));
}

// Printable ASCII or a letter of Windows-1252 above ASCII.
bool IsAddressTextCharacter(char16_t c) {
    return IsPrintable(c) || (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7) ||
           std::u16string_view(u"\u0160\u0161\u017d\u017e\u0152\u0153\u0178").find(c) !=
               std::u16string_view::npos;
}

std::string FirstNotOfAddressText(std::u16string_view text, std::string_view what) {
    const auto bad = std::find_if_not(text.begin(), text.end(), IsAddressTextCharacter);
    if (bad == text.end()) {
        return {};
    }
    return fmt::format("{} holds the character {:#x}", what, static_cast<unsigned>(*bad));
}

// Writes the tiny and the small fixture store into the folder and keeps their bytes.
void WriteFixtureStores(const std::filesystem::path& folder, std::vector<std::uint8_t>& tiny,
                        std::vector<std::uint8_t>& small) {
    edbforge::StoreBuilder::build(TinyStoreScenario(), folder / "tiny.edb");
    damaged::WriteSmallStore(folder / "small.edb");
    tiny = damaged::ReadFileBytes(folder / "tiny.edb");
    small = damaged::ReadFileBytes(folder / "small.edb");
}

}  // namespace

std::string CheckCompressedRtf(Input input) {
    const auto rtf = content::DecompressRtf(input);
    const bool possible = input.size() >= 16 && Le32(input, 0) <= input.size();
    if (rtf.has_value() != possible) {
        return possible ? "a possible stream gave nothing" : "an impossible header gave output";
    }
    if (!rtf) {
        return {};
    }
    const std::uint32_t rawSize = Le32(input, 4);
    if (rtf->size() > rawSize) {
        return fmt::format("{} bytes out, but the raw size is {}", rtf->size(), rawSize);
    }
    // One reference token (2 bytes) copies at most 17 bytes: the output is bounded by what
    // the data can hold, whatever raw size the header claims.
    if (rtf->size() > 9 * (input.size() - 16)) {
        return fmt::format("{} bytes out of {} bytes of data", rtf->size(), input.size() - 16);
    }
    return {};
}

std::string CheckRtfText(Input input) {
    const content::RtfText text = content::RtfToText(input);
    if (text.text.size() > input.size()) {
        return fmt::format("{} characters out of {} bytes", text.text.size(), input.size());
    }
    switch (text.result) {
        case content::RtfResult::kOk:
        case content::RtfResult::kGroupUnderflow:
        case content::RtfResult::kNoMemory:
        case content::RtfResult::kUnclosedGroup:
        case content::RtfResult::kBadHexDigit:
        case content::RtfResult::kEndInsideControlWord:
            return {};
    }
    return fmt::format("unknown result {}", static_cast<int>(text.result));
}

std::string CheckSevenBitText(Input input) {
    const std::string text = store::DecompressSevenBitText(input);
    const std::size_t expected = input.empty() ? 0 : 1 + (input.size() * 8 - 8) / 7;
    if (text.size() != expected) {
        return fmt::format("{} bytes out of {}, expected {}", text.size(), input.size(), expected);
    }
    if (!input.empty() && static_cast<std::uint8_t>(text[0]) != input[0]) {
        return "the header byte changed";
    }
    for (std::size_t i = 1; i < text.size(); ++i) {
        if ((static_cast<std::uint8_t>(text[i]) & 0x80) != 0) {
            return fmt::format("byte {} has its eighth bit set", i);
        }
    }
    return {};
}

std::string CheckAddresses(Input input) {
    if (input.empty()) {
        return {};
    }
    std::u16string hex;
    if ((input[0] & 1) != 0) {
        static constexpr char16_t kDigits[] = u"0123456789abcdef";
        for (std::uint8_t b : input.subspan(1)) {
            hex.push_back(kDigits[b >> 4]);
            hex.push_back(kDigits[b & 0xF]);
        }
    } else {
        for (std::size_t i = 1; i + 1 < input.size(); i += 2) {
            hex.push_back(static_cast<char16_t>(input[i] | input[i + 1] << 8));
        }
    }
    const std::u16string printable = store::HexToPrintableText(hex);
    if (printable.size() > hex.size() / 2) {
        return "the printable text is longer than the bytes";
    }
    if (std::string bad = FirstNonPrintable(printable, "the printable text"); !bad.empty()) {
        return bad;
    }
    const std::u16string text = store::HexToAddressText(hex);
    if (text.size() > hex.size() / 2) {
        return "the address text is longer than the bytes";
    }
    if (std::string bad = FirstNotOfAddressText(text, "the address text"); !bad.empty()) {
        return bad;
    }
    const std::u16string sender = store::ResolveSenderAddress(hex);
    // The sender is a part of the address text, at most with "<" for " SMTP" and ">" added.
    if (sender.size() > text.size() + 1) {
        return fmt::format("a sender of {} characters out of {}", sender.size(), text.size());
    }
    if (std::string bad = FirstNotOfAddressText(sender, "the sender"); !bad.empty()) {
        return bad;
    }
    const std::u16string recipients = store::ResolveRecipientAddresses(hex);
    if (recipients.size() > text.size() + text.size() / 2 + 1) {
        return fmt::format("{} characters of recipients out of {}", recipients.size(), text.size());
    }
    if (!recipients.empty() && recipients.back() != u',') {
        return "the recipients do not end with a comma";
    }
    if (recipients.find(u",,") != std::u16string::npos || recipients.starts_with(u",")) {
        return "an empty address among the recipients";
    }
    for (const store::NamedAddress& r : store::ResolveRecipients(hex)) {
        if (r.name.size() > text.size() || r.name.find(u'<') != std::u16string::npos) {
            return "a recipient's name is not a part of the address text";
        }
    }
    return FirstNotOfAddressText(recipients, "the recipients");
}

StoreTarget::StoreTarget(std::filesystem::path folder) : folder_(std::move(folder)) {
    WriteFixtureStores(folder_, tiny_, small_);
}

std::string StoreTarget::Check(Input input) const {
    namespace fs = std::filesystem;
    const StoreDamage damage = ParseDamage(input);
    const damaged::Bytes& base = damage.smallStore ? small_ : tiny_;
    const fs::path copy = folder_ / "copy.edb";
    const fs::path work = folder_ / "work";
    damaged::WriteFileBytes(copy, ApplyDamage(base, damage));
    fs::remove_all(work);
    fs::create_directory(work);

    const damaged::StoreReading reading = damaged::ReadWholeStore(copy, work);
    if (!reading.silentFailures.empty()) {
        return "failed without saying why: " + reading.silentFailures.front();
    }
    // The item reader writes attachments and compressed RTF into the work folder only.
    const std::set<fs::path> expected = {folder_ / "tiny.edb", folder_ / "small.edb", copy, work};
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
        if (!expected.contains(entry.path())) {
            return "a file was written outside the work folder: " + entry.path().string();
        }
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(work)) {
        if (!entry.is_regular_file()) {
            return "the work folder holds something other than files: " + entry.path().string();
        }
    }
    return {};
}

RecoveryTarget::RecoveryTarget(std::filesystem::path folder) : folder_(std::move(folder)) {
    WriteFixtureStores(folder_, tiny_, small_);
}

std::string RecoveryTarget::Check(Input input) const {
    namespace fs = std::filesystem;
    const StoreDamage damage = ParseDamage(input);
    const fs::path copy = folder_ / "copy.edb";
    const fs::path work = folder_ / "work";
    const fs::path out = folder_ / "out";
    damaged::WriteFileBytes(copy, ApplyDamage(damage.smallStore ? small_ : tiny_, damage));
    fs::remove_all(work);
    fs::remove_all(out);
    fs::create_directory(work);
    const damaged::StoreExport saved = damaged::ExportWholeStore(copy, out, work, true);
    // A contact is a page, a card and a message file; every other item a message file.
    const auto contacts = static_cast<std::size_t>(saved.contacts);
    if (saved.msgFiles != static_cast<std::size_t>(saved.mails + saved.others) + contacts ||
        saved.htmlFiles != contacts || saved.vcfFiles != contacts ||
        saved.icsFiles != static_cast<std::size_t>(saved.calendars)) {
        return "the files written do not match the counts: " + damaged::Describe(saved);
    }
    if (!saved.otherFiles.empty()) {
        return "the save left something else: " + saved.otherFiles.front();
    }
    const std::set<fs::path> expected = {folder_ / "tiny.edb", folder_ / "small.edb", copy, work,
                                         out};
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
        if (!expected.contains(entry.path())) {
            return "a file was written outside the destination: " + entry.path().string();
        }
    }
    return {};
}

std::string CheckDateText(Input input) {
    const std::u16string text(input.begin(), input.end());
    const double date = msgexport::DateTextToAutomationDate(text);
    if (date == 0.0) {
        return {};
    }
    // 1 January 0000 (day -693,959, its time of day counted off) and 31 December 9999, 23:59:59.
    if (!std::isfinite(date) || date <= -693960.0 || date >= 2958466.0) {
        return fmt::format("{} is not a date of years 0 to 9999", date);
    }
    std::uint64_t filetime = 0;
    const bool representable = platform::OleDateToFiletime(date, filetime);
    // Day -109,205 is 1 January 1601; before the epoch the whole days count the date.
    const bool from1601 = std::trunc(date) >= -109205.0;
    if (representable != from1601) {
        return fmt::format("{} {} a FILETIME", date, representable ? "became" : "did not become");
    }
    if (!representable) {
        return {};
    }
    const std::u16string again = platform::FiletimeToText(filetime);
    if (msgexport::DateTextToAutomationDate(again) != date) {
        return fmt::format("{} does not read back from its own date text", date);
    }
    // "Mar 05, 2009 14:07:09"
    if (text.size() == 21 && again != text) {
        return "a date text in full widths did not come back as itself";
    }
    return {};
}

// Every long value of a store: the table's object id, the key stored in the record, and the
// text columns with their column ids.
struct LongValueTarget::Keys {
    struct Value {
        std::uint32_t table = 0;
        std::vector<std::uint8_t> key;
    };
    std::vector<Value> values;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> textColumns;  // (table, column id)

    explicit Keys(const std::filesystem::path& store) {
        const ese::File file(store);
        for (int t = 0; t < file.tableCount(); ++t) {
            const ese::Table table = file.table(t);
            std::uint32_t id = 0;
            if (libesedb_table_get_identifier(table.get(), &id, nullptr) != 1) {
                continue;
            }
            for (int c = 0; c < table.columnCount(); ++c) {
                const ese::Column column = table.column(c);
                if (column.type() == ese::kText || column.type() == ese::kLargeText) {
                    textColumns.emplace_back(id, column.identifier());
                }
            }
            for (int r = 0; r < table.recordCount(); ++r) {
                const ese::Record record = table.record(r);
                for (int v = 0; v < record.valueCount(); ++v) {
                    if ((record.valueFlags(v) & ese::kLongValue) != 0) {
                        values.push_back({id, record.valueData(v)});
                    }
                }
            }
        }
    }
};

LongValueTarget::LongValueTarget(std::filesystem::path folder) : folder_(std::move(folder)) {
    WriteFixtureStores(folder_, tiny_, small_);
    tinyKeys_ = std::make_unique<Keys>(folder_ / "tiny.edb");
    smallKeys_ = std::make_unique<Keys>(folder_ / "small.edb");
}

LongValueTarget::~LongValueTarget() = default;

std::string LongValueTarget::Check(Input input) const {
    StoreDamage damage = ParseDamage(input);
    damage.repairChecksums = true;
    const damaged::Bytes file = ApplyDamage(damage.smallStore ? small_ : tiny_, damage);
    const std::filesystem::path copy = folder_ / "copy.edb";
    damaged::WriteFileBytes(copy, file);
    const auto trees = ese::detail::LongValueTrees::Open(copy);
    if (!trees) {
        // Only a file header that is gone or damaged keeps the reader out.
        const damaged::Bytes& whole = damage.smallStore ? small_ : tiny_;
        const bool headerWhole =
            file.size() >= 4096 && std::equal(file.begin(), file.begin() + 4096, whole.begin());
        return headerWhole ? "the reader would not open a store of 4 KiB pages" : "";
    }
    const Keys& keys = damage.smallStore ? *smallKeys_ : *tinyKeys_;
    for (const auto& [table, column] : keys.textColumns) {
        trees->ColumnCodepage(table, column);
    }
    for (const Keys::Value& value : keys.values) {
        const auto segments = trees->Segments(value.table, value.key);
        if (!segments) {
            continue;
        }
        std::size_t total = 0;
        for (const std::vector<std::uint8_t>& segment : *segments) {
            total += segment.size();
        }
        if (total > file.size()) {
            return fmt::format("a long value of {} bytes out of a file of {}", total, file.size());
        }
    }
    return {};
}

}  // namespace fuzz
