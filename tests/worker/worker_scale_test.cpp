// A run whose total does not fit the 16 bits that the platform's progress
// range message carries: the bar still spans the whole run.
#include <gtest/gtest.h>

#include "app/dialog_resource.h"
#include "tests/fake_encoder/fake_encoder.h"
#include "tests/worker/worker_support.h"
#include "worker/conversion_worker.h"
#include "worker/worker_state.h"

namespace {

TEST(WorkerScaleTest, SeventyThousandEntriesUseTheWholeProgressRange) {
    fakeEncoderReset();
    TempFolder folder;
    ASSERT_FALSE(folder.path.empty());
    // Entries without blocks: each is encoded from an empty buffer.
    ASSERT_TRUE(writeSourceArchiveFile(folder.path + "z001.vud", 35000, 0));
    ASSERT_TRUE(writeSourceArchiveFile(folder.path + "z002.vud", 35000, 0));
    std::string output = folder.path + "vud.pac";
    DialogHarness harness;
    harness.setSource(folder.path);
    harness.setOutput(output);
    fakeEncoderBlockAtEntry(2);

    harness.post(StartButton);
    ASSERT_TRUE(harness.runUntil([] { return fakeEncoderWaitUntilBlocked(0) == 1; }));
    int32_t minimum = -1, maximum = -1;
    ASSERT_TRUE(consoleGetProgressRange(harness.dialog, ProgressBar, &minimum, &maximum));
    EXPECT_EQ(minimum, 0);
    EXPECT_EQ(maximum, 70000);
    EXPECT_EQ(harness.itemText(PercentText), "0%");

    ASSERT_TRUE(harness.runUntil(
        [&] {
            return finishedRunCount() != harness.runsBefore && workerState.load() == WorkerIdle;
        },
        300000, [] { fakeEncoderRelease(); }));
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Completed);
    EXPECT_EQ(windowGetProgressPosition(harness.dialog, ProgressBar), 70000);
    EXPECT_EQ(harness.itemText(PercentText), "100%");
    OutputArchiveLayout layout;
    std::string reason;
    ASSERT_TRUE(readOutput(output, &layout, &reason)) << reason;
    ASSERT_EQ(layout.archiveCount, 2u);
    EXPECT_EQ(layout.blocks[0].entryCount + layout.blocks[1].entryCount, 70000);
    EXPECT_TRUE(harness.shutDown());
}

}  // namespace
