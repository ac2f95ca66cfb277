// Whole runs over a source folder in which a pipe stands under an archive's
// name, from the start or put in place of an archive while the run converts
// the one before it: the run never waits on the pipe, fails naming it, and
// leaves no output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/dialog_resource.h"
#include "tests/fake_encoder/fake_encoder.h"
#include "tests/worker/worker_support.h"
#include "worker/conversion_worker.h"
#include "worker/worker_state.h"

namespace {

enum class PipeArrives { BeforeTheCount, AfterTheCount };

class PipeUnderAnArchiveName : public ::testing::TestWithParam<PipeArrives> {
protected:
    void SetUp() override {
        fakeEncoderReset();
        ASSERT_FALSE(folder.path.empty());
        source = folder.path + "voice/";
        ASSERT_EQ(mkdir(source.c_str(), 0755), 0);
        output = folder.path + "out.pac";
    }

    TempFolder folder;
    std::string source;
    std::string output;
};

TEST_P(PipeUnderAnArchiveName, FailsTheRunNamingItWithoutWaiting) {
    for (const char* name : {"z001.vud", "z002.vud", "z003.vud"}) {
        ASSERT_TRUE(writeSourceArchiveFile(source + name, 2));
    }
    std::vector<std::string> order = scanOrder(source);
    ASSERT_EQ(order.size(), 3u);
    // The pipe takes the place of the second archive the walk meets.
    const std::string pipe = source + order[1];
    const bool swapped = GetParam() == PipeArrives::AfterTheCount;
    if (!swapped) {
        ASSERT_EQ(unlink(pipe.c_str()), 0);
        ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    }
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(output);
    fakeEncoderBlockAtEntry(1);

    harness.post(StartButton);
    ASSERT_TRUE(harness.runUntil([] { return fakeEncoderWaitUntilBlocked(0) == 1; }, 20000));
    if (swapped) {
        ASSERT_EQ(unlink(pipe.c_str()), 0);
        ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    }
    ASSERT_TRUE(harness.runUntil(
        [&] {
            return finishedRunCount() != harness.runsBefore && workerState.load() == WorkerIdle;
        },
        30000, [] { fakeEncoderRelease(); }));

    EXPECT_EQ(lastRunOutcome(), RunOutcome::Failed);
    EXPECT_EQ(std::string(harness.lastBox().text),
              "ファイル " + order[1] + " の変換中に\nエラーが発生しました.");
    EXPECT_EQ(fakeEncoderEntryCount(), 2) << "only the first archive was encoded";
    EXPECT_FALSE(pathExists(output));
    struct stat status {};
    ASSERT_EQ(lstat(pipe.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_TRUE(harness.shutDown());
}

INSTANTIATE_TEST_SUITE_P(Arrival, PipeUnderAnArchiveName,
                         ::testing::Values(PipeArrives::BeforeTheCount, PipeArrives::AfterTheCount),
                         [](const ::testing::TestParamInfo<PipeArrives>& info) {
                             return info.param == PipeArrives::BeforeTheCount ? "BeforeTheCount"
                                                                              : "AfterTheCount";
                         });

}  // namespace
