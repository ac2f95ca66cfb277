// Whole runs of the real worker behind the real dialog procedure, over the
// console backend, with the recording fake encoder (whose gate holds an entry
// so that a cancel or a quit lands mid-archive).
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>

#include "app/dialog_resource.h"
#include "app/main_dialog.h"
#include "app/shell_state.h"
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
        ASSERT_TRUE(makeFolder(source));
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

    TempFolder folder;
    std::string source;
    std::string output;
};

TEST_F(WorkerRunTest, NoArchivesWarnsNamingTheFolderAndTouchesNothing) {
    ASSERT_TRUE(writeFile(source + "readme.txt", "text"));
    ASSERT_TRUE(makeFolder(source + "z005.vud"));
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

TEST_F(WorkerRunTest, CancelDuringTheSecondArchiveFinishesItThenRemovesTheOutput) {
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
    // The run writes beside the output path, never at it.
    EXPECT_FALSE(pathExists(output));
    EXPECT_EQ(temporaryOutputs(folder.path).size(), 1u);

    ASSERT_TRUE(runEnded(harness));
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Cancelled);
    EXPECT_EQ(fakeEncoderEntryCount(), 4);
    EXPECT_FALSE(pathExists(output));
    EXPECT_TRUE(temporaryOutputs(folder.path).empty());
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

TEST_F(WorkerRunTest, TheWarningNamesTheLongestOutputPathWhole) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 1));
    std::string missing = folder.path + "missing/";
    missing += std::string(PathCapacity - 1 - missing.size(), 'o');
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(missing);

    ASSERT_TRUE(harness.runToEnd());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::OutputNotCreated);
    EXPECT_EQ(std::string(harness.lastBox().text),
              "ファイル " + missing + " を\n作成できませんでした.");
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
    ASSERT_EQ(std::remove((source + order[1]).c_str()), 0);
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

// Output safety: whatever stood at the output path is changed only by a
// complete run, and never when it is not a regular file or is a source.

TEST_F(WorkerRunTest, AFailedOrCancelledRunLeavesAnEarlierOutputByteIdentical) {
    for (const char* name : {"z001.vud", "z002.vud"}) {
        ASSERT_TRUE(writeSourceArchiveFile(source + name, 2));
    }
    ASSERT_TRUE(writeFile(output, "an earlier good output"));
#if !defined(_WIN32)
    ASSERT_EQ(chmod(output.c_str(), 0640), 0);
#endif
    DialogHarness harness(MessageBoxAnswer::Yes);
    harness.setSource(source);
    harness.setOutput(output);

    fakeEncoderBlockAtEntry(1);
    harness.post(StartButton);
    ASSERT_TRUE(gateHolds(harness));
    harness.click(StartButton);
    ASSERT_TRUE(runEnded(harness));
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Cancelled);
    EXPECT_EQ(readFile(output), "an earlier good output");

    fakeEncoderReset();
    fakeEncoderFailInitialize(3, 1);
    ASSERT_TRUE(harness.runToEnd());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Failed);
    EXPECT_EQ(readFile(output), "an earlier good output");
    EXPECT_TRUE(temporaryOutputs(folder.path).empty());

    // A complete run replaces it, keeping its permissions.
    fakeEncoderReset();
    ASSERT_TRUE(harness.runToEnd());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Completed);
    OutputArchiveLayout layout;
    std::string reason;
    EXPECT_TRUE(readOutput(output, &layout, &reason)) << reason;
#if !defined(_WIN32)
    struct stat status {};
    ASSERT_EQ(stat(output.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
#endif
    EXPECT_TRUE(temporaryOutputs(folder.path).empty());
    EXPECT_EQ(harness.questions.size(), 3u);
    EXPECT_TRUE(harness.shutDown());
}

#if !defined(_WIN32)
// Pipes, folders, hard and symbolic links standing at the output path.

TEST_F(WorkerRunTest, AnOutputThatIsNotARegularFileIsRefusedNamingIt) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 1));
    std::string pipe = folder.path + "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    std::string directory = folder.path + "folder";
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    std::string linkToFolder = folder.path + "link-to-folder";
    ASSERT_EQ(symlink(directory.c_str(), linkToFolder.c_str()), 0);
    DialogHarness harness(MessageBoxAnswer::Yes);
    harness.setSource(source);

    for (const std::string& path : {pipe, directory, linkToFolder, std::string("/dev/null")}) {
        harness.setOutput(path);
        harness.click(StartButton);
        EXPECT_EQ(workerState.load(), WorkerIdle) << path;
        EXPECT_EQ(
            std::string(harness.lastBox().text),
            path + " はファイルではありません.\n作成データ出力先にはファイルを指定してください.");
        EXPECT_TRUE(harness.inputsEnabled());
    }
    EXPECT_TRUE(harness.questions.empty());
    struct stat status {};
    ASSERT_EQ(lstat(pipe.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(fakeEncoderEntryCount(), 0);
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, AnOutputNamingASourceArchiveIsRefusedAndTheArchiveKept) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 2));
    ASSERT_TRUE(writeSourceArchiveFile(source + "z002.vud", 1));
    const std::string original = readFile(source + "z001.vud");
    std::string hardLink = folder.path + "hard.pac";
    ASSERT_EQ(link((source + "z001.vud").c_str(), hardLink.c_str()), 0);
    std::string softLink = folder.path + "soft.pac";
    ASSERT_EQ(symlink((source + "z001.vud").c_str(), softLink.c_str()), 0);
    DialogHarness harness(MessageBoxAnswer::Yes);
    harness.setSource(source);

    for (const std::string& path : {source + "z001.vud", hardLink, softLink}) {
        harness.setOutput(path);
        harness.click(StartButton);
        EXPECT_EQ(workerState.load(), WorkerIdle) << path;
        EXPECT_EQ(std::string(harness.lastBox().text),
                  "ファイル " + path + " は変換するVUDファイルです.\n出力先には指定できません.");
    }
    EXPECT_TRUE(harness.questions.empty());
    EXPECT_EQ(readFile(source + "z001.vud"), original);
    EXPECT_EQ(fakeEncoderEntryCount(), 0);
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, TheWorkerItselfRefusesAnOutputThatBecameASourceArchive) {
    // The dialog's check passed; the path became a link to an archive before
    // the worker started: the worker's own check keeps the archive.
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 2));
    const std::string original = readFile(source + "z001.vud");
    DialogHarness harness(MessageBoxAnswer::Yes);
    harness.setSource(source);
    harness.setOutput(output);
    ASSERT_EQ(symlink((source + "z001.vud").c_str(), output.c_str()), 0);
    // The request as the dialog writes it once its own checks passed.
    workerState.store(WorkerStartRequested);
    ASSERT_TRUE(harness.runUntil([&] { return finishedRunCount() != harness.runsBefore; }));
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Refused);
    EXPECT_EQ(readFile(source + "z001.vud"), original);
    EXPECT_TRUE(harness.inputsEnabled());
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, AnythingAtTheOutputPathIsAskedAboutFirst) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 1));
    std::string writeOnly = folder.path + "write-only.pac";
    ASSERT_TRUE(writeFile(writeOnly, "x"));
    ASSERT_EQ(chmod(writeOnly.c_str(), 0200), 0);
    std::string dangling = folder.path + "dangling.pac";
    ASSERT_EQ(symlink((folder.path + "target.pac").c_str(), dangling.c_str()), 0);
    DialogHarness harness(MessageBoxAnswer::No);
    harness.setSource(source);

    for (const std::string& path : {writeOnly, dangling}) {
        harness.setOutput(path);
        harness.click(StartButton);
        EXPECT_EQ(workerState.load(), WorkerIdle);
    }
    ASSERT_EQ(harness.questions.size(), 2u);
    EXPECT_EQ(harness.questions[1], dangling + " は既に存在しています.\n上書きしますか？");
    EXPECT_FALSE(pathExists(folder.path + "target.pac"));
    EXPECT_EQ(fakeEncoderEntryCount(), 0);

    // Answered Yes, the dangling link's target is created, the link kept.
    harness.answer = MessageBoxAnswer::Yes;
    ASSERT_TRUE(harness.runToEnd());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Completed);
    struct stat status {};
    ASSERT_EQ(lstat(dangling.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    OutputArchiveLayout layout;
    std::string reason;
    EXPECT_TRUE(readOutput(folder.path + "target.pac", &layout, &reason)) << reason;
    EXPECT_TRUE(harness.shutDown());
}

TEST_F(WorkerRunTest, AnOutputBehindASymbolicLinkIsReplacedBesideItsTargetAndTheLinkKept) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 2));
    ASSERT_EQ(mkdir((folder.path + "elsewhere").c_str(), 0755), 0);
    std::string target = folder.path + "elsewhere/real.pac";
    ASSERT_TRUE(writeFile(target, "old"));
    std::string linkPath = folder.path + "link.pac";
    ASSERT_EQ(symlink("elsewhere/real.pac", linkPath.c_str()), 0);
    DialogHarness harness(MessageBoxAnswer::Yes);
    harness.setSource(source);
    harness.setOutput(linkPath);
    fakeEncoderBlockAtEntry(1);

    harness.post(StartButton);
    ASSERT_TRUE(gateHolds(harness));
    EXPECT_EQ(temporaryOutputs(folder.path + "elsewhere/").size(), 1u);
    harness.click(StartButton);
    ASSERT_TRUE(runEnded(harness));
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Cancelled);
    EXPECT_EQ(readFile(target), "old");
    EXPECT_TRUE(temporaryOutputs(folder.path + "elsewhere/").empty());

    fakeEncoderReset();
    ASSERT_TRUE(harness.runToEnd());
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Completed);
    struct stat status {};
    ASSERT_EQ(lstat(linkPath.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    OutputArchiveLayout layout;
    std::string reason;
    EXPECT_TRUE(readOutput(target, &layout, &reason)) << reason;
    EXPECT_TRUE(harness.shutDown());
}
#endif

TEST_F(WorkerRunTest, TheRunKeepsItsOwnOutputPathWhenTheFieldChangesAtItsEnd) {
    ASSERT_TRUE(writeSourceArchiveFile(source + "z001.vud", 2));
    DialogHarness harness;
    harness.setSource(source);
    harness.setOutput(output);
    fakeEncoderBlockAtEntry(2);
    harness.post(StartButton);
    ASSERT_TRUE(gateHolds(harness));
    // What a user types while the inputs come back must not redirect the
    // run's clean-up.
    ASSERT_TRUE(writeFile(folder.path + "typed.pac", "typed"));
    std::strcpy(outputPath, (folder.path + "typed.pac").c_str());
    harness.click(StartButton);
    ASSERT_TRUE(runEnded(harness));
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Cancelled);
    EXPECT_EQ(readFile(folder.path + "typed.pac"), "typed");
    EXPECT_TRUE(temporaryOutputs(folder.path).empty());
    EXPECT_FALSE(pathExists(output));
    EXPECT_TRUE(harness.shutDown());
}

}  // namespace
