// The fake library's gate and delay, which the worker tests rely on, with
// encodeEntry running on a second thread as the worker runs it.
#include "tests/fake_encoder/fake_encoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "encoder/encoder_library.h"
#include "encoder/entry_encoding.h"
#include "platform/owned_file.h"

namespace {

class FakeGateTest : public testing::Test {
protected:
    void SetUp() override {
        fakeEncoderReset();
        ASSERT_EQ(loadEncoderLibraryFrom(FAKE_ENCODER_LIBRARY_PATH), 1);
        output.reset(std::tmpfile());
        ASSERT_NE(output, nullptr);
    }
    void TearDown() override {
        fakeEncoderRelease();
        unloadEncoderLibrary();
        fakeEncoderReset();
    }
    OwnedFile output;
    std::vector<uint8_t> pcm = std::vector<uint8_t>(5000, 1);
};

TEST_F(FakeGateTest, HoldsTheChosenEntryUntilReleased) {
    fakeEncoderBlockAtEntry(2);
    for (int i = 0; i < 3; ++i) fakeEncoderQueueStreamSize(100 + i);
    std::vector<int32_t> results;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            results.push_back(encodeEntry("entry", output.get(), 22050, pcm.data(),
                                          static_cast<uint32_t>(pcm.size()), 32));
        }
    });
    ASSERT_EQ(fakeEncoderWaitUntilBlocked(10000), 1);
    EXPECT_EQ(fakeEncoderEntryCount(), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(fakeEncoderEntryCount(), 2) << "went on while held";
    fakeEncoderRelease();
    worker.join();
    EXPECT_EQ(results, (std::vector<int32_t>{100, 101, 102}));
    EXPECT_EQ(fakeEncoderEntryCount(), 3);
}

TEST_F(FakeGateTest, WaitingTimesOutWhenNothingIsHeld) {
    fakeEncoderBlockAtEntry(5);
    EXPECT_EQ(fakeEncoderWaitUntilBlocked(30), 0);
}

TEST_F(FakeGateTest, DelaysTheChosenEntry) {
    fakeEncoderSetDelay(1, 120);
    auto start = std::chrono::steady_clock::now();
    std::thread worker([&] {
        encodeEntry("slow", output.get(), 22050, pcm.data(), static_cast<uint32_t>(pcm.size()), 32);
    });
    worker.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
}

}  // namespace
