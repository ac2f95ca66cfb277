// The bundled sample archives (plus one generated archive at another sample
// rate) converted archive by archive through the real stand-in encoder
// library: the output must satisfy every invariant of the format, every
// stream must decode, and each decoded entry must last as long as its source.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/block_decoder.h"
#include "archive/output_archive.h"
#include "archive/source_archive.h"
#include "encoder/entry_encoding.h"
#include "platform/owned_file.h"
#include "tests/conversion/conversion_support.h"
#include "tools/vudinfo/output_archive_info.h"
#include "worker/source_scan.h"

namespace {

constexpr int32_t OutputRate = 22050;
constexpr int32_t SamplesPerFrame = 576;  // MPEG-2 layer III

std::string environmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

struct SourcePcm {
    uint16_t id = 0;
    uint32_t sampleRate = 0;
    std::vector<int16_t> samples;
};

std::vector<SourcePcm> decodeSource(const std::string& path) {
    std::vector<SourcePcm> result;
    OwnedFile file = openFile(path.c_str(), "rb");
    int32_t count = 0;
    uint32_t rate = 0;
    if (!file || readSourceHeader(file.get(), &count, &rate) < 0 || count < 1) return result;
    SourceEntryTable table = readSourceEntryTable(file.get(), count);
    if (!table.entries) return result;
    for (int32_t i = 0; i < count; ++i) {
        SourceEntryData data;
        DecodedEntry decoded;
        if (!readSourceEntryData(file.get(), table.entries.get(), i, &data) ||
            !decodeSourceEntry(data, &decoded)) {
            return {};
        }
        SourcePcm entry;
        entry.id = table.entries[i].id;
        entry.sampleRate = rate == 0 ? 22050 : rate;
        entry.samples.assign(decoded.samples.get(), decoded.samples.get() + decoded.sampleCount);
        result.push_back(std::move(entry));
    }
    return result;
}

struct DecodedStream {
    bool ok = false;
    long rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;
};

DecodedStream decodeMp3(const std::string& path) {
    DecodedStream out;
    static const int initialised = mpg123_init();
    if (initialised != MPG123_OK) return out;
    int error = MPG123_OK;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    if (handle == nullptr) return out;
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(handle);
    mpg123_format(handle, OutputRate, MPG123_MONO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(handle, path.c_str()) == MPG123_OK) {
        int encoding = 0;
        mpg123_getformat(handle, &out.rate, &out.channels, &encoding);
        unsigned char buffer[16384];
        size_t done = 0;
        int status;
        while ((status = mpg123_read(handle, buffer, sizeof(buffer), &done)) == MPG123_OK ||
               status == MPG123_NEW_FORMAT) {
            const int16_t* pcm = reinterpret_cast<const int16_t*>(buffer);
            out.samples.insert(out.samples.end(), pcm, pcm + done / 2);
        }
        const int16_t* pcm = reinterpret_cast<const int16_t*>(buffer);
        out.samples.insert(out.samples.end(), pcm, pcm + done / 2);
        out.ok = status == MPG123_DONE;
        mpg123_close(handle);
    }
    mpg123_delete(handle);
    return out;
}

double rms(const std::vector<int16_t>& samples) {
    if (samples.empty()) return 0.0;
    double sum = 0.0;
    for (int16_t s : samples) sum += static_cast<double>(s) * s;
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

// A second of a 440 Hz tone at 16000 Hz, and an entry without any block.
bool writeToneArchive(const std::string& path) {
    std::vector<int16_t> tone(16000);
    for (size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 440.0 * i / 16000.0));
    }
    std::vector<EncodedEntry> entries;
    entries.push_back(encodeVoiceEntry(500, tone.data(), tone.size(), WriterOptions{}));
    entries.push_back(encodeVoiceEntry(501, nullptr, 0, WriterOptions{}));
    return writeSourceArchive(path, entries, 16000);
}

// Every stream of the archive at outputPath, converted at kbps from the
// source archives names (in folder, in archive order): well-formed frames at that
// rate, all of the source's audio, and decoded by libmpg123 to the source's
// loudness.
void checkStreamsDecode(const std::string& outputPath, const std::string& folder,
                        const std::vector<std::string>& names, int32_t kbps) {
    OutputArchiveLayout layout;
    {
        OwnedFile output = openFile(outputPath.c_str(), "rb");
        ASSERT_TRUE(output);
        ASSERT_TRUE(readOutputArchive(output.get(), &layout)) << layout.reason;
    }
    ASSERT_EQ(layout.archiveCount, static_cast<uint32_t>(names.size()));
    const std::vector<uint8_t> file = readFileBytes(outputPath);

    for (uint32_t k = 0; k < layout.archiveCount; ++k) {
        const OutputArchiveBlock& block = layout.blocks[k];
        EXPECT_EQ(block.fileNumber, parseSourceFileName(names[k].c_str()));
        std::vector<SourcePcm> source = decodeSource(folder + names[k]);
        ASSERT_EQ(static_cast<int32_t>(source.size()), block.entryCount) << names[k];
        for (int32_t i = 0; i < block.entryCount; ++i) {
            const OutputStreamExtent& entry = block.entries[i];
            const SourcePcm& pcm = source[static_cast<size_t>(i)];
            SCOPED_TRACE(names[k] + " id " + std::to_string(entry.id));
            EXPECT_EQ(entry.id, pcm.id);
            const uint8_t* stream = file.data() + entry.streamOffset;

            Mp3StreamSummary summary;
            ASSERT_TRUE(checkMp3Stream(stream, entry.streamSize, &summary))
                << "bad frame at " << summary.badOffset;
            for (uint64_t at = 0; at < entry.streamSize;) {
                Mp3FrameHeader frame;
                ASSERT_TRUE(parseMp3FrameHeader(stream + at, &frame));
                EXPECT_EQ(frame.bitRateKbps, kbps);
                EXPECT_EQ(frame.sampleRate, OutputRate);
                EXPECT_EQ(frame.channels, 1);
                at += static_cast<uint64_t>(frame.frameLength);
            }

            // All of the source's audio is in the stream, plus at most the
            // encoder's delay (with its resampler's, from other rates) and the
            // last frame's padding: four frames, 104 ms.
            double expected = static_cast<double>(pcm.samples.size()) * OutputRate / pcm.sampleRate;
            EXPECT_GE(static_cast<double>(summary.sampleCount), expected);
            EXPECT_LE(static_cast<double>(summary.sampleCount), expected + 4 * SamplesPerFrame);
            if (pcm.samples.empty()) continue;

            std::string mp3 = outputPath + ".entry.mp3";
            ASSERT_TRUE(
                writeBytesToFile(mp3, std::vector<uint8_t>(stream, stream + entry.streamSize)));
            DecodedStream decoded = decodeMp3(mp3);
            ASSERT_TRUE(decoded.ok);
            EXPECT_EQ(decoded.rate, OutputRate);
            EXPECT_EQ(decoded.channels, 1);
            EXPECT_EQ(static_cast<int64_t>(decoded.samples.size()), summary.sampleCount);
            // Loudness survives the round trip (not silence, not noise).
            double ratio = rms(decoded.samples) / rms(pcm.samples);
            EXPECT_GT(ratio, 0.8);
            EXPECT_LT(ratio, 1.2);
        }
    }
}

class ConversionEndToEnd : public ::testing::TestWithParam<int32_t> {};

TEST_P(ConversionEndToEnd, SamplesBecomeAValidArchiveOfPlayableStreams) {
    const int32_t row = GetParam();
    const std::string sourceDir = environmentPath("VUD_SOURCE_DIR");
    const std::string buildDir = environmentPath("VUD_BUILD_DIR");
    ASSERT_FALSE(sourceDir.empty() || buildDir.empty());
    prepareEncoder((buildDir + "/GOGO.DLL").c_str());
    bitRateSelection = row;
    const int32_t kbps = BitRateTable[row].kbps;

    TempFolder folder;
    int32_t samples = 0;
    for (const auto& item : std::filesystem::directory_iterator(sourceDir + "/samples/voice")) {
        if (parseSourceFileName(item.path().filename().c_str()) < 0) continue;
        std::filesystem::copy_file(item.path(), folder.path + item.path().filename().string());
        ++samples;
    }
    ASSERT_GE(samples, 2) << "samples/voice/ holds the bundled archives";
    ASSERT_TRUE(writeToneArchive(folder.path + "z010.vud"));
    setSourceFolder(folder.path);

    int32_t archiveCount = countSourceArchives(folder.path.c_str());
    ASSERT_EQ(archiveCount, samples + 1);
    std::vector<std::string> names;
    std::string pattern = folder.path + "*.VUD";
    for (const char* name = findFirstSourceArchive(pattern.c_str()); name != nullptr;
         name = findNextSourceArchive()) {
        names.push_back(name);
    }
    ASSERT_EQ(names.size(), static_cast<size_t>(archiveCount));
    std::string outputPath = folder.path + "vud.pac";
    ConversionResult outcome;
    {
        CapturedOutput labels(1);
        outcome = convertArchives(names, outputPath, static_cast<uint32_t>(archiveCount));
    }
    ASSERT_TRUE(outcome.headerWritten);
    ASSERT_EQ(outcome.blockSizes.size(), names.size());
    for (int32_t size : outcome.blockSizes) EXPECT_GT(size, 0);

    checkStreamsDecode(outputPath, folder.path, names, kbps);
    // vudinfo, built beside the test, agrees.
    std::string vudinfo = buildDir + "/vudinfo";
    if (std::filesystem::exists(vudinfo)) {
        std::string command = vudinfo + " --verify '" + outputPath + "' > /dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}

// An archive made elsewhere from samples/voice/ at 32 kbit/s (the Windows
// build's, under Wine): VUD_ARCHIVE_TO_DECODE names it.
TEST(ConversionEndToEndOutside, SamplesArchiveStreamsDecode) {
    const char* archive = std::getenv("VUD_ARCHIVE_TO_DECODE");
    if (archive == nullptr || archive[0] == '\0') GTEST_SKIP() << "VUD_ARCHIVE_TO_DECODE not set";
    const std::string folder = environmentPath("VUD_SOURCE_DIR") + "/samples/voice/";
    buildDecodeTables();
    std::vector<std::string> names;
    for (const char* name : {"z001.vud", "z002.vud", "z003.vud"}) names.push_back(name);
    checkStreamsDecode(archive, folder, names, 32);
}

INSTANTIATE_TEST_SUITE_P(BitRates, ConversionEndToEnd, ::testing::Values(0, 3, 13),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return std::to_string(BitRateTable[info.param].kbps) + "kbps";
                         });

}  // namespace
