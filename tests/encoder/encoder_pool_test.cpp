// The encoder pool with the built helper program: the streams equal those
// the program encodes itself, in the order handed in; a helper that
// aborts, hangs or is missing fails only what it must, and no helper
// outlives the pool.
#include "encoder/encoder_pool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "encoder/encoder_library.h"
#include "encoder/entry_encoding.h"
#include "platform/scratch_file.h"
#include "tests/support/process_mark.h"
#include "tools/sample_speech/speech_pcm.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

constexpr const char* HelperMarkName = "VUD_POOL_TEST_MARK";

void setVariable(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}

// Helpers started by this test program: they inherit the mark.
int32_t markedProcessCount() {
#if defined(_WIN32)
    return 0;  // the Windows stage checks for helpers left behind by vudconv.exe
#else
    return processesWithVariable(HelperMarkName, std::to_string(getpid()));
#endif
}

// Entries of several lengths cut from the sample speech.
std::vector<std::vector<int16_t>> speechEntries(int32_t count) {
    const char* sourceDir = std::getenv("VUD_SOURCE_DIR");
    const SpeechPcm speech = loadSampleSpeech(sourceDir != nullptr ? sourceDir : ".");
    std::vector<std::vector<int16_t>> entries;
    if (speech.samples.empty()) return entries;
    size_t start = 0;
    for (int32_t i = 0; i < count; ++i) {
        // From a tenth of a second to about three, and one empty entry.
        const size_t length = i == 4 ? 0 : (size_t{2205} * (1 + (i * 7) % 30));
        std::vector<int16_t> samples(length);
        for (size_t k = 0; k < length; ++k) {
            samples[k] = speech.samples[(start + k) % speech.samples.size()];
        }
        start += length;
        entries.push_back(std::move(samples));
    }
    return entries;
}

PooledEntry pooledEntry(const std::vector<int16_t>& samples, int32_t bitRate) {
    std::unique_ptr<int16_t[]> copy(new int16_t[samples.size() + 1]);
    if (!samples.empty()) std::memcpy(copy.get(), samples.data(), samples.size() * 2);
    return PooledEntry{
        std::move(copy), static_cast<uint32_t>(samples.size() * 2),           22050,
        bitRate,         static_cast<int64_t>(samples.size() * 1000 / 22050), INT32_MAX};
}

// The stream the program itself makes of an entry; false when it fails.
bool inProcessStream(const std::vector<int16_t>& samples, int32_t bitRate,
                     std::vector<uint8_t>* bytes) {
    OwnedFile scratch = openScratchFile();
    if (!scratch) return false;
    const int32_t size = encodeEntry("", scratch.get(), 22050, samples.data(),
                                     static_cast<uint32_t>(samples.size() * 2), bitRate);
    if (size < 0) return false;
    bytes->resize(static_cast<size_t>(size));
    std::rewind(scratch.get());
    return std::fread(bytes->data(), 1, bytes->size(), scratch.get()) == bytes->size();
}

// Hands every entry in, taking the oldest stream whenever the pool is full.
std::vector<PooledStream> throughPool(const std::vector<std::vector<int16_t>>& entries,
                                      int32_t bitRate) {
    std::vector<PooledStream> streams;
    size_t next = 0;
    while (streams.size() < entries.size()) {
        while (next < entries.size() && encoderPoolHeld() < encoderPoolCapacity()) {
            EXPECT_TRUE(encoderPoolSubmit(pooledEntry(entries[next], bitRate)));
            next += 1;
        }
        EXPECT_LE(encoderPoolHeld(), encoderPoolCapacity());
        PooledStream stream{nullptr, -2, false};
        if (!encoderPoolTakeOldest(&stream)) break;
        streams.push_back(std::move(stream));
    }
    return streams;
}

class PoolTest : public testing::Test {
protected:
    void SetUp() override {
        setVariable(HelperMarkName, std::to_string(currentProcessNumber()).c_str());
        setEncoderHelperPath(ENCODER_HELPER_PATH);
        setEncoderHelperAnswerBase(EncoderHelperAnswerBaseMilliseconds);
    }

    void TearDown() override {
        encoderPoolStop();
        unloadEncoderLibrary();
        setVariable("FAKE_ENCODER_CHILD_FAULT", nullptr);
        EXPECT_EQ(markedProcessCount(), 0) << "a helper outlived the pool";
    }

    static int64_t currentProcessNumber() {
#if defined(_WIN32)
        return 0;
#else
        return getpid();
#endif
    }
};

class EncoderPoolTest : public PoolTest, public testing::WithParamInterface<int32_t> {};

TEST_P(EncoderPoolTest, StreamsEqualTheProgramsOwnInTheOrderHandedIn) {
    ASSERT_NE(loadEncoderLibraryFrom(STAND_IN_ENCODER_PATH), 0);
    const std::vector<std::vector<int16_t>> entries = speechEntries(12);
    ASSERT_FALSE(entries.empty());
    ASSERT_TRUE(encoderPoolStart(GetParam()));
    EXPECT_EQ(encoderPoolCapacity(), 2 * GetParam());
#if !defined(_WIN32)
    EXPECT_EQ(markedProcessCount(), GetParam());
#endif

    for (int32_t bitRate : {32, 160}) {
        const std::vector<PooledStream> streams = throughPool(entries, bitRate);
        ASSERT_EQ(streams.size(), entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            std::vector<uint8_t> expected;
            ASSERT_TRUE(inProcessStream(entries[i], bitRate, &expected));
            ASSERT_EQ(streams[i].size, static_cast<int32_t>(expected.size()))
                << "entry " << i << " at " << bitRate << " kbit/s";
            EXPECT_TRUE(streams[i].labelReached);
            EXPECT_TRUE(expected.empty() ||
                        std::memcmp(streams[i].bytes.get(), expected.data(), expected.size()) == 0)
                << "entry " << i << " at " << bitRate << " kbit/s differs";
        }
    }
}

TEST_P(EncoderPoolTest, DiscardedEntriesNeverReachLaterOnes) {
    ASSERT_NE(loadEncoderLibraryFrom(STAND_IN_ENCODER_PATH), 0);
    const std::vector<std::vector<int16_t>> entries = speechEntries(6);
    ASSERT_FALSE(entries.empty());
    ASSERT_TRUE(encoderPoolStart(GetParam()));
    // Helpers are still encoding these when they are dropped.
    for (int32_t i = 0; i < encoderPoolCapacity(); ++i) {
        ASSERT_TRUE(encoderPoolSubmit(pooledEntry(entries[5], 8)));
    }
    EXPECT_FALSE(encoderPoolSubmit(pooledEntry(entries[5], 8))) << "the pool is full";
    encoderPoolDiscard();
    EXPECT_EQ(encoderPoolHeld(), 0);
    PooledStream none{nullptr, -2, false};
    EXPECT_FALSE(encoderPoolTakeOldest(&none));

    const std::vector<PooledStream> streams = throughPool({entries[0], entries[1]}, 32);
    ASSERT_EQ(streams.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        std::vector<uint8_t> expected;
        ASSERT_TRUE(inProcessStream(entries[i], 32, &expected));
        ASSERT_EQ(streams[i].size, static_cast<int32_t>(expected.size()));
        EXPECT_EQ(std::memcmp(streams[i].bytes.get(), expected.data(), expected.size()), 0);
    }
}

// Each helper counts its own entries: with one helper, its third entry is
// the third handed in.
TEST_F(PoolTest, AHelperThatAbortsFailsItsEntryAndTheRestWithoutHanging) {
    ASSERT_NE(loadEncoderLibraryFrom(FAKE_ENCODER_LIBRARY_PATH), 0);
    setVariable("FAKE_ENCODER_CHILD_FAULT", "abort:3");
    ASSERT_TRUE(encoderPoolStart(1));
    const std::vector<std::vector<int16_t>> entries(5, std::vector<int16_t>(4000, 7));
    const std::vector<PooledStream> streams = throughPool(entries, 32);
    ASSERT_EQ(streams.size(), entries.size());
    EXPECT_GT(streams[0].size, 0);
    EXPECT_GT(streams[1].size, 0);
    EXPECT_EQ(streams[2].size, -1);
    EXPECT_EQ(streams[3].size, -1) << "no helper is left for it";
    EXPECT_EQ(streams[4].size, -1);
}

TEST_P(EncoderPoolTest, AHelperThatStopsAnsweringIsEnded) {
    ASSERT_NE(loadEncoderLibraryFrom(FAKE_ENCODER_LIBRARY_PATH), 0);
    setVariable("FAKE_ENCODER_CHILD_FAULT", "hang:2");
    setEncoderHelperAnswerBase(300);
    ASSERT_TRUE(encoderPoolStart(GetParam()));
    // Every helper hangs at its second entry: the streams before come back.
    const std::vector<std::vector<int16_t>> entries(static_cast<size_t>(GetParam() + 1),
                                                    std::vector<int16_t>(4000, 7));
    const std::vector<PooledStream> streams = throughPool(entries, 32);
    ASSERT_EQ(streams.size(), entries.size());
    // The first entry handed in is some helper's first; which later one
    // meets a helper's second depends on which helper is free first.
    EXPECT_GT(streams[0].size, 0);
    int32_t failed = 0;
    for (const PooledStream& stream : streams) failed += stream.size < 0 ? 1 : 0;
    EXPECT_GE(failed, 1);
    encoderPoolStop();
    EXPECT_FALSE(encoderPoolRunning());
}

// A stream larger than the archive can still hold is taken off the pipe
// but never held; the helper serves the next entry as usual.
TEST_F(PoolTest, AStreamOverItsLimitIsNeverHeld) {
    ASSERT_NE(loadEncoderLibraryFrom(STAND_IN_ENCODER_PATH), 0);
    const std::vector<std::vector<int16_t>> entries = speechEntries(2);
    ASSERT_FALSE(entries.empty());
    ASSERT_TRUE(encoderPoolStart(1));
    PooledEntry tight = pooledEntry(entries[1], 32);
    tight.streamLimit = 100;
    ASSERT_TRUE(encoderPoolSubmit(std::move(tight)));
    ASSERT_TRUE(encoderPoolSubmit(pooledEntry(entries[0], 32)));
    PooledStream over{nullptr, -2, false};
    ASSERT_TRUE(encoderPoolTakeOldest(&over));
    EXPECT_GT(over.size, 100);
    EXPECT_EQ(over.bytes, nullptr);
    PooledStream next{nullptr, -2, false};
    ASSERT_TRUE(encoderPoolTakeOldest(&next));
    std::vector<uint8_t> expected;
    ASSERT_TRUE(inProcessStream(entries[0], 32, &expected));
    ASSERT_EQ(next.size, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(std::memcmp(next.bytes.get(), expected.data(), expected.size()), 0);
}

// Without the helper program, or with a start given up, there is no pool.
TEST_F(PoolTest, WithoutTheHelperProgramThereIsNoPool) {
    ASSERT_NE(loadEncoderLibraryFrom(STAND_IN_ENCODER_PATH), 0);
    setEncoderHelperPath(ENCODER_HELPER_PATH ".missing");
    EXPECT_FALSE(encoderPoolStart(2));
    EXPECT_FALSE(encoderPoolRunning());
    EXPECT_FALSE(encoderPoolSubmit(pooledEntry(std::vector<int16_t>(10), 32)));
    // Nor when the start is given up while the helpers load (the program closes).
    setEncoderHelperPath(ENCODER_HELPER_PATH);
    EXPECT_FALSE(encoderPoolStart(
        2, [](void*) { return true; }, nullptr));
    EXPECT_FALSE(encoderPoolRunning());
}

INSTANTIATE_TEST_SUITE_P(Helpers, EncoderPoolTest, testing::Values(1, 2, 4),
                         [](const testing::TestParamInfo<int32_t>& info) {
                             return std::to_string(info.param);
                         });

}  // namespace
