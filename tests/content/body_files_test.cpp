// Attachment contents written to the work folder segment by segment, the column-name limit
// of a full item read, and long values that break part way.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "content/body_extraction.h"
#include "content/item_content.h"
#include "store/messages.h"
#include "support/temp_dir.h"
#include "tests/store/store_fixture.h"

namespace {

using namespace store_fixture;
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first record of the last table written, after the catalogue's own tables.
ese::Record LastTableRecord(const ese::File& file) {
    return file.table(file.tableCount() - 1).record(0);
}

// Bytes that differ from segment to segment, so a misplaced segment shows.
ef::Bytes Patterned(std::size_t size) {
    ef::Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 4000) & 0xFF);
    }
    return bytes;
}

class BodyFilesTest : public ::testing::Test {
  protected:
    ese::Record FirstRecord(const std::vector<Table>& tables) {
        Write(dir_ / "store.edb", tables);
        file_.emplace(dir_ / "store.edb");
        return LastTableRecord(*file_);
    }

    testing_support::TempDir dir_;
    fs::path work_ = [this] {
        fs::create_directory(dir_ / "work");
        return dir_ / "work";
    }();
    std::optional<ese::File> file_;
    RecordingHost host_;
};

TEST_F(BodyFilesTest, ProgressCountsSegmentsInRoundsOfAHundred) {
    // 250 segments of the long-value tree.
    const ef::Bytes content = Patterned(250 * 4014 - 100);
    const ese::Record record =
        FirstRecord({{"T",
                      {{"X39", ef::ColumnType::kLongBinary, ef::Storage::kTagged}},
                      {{{"X39", content}}}}});
    const auto longValue = record.longValue(0);
    ASSERT_TRUE(longValue);
    ASSERT_EQ(longValue->segmentCount(), 250);

    ASSERT_EQ(content::SaveLongValueToFile(host_, record, 0, u"big.bin", work_), store::kOk);

    // 0 to 100, reset to 0, 1 to 100, reset to 0, 1 to 49.
    std::vector<int> expected;
    for (int i = 0; i <= 100; ++i) {
        expected.push_back(i);
    }
    for (const int last : {100, 49}) {
        expected.push_back(0);
        for (int i = 1; i <= last; ++i) {
            expected.push_back(i);
        }
    }
    EXPECT_EQ(host_.positions, expected);
    const std::string written = ReadFile(work_ / "big.bin");
    EXPECT_EQ(written, std::string(content.begin(), content.end()));
}

TEST_F(BodyFilesTest, ValuesKeptInTheRecordAreCheckedNotWritten) {
    const ese::Record record =
        FirstRecord({{"T",
                      {{"X39", ef::ColumnType::kLongBinary, ef::Storage::kTagged},
                       {"X40", ef::ColumnType::kText, ef::Storage::kTagged}},
                      {{{"X39", ef::Bytes{1, 2, 3}}, {"X40", Utf16(u"short")}}}}});
    EXPECT_EQ(content::SaveLongValueToFile(host_, record, 1, u"text.bin", work_), store::kOk);
    EXPECT_FALSE(fs::exists(work_ / "text.bin"));
    EXPECT_TRUE(host_.positions.empty());
}

// A long value with a destroyed page: libesedb gathers every segment when the value is
// opened, so the value is lost whole; nothing else is, and no stray text or file appears.
TEST_F(BodyFilesTest, ALongValueBrokenPartWayKeepsWhatCameBefore) {
    std::u16string body;
    for (char16_t c : {u'a', u'b', u'c', u'd'}) {
        body += std::u16string(4014, c);
    }
    const fs::path path =
        Write(dir_ / "store.edb", {{"Msg",
                                    {{"N67b0", ef::ColumnType::kBinary, ef::Storage::kTagged},
                                     {"S1000", ef::ColumnType::kLongText, ef::Storage::kTagged}},
                                    {{{"N67b0", Id(1)}, {"S1000", Utf16(body)}}}}});
    // Zero the page that holds the start of the third letter's text.
    std::string bytes = ReadFile(path);
    const std::string third = [] {
        const ef::Bytes b = Utf16(std::u16string(64, u'c'));
        return std::string(b.begin(), b.end());
    }();
    const std::size_t at = bytes.find(third);
    ASSERT_NE(at, std::string::npos);
    const std::size_t pageSize = 8192;
    std::fill_n(bytes.begin() + static_cast<long>(at / pageSize * pageSize), pageSize, '\0');
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

    ese::File file(path);
    const ese::Record record = LastTableRecord(file);
    std::vector<content::BodyPartEntry> parts;
    std::u16string_view kind = content::kKindEmpty;
    content::ExtractBodyColumn(record, 1, u"S1000", u"1", parts, kind);
    EXPECT_TRUE(parts.empty());
    EXPECT_EQ(kind, content::kKindEmpty);

    EXPECT_EQ(content::SaveLongValueToFile(host_, record, 1, u"broken.bin", work_), store::kFailed);
    EXPECT_FALSE(fs::exists(work_ / "broken.bin"));
    EXPECT_EQ(LastTableRecord(file).valueCount(), 2) << "the record itself still reads";
}

// Column names of up to 255 characters are read; a longer one ends the item's read.
TEST_F(BodyFilesTest, ColumnNamesOfMoreThan255CharactersFailTheRead) {
    for (const std::size_t length : {255u, 256u}) {
        SCOPED_TRACE(length);
        testing_support::TempDir dir;
        const std::string longName = "S" + std::string(length - 1, 'a');
        Write(dir / "store.edb", {{"Msg",
                                   {{"N67b0", ef::ColumnType::kBinary, ef::Storage::kTagged},
                                    {longName, ef::ColumnType::kText, ef::Storage::kTagged}},
                                   {{{"N67b0", Id(1)}, {longName, Utf16(u"value")}}}}});
        content::ItemContent content(work_);
        RecordingHost host;
        store::StoreSession session(host, nullptr, nullptr, &content);
        session.state.currentFolderClass = u"Folder";
        ASSERT_EQ(store::OpenStore(session, dir / "store.edb"), store::kOk);
        const ese::Table table = session.database->table(session.database->tableCount() - 1);
        ASSERT_EQ(table.column(1).name().size(), length) << "the name is stored whole";
        const int result = content.ReadMsgRecord(session, table.record(0));
        if (length == 255) {
            EXPECT_EQ(result, store::kOk);
            EXPECT_EQ(content.mailDetails.size(), 1u);
        } else {
            EXPECT_EQ(result, store::kFailed);
            EXPECT_TRUE(content.mailDetails.empty());
        }
    }
}

}  // namespace
