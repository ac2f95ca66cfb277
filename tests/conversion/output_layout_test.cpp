// The bytes of the output archive as a run builds it, with a test encoder
// library that delivers streams of fixed sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/archive_conversion.h"
#include "archive/byte_order.h"
#include "archive/output_archive.h"
#include "encoder/entry_encoding.h"
#include "platform/owned_file.h"
#include "tests/conversion/conversion_support.h"
#include "tests/fake_encoder/fake_encoder.h"
#include "worker/source_scan.h"

namespace {

class OutputLayout : public ::testing::Test {
protected:
    void SetUp() override {
        prepareFakeEncoderRun(FAKE_ENCODER_LIBRARY_PATH, folder.path);
        output = folder.path + "out.pac";
    }

    ConversionResult run(const std::vector<std::string>& names) {
        CapturedOutput labels(1);
        ConversionResult outcome =
            convertArchives(names, output, static_cast<uint32_t>(names.size()));
        stdoutText = labels.finish();
        return outcome;
    }

    TempFolder folder;
    std::string output;
    std::string stdoutText;
};

void expectStream(const std::vector<uint8_t>& file, size_t at, int32_t entry, uint32_t size) {
    ASSERT_LE(at + size, file.size());
    for (uint32_t i = 0; i < size; ++i) {
        if (file[at + i] != fakeEncoderStreamByte(entry, i)) {
            ADD_FAILURE() << "entry " << entry << " stream byte " << i << " at " << at + i;
            return;
        }
    }
}

uint32_t le32At(const std::vector<uint8_t>& file, size_t at) {
    return readLe32(&file[at]);
}
uint16_t le16At(const std::vector<uint8_t>& file, size_t at) {
    return readLe16(&file[at]);
}

bool validate(const std::string& path, OutputArchiveLayout* layout) {
    OwnedFile file = openFile(path.c_str(), "rb");
    return file && readOutputArchive(file.get(), layout);
}

TEST_F(OutputLayout, WorkedExampleByteForByte) {
    ASSERT_TRUE(writeSourceArchive(folder.path + "z007.vud", silentEntries(3, 10, 2000), 0));
    for (uint32_t size : {1000u, 1200u, 1010u}) fakeEncoderQueueStreamSize(size);
    int64_t convertedBefore = convertedEntryCount;

    ConversionResult outcome = run({"z007.vud"});

    ASSERT_EQ(outcome.blockSizes, std::vector<int32_t>{3240});
    EXPECT_TRUE(outcome.headerWritten);
    EXPECT_EQ(convertedEntryCount - convertedBefore, 3);
    std::vector<uint8_t> file = readFileBytes(output);
    ASSERT_EQ(file.size(), 3280u);
    EXPECT_EQ(std::memcmp(file.data(), "VUDMP3", 6), 0);
    EXPECT_EQ(le32At(file, 16), 1u);
    for (size_t i : {6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 20, 25, 31}) EXPECT_EQ(file[i], 0) << i;
    EXPECT_EQ(le32At(file, 32), 700003u);
    EXPECT_EQ(le32At(file, 36), 40u);
    const uint32_t sizes[3] = {1000, 1200, 1010};
    size_t streamAt = 64;
    for (int32_t k = 0; k < 3; ++k) {
        size_t record = 40 + 8 * static_cast<size_t>(k);
        EXPECT_EQ(le16At(file, record), 10 + k);
        EXPECT_EQ(le16At(file, record + 2), 0);
        EXPECT_EQ(le32At(file, record + 4), sizes[k]);
        expectStream(file, streamAt, k + 1, sizes[k]);
        streamAt += sizes[k];
    }
    EXPECT_EQ(streamAt, 3274u);
    for (size_t i = 3274; i < 3280; ++i) EXPECT_EQ(file[i], 0) << i;

    EXPECT_EQ(stdoutText, "z007.vud (  1/  3)\rz007.vud (  2/  3)\rz007.vud (  3/  3)\r");

    OutputArchiveLayout layout;
    ASSERT_TRUE(validate(output, &layout)) << layout.reason;
    ASSERT_EQ(layout.archiveCount, 1u);
    EXPECT_EQ(layout.blocks[0].fileNumber, 7);
    EXPECT_EQ(layout.blocks[0].entryCount, 3);
    EXPECT_EQ(layout.blocks[0].padding, 6);
    EXPECT_EQ(layout.blocks[0].entries[1].streamOffset, 1064);
    EXPECT_EQ(layout.blocks[0].entries[2].streamSize, 1010u);
}

TEST_F(OutputLayout, AlignedBlockHasNoPaddingAndSampleRateZeroMeans22050) {
    ASSERT_TRUE(writeSourceArchive(folder.path + "z007.vud", silentEntries(3, 0, 500), 0));
    for (uint32_t size : {1000u, 1200u, 1016u}) fakeEncoderQueueStreamSize(size);
    bitRateSelection = 11;

    ConversionResult outcome = run({"z007.vud"});

    ASSERT_EQ(outcome.blockSizes, std::vector<int32_t>{3240});
    EXPECT_EQ(readFileBytes(output).size(), 3280u);
    int32_t inputSettings = 0;
    for (int32_t i = 0; i < fakeEncoderCallCount(); ++i) {
        FakeCall call;
        ASSERT_EQ(fakeEncoderGetCall(i, &call), 0);
        if (call.kind != FakeSetConfigure) continue;
        if (call.item == MPGE_ITEM_INPUT) {
            ++inputSettings;
            EXPECT_EQ(call.input.sampleRate, 22050u);
        }
        if (call.item == MPGE_ITEM_BITRATE) {
            EXPECT_EQ(call.value, 128u);
        }
    }
    EXPECT_EQ(inputSettings, 3);
}

TEST_F(OutputLayout, TwoArchivesBackToBack) {
    ASSERT_TRUE(writeSourceArchive(folder.path + "z001.vud", silentEntries(2, 0, 100), 16000));
    ASSERT_TRUE(writeSourceArchive(folder.path + "z002.vud", silentEntries(1, 5, 100), 16000));
    for (uint32_t size : {100u, 101u, 7u}) fakeEncoderQueueStreamSize(size);

    ConversionResult outcome = run({"z001.vud", "z002.vud"});

    // 16 + 201 = 217 -> 224; 8 + 7 = 15 -> 16.
    ASSERT_EQ(outcome.blockSizes, (std::vector<int32_t>{224, 16}));
    std::vector<uint8_t> file = readFileBytes(output);
    ASSERT_EQ(file.size(), 48u + 224 + 16);
    EXPECT_EQ(le32At(file, 16), 2u);
    EXPECT_EQ(le32At(file, 32), 100002u);
    EXPECT_EQ(le32At(file, 36), 48u);
    EXPECT_EQ(le32At(file, 40), 200001u);
    EXPECT_EQ(le32At(file, 44), 48u + 224);
    expectStream(file, 48 + 224 + 8, 3, 7);
    OutputArchiveLayout layout;
    EXPECT_TRUE(validate(output, &layout)) << layout.reason;
}

TEST_F(OutputLayout, IdFFFFAndLargeBlockCountAreCarriedWithBlockCountZero) {
    std::vector<EncodedEntry> entries = silentEntries(1, 0xFFFF, 300 * 1024);
    ASSERT_EQ(entries[0].blockSizes.size(), 300u);
    ASSERT_TRUE(writeSourceArchive(folder.path + "z123.vud", entries, 22050));
    fakeEncoderQueueStreamSize(33);

    ConversionResult outcome = run({"z123.vud"});

    ASSERT_EQ(outcome.blockSizes, std::vector<int32_t>{48});
    std::vector<uint8_t> file = readFileBytes(output);
    EXPECT_EQ(le32At(file, 32), 12300001u);
    EXPECT_EQ(le16At(file, 40), 0xFFFF);
    EXPECT_EQ(le16At(file, 42), 0);
    EXPECT_EQ(le32At(file, 44), 33u);
    // 300 blocks of 1024 samples reached the encoder as 614400 PCM bytes.
    EXPECT_GE(fakeEncoderReceivedPcm(nullptr, 0), 614400u);
}

TEST_F(OutputLayout, HundredThousandEntriesReachIntoTheFileNumber) {
    ASSERT_TRUE(writeSourceArchive(folder.path + "z002.vud", silentEntries(100000, 0, 0), 22050));
    CapturedOutput errors(2);

    ConversionResult outcome = run({"z002.vud"});

    std::string errorText = errors.finish();
    EXPECT_EQ(errorText, "VUD files over (z002.vud)\n");
    ASSERT_EQ(outcome.blockSizes.size(), 1u);
    ASSERT_GE(outcome.blockSizes[0], 800000);
    ASSERT_EQ(outcome.index.size(), 1u);
    EXPECT_EQ(outcome.index[0].archiveKey, 300000u);
    EXPECT_EQ(outcome.index[0].blockOffset, 40u);
    OutputArchiveLayout layout;
    ASSERT_TRUE(validate(output, &layout)) << layout.reason;
    EXPECT_EQ(layout.blocks[0].fileNumber, 2);
    EXPECT_EQ(layout.blocks[0].entryCount, 100000);
    EXPECT_EQ(layout.blocks[0].entries[99999].id, 99999 & 0xFFFF);
}

TEST_F(OutputLayout, IndexFollowsTheScanOrder) {
    for (const char* name : {"z005.vud", "z001.vud", "z003.vud"}) {
        ASSERT_TRUE(writeSourceArchive(folder.path + name, silentEntries(1, 0, 10), 22050));
    }
    int32_t count = countSourceArchives(folder.path.c_str());
    ASSERT_EQ(count, 3);
    std::vector<std::string> scanned;
    std::string pattern = folder.path + "*.VUD";
    for (const char* name = findFirstSourceArchive(pattern.c_str()); name != nullptr;
         name = findNextSourceArchive()) {
        scanned.push_back(name);
    }
    ASSERT_EQ(scanned.size(), 3u);

    ConversionResult outcome = run(scanned);

    OutputArchiveLayout layout;
    ASSERT_TRUE(validate(output, &layout)) << layout.reason;
    for (size_t k = 0; k < 3; ++k) {
        int32_t number = parseSourceFileName(scanned[k].c_str());
        EXPECT_EQ(outcome.index[k].archiveKey, static_cast<uint32_t>(number) * 100000 + 1);
        EXPECT_EQ(layout.blocks[k].fileNumber, number);
    }
}

// The run's result, damaged one invariant at a time, must be refused.
TEST_F(OutputLayout, ValidatorRefusesEveryBrokenInvariant) {
    ASSERT_TRUE(writeSourceArchive(folder.path + "z007.vud", silentEntries(3, 10, 2000), 0));
    for (uint32_t size : {1000u, 1200u, 1010u}) fakeEncoderQueueStreamSize(size);
    run({"z007.vud"});
    const std::vector<uint8_t> good = readFileBytes(output);
    ASSERT_EQ(good.size(), 3280u);
    OutputArchiveLayout layout;
    ASSERT_TRUE(validate(output, &layout)) << layout.reason;

    struct Damage {
        const char* what;
        size_t at;  // byte to change, or SIZE_MAX to cut or grow
        int32_t lengthChange;
    };
    const Damage damages[] = {
        {"magic", 5, 0},
        {"reserved header byte", 9, 0},
        {"archive count", 16, 0},
        {"index key", 32, 0},
        {"index offset", 36, 0},
        {"entry block count", 42, 0},
        {"stream size", 45, 0},
        {"padding byte", 3277, 0},
        {"file cut", SIZE_MAX, -8},
        {"trailing bytes", SIZE_MAX, 8},
    };
    for (const Damage& damage : damages) {
        std::vector<uint8_t> bytes = good;
        if (damage.at != SIZE_MAX) {
            bytes[damage.at] ^= 0x01;
        } else {
            bytes.resize(bytes.size() + static_cast<size_t>(damage.lengthChange));
        }
        std::string path = folder.path + "damaged.pac";
        ASSERT_TRUE(writeBytesToFile(path, bytes));
        EXPECT_FALSE(validate(path, &layout)) << damage.what;
        EXPECT_NE(layout.reason[0], '\0') << damage.what;
    }
}

TEST(OutputWriters, HeaderIndexAndTableEncodeLittleEndian) {
    TempFolder folder;
    std::string path = folder.path + "w.bin";
    OwnedFile file = openFile(path.c_str(), "wb");
    ASSERT_TRUE(file);
    const MasterIndexEntry index[2] = {{0x01020304u, 0x0A0B0C0Du}, {1, 2}};
    const SourceEntry table[1] = {{0xBEEF, 0, 0x11223344u}};
    ASSERT_TRUE(writeOutputHeader(file.get(), 0x00C0FFEEu));
    ASSERT_TRUE(writeMasterIndex(file.get(), index, 2));
    ASSERT_TRUE(writeEntryTable(file.get(), table, 1));
    ASSERT_TRUE(writeZeroBytes(file.get(), 3));
    ASSERT_EQ(std::fclose(file.release()), 0);
    const std::vector<uint8_t> expected = {
        'V', 'U',  'D',  'M',  'P',  '3',  0,    0,    0,    0,    0,    0, 0, 0, 0,
        0,   0xEE, 0xFF, 0xC0, 0x00, 0,    0,    0,    0,    0,    0,    0, 0, 0, 0,
        0,   0,    0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A, 1,    0, 0, 0, 2,
        0,   0,    0,    0xEF, 0xBE, 0,    0,    0x44, 0x33, 0x22, 0x11, 0, 0, 0};
    EXPECT_EQ(readFileBytes(path), expected);
}

TEST(OutputWriters, WritesToAFullDeviceReportFailure) {
    OwnedFile full = openFile("/dev/full", "wb");
    ASSERT_TRUE(full);
    std::setvbuf(full.get(), nullptr, _IONBF, 0);
    const SourceEntry table[1] = {{1, 2, 3}};
    const MasterIndexEntry index[1] = {{1, 2}};
    EXPECT_FALSE(writeOutputHeader(full.get(), 1));
    EXPECT_FALSE(writeMasterIndex(full.get(), index, 1));
    EXPECT_FALSE(writeEntryTable(full.get(), table, 1));
    EXPECT_FALSE(writeZeroBytes(full.get(), 5));
    EXPECT_FALSE(writeOutputPlaceholders(full.get(), 3));
}

}  // namespace
