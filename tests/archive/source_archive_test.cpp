#include "archive/source_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/archive/archive_test_support.h"
#include "tools/source_writer/source_writer.h"

namespace {

EncodedEntry rawEntry(uint16_t id, std::vector<int16_t> sizes, size_t byteCount) {
    EncodedEntry entry;
    entry.id = id;
    entry.blockSizes = std::move(sizes);
    for (size_t k = 0; k < byteCount; ++k) entry.bytes.push_back(static_cast<uint8_t>(k * 7 + 1));
    return entry;
}

struct OpenArchive {
    OwnedFile file;
    int32_t entryCount = 0;
    uint32_t sampleRate = 0;
    SourceEntryTable table;
};

OpenArchive openArchive(const std::vector<uint8_t>& bytes) {
    OpenArchive archive;
    archive.file = fileWithBytes(bytes);
    EXPECT_TRUE(archive.file);
    EXPECT_EQ(readSourceHeader(archive.file.get(), &archive.entryCount, &archive.sampleRate), 0);
    archive.table = readSourceEntryTable(archive.file.get(), archive.entryCount);
    return archive;
}

// Reads entry i, capturing what went to standard error.
bool readEntry(OpenArchive& archive, int32_t i, SourceEntryData* data, std::string* errors) {
    testing::internal::CaptureStderr();
    const bool ok = readSourceEntryData(archive.file.get(), archive.table.entries.get(), i, data);
    *errors = testing::internal::GetCapturedStderr();
    return ok;
}

}  // namespace

TEST(SourceFileName, AcceptsTheRuleInAnyLetterCase) {
    EXPECT_EQ(parseSourceFileName("z001.vud"), 1);
    EXPECT_EQ(parseSourceFileName("Z999.VUD"), 999);
    EXPECT_EQ(parseSourceFileName("z000.vud"), 0);
    EXPECT_EQ(parseSourceFileName("Z012.vUd"), 12);
    EXPECT_EQ(parseSourceFileName("z120.vuD"), 120);
}

TEST(SourceFileName, RejectsEverythingElse) {
    for (const char* name :
         {"z01.vud", "z0001.vud", "y001.vud", "z0a1.vud", "z001_vud", "z001.vue", "z001.xud",
          "z001.wud", "voice/z001.vud", "/z001.vud", "z001.vud ", "", "z/01.vud", "z-01.vud"}) {
        EXPECT_EQ(parseSourceFileName(name), -1) << name;
    }
    EXPECT_EQ(parseSourceFileName(nullptr), -1);
}

TEST(SourceHeader, NeedsAllThirtyTwoBytesAndTheExactMagic) {
    std::vector<uint8_t> header = makeSourceHeader("VUDPAC", 5, 11025);
    int32_t count = -99;
    uint32_t rate = 99;

    std::vector<uint8_t> shortHeader(header.begin(), header.end() - 1);
    EXPECT_EQ(readSourceHeader(fileWithBytes(shortHeader).get(), &count, &rate), -1);

    // Exactly 32 bytes pass, whatever the count says; the position is then 32.
    OwnedFile file = fileWithBytes(header);
    EXPECT_EQ(readSourceHeader(file.get(), &count, &rate), 0);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(rate, 11025u);
    EXPECT_EQ(std::ftell(file.get()), 32);

    EXPECT_EQ(
        readSourceHeader(fileWithBytes(makeSourceHeader("vudpac", 5, 0)).get(), &count, nullptr),
        -1);
    EXPECT_EQ(
        readSourceHeader(fileWithBytes(makeSourceHeader("VUDMP3", 5, 0)).get(), nullptr, nullptr),
        -1);
    EXPECT_EQ(readSourceHeader(nullptr, &count, &rate), -1);
    EXPECT_EQ(readSourceHeader(fileWithBytes({}).get(), &count, &rate), -1);
}

TEST(SourceHeader, ReportsFieldsAsStoredAndRewindsFirst) {
    std::vector<uint8_t> header = makeSourceHeader("VUDPAC", -3, 0);
    // The bytes the format does not interpret may hold anything.
    for (size_t at : {6u, 15u, 20u, 23u, 28u, 31u}) header[at] = 0xAB;
    OwnedFile file = fileWithBytes(header);
    std::fseek(file.get(), 17, SEEK_SET);
    int32_t count = 0;
    uint32_t rate = 1;
    EXPECT_EQ(readSourceHeader(file.get(), &count, &rate), 0);
    EXPECT_EQ(count, -3);
    EXPECT_EQ(rate, 0u);  // no default applied here
    EXPECT_EQ(readSourceHeader(file.get(), nullptr, &rate), 0);
    EXPECT_EQ(readSourceHeader(file.get(), &count, nullptr), 0);
}

TEST(SourceEntryTable, ReadsRecordsAndAppendsTheSentinel) {
    const ArchiveImage image = buildSourceArchive(
        {rawEntry(7, {3, 0}, 3), rawEntry(0xFFFE, {}, 0), rawEntry(9, {1024}, 1024)}, 22050);
    OpenArchive archive = openArchive(image.bytes);
    ASSERT_TRUE(archive.table.entries);
    ASSERT_EQ(archive.table.entryCount, 3);
    const SourceEntry* t = archive.table.entries.get();
    EXPECT_EQ(t[0].id, 7);
    EXPECT_EQ(t[0].blockCount, 2);
    EXPECT_EQ(t[0].offset, 56u);
    EXPECT_EQ(t[1].id, 0xFFFE);
    EXPECT_EQ(t[1].blockCount, 0);
    EXPECT_EQ(t[1].offset, 56u + 4 + 3);
    EXPECT_EQ(t[2].offset, 63u);
    EXPECT_EQ(t[3].id, SentinelEntryId);
    EXPECT_EQ(t[3].blockCount, 0);
    EXPECT_EQ(t[3].offset, image.bytes.size());
    EXPECT_EQ(std::ftell(archive.file.get()), static_cast<long>(image.bytes.size()));
}

// Files of 2 GiB and more (sparse here) read at any width: the last entry's
// room reaches the file's end, or 4 GiB - 1 beyond that.
TEST(SourceEntryTable, SentinelOfFilesOfTwoGigabytesAndMore) {
    const ArchiveImage image = buildSourceArchive({rawEntry(9, {3}, 3)}, 22050);
    for (int64_t length : {int64_t{1} << 31, (int64_t{1} << 32) + 5}) {
        OwnedFile file = fileWithBytes(image.bytes);
        ASSERT_TRUE(file && seekFile(file.get(), length - 1, SEEK_SET));
        ASSERT_EQ(std::fputc(0, file.get()), 0);
        SourceEntryTable table = readSourceEntryTable(file.get(), 1);
        ASSERT_TRUE(table.entries);
        EXPECT_EQ(table.entries[1].offset, static_cast<uint32_t>(std::min<int64_t>(length, UINT32_MAX)));
        EXPECT_EQ(tellFile(file.get()), length);
    }
}

TEST(SourceEntryTable, FailsCleanlyOnTablesTheFileCannotHold) {
    // Truncated: three records promised, two and a half present.
    std::vector<uint8_t> bytes = makeSourceHeader("VUDPAC", 3, 0);
    bytes.resize(32 + 20, 0);
    OwnedFile file = fileWithBytes(bytes);
    EXPECT_FALSE(readSourceEntryTable(file.get(), 3).entries);
    bytes.resize(32 + 24, 0);
    file = fileWithBytes(bytes);
    EXPECT_TRUE(readSourceEntryTable(file.get(), 3).entries);

    // A 40-byte file claiming 0x7FFFFFFF entries fails before reserving 16 GiB.
    bytes = makeSourceHeader("VUDPAC", 0x7FFFFFFF, 0);
    bytes.resize(40, 0);
    file = fileWithBytes(bytes);
    int32_t count = 0;
    ASSERT_EQ(readSourceHeader(file.get(), &count, nullptr), 0);
    EXPECT_EQ(count, 0x7FFFFFFF);
    EXPECT_FALSE(readSourceEntryTable(file.get(), count).entries);

    // A negative count is reported by the header reader and refused by the table reader.
    bytes = makeSourceHeader("VUDPAC", -1, 0);
    file = fileWithBytes(bytes);
    ASSERT_EQ(readSourceHeader(file.get(), &count, nullptr), 0);
    EXPECT_EQ(count, -1);
    EXPECT_FALSE(readSourceEntryTable(file.get(), count).entries);
    EXPECT_FALSE(readSourceEntryTable(file.get(), INT32_MIN).entries);
    EXPECT_FALSE(readSourceEntryTable(nullptr, 1).entries);

    // No entries: the table is the sentinel alone.
    file = fileWithBytes(makeSourceHeader("VUDPAC", 0, 0));
    SourceEntryTable empty = readSourceEntryTable(file.get(), 0);
    ASSERT_TRUE(empty.entries);
    EXPECT_EQ(empty.entries[0].offset, 32u);
}

TEST(SourceEntryData, ReadsSizesAndBytesOfEachEntry) {
    const ArchiveImage image = buildSourceArchive(
        {rawEntry(7, {3, 0, 2}, 5), rawEntry(8, {}, 0), rawEntry(9, {1024}, 1024)}, 22050);
    OpenArchive archive = openArchive(image.bytes);
    ASSERT_TRUE(archive.table.entries);
    std::string errors;

    SourceEntryData data;
    ASSERT_TRUE(readEntry(archive, 0, &data, &errors));
    EXPECT_EQ(data.blockCount, 3u);
    EXPECT_EQ(data.blockSizes[0], 3);
    EXPECT_EQ(data.blockSizes[2], 2);
    ASSERT_EQ(data.compressedLength, 5u);
    for (size_t k = 0; k < 5; ++k) EXPECT_EQ(data.compressedBytes[k], k * 7 + 1);

    SourceEntryData empty;
    ASSERT_TRUE(readEntry(archive, 1, &empty, &errors));
    EXPECT_EQ(empty.blockCount, 0u);
    EXPECT_EQ(empty.compressedLength, 0u);
    EXPECT_TRUE(decodeBoth(empty).empty());

    // The last entry's room runs to the end of the file.
    SourceEntryData last;
    ASSERT_TRUE(readEntry(archive, 2, &last, &errors));
    EXPECT_EQ(last.compressedLength, 1024u);
    EXPECT_EQ(errors, "");
}

TEST(SourceEntryData, SizeRuleAllowsExactlyTheRoomToTheNextEntry) {
    // Entry 0 holds sizes summing to 10 and its bytes; the next entry starts right after.
    EncodedEntry first = rawEntry(0xFFFE, {4, 6}, 10);
    ArchiveImage image = buildSourceArchive({first, rawEntry(2, {3}, 3)}, 0);
    {
        OpenArchive archive = openArchive(image.bytes);
        SourceEntryData data;
        std::string errors;
        EXPECT_TRUE(readEntry(archive, 0, &data, &errors));
        EXPECT_EQ(errors, "");
    }
    // The size list itself is not counted: the room is offset[1] - offset[0] = 4 + 10,
    // so sizes summing to 14 still pass and 15 fail.
    putLe16(image.bytes, image.entryOffsets[0] + 2, 10);
    {
        OpenArchive archive = openArchive(image.bytes);
        SourceEntryData data;
        std::string errors;
        EXPECT_TRUE(readEntry(archive, 0, &data, &errors));
        EXPECT_EQ(data.compressedLength, 14u);
    }
    putLe16(image.bytes, image.entryOffsets[0] + 2, 11);
    {
        OpenArchive archive = openArchive(image.bytes);
        SourceEntryData data;
        std::string errors;
        EXPECT_FALSE(readEntry(archive, 0, &data, &errors));
        EXPECT_EQ(errors, "invalid vud size (id:65534)\n");
        EXPECT_FALSE(data.compressedBytes);
    }
    // The last entry's room is the file length minus its offset (5 here, its
    // size list included): one byte more fails the same way.
    putLe16(image.bytes, image.entryOffsets[1], 6);
    {
        OpenArchive archive = openArchive(image.bytes);
        SourceEntryData data;
        std::string errors;
        EXPECT_FALSE(readEntry(archive, 1, &data, &errors));
        EXPECT_EQ(errors, "invalid vud size (id:2)\n");
    }
}

TEST(SourceEntryData, NegativeBlockSizeFailsLikeTheSizeRule) {
    for (uint16_t stored : {0x8000, 0xFFFF, 0xFC00}) {
        ArchiveImage image = buildSourceArchive({rawEntry(5, {4, 4}, 8)}, 0);
        putLe16(image.bytes, image.entryOffsets[0] + 2, stored);
        OpenArchive archive = openArchive(image.bytes);
        SourceEntryData data;
        std::string errors;
        EXPECT_FALSE(readEntry(archive, 0, &data, &errors));
        EXPECT_EQ(errors, "invalid vud size (id:5)\n");
        SourceEntryData checked;
        EXPECT_EQ(readSourceEntryDataChecked(archive.file.get(), archive.table.entries.get(), 0,
                                             &checked, false),
                  EntryReadResult::NegativeSize);
    }
}

TEST(SourceEntryData, FileEndingEarlyFailsTheEntryWithoutMessage) {
    // Offset past the end of the file: the size list cannot be read.
    ArchiveImage image = buildSourceArchive({rawEntry(1, {2}, 2), rawEntry(2, {1}, 1)}, 0);
    putLe32(image.bytes, tableRecordAt(1) + 4, 5000);
    {
        OpenArchive archive = openArchive(image.bytes);
        SourceEntryData data;
        std::string errors;
        EXPECT_FALSE(readEntry(archive, 1, &data, &errors));
        EXPECT_EQ(errors, "");
        EXPECT_EQ(readSourceEntryDataChecked(archive.file.get(), archive.table.entries.get(), 1,
                                             &data, false),
                  EntryReadResult::ShortSizeList);
    }
    // Size list cut short: 100 blocks promised, the file ends after a few sizes.
    image = buildSourceArchive({rawEntry(1, {2}, 2)}, 0);
    putLe16(image.bytes, tableRecordAt(0) + 2, 100);
    {
        OpenArchive archive = openArchive(image.bytes);
        SourceEntryData data;
        EXPECT_EQ(readSourceEntryDataChecked(archive.file.get(), archive.table.entries.get(), 0,
                                             &data, true),
                  EntryReadResult::ShortSizeList);
        EXPECT_FALSE(data.blockSizes);
    }
    // Compressed bytes cut short: the next entry's offset promises room the file lacks.
    image = buildSourceArchive({rawEntry(1, {300, 300}, 600), rawEntry(2, {1}, 1)}, 0);
    image.bytes.resize(image.entryOffsets[0] + 4 + 100);
    {
        OpenArchive archive = openArchive(image.bytes);
        SourceEntryData data;
        std::string errors;
        EXPECT_FALSE(readEntry(archive, 0, &data, &errors));
        EXPECT_EQ(errors, "");
        EXPECT_EQ(readSourceEntryDataChecked(archive.file.get(), archive.table.entries.get(), 0,
                                             &data, false),
                  EntryReadResult::ShortData);
        EXPECT_FALSE(data.compressedBytes);
    }
    // The same with sizes adding up to over a mebibyte, where the file's
    // length is asked before any room is reserved.
    image = buildSourceArchive(
        {rawEntry(1, std::vector<int16_t>(40, 32767), 100), rawEntry(2, {1}, 1)}, 0);
    putLe32(image.bytes, tableRecordAt(1) + 4, 0x7FFFFFFF);
    {
        OpenArchive archive = openArchive(image.bytes);
        SourceEntryData data;
        EXPECT_EQ(readSourceEntryDataChecked(archive.file.get(), archive.table.entries.get(), 0,
                                             &data, false),
                  EntryReadResult::ShortData);
        EXPECT_FALSE(data.compressedBytes);
    }
}

TEST(SourceEntryData, EntriesMayBeReadAgainInAnyOrder) {
    const ArchiveImage image =
        buildSourceArchive({rawEntry(1, {2}, 2), rawEntry(2, {0, 3}, 3), rawEntry(3, {1}, 1)}, 0);
    OpenArchive archive = openArchive(image.bytes);
    for (int32_t i : {2, 0, 1, 1, 0}) {
        SourceEntryData data;
        std::string errors;
        ASSERT_TRUE(readEntry(archive, i, &data, &errors)) << i;
        EXPECT_EQ(data.blockCount, archive.table.entries[i].blockCount);
    }
}
