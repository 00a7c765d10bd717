// Column names and types as records give them, looked up once per table, against the table's
// own column list, for every record of every table.
#include <gtest/gtest.h>

#include <string>

#include "store/esedb.h"
#include "support/temp_dir.h"
#include "tools/edbforge/large_store.h"

namespace {

namespace fs = std::filesystem;

int ExpectColumnsOfTheTable(const fs::path& path) {
    ese::File file(path);
    int checked = 0;
    for (int t = 0; t < file.tableCount(); ++t) {
        const ese::Table table = file.table(t);
        SCOPED_TRACE(path.filename().string() + ", table " + std::to_string(t));
        const int columns = table.columnCount();
        int records = 0;
        try {
            records = table.recordCount();
        } catch (const ese::Error&) {
            continue;
        }
        for (int r = 0; r < records; ++r) {
            const ese::Record record = table.record(r);
            EXPECT_EQ(record.valueCount(), columns);
            for (int v = 0; v < columns; ++v) {
                const ese::Column column = table.column(v);
                EXPECT_EQ(record.columnName(v), column.name());
                EXPECT_EQ(record.columnType(v), column.type());
                ++checked;
            }
            // A position past the last column fails every time it is asked for.
            EXPECT_THROW(record.columnName(columns), ese::Error);
            EXPECT_THROW(record.columnType(columns), ese::Error);
        }
    }
    return checked;
}

TEST(TableColumns, EveryRecordNamesItsColumnsAsTheTableDoes) {
    testing_support::TempDir dir;
    edbforge::LargeStoreOptions options;
    options.messages = 40;
    options.bigFolderItems = 10;
    edbforge::writeLargeStore(dir / "generated.edb", options);
    EXPECT_GT(ExpectColumnsOfTheTable(dir / "generated.edb"), 1000);
    EXPECT_GT(
        ExpectColumnsOfTheTable(fs::path(EDB2MSG_SOURCE_DIR) / "samples" / "sample-store.edb"),
        1000);
}

TEST(TableColumns, WindowsWrittenFilesNameTheirColumnsAsTheTableDoes) {
    REQUIRE_REAL_DATABASES();
    testing_support::TempDir dir;
    for (const char* name : {"basic", "binary", "multi", "default", "index"}) {
        EXPECT_GT(
            ExpectColumnsOfTheTable(testing_support::DecompressRealDatabase(name, dir.path())), 0)
            << name;
    }
}

}  // namespace
