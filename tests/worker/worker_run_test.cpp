// Whole runs of the real worker behind the real dialog procedure, over the
// console backend, with the recording fake encoder (whose gate holds an entry
// so that a cancel or a quit lands mid-archive).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>

#include "app/dialog_resource.h"
#include "app/main_dialog.h"
#include "archive/source_archive.h"
#include "tests/fake_encoder/fake_encoder.h"
#include "tests/worker/worker_support.h"
#include "worker/conversion_worker.h"
#include "worker/worker_state.h"

namespace {

class WorkerRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakeEncoderReset();
        ASSERT_FALSE(folder.path.empty());
        source = folder.path + "voice/";
        ASSERT_EQ(mkdir(source.c_str(), 0755), 0);
        output = folder.path + "out.pac";
    }

    // The dialog as the user leaves it after a run.
    void expectDialogRestored(DialogHarness& harness) {
        EXPECT_EQ(workerState.load(), WorkerIdle);
        EXPECT_TRUE(harness.inputsEnabled());
        EXPECT_TRUE(harness.itemEnabled(StartButton));
        EXPECT_EQ(harness.itemText(StartButton), StartCaption);
    }

    bool gateHolds(DialogHarness& harness) {
        return harness.runUntil([] { return fakeEncoderWaitUntilBlocked(0) == 1; }, 20000);
    }

    // Releases the gate inside the loop and serves it until the run has ended.
    bool runEnded(DialogHarness& harness) {
        return harness.runUntil(
            [&] {
                return finishedRunCount() != harness.runsBefore && workerState.load() == WorkerIdle;
            },
            30000, [] { fakeEncoderRelease(); });
    }

    ScratchFolder folder;
    std::string source;
    std::string output;
};

TEST_F(WorkerRunTest, NoArchivesWarnsNamingTheFolderAndTouchesNothing) {
    ASSERT_TRUE(writeFile(source + "readme.txt", "text"));
    ASSERT_EQ(mkdir((source + "z005.vud").c_str(), 0755), 0);
    ASSERT_TRUE(writeFile(output, "previous"));
    DialogHarness harness(MessageBoxAnswer::Yes);
    harness.setSource(source);
    harness.setOutput(output);

    ASSERT_TRUE(harness.runToEnd());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::NoArchives);
    EXPECT_EQ(std::string(harness.lastBox().text),
              "フォルダ " + source + " 内に\nVUDファイルは見つかりませんでした.");
    expectDialogRestored(harness);
    EXPECT_EQ(readFile(output), "previous");
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, ThreeArchivesCompleteInScanOrderWithCaptionsAndProgress) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 2));
    ASSERT_TRUE(writeSourceArchiveFile(source + "Z002.VUD", 3, 2048, 10));
    ASSERT_TRUE(writeSourceArchiveFile(source + "z003.vud", 1, 2048, 20));
    std::vector<std::string> order = scanOrder(source);
    ASSERT_EQ(order.size(), 3u);
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(output);
    fakeEncoderBlockAtEntry(2);

    harness.post(StartButton);
    ASSERT_TRUE(gateHolds(harness));
    EXPECT_EQ(workerState.load(), WorkerRunning);
    EXPECT_EQ(harness.itemText(StartButton), CancelCaption);
    EXPECT_TRUE(harness.itemEnabled(StartButton));
    EXPECT_TRUE(harness.inputsDisabled());
    int32_t minimum = -1, maximum = -1;
    ASSERT_TRUE(consoleGetProgressRange(harness.dialog, ProgressBar, &minimum, &maximum));
    EXPECT_EQ(minimum, 0);
    EXPECT_EQ(maximum, 6);
    EXPECT_EQ(windowGetProgressPosition(harness.dialog, ProgressBar), 1);

    ASSERT_TRUE(runEnded(harness));
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Completed);
    expectDialogRestored(harness);
    EXPECT_EQ(windowGetProgressPosition(harness.dialog, ProgressBar), 6);
    EXPECT_EQ(harness.itemText(PercentText), "100%");

    OutputArchiveLayout layout;
    std::string reason;
    ASSERT_TRUE(readOutput(output, &layout, &reason)) << reason;
    ASSERT_EQ(layout.archiveCount, 3u);
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(layout.blocks[i].fileNumber, parseSourceFileName(order[i].c_str())) << i;
    }
    EXPECT_EQ(fakeEncoderEntryCount(), 6);
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, OneArchiveIsConvertedInTheStartPassAndCompletes) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z007.vud", 1));
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(output);

    ASSERT_TRUE(harness.runToEnd());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Completed);
    OutputArchiveLayout layout;
    std::string reason;
    ASSERT_TRUE(readOutput(output, &layout, &reason)) << reason;
    ASSERT_EQ(layout.archiveCount, 1u);
    EXPECT_EQ(layout.blocks[0].fileNumber, 7);
    EXPECT_EQ(layout.blocks[0].entryCount, 1);
    EXPECT_EQ(fakeEncoderEntryCount(), 1);
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, CancelDuringTheSecondArchiveFinishesItThenDeletesTheOutput) {
    for (const char* name : {"z001.vud", "z002.vud", "z003.vud"}) {
        ASSERT_TRUE(writeSourceArchiveFile(source + name, 2));
    }
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(output);
    fakeEncoderBlockAtEntry(3);  // the first entry of the second archive

    harness.post(StartButton);
    ASSERT_TRUE(gateHolds(harness));
    harness.click(StartButton);
    EXPECT_FALSE(harness.itemEnabled(StartButton));
    EXPECT_EQ(workerState.load(), WorkerStopping);
    EXPECT_TRUE(pathExists(output));

    ASSERT_TRUE(runEnded(harness));
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Cancelled);
    EXPECT_EQ(fakeEncoderEntryCount(), 4);
    EXPECT_FALSE(pathExists(output));
    expectDialogRestored(harness);
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, MissingOutputFolderWarnsNamingThePathAndDeletesNothing) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 1));
    std::string missing = folder.path + "missing/out.pac";
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(missing);

    ASSERT_TRUE(harness.runToEnd());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::OutputNotCreated);
    EXPECT_EQ(std::string(harness.lastBox().text),
              "ファイル " + missing + " を\n作成できませんでした.");
    EXPECT_EQ(fakeEncoderEntryCount(), 0);
    EXPECT_TRUE(pathExists(source + "z001.vud"));
    EXPECT_FALSE(pathExists(folder.path + "missing"));
    expectDialogRestored(harness);
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, ReadmeVudFailsTheRunNamingItAndTheOutputIsDeleted) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 2));
    ASSERT_TRUE(writeFile(source + "readme.vud", "not an archive"));
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(output);

    ASSERT_TRUE(harness.runToEnd());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Failed);
    EXPECT_EQ(std::string(harness.lastBox().text),
              "ファイル readme.vud の変換中に\nエラーが発生しました.");
    EXPECT_FALSE(pathExists(output));
    expectDialogRestored(harness);
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, QuitWhileIdleEndsWithExitCodeFourAndDeletesNothing) {
    ASSERT_TRUE(writeFile(output, "previous"));
    DialogHarness harness;
    harness.setOutput(output);
    harness.runUntil([] { return false; }, 60);
    EXPECT_TRUE(harness.shutDown());
    EXPECT_EQ(readFile(output), "previous");
    EXPECT_EQ(finishedRunCount(), harness.runsBefore);
}

TEST_F(WorkerRunTest, QuitDuringARunFinishesTheArchiveThenDeletesAndEnds) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 3));
    ASSERT_TRUE(writeSourceArchiveFile(source + "z002.vud", 3));
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(output);
    fakeEncoderBlockAtEntry(2);

    harness.post(StartButton);
    ASSERT_TRUE(gateHolds(harness));
    // Closing the window asks nothing and destroys the dialog at once.
    mainDialogProc(harness.dialog, DialogMessage::Close, 0);
    EXPECT_FALSE(windowIsAlive(harness.dialog));
    workerState.store(WorkerQuit);
    fakeEncoderRelease();

    EXPECT_TRUE(harness.shutDown());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Quit);
    EXPECT_EQ(fakeEncoderEntryCount(), 3);
    EXPECT_FALSE(pathExists(output));
}

TEST_F(WorkerRunTest, AVanishedArchiveFailsTheRunInsteadOfLeavingAnEmptyRecord) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 2));
    ASSERT_TRUE(writeSourceArchiveFile(source + "z002.vud", 2));
    std::vector<std::string> order = scanOrder(source);
    ASSERT_EQ(order.size(), 2u);
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(output);
    fakeEncoderBlockAtEntry(1);

    harness.post(StartButton);
    ASSERT_TRUE(gateHolds(harness));
    ASSERT_EQ(unlink((source + order[1]).c_str()), 0);
    ASSERT_TRUE(runEnded(harness));

    // Whether the walk still yields the name or not, the run fails.
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Failed);
    std::string warning = harness.lastBox().text;
    EXPECT_TRUE(warning == "ファイル " + order[1] + " の変換中に\nエラーが発生しました." ||
                warning == "フォルダ " + source + " 内の\nVUDファイルが変換中に変更されました.")
        << warning;
    EXPECT_FALSE(pathExists(output));
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, AnArchiveBeyondTheCountIsNeverRecordedAndFailsTheRun) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 2));
    ASSERT_TRUE(writeSourceArchiveFile(source + "z002.vud", 2));
    std::vector<std::string> order = scanOrder(source);
    ASSERT_EQ(order.size(), 2u);
    // The count passes over the second archive (no entries yet); it becomes
    // valid while the first one is converted.
    std::string valid = readFile(source + order[1]);
    ASSERT_TRUE(writeEmptySourceArchive(source + order[1]));
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(output);
    fakeEncoderBlockAtEntry(1);

    harness.post(StartButton);
    ASSERT_TRUE(gateHolds(harness));
    ASSERT_TRUE(writeFile(source + order[1], valid));
    ASSERT_TRUE(runEnded(harness));

    EXPECT_EQ(lastRunOutcome(), RunOutcome::Failed);
    EXPECT_EQ(std::string(harness.lastBox().text),
              "ファイル " + order[1] + " の変換中に\nエラーが発生しました.");
    EXPECT_EQ(fakeEncoderEntryCount(), 2);
    EXPECT_FALSE(pathExists(output));
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, APipeAsOutputIsRefusedAndKept) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 1));
    std::string pipe = folder.path + "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    DialogHarness harness(MessageBoxAnswer::Yes);
    harness.setSource(source);
    harness.setOutput(pipe);

    // Without a reader the open must not wait; with one, a stream that cannot
    // be positioned cannot take the header at its start.
    ASSERT_TRUE(harness.runToEnd());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::OutputNotCreated);
    int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(harness.runToEnd());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::OutputNotCreated);
    close(reader);

    struct stat status {};
    ASSERT_EQ(lstat(pipe.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(harness.questions.size(), 2u);
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, ADeviceNodeAsOutputIsNeverDeleted) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 2));
    ASSERT_TRUE(writeSourceArchiveFile(source + "z002.vud", 2));
    // A twin of the null device inside the scratch folder, never the real one.
    std::string device = folder.path + "null";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "cannot make a device node here";
    }
    DialogHarness harness(MessageBoxAnswer::Yes);
    harness.setSource(source);
    harness.setOutput(device);
    fakeEncoderBlockAtEntry(1);

    harness.post(StartButton);
    ASSERT_TRUE(gateHolds(harness));
    harness.click(StartButton);
    ASSERT_TRUE(runEnded(harness));
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Cancelled);

    struct stat status {};
    ASSERT_EQ(lstat(device.c_str(), &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, AFileThatReplacedTheOutputIsNotDeleted) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 2));
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(output);
    fakeEncoderBlockAtEntry(1);

    harness.post(StartButton);
    ASSERT_TRUE(gateHolds(harness));
    ASSERT_EQ(rename(output.c_str(), (folder.path + "moved.pac").c_str()), 0);
    ASSERT_TRUE(writeFile(output, "someone else's"));
    harness.click(StartButton);
    ASSERT_TRUE(runEnded(harness));

    EXPECT_EQ(lastRunOutcome(), RunOutcome::Cancelled);
    EXPECT_EQ(readFile(output), "someone else's");
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, ACancelledOutputBehindASymbolicLinkIsDeletedItself) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 2));
    std::string target = folder.path + "real.pac";
    std::string link = folder.path + "link.pac";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(link);
    fakeEncoderBlockAtEntry(1);

    harness.post(StartButton);
    ASSERT_TRUE(gateHolds(harness));
    EXPECT_TRUE(pathExists(target));
    harness.click(StartButton);
    ASSERT_TRUE(runEnded(harness));

    EXPECT_EQ(lastRunOutcome(), RunOutcome::Cancelled);
    EXPECT_FALSE(pathExists(target));
    EXPECT_TRUE(harness.shutDown());
}

}  // namespace
