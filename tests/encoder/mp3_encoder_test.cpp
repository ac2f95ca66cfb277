// The stand-in encoder library GOGO.DLL, found beside the test program and
// driven through encodeEntry; its output is checked frame by frame and
// decoded with libmpg123.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "encoder/encoder_library.h"
#include "encoder/entry_encoding.h"
#include "platform/owned_file.h"
#include "tests/encoder/mp3_check.h"
#include "tools/sample_speech/speech_pcm.h"

#if defined(__SANITIZE_ADDRESS__)
#define VUD_LEAKS_VISIBLE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VUD_LEAKS_VISIBLE 1
#endif
#endif
#ifdef VUD_LEAKS_VISIBLE
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// LAME's encoder delay (576) plus the layer III decoder's delay (529).
constexpr int32_t CodecDelay = 1105;
constexpr int32_t FrameSamples = 576;  // MPEG-2 layer III

// Lowest signal-to-noise ratio (dB) accepted for the speech at each row of
// BitRateTable, measured with this encoder (7.8 dB at 8 kbit/s rising to 25.7 dB at
// 160 kbit/s) and set 2 to 4 dB below.
constexpr double MinimumSnrDb[BitRateRowCount] = {5,  11, 12, 14, 15, 16, 18,
                                                  19, 20, 21, 22, 22, 22, 22};

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::vector<uint8_t> encodeToBytes(const std::vector<int16_t>& pcm, int32_t sampleRate,
                                   int32_t bitRate, int32_t* result) {
    OwnedFile stream(std::tmpfile());
    *result = -2;
    if (!stream) return {};
    *result = encodeEntry("speech", stream.get(), sampleRate, pcm.data(),
                          static_cast<uint32_t>(pcm.size() * 2), bitRate);
    long end = std::ftell(stream.get());
    std::vector<uint8_t> bytes(end > 0 ? static_cast<size_t>(end) : 0);
    std::rewind(stream.get());
    if (std::fread(bytes.data(), 1, bytes.size(), stream.get()) != bytes.size()) bytes.clear();
    return bytes;
}

void expectFrames(const std::vector<uint8_t>& bytes, int32_t bitRate, size_t* frameCount) {
    std::vector<Mp3Frame> frames;
    std::string reason;
    ASSERT_TRUE(walkMp3Frames(bytes, &frames, &reason)) << reason;
    ASSERT_FALSE(frames.empty());
    for (size_t i = 0; i < frames.size(); ++i) {
        const Mp3Frame& frame = frames[i];
        ASSERT_EQ(frame.versionBits, 2) << "frame " << i << " is not MPEG-2";
        ASSERT_EQ(frame.layer, 3) << i;
        ASSERT_EQ(frame.bitRate, bitRate) << i;
        ASSERT_EQ(frame.sampleRate, 22050) << i;
        ASSERT_EQ(frame.channelMode, 3) << "frame " << i << " is not mono";
    }
    // No VBR/info tag in the first frame (it sits after the side information).
    std::string first(bytes.begin(), bytes.begin() + frames[0].size);
    EXPECT_EQ(first.find("Xing"), std::string::npos);
    EXPECT_EQ(first.find("Info"), std::string::npos);
    *frameCount = frames.size();
}

class StandInEncoderTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        speech = new SpeechPcm(loadSampleSpeech(environment("VUD_SOURCE_DIR")));
    }
    static void TearDownTestSuite() {
        delete speech;
        speech = nullptr;
    }
    void SetUp() override {
        ASSERT_FALSE(speech->samples.empty()) << "samples/voice/z001.vud not readable";
        ASSERT_EQ(speech->sampleRate, 22050u);
        ASSERT_GT(loadEncoderLibrary(), 0);
    }
    void TearDown() override { unloadEncoderLibrary(); }

    static SpeechPcm* speech;
};

SpeechPcm* StandInEncoderTest::speech = nullptr;

TEST_F(StandInEncoderTest, IsFoundBesideTheProgramAndExportsTheTenNames) {
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(encoderLibrary.initializeWork), &info), 0);
    char loaded[PATH_MAX];
    char expected[PATH_MAX];
    ASSERT_NE(realpath(info.dli_fname, loaded), nullptr);
    ASSERT_NE(realpath((environment("VUD_BUILD_DIR") + "/GOGO.DLL").c_str(), expected), nullptr);
    EXPECT_STREQ(loaded, expected);
    EXPECT_EQ(encoderLibrary.versionNumber, 100);
    EXPECT_NE(std::strstr(encoderVersionText(), "stand-in"), nullptr) << encoderVersionText();
    EXPECT_NE(std::strstr(encoderVersionText(), "LAME 3."), nullptr) << encoderVersionText();

    std::string command = std::string("nm -D --defined-only '") + expected + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char type = 0;
        char name[256] = "";
        if (std::sscanf(line, "%*s %c %255s", &type, name) == 2) names.push_back(name);
    }
    EXPECT_EQ(pclose(pipe), 0);
    std::vector<std::string> expectedNames;
    for (const EncoderEntryPoint& row : EncoderEntryPoints) expectedNames.push_back(row.name);
    std::sort(names.begin(), names.end());
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(names, expectedNames);
}

TEST_F(StandInEncoderTest, EncodesSpeechAtEveryBitRateAsPlayableMono22050) {
    const std::vector<int16_t>& input = speech->samples;
    const int32_t inputCount = static_cast<int32_t>(input.size());
    for (int32_t row = 0; row < BitRateRowCount; ++row) {
        int32_t bitRate = BitRateTable[row].kbps;
        SCOPED_TRACE(BitRateTable[row].text);
        int32_t written = 0;
        std::vector<uint8_t> bytes = encodeToBytes(input, 22050, bitRate, &written);
        ASSERT_EQ(written, static_cast<int32_t>(bytes.size()));
        size_t frameCount = 0;
        expectFrames(bytes, bitRate, &frameCount);

        DecodedMp3 decoded = decodeMp3(bytes);
        ASSERT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.rate, 22050);
        EXPECT_EQ(decoded.channels, 1);
        EXPECT_EQ(decoded.encoding, MPG123_ENC_SIGNED_16);
        int32_t decodedCount = static_cast<int32_t>(decoded.samples.size());
        EXPECT_EQ(static_cast<size_t>(decodedCount), frameCount * FrameSamples);
        // The stream holds the input after the codec delay, then at most the
        // silence of the last request and the encoder's padding to whole frames.
        EXPECT_GE(decodedCount - inputCount, CodecDelay);
        EXPECT_LE(decodedCount - inputCount, CodecDelay + 3 * FrameSamples);

        int32_t lag = bestLag(input, decoded.samples, 22050, 11025, 2400);
        EXPECT_NEAR(lag, CodecDelay, 2);
        double snr = snrDb(input, decoded.samples, lag);
        std::printf("%9s: %7d bytes, %4zu frames, lag %d, SNR %.1f dB\n", BitRateTable[row].text,
                    written, frameCount, lag, snr);
        EXPECT_GE(snr, MinimumSnrDb[row]);
    }
}

TEST_F(StandInEncoderTest, MisalignedOrForeignAudioFailsTheSimilarityCheck) {
    // The measure must tell a right stream from a wrong one: the same stream
    // one frame out of step, and a stream of different speech, both fail.
    const std::vector<int16_t>& input = speech->samples;
    int32_t written = 0;
    std::vector<uint8_t> bytes = encodeToBytes(input, 22050, 160, &written);
    DecodedMp3 decoded = decodeMp3(bytes);
    ASSERT_TRUE(decoded.ok);
    EXPECT_LT(snrDb(input, decoded.samples, CodecDelay + FrameSamples), MinimumSnrDb[0]);
    std::vector<int16_t> other(input.begin() + 30000, input.end());
    EXPECT_LT(snrDb(other, decoded.samples, CodecDelay), MinimumSnrDb[0]);
}

TEST_F(StandInEncoderTest, ResamplesOtherInputRatesTo22050) {
    const std::vector<int16_t>& speech22k = speech->samples;
    std::vector<int16_t> speech11k, speech44k;
    for (size_t i = 0; i + 1 < speech22k.size(); i += 2) {
        speech11k.push_back(static_cast<int16_t>((speech22k[i] + speech22k[i + 1]) / 2));
    }
    for (size_t i = 0; i + 1 < speech22k.size(); ++i) {
        speech44k.push_back(speech22k[i]);
        speech44k.push_back(static_cast<int16_t>((speech22k[i] + speech22k[i + 1]) / 2));
    }
    struct Case {
        int32_t rate;
        const std::vector<int16_t>* pcm;
    };
    for (const Case& c : {Case{11025, &speech11k}, Case{44100, &speech44k}}) {
        SCOPED_TRACE(c.rate);
        int32_t written = 0;
        std::vector<uint8_t> bytes = encodeToBytes(*c.pcm, c.rate, 32, &written);
        ASSERT_GT(written, 0);
        size_t frameCount = 0;
        expectFrames(bytes, 32, &frameCount);
        DecodedMp3 decoded = decodeMp3(bytes);
        ASSERT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.rate, 22050);
        int32_t expectedCount =
            static_cast<int32_t>(static_cast<int64_t>(c.pcm->size()) * 22050 / c.rate);
        int32_t decodedCount = static_cast<int32_t>(decoded.samples.size());
        EXPECT_GE(decodedCount - expectedCount, CodecDelay - 64);
        EXPECT_LE(decodedCount - expectedCount, CodecDelay + 3 * FrameSamples);
        int32_t lag = bestLag(speech22k, decoded.samples, 22050, 11025, 2400);
        double snr = snrDb(speech22k, decoded.samples, lag);
        std::printf("%d Hz in: %zu frames, lag %d, SNR %.1f dB against the 22050 Hz speech\n",
                    c.rate, frameCount, lag, snr);
        EXPECT_NEAR(lag, CodecDelay, 40);
        EXPECT_GE(snr, 3.0);
    }
}

TEST_F(StandInEncoderTest, EncodesEachEntryAfreshAndEmptyInputAsWholeFrames) {
    std::vector<int16_t> part(speech->samples.begin(), speech->samples.begin() + 30000);
    int32_t first = 0, second = 0;
    std::vector<uint8_t> once = encodeToBytes(part, 22050, 64, &first);
    std::vector<uint8_t> again = encodeToBytes(part, 22050, 64, &second);
    EXPECT_GT(first, 0);
    EXPECT_EQ(once, again);

    int32_t empty = 0;
    std::vector<uint8_t> bytes = encodeToBytes({}, 22050, 32, &empty);
    ASSERT_GE(empty, 0);
    std::vector<Mp3Frame> frames;
    std::string reason;
    EXPECT_TRUE(walkMp3Frames(bytes, &frames, &reason)) << reason;
}

TEST_F(StandInEncoderTest, RefusesWhatItCannotTake) {
    const EncoderLibrary& lib = encoderLibrary;
    // The callbacks of the system are used, so they need an entry to feed.
    OwnedFile sink(std::tmpfile());
    ASSERT_NE(sink, nullptr);
    entryEncodeState = EntryEncodeState{nullptr, 0, sink.get(), 0, false, false};
    auto good = [](uint32_t rate) { return PcmInputDescription{pcmInputCallback, 0, 16, rate, 1}; };
    auto configure = [&](PcmInputDescription* input, uint32_t bitRate, uint32_t outputRate) {
        EXPECT_EQ(lib.setConfigure(1, 2, input), 0);
        EXPECT_EQ(lib.setConfigure(2, 2, reinterpret_cast<void*>(&mp3OutputCallback)), 0);
        EXPECT_EQ(lib.setConfigure(3, 0, nullptr), 0);
        EXPECT_EQ(lib.setConfigure(4, bitRate, nullptr), 0);
        EXPECT_EQ(lib.setConfigure(6, outputRate, nullptr), 0);
    };

    ASSERT_EQ(lib.initializeWork(), 0);
    PcmInputDescription input = good(22050);
    PcmInputDescription eightBit = input, threeChannels = input, tooSlow = input;
    eightBit.bitsPerSample = 8;
    threeChannels.channels = 3;
    tooSlow.sampleRate = 4000;
    EXPECT_NE(lib.setConfigure(1, 2, &eightBit), 0);
    EXPECT_NE(lib.setConfigure(1, 2, &threeChannels), 0);
    EXPECT_NE(lib.setConfigure(1, 2, &tooSlow), 0);
    EXPECT_NE(lib.setConfigure(1, 1, &input), 0);
    EXPECT_NE(lib.setConfigure(1, 2, nullptr), 0);
    EXPECT_NE(lib.setConfigure(2, 2, nullptr), 0);
    EXPECT_NE(lib.setConfigure(3, 1, nullptr), 0);
    EXPECT_NE(lib.setConfigure(4, 33, nullptr), 0);
    EXPECT_NE(lib.setConfigure(4, 0, nullptr), 0);
    EXPECT_NE(lib.setConfigure(6, 22000, nullptr), 0);
    for (int32_t item : {0, 5, 7, 9, 14, 15, 37, 41, -1}) {
        EXPECT_NE(lib.setConfigure(item, 0, nullptr), 0) << item;
    }
    for (int32_t item : {10, 11, 12, 13, 38, 39, 40}) {
        EXPECT_EQ(lib.setConfigure(item, 0, nullptr), 0) << item;
    }
    EXPECT_NE(lib.detectConfigure(), 0) << "nothing configured yet";
    configure(&input, 32, 22050);
    EXPECT_EQ(lib.detectConfigure(), 0);
    int32_t requestBytes = 0;
    EXPECT_EQ(lib.getConfigure(15, &requestBytes), 0);
    EXPECT_EQ(requestBytes, 1152);
    EXPECT_NE(lib.setConfigure(4, 64, nullptr), 0) << "settings after validation";
    lib.closeCoder();
    lib.endCoder();

    // The bit rate must exist at the output rate's MPEG version.
    struct Mismatch {
        uint32_t bitRate, outputRate;
    };
    for (Mismatch m : {Mismatch{192, 22050}, Mismatch{144, 44100}, Mismatch{8, 44100}}) {
        ASSERT_EQ(lib.initializeWork(), 0);
        configure(&input, m.bitRate, m.outputRate);
        EXPECT_NE(lib.detectConfigure(), 0) << m.bitRate << " kbit/s at " << m.outputRate;
        lib.endCoder();
    }
    // One request is one output frame's worth of input.
    struct Request {
        uint32_t rate;
        int32_t bytes;
    };
    for (Request r : {Request{11025, 576}, Request{44100, 2304}, Request{8000, 418}}) {
        ASSERT_EQ(lib.initializeWork(), 0);
        PcmInputDescription other = good(r.rate);
        configure(&other, 32, 22050);
        ASSERT_EQ(lib.detectConfigure(), 0) << r.rate;
        EXPECT_EQ(lib.getConfigure(15, &requestBytes), 0);
        EXPECT_EQ(requestBytes, r.bytes) << r.rate;
        lib.endCoder();
    }
    EXPECT_NE(lib.getUnitStates(nullptr), 0);
    EXPECT_NE(lib.processTrack(nullptr), 0);
}

// Entries the caller gives up on without MPGE_endCoder (a refused input
// rate, a refused validation, one abandoned after validation) leave nothing
// behind once the library is unloaded. Only the sanitizer build sees leaks.
TEST_F(StandInEncoderTest, AbandonedEntriesLeaveNothingAfterUnload) {
#ifndef VUD_LEAKS_VISIBLE
    GTEST_SKIP() << "leaks are seen only by the address sanitizer build";
#else
    const EncoderLibrary& lib = encoderLibrary;
    std::vector<int16_t> part(speech->samples.begin(), speech->samples.begin() + 4000);
    for (int32_t rate : {1, 192001}) {
        int32_t result = 0;
        encodeToBytes(part, rate, 32, &result);
        EXPECT_EQ(result, -1) << rate;
    }
    OwnedFile sink(std::tmpfile());
    ASSERT_NE(sink, nullptr);
    entryEncodeState = EntryEncodeState{nullptr, 0, sink.get(), 0, false, false};
    PcmInputDescription input{pcmInputCallback, 0, 16, 22050, 1};
    for (uint32_t bitRate : {192u, 32u}) {
        ASSERT_EQ(lib.initializeWork(), 0);
        ASSERT_EQ(lib.setConfigure(1, 2, &input), 0);
        ASSERT_EQ(lib.setConfigure(2, 2, reinterpret_cast<void*>(&mp3OutputCallback)), 0);
        ASSERT_EQ(lib.setConfigure(4, bitRate, nullptr), 0);
        ASSERT_EQ(lib.setConfigure(6, 22050, nullptr), 0);
        EXPECT_EQ(lib.detectConfigure() == 0, bitRate == 32u) << bitRate;
    }
    unloadEncoderLibrary();
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

}  // namespace
