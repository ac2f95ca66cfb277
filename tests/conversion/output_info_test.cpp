// vudinfo's view of output archives: the MPEG audio frame-header parser, the
// whole-frames check of a stream, and listing, verifying and extracting.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <string>
#include <vector>

#include "archive/output_archive.h"
#include "platform/owned_file.h"
#include "tests/conversion/conversion_support.h"
#include "tools/vudinfo/output_archive_info.h"

namespace {

// MPEG-2 layer III, 32 kbit/s, 22050 Hz, mono, no CRC: 104 bytes (105 padded).
const uint8_t Mpeg2Mono32[4] = {0xFF, 0xF3, 0x40, 0xC0};

std::vector<uint8_t> frames(const uint8_t header[4], int32_t count, bool padded = false) {
    std::vector<uint8_t> bytes;
    for (int32_t i = 0; i < count; ++i) {
        Mp3FrameHeader parsed;
        uint8_t h[4] = {header[0], header[1], static_cast<uint8_t>(header[2] | (padded ? 2 : 0)),
                        header[3]};
        if (!parseMp3FrameHeader(h, &parsed)) return {};
        size_t at = bytes.size();
        bytes.resize(at + static_cast<size_t>(parsed.frameLength), 0x55);
        std::copy(h, h + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return bytes;
}

TEST(Mp3FrameHeader, VersionsRatesAndFrameLengths) {
    Mp3FrameHeader h;
    ASSERT_TRUE(parseMp3FrameHeader(Mpeg2Mono32, &h));
    EXPECT_EQ(h.version, 20);
    EXPECT_EQ(h.bitRateKbps, 32);
    EXPECT_EQ(h.sampleRate, 22050);
    EXPECT_EQ(h.channels, 1);
    EXPECT_EQ(h.samplesPerFrame, 576);
    EXPECT_EQ(h.frameLength, 104);  // 72000 * 32 / 22050 = 104.4
    EXPECT_FALSE(h.crcProtected);

    const uint8_t padded[4] = {0xFF, 0xF3, 0x42, 0xC0};
    ASSERT_TRUE(parseMp3FrameHeader(padded, &h));
    EXPECT_EQ(h.frameLength, 105);

    const uint8_t mpeg1Stereo128[4] = {0xFF, 0xFB, 0x90, 0x00};
    ASSERT_TRUE(parseMp3FrameHeader(mpeg1Stereo128, &h));
    EXPECT_EQ(h.version, 10);
    EXPECT_EQ(h.bitRateKbps, 128);
    EXPECT_EQ(h.sampleRate, 44100);
    EXPECT_EQ(h.channels, 2);
    EXPECT_EQ(h.samplesPerFrame, 1152);
    EXPECT_EQ(h.frameLength, 417);

    const uint8_t mpeg25Rate8000[4] = {0xFF, 0xE2, 0x18, 0xC0};  // with CRC
    ASSERT_TRUE(parseMp3FrameHeader(mpeg25Rate8000, &h));
    EXPECT_EQ(h.version, 25);
    EXPECT_EQ(h.bitRateKbps, 8);
    EXPECT_EQ(h.sampleRate, 8000);
    EXPECT_EQ(h.frameLength, 72);
    EXPECT_TRUE(h.crcProtected);

    const uint8_t mpeg2Rate160[4] = {0xFF, 0xF3, 0xE4, 0xC0};  // index 14, 24000 Hz
    ASSERT_TRUE(parseMp3FrameHeader(mpeg2Rate160, &h));
    EXPECT_EQ(h.bitRateKbps, 160);
    EXPECT_EQ(h.sampleRate, 24000);
    EXPECT_EQ(h.frameLength, 480);
}

TEST(Mp3FrameHeader, RefusesWhatIsNoLayerThreeFrame) {
    const uint8_t refused[][4] = {
        {0x7F, 0xF3, 0x40, 0xC0},  // no sync
        {0xFF, 0xEB, 0x40, 0xC0},  // reserved version
        {0xFF, 0xF5, 0x40, 0xC0},  // layer II
        {0xFF, 0xF7, 0x40, 0xC0},  // layer I
        {0xFF, 0xF1, 0x40, 0xC0},  // reserved layer
        {0xFF, 0xF3, 0x00, 0xC0},  // free format
        {0xFF, 0xF3, 0xF0, 0xC0},  // bit-rate index 15
        {0xFF, 0xF3, 0x4C, 0xC0},  // sample-rate index 3
        {0xFF, 0xF3, 0x40, 0xC2},  // reserved emphasis
    };
    Mp3FrameHeader h;
    for (size_t i = 0; i < sizeof(refused) / sizeof(refused[0]); ++i) {
        EXPECT_FALSE(parseMp3FrameHeader(refused[i], &h)) << "row " << i;
    }
    const uint8_t syncOnly11Bits[4] = {0xFF, 0xC3, 0x40, 0xC0};  // eleventh bit clear
    EXPECT_FALSE(parseMp3FrameHeader(syncOnly11Bits, &h));
}

TEST(Mp3Stream, WholeFramesOnly) {
    Mp3StreamSummary summary;
    EXPECT_TRUE(checkMp3Stream(nullptr, 0, &summary));
    EXPECT_EQ(summary.frameCount, 0);

    std::vector<uint8_t> stream = frames(Mpeg2Mono32, 3);
    std::vector<uint8_t> paddedFrame = frames(Mpeg2Mono32, 1, true);
    stream.insert(stream.end(), paddedFrame.begin(), paddedFrame.end());
    ASSERT_EQ(stream.size(), 3u * 104 + 105);
    ASSERT_TRUE(checkMp3Stream(stream.data(), stream.size(), &summary));
    EXPECT_EQ(summary.frameCount, 4);
    EXPECT_EQ(summary.sampleCount, 4 * 576);
    EXPECT_EQ(summary.sampleRate, 22050);

    EXPECT_FALSE(checkMp3Stream(stream.data(), stream.size() - 1, &summary));
    EXPECT_EQ(summary.badOffset, 312);
    EXPECT_EQ(summary.frameCount, 3);

    std::vector<uint8_t> trailing = stream;
    trailing.push_back(0);
    EXPECT_FALSE(checkMp3Stream(trailing.data(), trailing.size(), &summary));
    EXPECT_EQ(summary.badOffset, static_cast<int64_t>(stream.size()));

    std::vector<uint8_t> mixed = stream;
    const uint8_t otherRate[4] = {0xFF, 0xF3, 0x44, 0xC0};  // 24000 Hz
    std::vector<uint8_t> other = frames(otherRate, 1);
    mixed.insert(mixed.end(), other.begin(), other.end());
    EXPECT_FALSE(checkMp3Stream(mixed.data(), mixed.size(), &summary));
}

// An archive of one block, file number 7, entries 3 (two frames) and 9 (empty).
std::string writeSmallArchive(const std::string& folder, bool validStreams) {
    std::string path = folder + "small.pac";
    OwnedFile file = openFile(path.c_str(), "wb");
    std::vector<uint8_t> first = frames(Mpeg2Mono32, 2);
    if (!validStreams) first[104] = 0;
    const MasterIndexEntry index[1] = {{700002, 40}};
    const SourceEntry table[2] = {{3, 0, static_cast<uint32_t>(first.size())}, {9, 0, 0}};
    bool ok = writeOutputHeader(file.get(), 1) && writeMasterIndex(file.get(), index, 1) &&
              writeEntryTable(file.get(), table, 2) &&
              std::fwrite(first.data(), 1, first.size(), file.get()) == first.size() &&
              writeZeroBytes(file.get(), blockPaddingFor(16 + 208)) &&
              std::fclose(file.release()) == 0;
    return ok ? path : std::string();
}

TEST(OutputArchiveInfo, ListsVerifiesAndExtracts) {
    TempFolder folder;
    std::string path = writeSmallArchive(folder.path, true);
    ASSERT_FALSE(path.empty());

    CapturedOutput listing(1);
    EXPECT_EQ(describeOutputArchive(path.c_str(), false, nullptr), 0);
    std::string text = listing.finish();
    EXPECT_NE(text.find("archive 0: key 700002, file number 7, 2 entries, offset 40, size 224"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("id 3: 208 bytes"), std::string::npos) << text;
    EXPECT_NE(text.find("id 9: 0 bytes"), std::string::npos) << text;

    std::string extractTo = folder.path + "streams";
    CapturedOutput verifyListing(1);
    EXPECT_EQ(describeOutputArchive(path.c_str(), true, extractTo.c_str()), 0);
    text = verifyListing.finish();
    EXPECT_NE(text.find("verify: ok"), std::string::npos) << text;
    EXPECT_EQ(readFileBytes(extractTo + "/z007_0003.mp3"), frames(Mpeg2Mono32, 2));
    EXPECT_TRUE(readFileBytes(extractTo + "/z007_0009.mp3").empty());
}

#if !defined(_WIN32)
// A symbolic link already standing under a stream's name is not followed:
// the extraction fails naming it, the file it points at is untouched.
TEST(OutputArchiveInfo, ExtractionNeverWritesThroughALinkInTheFolder) {
    TempFolder folder;
    std::string path = writeSmallArchive(folder.path, true);
    ASSERT_FALSE(path.empty());
    std::string extractTo = folder.path + "streams";
    std::string victim = folder.path + "victim";
    ASSERT_EQ(mkdir(extractTo.c_str(), 0755), 0);
    ASSERT_TRUE(writeBytesToFile(victim, {'k', 'e', 'e', 'p'}));
    ASSERT_EQ(symlink(victim.c_str(), (extractTo + "/z007_0003.mp3").c_str()), 0);

    CapturedOutput listing(1);
    CapturedOutput errors(2);
    EXPECT_EQ(describeOutputArchive(path.c_str(), false, extractTo.c_str()), 1);
    listing.finish();
    std::string errorText = errors.finish();
    EXPECT_NE(errorText.find("z007_0003.mp3: is a symbolic link"), std::string::npos) << errorText;
    EXPECT_EQ(readFileBytes(victim), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    struct stat status {};
    ASSERT_EQ(lstat((extractTo + "/z007_0003.mp3").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
}
#endif

TEST(OutputArchiveInfo, VerifyFailsOnABrokenStreamAndOnABrokenLayout) {
    TempFolder folder;
    std::string path = writeSmallArchive(folder.path, false);
    ASSERT_FALSE(path.empty());
    {
        CapturedOutput out(1);
        CapturedOutput errors(2);
        EXPECT_EQ(describeOutputArchive(path.c_str(), false, nullptr), 0) << "layout is fine";
        EXPECT_EQ(describeOutputArchive(path.c_str(), true, nullptr), 1);
        std::string errorText = errors.finish();
        EXPECT_NE(errorText.find("id 3"), std::string::npos) << errorText;
        EXPECT_NE(errorText.find("stream byte 104"), std::string::npos) << errorText;
    }
    std::vector<uint8_t> bytes = readFileBytes(path);
    bytes.push_back(0);
    ASSERT_TRUE(writeBytesToFile(path, bytes));
    CapturedOutput errors(2);
    EXPECT_EQ(describeOutputArchive(path.c_str(), false, nullptr), 1);
    EXPECT_NE(errors.finish().find("not a valid output archive"), std::string::npos);
}

}  // namespace
