// The window layer's thread contract with the console backend: calls from a
// worker thread are applied by the user-interface thread, a worker's question
// is answered there while the worker waits, and no call ever waits once the
// dialog is gone or the loop is no longer served.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "app/dialog_resource.h"
#include "app/shell_state.h"
#include "app/status_services.h"
#include "platform/thread.h"
#include "tests/shell/console_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

struct WorkerCalls {
    WindowHandle dialog;
    std::atomic<bool> loopServing{false};
    std::atomic<bool> done{false};
    bool textSet = false;
    std::string textRead;
    int32_t rowAdded = -2;
    MessageBoxAnswer answer = MessageBoxAnswer::Failed;
    MessageBoxAnswer okAnswer = MessageBoxAnswer::Failed;
    bool anyCallSucceeded = false;
};

void markServing(void* context) {
    static_cast<WorkerCalls*>(context)->loopServing = true;
}

void waitFor(const std::atomic<bool>& flag) {
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(10);
    while (!flag.load() && Clock::now() < limit) sleepMilliseconds(1);
}

int32_t applyFromWorker(void* raw) {
    WorkerCalls& calls = *static_cast<WorkerCalls*>(raw);
    waitFor(calls.loopServing);
    calls.textSet = windowSetItemText(calls.dialog, SourceFolderEdit, "/from/worker/");
    char buffer[64];
    if (windowGetItemText(calls.dialog, SourceFolderEdit, buffer, sizeof buffer) >= 0) {
        calls.textRead = buffer;
    }
    windowEnableItem(calls.dialog, BrowseSourceButton, false);
    windowSetProgressRange(calls.dialog, ProgressBar, 0, 1000);
    for (int32_t position = 1; position <= 1000; ++position) {
        windowSetProgressPosition(calls.dialog, ProgressBar, position);
    }
    calls.rowAdded = windowListAddString(calls.dialog, BitRateList, "32kbit/s");
    windowPostQuit(0);
    return 5;
}

TEST_F(ConsoleTest, WorkerCallsAreAppliedOnTheUserInterfaceThread) {
    ASSERT_NE(makeDialog(), nullptr);
    receivedMessages.clear();
    WorkerCalls calls{};
    calls.dialog = dialog;
    consoleSetLoopHook(markServing, &calls, 1);
    ThreadHandle worker = threadStart(applyFromWorker, &calls);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(windowRunMessageLoop(), 0);
    EXPECT_EQ(threadJoin(worker), 5);

    EXPECT_TRUE(calls.textSet);
    EXPECT_EQ(calls.textRead, "/from/worker/");
    EXPECT_EQ(calls.rowAdded, 0);
    EXPECT_FALSE(windowIsItemEnabled(dialog, BrowseSourceButton));
    EXPECT_EQ(windowGetProgressPosition(dialog, ProgressBar), 1000);
    // The edit's notification reached the procedure on the user-interface thread.
    ASSERT_EQ(receivedMessages.size(), 1u);
    EXPECT_EQ(receivedMessages[0].param, commandParam(SourceFolderEdit, NotifyEditChanged));
    EXPECT_TRUE(receivedMessages[0].onUserInterfaceThread);
}

struct Question {
    const WorkerCalls* calls;
    bool askedOnUserInterfaceThread = false;
    bool workerStillWaiting = false;
};

MessageBoxAnswer answerWhileWorkerWaits(const char*, const char*, void* context) {
    Question& question = *static_cast<Question*>(context);
    question.askedOnUserInterfaceThread = consoleIsUserInterfaceThread();
    sleepMilliseconds(20);
    question.workerStillWaiting = !question.calls->done.load();
    return MessageBoxAnswer::Yes;
}

int32_t askFromWorker(void* raw) {
    WorkerCalls& calls = *static_cast<WorkerCalls*>(raw);
    waitFor(calls.loopServing);
    calls.answer = windowMessageBox(calls.dialog, "上書きしますか？", "確認",
                                    MessageBoxButtons::YesNo, MessageBoxIcon::Warning);
    calls.done = true;
    calls.okAnswer = showWarning("from the worker");
    windowPostQuit(0);
    return 0;
}

TEST_F(ConsoleTest, WorkerQuestionIsAnsweredWhileTheWorkerWaits) {
    ASSERT_NE(makeDialog(), nullptr);
    mainDialog = dialog;
    WorkerCalls calls{};
    calls.dialog = dialog;
    Question question{&calls};
    ConsoleWindowConfig config = testConfig();
    config.questionHandler = answerWhileWorkerWaits;
    config.questionContext = &question;
    consoleConfigure(config);
    consoleSetLoopHook(markServing, &calls, 1);
    ::testing::internal::CaptureStderr();
    ThreadHandle worker = threadStart(askFromWorker, &calls);
    ASSERT_NE(worker, nullptr);
    windowRunMessageLoop();
    threadJoin(worker);
    const std::string err = ::testing::internal::GetCapturedStderr();
    mainDialog = nullptr;

    EXPECT_EQ(calls.answer, MessageBoxAnswer::Yes);
    EXPECT_TRUE(question.askedOnUserInterfaceThread);
    EXPECT_TRUE(question.workerStillWaiting);
    EXPECT_EQ(calls.okAnswer, MessageBoxAnswer::Ok);
    EXPECT_EQ(err, "VUD Data Converter: from the worker\n");
}

// Every call a worker makes when nobody serves it. A call that waited for a
// loop would never return: the test would hang rather than pass.
int32_t callsNobodyServes(void* raw) {
    WorkerCalls& calls = *static_cast<WorkerCalls*>(raw);
    char buffer[16];
    calls.anyCallSucceeded =
        windowSetItemText(calls.dialog, SourceFolderEdit, "x") ||
        windowGetItemText(calls.dialog, SourceFolderEdit, buffer, sizeof buffer) >= 0 ||
        windowEnableItem(calls.dialog, StartButton, false) ||
        windowSetProgressPosition(calls.dialog, ProgressBar, 1) ||
        windowListAddString(calls.dialog, BitRateList, "x") >= 0;
    calls.answer = windowMessageBox(calls.dialog, "q", "c", MessageBoxButtons::YesNo,
                                    MessageBoxIcon::Question);
    calls.okAnswer = showWarning("nobody serves");
    setInputsEnabled(calls.dialog, true);
    showProgress();
    return 0;
}

void expectNothingServed(WorkerCalls& calls) {
    ::testing::internal::CaptureStderr();
    ThreadHandle worker = threadStart(callsNobodyServes, &calls);
    ASSERT_NE(worker, nullptr);
    threadJoin(worker);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "VUD Data Converter: nobody serves\n");
    EXPECT_FALSE(calls.anyCallSucceeded);
    EXPECT_EQ(calls.answer, MessageBoxAnswer::Failed);
    EXPECT_EQ(calls.okAnswer, MessageBoxAnswer::Failed);
}

TEST_F(ConsoleTest, WorkerCallsFailAtOnceWhenTheLoopNeverRanOrHasEnded) {
    ASSERT_NE(makeDialog(), nullptr);
    mainDialog = dialog;
    {
        WorkerCalls calls{};
        calls.dialog = dialog;
        expectNothingServed(calls);
    }
    windowPostQuit(0);
    windowRunMessageLoop();
    {
        WorkerCalls calls{};
        calls.dialog = dialog;
        expectNothingServed(calls);
    }
    mainDialog = nullptr;
    EXPECT_TRUE(windowIsAlive(dialog));  // only the loop has ended
}

void destroyOnce(void* context) {
    WorkerCalls& calls = *static_cast<WorkerCalls*>(context);
    if (windowIsAlive(calls.dialog)) windowDestroy(calls.dialog);
    if (calls.done.load()) windowPostQuit(0);
}

int32_t callsAfterDestroy(void* raw) {
    WorkerCalls& calls = *static_cast<WorkerCalls*>(raw);
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(10);
    while (windowIsAlive(calls.dialog) && Clock::now() < limit) sleepMilliseconds(1);
    calls.anyCallSucceeded = windowSetItemText(calls.dialog, SourceFolderEdit, "x") ||
                             windowEnableItem(calls.dialog, StartButton, true);
    calls.answer =
        windowMessageBox(calls.dialog, "q", "c", MessageBoxButtons::Ok, MessageBoxIcon::Warning);
    // A box without an owner is still shown while the loop runs.
    calls.okAnswer =
        windowMessageBox(nullptr, "ownerless", "c", MessageBoxButtons::Ok, MessageBoxIcon::Warning);
    calls.done = true;
    return 0;
}

TEST_F(ConsoleTest, WorkerCallsFailAtOnceAfterTheDialogIsDestroyed) {
    ASSERT_NE(makeDialog(), nullptr);
    procedureBehaviour.quitOnDestroy = false;
    WorkerCalls calls{};
    calls.dialog = dialog;
    consoleSetLoopHook(destroyOnce, &calls, 5);
    ::testing::internal::CaptureStderr();
    ThreadHandle worker = threadStart(callsAfterDestroy, &calls);
    ASSERT_NE(worker, nullptr);
    windowRunMessageLoop();
    threadJoin(worker);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "c: ownerless\n");
    EXPECT_FALSE(calls.anyCallSucceeded);
    EXPECT_EQ(calls.answer, MessageBoxAnswer::Failed);
    EXPECT_EQ(calls.okAnswer, MessageBoxAnswer::Ok);
}

struct QueuedAtStop {
    WindowHandle dialog;
    std::atomic<bool> loopServing{false};
    bool applied = true;
    bool sawQueuedCall = false;
};

void quitWithACallQueued(void* context) {
    QueuedAtStop& state = *static_cast<QueuedAtStop*>(context);
    state.loopServing = true;
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(10);
    while (consoleQueuedCallCount() < 1 && Clock::now() < limit) sleepMilliseconds(1);
    state.sawQueuedCall = consoleQueuedCallCount() == 1;
    windowPostQuit(0);
}

int32_t callIntoStoppingLoop(void* raw) {
    QueuedAtStop& state = *static_cast<QueuedAtStop*>(raw);
    waitFor(state.loopServing);
    state.applied = windowSetItemText(state.dialog, SourceFolderEdit, "too late");
    return 0;
}

TEST_F(ConsoleTest, CallsStillQueuedWhenTheLoopStopsAreFailed) {
    ASSERT_NE(makeDialog(), nullptr);
    QueuedAtStop state{};
    state.dialog = dialog;
    consoleSetLoopHook(quitWithACallQueued, &state, 1);
    ThreadHandle worker = threadStart(callIntoStoppingLoop, &state);
    ASSERT_NE(worker, nullptr);
    windowRunMessageLoop();
    threadJoin(worker);
    EXPECT_TRUE(state.sawQueuedCall);
    EXPECT_FALSE(state.applied);
    EXPECT_EQ(itemText(dialog, SourceFolderEdit), "");
    EXPECT_EQ(consoleQueuedCallCount(), 0);
}

}  // namespace
