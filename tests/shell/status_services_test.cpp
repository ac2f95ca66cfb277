// The status services over the console window layer: bar and percentage of
// a run, warnings, and the inputs switch.
#include "app/status_services.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/dialog_resource.h"
#include "app/shell_state.h"
#include "tests/shell/console_fixture.h"
#include "worker/source_scan.h"

namespace {

class StatusServices : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        mainDialog = makeDialog();
        ASSERT_NE(mainDialog, nullptr);
    }
    void TearDown() override {
        mainDialog = nullptr;
        ConsoleTest::TearDown();
    }

    void expectRange(int32_t minimum, int32_t maximum) {
        int32_t low = -1, high = -1;
        ASSERT_TRUE(consoleGetProgressRange(mainDialog, ProgressBar, &low, &high));
        EXPECT_EQ(low, minimum);
        EXPECT_EQ(high, maximum);
    }
};

TEST_F(StatusServices, ThreeEntriesShowThirdsOfTheBar) {
    totalEntryCount = 3;
    convertedEntryCount = 0;
    startProgress(mainDialog);
    expectRange(0, 3);
    EXPECT_EQ(windowGetProgressPosition(mainDialog, ProgressBar), 0);
    EXPECT_EQ(itemText(mainDialog, PercentText), "0%");  // the worker does not reset it

    const char* expected[] = {"33%", "66%", "100%"};
    for (int32_t converted = 1; converted <= 3; ++converted) {
        convertedEntryCount = converted;
        showProgress();
        EXPECT_EQ(windowGetProgressPosition(mainDialog, ProgressBar), converted);
        EXPECT_EQ(itemText(mainDialog, PercentText), expected[converted - 1]);
    }
}

TEST_F(StatusServices, SevenEntriesShowFourteenPercentFirst) {
    totalEntryCount = 7;
    convertedEntryCount = 1;
    startProgress(mainDialog);
    showProgress();
    EXPECT_EQ(itemText(mainDialog, PercentText), "14%");
}

TEST_F(StatusServices, RangeTakesTheWholeTotal) {
    // 70000 does not fit 16 bits; the bar must still run to the true end.
    totalEntryCount = 70000;
    convertedEntryCount = 0;
    startProgress(mainDialog);
    expectRange(0, 70000);
    convertedEntryCount = 35000;
    showProgress();
    EXPECT_EQ(windowGetProgressPosition(mainDialog, ProgressBar), 35000);
    EXPECT_EQ(itemText(mainDialog, PercentText), "50%");
}

TEST_F(StatusServices, TotalsBeyondThirtyTwoBitsScaleBarAndPosition) {
    totalEntryCount = int64_t{3} << 31;
    convertedEntryCount = 0;
    startProgress(mainDialog);
    int32_t low = -1, high = -1;
    ASSERT_TRUE(consoleGetProgressRange(mainDialog, ProgressBar, &low, &high));
    EXPECT_EQ(low, 0);
    EXPECT_GT(high, 0);
    convertedEntryCount = totalEntryCount / 3;
    showProgress();
    EXPECT_EQ(static_cast<int64_t>(windowGetProgressPosition(mainDialog, ProgressBar)) * 3, high);
    EXPECT_EQ(itemText(mainDialog, PercentText), "33%");
    convertedEntryCount = totalEntryCount;
    showProgress();
    EXPECT_EQ(windowGetProgressPosition(mainDialog, ProgressBar), high);
    EXPECT_EQ(itemText(mainDialog, PercentText), "100%");
}

TEST_F(StatusServices, PercentageOfHugeCountsDoesNotOverflow) {
    totalEntryCount = 2 * int64_t{0x7FFFFFFF} + 5;
    convertedEntryCount = int64_t{0x7FFFFFFF};
    startProgress(mainDialog);
    showProgress();
    EXPECT_EQ(itemText(mainDialog, PercentText), "49%");
}

TEST_F(StatusServices, WarningBoxIsCaptionedAndPrinted) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(showWarning("VUDデータの場所を指定してください."), MessageBoxAnswer::Ok);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "VUD Data Converter: VUDデータの場所を指定してください.\n");
    ConsoleMessageBoxRecord box{};
    ASSERT_TRUE(consoleLastMessageBox(&box));
    EXPECT_STREQ(box.caption, "VUD Data Converter");
    EXPECT_EQ(box.owner, mainDialog);
    EXPECT_EQ(box.buttons, MessageBoxButtons::Ok);
    EXPECT_EQ(box.icon, MessageBoxIcon::Warning);

    // Before the dialog exists the box has no owner and the same caption.
    mainDialog = nullptr;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(showWarning("GOGO.DLLが見つかりませんでした."), MessageBoxAnswer::Ok);
    ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(consoleLastMessageBox(&box));
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_STREQ(box.caption, "VUD Data Converter");
}

TEST_F(StatusServices, WarningOwnedByADestroyedDialogStillReachesTheUser) {
    WindowHandle gone = mainDialog;
    procedureBehaviour.quitOnDestroy = false;
    windowDestroy(gone);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(showWarning("late"), MessageBoxAnswer::Failed);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "VUD Data Converter: late\n");
}

void quitOnceDone(void* context) {
    auto& done = *static_cast<std::atomic<int>*>(context);
    if (done.load() == 0) done = 1;  // the loop serves
    if (done.load() == 2) windowPostQuit(0);
}

TEST_F(StatusServices, AWorkersWarningIsShownWhileServedAndPrintedWhenNobodyServes) {
    ::testing::internal::CaptureStderr();
    MessageBoxAnswer unserved = MessageBoxAnswer::Ok;
    // Nobody serves: the status calls fail at once, the warning still reaches the user.
    std::thread([&] {
        unserved = showWarning("nobody serves");
        setInputsEnabled(mainDialog, false);
        showProgress();
    }).join();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "VUD Data Converter: nobody serves\n");
    EXPECT_EQ(unserved, MessageBoxAnswer::Failed);
    EXPECT_TRUE(windowIsItemEnabled(mainDialog, SourceFolderEdit));

    std::atomic<int> done{0};
    MessageBoxAnswer served = MessageBoxAnswer::Failed;
    consoleSetLoopHook(quitOnceDone, &done, 1);
    ::testing::internal::CaptureStderr();
    std::thread worker([&] {
        while (done.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        served = showWarning("from the worker");
        done = 2;
    });
    windowRunMessageLoop();
    worker.join();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "VUD Data Converter: from the worker\n");
    EXPECT_EQ(served, MessageBoxAnswer::Ok);
}

TEST_F(StatusServices, InputsSwitchLeavesTheStartButtonAlone) {
    const int32_t inputs[] = {SourceFolderEdit, BrowseSourceButton, OutputPathEdit,
                              BrowseOutputButton, BitRateList};
    for (bool startEnabled : {false, true}) {
        ASSERT_TRUE(windowEnableItem(mainDialog, StartButton, startEnabled));
        setInputsEnabled(mainDialog, false);
        for (int32_t id : inputs) EXPECT_FALSE(windowIsItemEnabled(mainDialog, id)) << id;
        EXPECT_EQ(windowIsItemEnabled(mainDialog, StartButton), startEnabled);
        setInputsEnabled(mainDialog, true);
        for (int32_t id : inputs) EXPECT_TRUE(windowIsItemEnabled(mainDialog, id)) << id;
        EXPECT_EQ(windowIsItemEnabled(mainDialog, StartButton), startEnabled);
    }
    EXPECT_TRUE(windowIsItemEnabled(mainDialog, ProgressBar));
    EXPECT_TRUE(windowIsItemEnabled(mainDialog, PercentText));
}

}  // namespace
