// encodeEntry against the recording fake library: call order and arguments,
// the handling of every result, the input padding and the output counting.
#include "encoder/entry_encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "encoder/encoder_library.h"
#include "platform/owned_file.h"
#include "tests/fake_encoder/fake_encoder.h"

extern "C" int32_t mpgeNumbersSeenFromC(int32_t* numbers, int32_t capacity);

namespace {

std::vector<FakeCall> callLog() {
    std::vector<FakeCall> calls(static_cast<size_t>(fakeEncoderCallCount()));
    for (size_t i = 0; i < calls.size(); ++i) {
        fakeEncoderGetCall(static_cast<int32_t>(i), &calls[i]);
    }
    return calls;
}

std::vector<FakeCall> callsOf(int32_t kind) {
    std::vector<FakeCall> picked;
    for (const FakeCall& call : callLog()) {
        if (call.kind == kind) picked.push_back(call);
    }
    return picked;
}

// Library calls only, in order, without the callbacks made inside them.
std::vector<int32_t> libraryCallKinds() {
    std::vector<int32_t> kinds;
    for (const FakeCall& call : callLog()) {
        if (call.kind != FakeInputCallback && call.kind != FakeOutputCallback) {
            kinds.push_back(call.kind);
        }
    }
    return kinds;
}

std::vector<uint8_t> speechLikePcm(uint32_t bytes) {
    std::vector<uint8_t> pcm(bytes);
    for (uint32_t i = 0; i < bytes; ++i) pcm[i] = static_cast<uint8_t>(i * 13 + 5);
    return pcm;
}

std::vector<uint8_t> fileBytes(std::FILE* file) {
    std::fflush(file);
    long end = std::ftell(file);
    std::vector<uint8_t> bytes(static_cast<size_t>(end));
    std::rewind(file);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    return bytes;
}

class EntryEncodingTest : public testing::Test {
protected:
    void SetUp() override {
        fakeEncoderReset();
        ASSERT_EQ(loadEncoderLibraryFrom(FAKE_ENCODER_LIBRARY_PATH), 1);
        fakeEncoderReset();  // forget the version query
        output.reset(std::tmpfile());
        ASSERT_NE(output, nullptr);
    }
    void TearDown() override { unloadEncoderLibrary(); }

    int32_t encode(const std::vector<uint8_t>& pcm, int32_t sampleRate = 22050,
                   int32_t bitRate = 32) {
        return encodeEntry("z001.vud: 1/1", output.get(), sampleRate, pcm.data(),
                           static_cast<uint32_t>(pcm.size()), bitRate);
    }

    OwnedFile output;
};

TEST_F(EntryEncodingTest, MakesTheCallsInOrderWithTheirArguments) {
    std::vector<uint8_t> pcm = speechLikePcm(3000);  // two full requests and a part
    testing::internal::CaptureStdout();
    int32_t written = encode(pcm, 11025, 48);
    std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_EQ(printed, "z001.vud: 1/1\r");
    EXPECT_TRUE(entryEncodeState.labelShown);
    EXPECT_EQ(written, 3 * 104);
    std::vector<int32_t> expected = {FakeInitializeWork};
    expected.insert(expected.end(), 12, FakeSetConfigure);
    expected.insert(expected.end(), {FakeDetectConfigure, FakeGetConfigure});
    expected.insert(expected.end(), 4, FakeProcessFrame);
    expected.insert(expected.end(), {FakeCloseCoder, FakeEndCoder});
    EXPECT_EQ(libraryCallKinds(), expected);

    std::vector<FakeCall> settings = callsOf(FakeSetConfigure);
    ASSERT_EQ(settings.size(), 12u);
    const int32_t items[] = {1, 2, 3, 4, 6, 10, 11, 12, 13, 38, 39, 40};
    const uint32_t values[] = {2, 2, 0, 48, 22050, 0, 0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i < settings.size(); ++i) {
        EXPECT_EQ(settings[i].item, items[i]) << i;
        EXPECT_EQ(settings[i].value, values[i]) << i;
        if (i >= 2) {
            EXPECT_EQ(settings[i].pointer, nullptr) << i;
        }
    }
    EXPECT_NE(settings[0].pointer, nullptr);
    EXPECT_EQ(settings[0].input.callback, &pcmInputCallback);
    EXPECT_EQ(settings[0].input.reserved, 0u);
    EXPECT_EQ(settings[0].input.bitsPerSample, 16u);
    EXPECT_EQ(settings[0].input.sampleRate, 11025u);
    EXPECT_EQ(settings[0].input.channels, 1u);
    // The bytes a library reads: the callback's address fills the first
    // field (4 bytes in a 32-bit program: 20 bytes in all), then four
    // little-endian 32-bit fields (11025 is 0x2B11).
    uint8_t bytes[sizeof(PcmInputDescription)];
    ASSERT_EQ(sizeof bytes, sizeof(void*) + 16);
    std::memcpy(bytes, &settings[0].input, sizeof bytes);
    const uintptr_t address = reinterpret_cast<uintptr_t>(&pcmInputCallback);
    for (size_t k = 0; k < sizeof(void*); ++k) {
        EXPECT_EQ(bytes[k], static_cast<uint8_t>(address >> (8 * k))) << k;
    }
    const uint8_t fields[16] = {0, 0, 0, 0, 16, 0, 0, 0, 0x11, 0x2B, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes + sizeof(void*), fields, sizeof fields), 0);
    EXPECT_EQ(settings[1].pointer, reinterpret_cast<void*>(&mp3OutputCallback));

    std::vector<FakeCall> queries = callsOf(FakeGetConfigure);
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].item, 15);
    EXPECT_NE(queries[0].pointer, nullptr);
}

TEST_F(EntryEncodingTest, AppendsExactStreamsAndCountsOnlyDataCalls) {
    // The fake also makes an output call without data (417 bytes claimed).
    std::vector<uint8_t> pcm = speechLikePcm(5000);
    const uint32_t sizes[] = {1000, 1200, 1010};
    for (uint32_t size : sizes) fakeEncoderQueueStreamSize(size);
    std::fputs("HEAD", output.get());

    std::vector<uint8_t> expected = {'H', 'E', 'A', 'D'};
    for (int32_t entry = 1; entry <= 3; ++entry) {
        EXPECT_EQ(encode(pcm), static_cast<int32_t>(sizes[entry - 1]));
        for (uint32_t i = 0; i < sizes[entry - 1]; ++i) {
            expected.push_back(fakeEncoderStreamByte(entry, i));
        }
    }
    EXPECT_EQ(fileBytes(output.get()), expected);
    int32_t nullCalls = 0;
    for (const FakeCall& call : callsOf(FakeOutputCallback)) {
        EXPECT_EQ(call.result, 0);
        if (call.pointer == nullptr) ++nullCalls;
    }
    EXPECT_EQ(nullCalls, 3);
}

TEST_F(EntryEncodingTest, StopsAtEachRefusedExaminedStep) {
    struct Step {
        const char* name;
        int32_t item;  // setting item, 0 for initializeWork, -1 for detectConfigure
        size_t callsMade;
    };
    const Step steps[] = {{"initializeWork", 0, 1},   {"item 1", 1, 2}, {"item 2", 2, 3},
                          {"item 3", 3, 4},           {"item 4", 4, 5}, {"item 6", 6, 6},
                          {"detectConfigure", -1, 14}};
    std::vector<uint8_t> pcm = speechLikePcm(4000);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        fakeEncoderReset();
        if (step.item == 0) fakeEncoderFailInitialize(0, 5);
        if (step.item > 0) fakeEncoderFailSetting(step.item, 0, -2);
        if (step.item < 0) fakeEncoderFailDetect(0, 1);
        entryEncodeState.mp3BytesWritten = 777;
        entryEncodeState.labelShown = false;
        testing::internal::CaptureStdout();
        EXPECT_EQ(encode(pcm), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        // What an encoder helper reports, so the program shows no label either.
        EXPECT_FALSE(entryEncodeState.labelShown);

        std::vector<int32_t> kinds = libraryCallKinds();
        EXPECT_EQ(kinds.size(), step.callsMade);
        EXPECT_EQ(callsOf(FakeProcessFrame).size(), 0u);
        EXPECT_EQ(callsOf(FakeCloseCoder).size(), 0u);
        EXPECT_EQ(callsOf(FakeEndCoder).size(), 0u);
        if (step.item == 0) {
            EXPECT_EQ(entryEncodeState.mp3BytesWritten, 777) << "state touched";
        }
    }
    EXPECT_EQ(fileBytes(output.get()).size(), 0u);
}

TEST_F(EntryEncodingTest, FailsWithoutALoadedLibrary) {
    unloadEncoderLibrary();
    EXPECT_EQ(encode(speechLikePcm(100)), -1);
    EXPECT_EQ(fakeEncoderCallCount(), 0);
}

TEST_F(EntryEncodingTest, IgnoresRefusedUnexaminedItems) {
    for (int32_t item : {10, 11, 12, 13, 38, 39, 40}) fakeEncoderFailSetting(item, 0, 1);
    fakeEncoderQueueStreamSize(640);
    EXPECT_EQ(encode(speechLikePcm(2304)), 640);
    EXPECT_EQ(callsOf(FakeSetConfigure).size(), 12u);
    EXPECT_EQ(callsOf(FakeEndCoder).size(), 1u);
}

TEST_F(EntryEncodingTest, EndsTheLoopAtTheFirstNonzeroFrameResult) {
    for (int32_t code : {7, -3}) {
        SCOPED_TRACE(code);
        fakeEncoderReset();
        fakeEncoderFailFrame(0, 3, code);
        // Bytes of the two frames before the stop count; close and end follow.
        EXPECT_EQ(encode(speechLikePcm(20000)), 2 * 104);
        EXPECT_EQ(callsOf(FakeProcessFrame).size(), 3u);
        EXPECT_EQ(callsOf(FakeCloseCoder).size(), 1u);
        EXPECT_EQ(callsOf(FakeEndCoder).size(), 1u);
    }
}

TEST_F(EntryEncodingTest, PadsTheLastRequestWithZerosAndThenReportsTheEnd) {
    fakeEncoderSetRequestSize(1000);
    std::vector<uint8_t> pcm = speechLikePcm(2500);
    encode(pcm);

    std::vector<uint8_t> received(4000);
    ASSERT_EQ(fakeEncoderReceivedPcm(received.data(), 4000), 3000u);
    EXPECT_EQ(std::memcmp(received.data(), pcm.data(), pcm.size()), 0);
    for (size_t i = 2500; i < 3000; ++i) ASSERT_EQ(received[i], 0) << i;
    std::vector<int32_t> answers;
    for (const FakeCall& call : callsOf(FakeInputCallback)) answers.push_back(call.result);
    EXPECT_EQ(answers, (std::vector<int32_t>{0, 0, 0, 1}));
    EXPECT_EQ(fakeEncoderUntouchedViolations(), 0);

    // A request larger than all the PCM: all of it, then zeros.
    fakeEncoderReset();
    fakeEncoderSetRequestSize(4096);
    encode(pcm);
    ASSERT_EQ(fakeEncoderReceivedPcm(received.data(), 4000), 4096u);
    EXPECT_EQ(std::memcmp(received.data(), pcm.data(), pcm.size()), 0);
    EXPECT_EQ(received[2500], 0);
    EXPECT_EQ(callsOf(FakeInputCallback).size(), 2u);
}

TEST_F(EntryEncodingTest, ZeroLengthPcmEndsAtTheFirstRequest) {
    EXPECT_EQ(encode({}), 0);
    std::vector<FakeCall> requests = callsOf(FakeInputCallback);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].result, 1);
    EXPECT_EQ(fakeEncoderUntouchedViolations(), 0);
    EXPECT_EQ(callsOf(FakeProcessFrame).size(), 1u);
    EXPECT_EQ(callsOf(FakeEndCoder).size(), 1u);
}

TEST_F(EntryEncodingTest, CallbacksFollowTheirContractDirectly) {
    uint8_t pcm[6] = {1, 2, 3, 4, 5, 6};
    entryEncodeState = EntryEncodeState{pcm, 6, output.get(), 0, false, false};
    uint8_t buffer[4];
    EXPECT_EQ(pcmInputCallback(buffer, 4), 0);
    EXPECT_EQ(std::memcmp(buffer, pcm, 4), 0);
    EXPECT_EQ(pcmInputCallback(buffer, 4), 0);
    const uint8_t padded[4] = {5, 6, 0, 0};
    EXPECT_EQ(std::memcmp(buffer, padded, 4), 0);
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(pcmInputCallback(buffer, 4), 1);
    EXPECT_EQ(buffer[0], 0xEE);

    EXPECT_EQ(mp3OutputCallback(nullptr, 50), 0);
    EXPECT_EQ(entryEncodeState.mp3BytesWritten, 0);
    char mp3[3] = {'a', 'b', 'c'};
    EXPECT_EQ(mp3OutputCallback(mp3, 3), 0);
    EXPECT_EQ(entryEncodeState.mp3BytesWritten, 3);
    EXPECT_EQ(fileBytes(output.get()), (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST_F(EntryEncodingTest, FailedWritesMakeTheEntryFail) {
    OwnedFile full = openFile("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    // A stream far larger than the stream's buffer fails while being written;
    // a short one only when the entry's bytes are pushed to the file.
    for (uint32_t size : {100000u, 20u}) {
        SCOPED_TRACE(size);
        fakeEncoderReset();
        fakeEncoderQueueStreamSize(size);
        fakeEncoderSetFrameBytes(5000);
        EXPECT_EQ(encodeEntry("full", full.get(), 22050, speechLikePcm(4000).data(), 4000, 32), -1);
        EXPECT_EQ(callsOf(FakeEndCoder).size(), 1u);
        std::clearerr(full.get());
    }
}

TEST(BitRateTableTest, ListsTheFourteenRatesAndStartsAt32) {
    const int32_t rates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    for (int32_t row = 0; row < BitRateRowCount; ++row) {
        EXPECT_EQ(BitRateTable[row].kbps, rates[row]);
        EXPECT_EQ(std::string(BitRateTable[row].text), std::to_string(rates[row]) + "kbit/s");
    }
    EXPECT_EQ(bitRateSelection.load(), 3);
}

// A library compiled from encoder/mpge.h as C takes the numbers the binding
// sends, and both are the interface's own values.
TEST(MpgeHeaderTest, CAndCppReadTheSameNumbers) {
    const std::vector<int32_t> expected = {1, 2, 3, 4, 6, 15, 10, 13, 38, 40, 2};
    int32_t fromC[16] = {};
    const int32_t count = mpgeNumbersSeenFromC(fromC, 16);
    ASSERT_EQ(count, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(std::vector<int32_t>(fromC, fromC + count), expected);
    const std::vector<int32_t> fromCpp = {MPGE_ITEM_INPUT,
                                          MPGE_ITEM_OUTPUT,
                                          MPGE_ITEM_MODE,
                                          MPGE_ITEM_BITRATE,
                                          MPGE_ITEM_OUTPUT_RATE,
                                          MPGE_ITEM_REQUEST_SIZE,
                                          MPGE_ITEM_ZEROED_LOW_FIRST,
                                          MPGE_ITEM_ZEROED_LOW_LAST,
                                          MPGE_ITEM_ZEROED_HIGH_FIRST,
                                          MPGE_ITEM_ZEROED_HIGH_LAST,
                                          MPGE_THROUGH_CALLBACK};
    EXPECT_EQ(fromCpp, expected);
}

}  // namespace
