// Every way the conversion of one archive can fail: the result, the messages
// in their order, the counters, and that the source is closed afterwards.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_conversion.h"
#include "archive/output_archive.h"
#include "encoder/entry_encoding.h"
#include "platform/owned_file.h"
#include "platform/path_limits.h"
#include "tests/conversion/conversion_support.h"
#include "tests/fake_encoder/fake_encoder.h"
#include "worker/source_scan.h"

namespace {

class ConversionFailure : public ::testing::Test {
protected:
    void SetUp() override {
        prepareFakeEncoderRun(FAKE_ENCODER_LIBRARY_PATH, folder.path);
        outputPath = folder.path + "out.pac";
#if defined(_WIN32)
        // The first entry a process encodes makes handles that Wine keeps
        // for the rest of the process; one conversion before any count
        // leaves them out of the counts.
        static const bool primed = [this] {
            const bool written =
                writeSourceArchive(archive("z099.vud"), silentEntries(1, 0, 10), 0);
            const int32_t size = written ? convert("z099.vud") : 0;
            std::remove(archive("z099.vud").c_str());
            fakeEncoderReset();
            return size > 0;
        }();
        ASSERT_TRUE(primed);
#endif
    }

    // One convertSourceArchive call into a fresh output at offset 40, with
    // standard output and standard error captured and descriptors counted.
    int32_t convert(const std::string& name, std::FILE* output = nullptr) {
        index[0] = {0, 0};
        OwnedFile owned;
        if (output == nullptr) {
            owned = openFile(outputPath.c_str(), "wb");
            if (!owned) return -99;
            output = owned.get();
            writeOutputPlaceholders(output, 1);
        }
        int32_t descriptorsBefore = openDescriptorCount();
        int64_t convertedBefore = convertedEntryCount;
        CapturedOutput labels(1);
        CapturedOutput errors(2);
        int32_t result = convertSourceArchive(name.c_str(), output, 40, index, 0);
        errorText = errors.finish();
        labelText = labels.finish();
        converted = convertedEntryCount - convertedBefore;
        descriptorsLeft = openDescriptorCount() - descriptorsBefore;
        return result;
    }

    std::string archive(const char* name) const {
        return folder.path + name;
    }

    TempFolder folder;
    std::string outputPath;
    MasterIndexEntry index[1] = {};
    std::string errorText;
    std::string labelText;
    int64_t converted = 0;
    int32_t descriptorsLeft = 0;
};

TEST_F(ConversionFailure, NothingToConvertGivesZeroWithoutAMessage) {
    ASSERT_TRUE(writeSourceArchive(archive("readme.vud"), silentEntries(2, 0, 10), 0));
    EXPECT_EQ(convert("readme.vud"), 0);
    EXPECT_EQ(errorText, "");

    EXPECT_EQ(convert("z404.vud"), 0);  // no such file
    EXPECT_EQ(errorText, "");

    std::vector<uint8_t> bad = makeSourceHeader("VUDPAX", 1, 0);
    bad.resize(64, 0);
    ASSERT_TRUE(writeBytesToFile(archive("z001.vud"), bad));
    EXPECT_EQ(convert("z001.vud"), 0);
    EXPECT_EQ(errorText, "");
    EXPECT_EQ(descriptorsLeft, 0);

    for (int32_t count : {0, -1, INT32_MIN}) {
        std::vector<uint8_t> header = makeSourceHeader("VUDPAC", count, 0);
        ASSERT_TRUE(writeBytesToFile(archive("z002.vud"), header));
        EXPECT_EQ(convert("z002.vud"), 0) << count;
        EXPECT_EQ(errorText, "") << count;
        EXPECT_EQ(descriptorsLeft, 0) << count;
        EXPECT_EQ(index[0].archiveKey, 0u) << "no record for an archive that is passed over";
    }
    EXPECT_EQ(fakeEncoderEntryCount(), 0);
}

#if !defined(_WIN32)
// A name of the archive rule that is no regular file is neither read nor
// waited on: a pipe put in place of an archive after the count (opening it
// for reading would wait for a writer), a folder, a link to a device. Like a
// source that cannot be opened, each gives 0 without a message.
TEST_F(ConversionFailure, PipeFolderOrDeviceUnderAnArchiveNameIsNeverRead) {
    ASSERT_TRUE(writeSourceArchive(archive("z002.vud"), silentEntries(1, 0, 10), 0));
    ASSERT_EQ(countSourceArchives(folder.path.c_str()), 1);
    ASSERT_EQ(unlink(archive("z002.vud").c_str()), 0);
    ASSERT_EQ(mkfifo(archive("z002.vud").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(archive("z004.vud").c_str(), 0755), 0);
    ASSERT_EQ(symlink("/dev/zero", archive("z005.vud").c_str()), 0);

    for (const char* name : {"z002.vud", "z004.vud", "z005.vud"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(convert(name), 0);
        EXPECT_EQ(errorText, "");
        EXPECT_EQ(index[0].archiveKey, 0u);
        EXPECT_EQ(descriptorsLeft, 0);
    }
    EXPECT_EQ(fakeEncoderEntryCount(), 0);
}
#endif

TEST_F(ConversionFailure, TableThatCannotBeReadFailsWithCantConvert) {
    // 1000 records promised, the file ends after the header.
    ASSERT_TRUE(writeBytesToFile(archive("z003.vud"), makeSourceHeader("VUDPAC", 1000, 0)));
    EXPECT_EQ(convert("z003.vud"), 0);
    EXPECT_EQ(errorText, "can't convert\n");
    EXPECT_EQ(descriptorsLeft, 0);
    // The record is filled before the block is written and stays filled.
    EXPECT_EQ(index[0].archiveKey, 300000u + 1000u);
    EXPECT_EQ(index[0].blockOffset, 40u);
}

TEST_F(ConversionFailure, SecondHeaderReadFailsWithMinusOne) {
    std::vector<uint8_t> bad = makeSourceHeader("VUDPAC", 1, 0);
    bad[0] = 'X';
    ASSERT_TRUE(writeBytesToFile(archive("z004.vud"), bad));
    OwnedFile source = openFile(archive("z004.vud").c_str(), "rb");
    OwnedFile output = openFile(outputPath.c_str(), "wb");
    ASSERT_TRUE(source && output);
    EXPECT_EQ(writeArchiveBlock("z004.vud", source.get(), output.get(), 0, 32), -1);
    std::fflush(output.get());
    EXPECT_TRUE(readFileBytes(outputPath).empty());
}

TEST_F(ConversionFailure, SizeRuleReportsTheEntryThenCantConvert) {
    std::vector<EncodedEntry> entries = silentEntries(2, 40, 3000);
    ArchiveImage image = buildSourceArchive(entries, 0);
    // Entry 1's first block claims 5000 bytes its room does not have.
    putLe16(image.bytes, image.entryOffsets[1], 5000);
    ASSERT_TRUE(writeBytesToFile(archive("z005.vud"), image.bytes));

    EXPECT_EQ(convert("z005.vud"), 0);
    EXPECT_EQ(errorText, "invalid vud size (id:41)\ncan't convert\n");
    EXPECT_EQ(converted, 1);
    EXPECT_EQ(fakeEncoderEntryCount(), 1);
    EXPECT_EQ(descriptorsLeft, 0);
}

TEST_F(ConversionFailure, EncoderFailureAtThirdOfFiveWarnsAndStops) {
    ASSERT_TRUE(writeSourceArchive(archive("z006.vud"), silentEntries(5, 70, 2000), 0));
    fakeEncoderFailInitialize(3, 1);

    EXPECT_EQ(convert("z006.vud"), 0);

    EXPECT_EQ(converted, 2);
    EXPECT_EQ(fakeEncoderEntryCount(), 3) << "entries after the failing one are not tried";
    EXPECT_EQ(descriptorsLeft, 0);
    // No dialog serves this process, so the warning box text goes to standard
    // error, before the conversion's own message.
    size_t warning = errorText.find("cant encode/write mp3 (id:72)\n");
    size_t cantConvert = errorText.find("can't convert\n");
    ASSERT_NE(warning, std::string::npos) << errorText;
    ASSERT_NE(cantConvert, std::string::npos) << errorText;
    EXPECT_LT(warning, cantConvert);
    EXPECT_EQ(errorText.substr(errorText.size() - 14), "can't convert\n");
    EXPECT_EQ(labelText, "z006.vud (  1/  5)\rz006.vud (  2/  5)\r");
}

TEST_F(ConversionFailure, RefusedSettingAndValidationFailTheArchive) {
    ASSERT_TRUE(writeSourceArchive(archive("z008.vud"), silentEntries(2, 0, 10), 0));
    fakeEncoderFailSetting(MPGE_ITEM_BITRATE, 2, 5);
    EXPECT_EQ(convert("z008.vud"), 0);
    EXPECT_NE(errorText.find("cant encode/write mp3 (id:1)\n"), std::string::npos) << errorText;
    EXPECT_EQ(converted, 1);

    fakeEncoderReset();
    fakeEncoderFailDetect(1, 3);
    EXPECT_EQ(convert("z008.vud"), 0);
    EXPECT_NE(errorText.find("cant encode/write mp3 (id:0)\n"), std::string::npos) << errorText;
    EXPECT_EQ(converted, 0);
    EXPECT_EQ(descriptorsLeft, 0);
}

TEST_F(ConversionFailure, WriteFailureFailsTheArchive) {
    ASSERT_TRUE(writeSourceArchive(archive("z009.vud"), silentEntries(3, 0, 3000), 0));
    fakeEncoderSetFrameBytes(50);
    {
        OwnedFile full = openFile("/dev/full", "wb");
        ASSERT_TRUE(full);
        EXPECT_EQ(convert("z009.vud", full.get()), 0);
        EXPECT_NE(errorText.find("can't convert\n"), std::string::npos);
        EXPECT_EQ(descriptorsLeft, 0);
    }
    {
        // Unbuffered, so the placeholder table itself is the write that fails.
        OwnedFile full = openFile("/dev/full", "wb");
        ASSERT_TRUE(full);
        std::setvbuf(full.get(), nullptr, _IONBF, 0);
        int32_t entriesBefore = fakeEncoderEntryCount();
        EXPECT_EQ(convert("z009.vud", full.get()), 0);
        EXPECT_EQ(errorText, "can't convert\n");
        EXPECT_EQ(fakeEncoderEntryCount(), entriesBefore)
            << "nothing encoded after the table failed";
    }
}

TEST_F(ConversionFailure, BitRateRowOutsideTheTableFailsTheArchive) {
    ASSERT_TRUE(writeSourceArchive(archive("z010.vud"), silentEntries(1, 0, 10), 0));
    bitRateSelection = BitRateRowCount;
    EXPECT_EQ(convert("z010.vud"), 0);
    EXPECT_EQ(errorText, "can't convert\n");
    EXPECT_EQ(fakeEncoderEntryCount(), 0);
}

// Offsets are 32-bit fields positioned with signed 32-bit seeks: a block that
// would take the output to 2^31 bytes fails before any offset wraps.
TEST_F(ConversionFailure, BlockReachingTwoGigabytesFails) {
    ASSERT_TRUE(writeSourceArchive(archive("z011.vud"), silentEntries(1, 0, 10), 0));
    const int32_t nearLimit = static_cast<int32_t>(OutputArchiveLimit - 64);
    OwnedFile source = openFile(archive("z011.vud").c_str(), "rb");
    OwnedFile output = openFile(outputPath.c_str(), "wb");
    ASSERT_TRUE(source && output);

    // Table 8 + stream 49 = 57, padded to 64: the block would end at 2^31.
    fakeEncoderQueueStreamSize(49);
    {
        CapturedOutput labels(1);
        EXPECT_EQ(writeArchiveBlock("z011.vud", source.get(), output.get(), nearLimit, 32), -1);
    }

    // A table alone that reaches 2^31 fails before anything is written.
    std::vector<uint8_t> huge = makeSourceHeader("VUDPAC", 1 << 28, 0);
    ASSERT_TRUE(writeBytesToFile(archive("z012.vud"), huge));
    EXPECT_EQ(convert("z012.vud"), 0);
    EXPECT_EQ(errorText, "VUD files over (z012.vud)\ncan't convert\n");
    EXPECT_EQ(index[0].archiveKey, 1200000u + (1u << 28));
}

// Sparse file: the block ends 8 bytes below 2^31 and is written there.
TEST_F(ConversionFailure, BlockEndingJustBelowTwoGigabytesIsWritten) {
    ASSERT_TRUE(writeSourceArchive(archive("z013.vud"), silentEntries(1, 0, 10), 0));
    const int32_t nearLimit = static_cast<int32_t>(OutputArchiveLimit - 64);
    OwnedFile source = openFile(archive("z013.vud").c_str(), "rb");
    OwnedFile output = openFile(outputPath.c_str(), "wb");
    ASSERT_TRUE(source && output);
    ASSERT_EQ(fseeko(output.get(), nearLimit, SEEK_SET), 0);
    fakeEncoderQueueStreamSize(41);  // 8 + 41 = 49 -> 56
    int32_t size;
    {
        CapturedOutput labels(1);
        size = writeArchiveBlock("z013.vud", source.get(), output.get(), nearLimit, 32);
    }
    EXPECT_EQ(size, 56);
    ASSERT_EQ(std::fflush(output.get()), 0);
    struct stat status;
    ASSERT_EQ(stat(outputPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, OutputArchiveLimit - 8);
}

// The rate handed to the library with each entry's input setting, in order.
std::vector<uint32_t> inputRates() {
    std::vector<uint32_t> rates;
    for (int32_t i = 0; i < fakeEncoderCallCount(); ++i) {
        FakeCall call;
        if (fakeEncoderGetCall(i, &call) == 0 && call.kind == FakeSetConfigure &&
            call.item == MPGE_ITEM_INPUT) {
            rates.push_back(call.input.sampleRate);
        }
    }
    return rates;
}

// Every sample rate of the header reaches the library bit for bit; the
// library decides, and its refusal fails the entry by its id.
class SampleRateBits : public ConversionFailure, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(SampleRateBits, ReachTheLibraryUnchanged) {
    const uint32_t rate = GetParam();
    ASSERT_TRUE(writeSourceArchive(archive("z015.vud"), silentEntries(2, 30, 10), rate));
    EXPECT_GT(convert("z015.vud"), 0) << errorText;
    EXPECT_EQ(inputRates(), (std::vector<uint32_t>{rate, rate}));

    fakeEncoderReset();
    fakeEncoderFailSetting(MPGE_ITEM_INPUT, 2, 1);
    EXPECT_EQ(convert("z015.vud"), 0);
    EXPECT_NE(errorText.find("cant encode/write mp3 (id:31)\n"), std::string::npos) << errorText;
    EXPECT_EQ(inputRates(), (std::vector<uint32_t>{rate, rate}));
    EXPECT_EQ(converted, 1);
}

INSTANTIATE_TEST_SUITE_P(AnyValue, SampleRateBits,
                         ::testing::Values(1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu));

// A folder path of exactly `length` bytes (ending in '/') below base.
std::string makeFolderOfLength(const std::string& base, size_t length) {
    if (!makeFolder(base)) return {};
    std::string folder = base;
    while (length - folder.size() > 101) {
        folder += std::string(50, 'd') + "/";
        if (!makeFolder(folder)) return {};
    }
    folder += std::string(length - folder.size() - 1, 'e') + "/";
    if (!makeFolder(folder)) return {};
    return folder;
}

// The full path is the folder text followed by the name; one that does not
// fit the 260-byte buffer is refused, never cut to a shorter path.
TEST_F(ConversionFailure, FullPathThatDoesNotFitIsRefused) {
    const std::string name = "z014.vud";
    std::string fits = makeFolderOfLength(folder.path + "a/", PathCapacity - 1 - name.size());
    ASSERT_FALSE(fits.empty());
    ASSERT_TRUE(writeSourceArchive(fits + name, silentEntries(1, 0, 10), 0));
    setSourceFolder(fits);
    EXPECT_GT(convert(name), 0);

    std::string tooLong = makeFolderOfLength(folder.path + "b/", PathCapacity - name.size());
    ASSERT_FALSE(tooLong.empty());
    ASSERT_TRUE(writeSourceArchive(tooLong + name, silentEntries(1, 0, 10), 0));
    // What a cut path would name: the same text without its last byte.
    ASSERT_TRUE(writeSourceArchive(tooLong + "z014.vu", silentEntries(1, 0, 10), 0));
    setSourceFolder(tooLong);
    EXPECT_EQ(convert(name), 0);
    EXPECT_EQ(index[0].archiveKey, 0u);
    EXPECT_EQ(fakeEncoderEntryCount(), 1);
}

}  // namespace
