// The window layer's contract, one typed suite for every backend: the
// dialog's items, the argument checks and the thread contract of
// window/window_layer.h. One file of a backend's test program includes
// this and instantiates the suite with a driver:
//
//   struct Driver {
//       static void setUp();     // the layer initialised on this thread
//       static void tearDown();  // and shut down (or kept, when it cannot restart)
//       // windowRunMessageLoop with tick() called on this thread every
//       // millisecond or so while it runs; the loop's code.
//       static int32_t runLoop(const std::function<void()>& tick);
//       // Answers every message box (question or not) once it is shown.
//       static void answerBoxes(const MessageBoxResponder& responder);
//   };
//   INSTANTIATE_TYPED_TEST_SUITE_P(Name, WindowContract, Driver);
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "window/window_layer.h"
#include "tests/window/test_dialog.h"
#include "tests/window/window_test_hooks.h"

namespace {

std::string itemText(WindowHandle dialog, int32_t id) {
    char buffer[256];
    if (windowGetItemText(dialog, id, buffer, sizeof buffer) < 0) return "<failed>";
    return buffer;
}

// Waits on a worker thread for flag, which the loop's tick sets.
void waitFor(const std::atomic<bool>& flag) {
    while (!flag.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void waitForQueuedCall() {
    while (windowTestQueuedCallCount() < 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Every call a worker can make on dialog; true when any of them succeeded.
bool anyWorkerCallSucceeds(WindowHandle dialog) {
    bool succeeded = false;
    std::thread worker([&] {
        char buffer[16];
        WindowRect rect{};
        succeeded =
            windowSetItemText(dialog, NameEdit, "x") ||
            windowGetItemText(dialog, NameEdit, buffer, sizeof buffer) >= 0 ||
            windowEnableItem(dialog, GoButton, false) || windowIsItemEnabled(dialog, GoButton) ||
            windowSetProgressPosition(dialog, Bar, 1) ||
            windowGetProgressPosition(dialog, Bar) >= 0 ||
            windowListAddString(dialog, Choices, "x") >= 0 ||
            windowListSelectString(dialog, Choices, "") >= 0 || windowSetTitle(dialog, "x") ||
            windowGetRect(dialog, &rect) || windowShow(dialog, ShowCommand::Hide) ||
            windowMessageBox(dialog, "q", "c", MessageBoxButtons::YesNo,
                             MessageBoxIcon::Question) != MessageBoxAnswer::Failed ||
            windowMessageBox(nullptr, "q", "c", MessageBoxButtons::Ok, MessageBoxIcon::Warning) !=
                MessageBoxAnswer::Failed;
    });
    worker.join();
    return succeeded;
}

WindowHandle createContractDialog() {
    testDialogMessages.clear();
    return windowCreateDialog(&testTemplate, testDialogProcedure);
}

}  // namespace

template <typename Driver>
class WindowContract : public ::testing::Test {
protected:
    void SetUp() override {
        Driver::setUp();
        windowTestClearMessageBoxes();
        Driver::answerBoxes([](const MessageBoxRecord& box) {
            return box.buttons == MessageBoxButtons::Ok ? MessageBoxAnswer::Ok
                                                        : MessageBoxAnswer::No;
        });
        dialog = createContractDialog();
        ASSERT_NE(dialog, nullptr);
    }
    void TearDown() override {
        if (windowIsAlive(dialog)) windowDestroy(dialog);
        EXPECT_FALSE(windowTestQuitPending()) << "a test left a quit behind";
        Driver::answerBoxes(nullptr);
        Driver::tearDown();
    }
    WindowHandle dialog = nullptr;
};

TYPED_TEST_SUITE_P(WindowContract);

TYPED_TEST_P(WindowContract, TheDialogStartsFromItsTemplate) {
    ASSERT_FALSE(testDialogMessages.empty());
    EXPECT_EQ(testDialogMessages[0].message, DialogMessage::Initialize);
    EXPECT_TRUE(testDialogMessages[0].onUserInterfaceThread);
    EXPECT_EQ(itemText(this->dialog, GoButton), "Go");
    EXPECT_EQ(itemText(this->dialog, NameEdit), "");
    EXPECT_EQ(itemText(this->dialog, Percent), "0%");
    EXPECT_EQ(windowListGetSelection(this->dialog, Choices), -1);
    EXPECT_EQ(windowGetProgressPosition(this->dialog, Bar), 0);
    EXPECT_TRUE(windowIsItemEnabled(this->dialog, OtherButton));
    EXPECT_EQ(itemText(this->dialog, 4242), "<failed>") << "no such control";
    EXPECT_GT(windowScreenWidth(), 0);
    EXPECT_GT(windowScreenHeight(), 0);
}

TYPED_TEST_P(WindowContract, EditsNotifyEveryChangeButTheProgramsListSelectionDoesNot) {
    testDialogMessages.clear();
    EXPECT_TRUE(windowSetItemText(this->dialog, NameEdit, "/voice/"));
    EXPECT_TRUE(windowSetItemText(this->dialog, Percent, "5%"));  // a label: no notification
    EXPECT_TRUE(windowSetItemText(this->dialog, OtherButton, "Again"));
    EXPECT_EQ(testDialogCommands(),
              std::vector<uint32_t>{commandParam(NameEdit, NotifyEditChanged)});
    EXPECT_EQ(itemText(this->dialog, NameEdit), "/voice/");
    EXPECT_EQ(itemText(this->dialog, Percent), "5%");
    EXPECT_EQ(itemText(this->dialog, OtherButton), "Again");

    testDialogMessages.clear();
    EXPECT_EQ(windowListAddString(this->dialog, Choices, "8kbit/s"), 0);
    EXPECT_EQ(windowListAddString(this->dialog, Choices, "16kbit/s"), 1);
    EXPECT_EQ(windowListAddString(this->dialog, Choices, "160kbit/s"), 2);
    EXPECT_EQ(windowListGetSelection(this->dialog, Choices), -1) << "adding rows selects nothing";
    EXPECT_EQ(windowListSelectString(this->dialog, Choices, "16kbit/s"), 1);
    EXPECT_EQ(windowListSelectString(this->dialog, Choices, "16k"), -1) << "whole texts only";
    EXPECT_EQ(windowListSelectString(this->dialog, Choices, nullptr), -1);
    EXPECT_EQ(windowListGetSelection(this->dialog, Choices), 1);
    EXPECT_TRUE(testDialogMessages.empty());
    EXPECT_EQ(windowListAddString(this->dialog, GoButton, "x"), -1) << "not a list";
    EXPECT_EQ(windowListSelectString(this->dialog, GoButton, "Go"), -1) << "not a list";
}

TYPED_TEST_P(WindowContract, TextsAreCutToTheBufferNeverInsideACharacter) {
    ASSERT_TRUE(windowSetItemText(this->dialog, NameEdit, "abcdef"));
    char small[4];
    EXPECT_EQ(windowGetItemText(this->dialog, NameEdit, small, sizeof small), 3);
    EXPECT_STREQ(small, "abc");
    ASSERT_TRUE(windowSetItemText(this->dialog, NameEdit, "出力フォルダ"));
    char five[5];
    EXPECT_EQ(windowGetItemText(this->dialog, NameEdit, five, sizeof five), 3);
    EXPECT_STREQ(five, "出");
    EXPECT_EQ(windowGetItemText(this->dialog, NameEdit, nullptr, 10), -1);
    EXPECT_EQ(windowGetItemText(this->dialog, NameEdit, five, 0), -1);
    ASSERT_TRUE(windowSetItemText(this->dialog, NameEdit, nullptr));
    EXPECT_EQ(itemText(this->dialog, NameEdit), "") << "a null text is an empty one";
}

TYPED_TEST_P(WindowContract, ListsReadAsTheirSelectedRowAndProgressBarsAsNothing) {
    EXPECT_EQ(itemText(this->dialog, Choices), "") << "nothing selected";
    ASSERT_EQ(windowListAddString(this->dialog, Choices, "24kbit/s"), 0);
    ASSERT_EQ(windowListSelectString(this->dialog, Choices, "24kbit/s"), 0);
    EXPECT_EQ(itemText(this->dialog, Choices), "24kbit/s");
    EXPECT_FALSE(windowSetItemText(this->dialog, Choices, "other"));
    EXPECT_EQ(itemText(this->dialog, Choices), "24kbit/s");
    EXPECT_FALSE(windowSetItemText(this->dialog, Bar, "50%"));
    EXPECT_EQ(itemText(this->dialog, Bar), "");
}

TYPED_TEST_P(WindowContract, ProgressStaysInItsRangeAndAnInvertedRangeIsRefused) {
    ASSERT_TRUE(windowSetProgressRange(this->dialog, Bar, 0, 10));
    ASSERT_TRUE(windowSetProgressPosition(this->dialog, Bar, 15));
    EXPECT_EQ(windowGetProgressPosition(this->dialog, Bar), 10);
    ASSERT_TRUE(windowSetProgressPosition(this->dialog, Bar, -3));
    EXPECT_EQ(windowGetProgressPosition(this->dialog, Bar), 0);
    ASSERT_TRUE(windowSetProgressPosition(this->dialog, Bar, 7));
    ASSERT_TRUE(windowSetProgressRange(this->dialog, Bar, 0, 5));
    EXPECT_EQ(windowGetProgressPosition(this->dialog, Bar), 5) << "a narrower range clamps";

    EXPECT_FALSE(windowSetProgressRange(this->dialog, Bar, 9, 2));
    int32_t minimum = -1, maximum = -1;
    ASSERT_TRUE(windowTestProgressRange(this->dialog, Bar, &minimum, &maximum));
    EXPECT_EQ(minimum, 0);
    EXPECT_EQ(maximum, 5) << "a refused range changes nothing";
    EXPECT_EQ(windowGetProgressPosition(this->dialog, Bar), 5);

    ASSERT_TRUE(windowSetProgressRange(this->dialog, Bar, 4, 4));
    EXPECT_EQ(windowGetProgressPosition(this->dialog, Bar), 4) << "an empty range at its minimum";
    EXPECT_FALSE(windowSetProgressPosition(this->dialog, Percent, 1)) << "not a progress bar";
    EXPECT_EQ(windowGetProgressPosition(this->dialog, Percent), -1);
    EXPECT_FALSE(windowSetProgressRange(this->dialog, NameEdit, 0, 1));
}

TYPED_TEST_P(WindowContract, MovesKeepTheSizeAndRefuseNegativeSizes) {
    WindowRect before{};
    ASSERT_TRUE(windowGetRect(this->dialog, &before));
    const int32_t width = before.right - before.left;
    const int32_t height = before.bottom - before.top;
    ASSERT_TRUE(windowMove(this->dialog, 40, 30, width, height));
    WindowRect after{};
    ASSERT_TRUE(windowGetRect(this->dialog, &after));
    EXPECT_EQ(after.left, 40);
    EXPECT_EQ(after.top, 30);
    EXPECT_EQ(after.right - after.left, width);
    EXPECT_EQ(after.bottom - after.top, height);

    EXPECT_FALSE(windowMove(this->dialog, 0, 0, -1, height));
    EXPECT_FALSE(windowMove(this->dialog, 0, 0, width, -5));
    ASSERT_TRUE(windowGetRect(this->dialog, &after));
    EXPECT_EQ(after.left, 40) << "a refused move changes nothing";
    EXPECT_EQ(after.right - after.left, width);
    EXPECT_FALSE(windowGetRect(this->dialog, nullptr));
}

TYPED_TEST_P(WindowContract, ADestroyedDialogRefusesEveryCall) {
    windowDestroy(this->dialog);
    ASSERT_EQ(testDialogMessages.back().message, DialogMessage::Destroy);
    EXPECT_FALSE(windowIsAlive(this->dialog));
    EXPECT_FALSE(windowSetItemText(this->dialog, NameEdit, "x"));
    EXPECT_EQ(itemText(this->dialog, NameEdit), "<failed>");
    EXPECT_FALSE(windowEnableItem(this->dialog, GoButton, true));
    EXPECT_FALSE(windowSetProgressPosition(this->dialog, Bar, 1));
    EXPECT_EQ(windowGetProgressPosition(this->dialog, Bar), -1);
    EXPECT_EQ(windowListAddString(this->dialog, Choices, "x"), -1);
    EXPECT_FALSE(windowShow(this->dialog, ShowCommand::Show));
    EXPECT_EQ(
        windowMessageBox(this->dialog, "t", "c", MessageBoxButtons::Ok, MessageBoxIcon::Warning),
        MessageBoxAnswer::Failed);
    EXPECT_TRUE(windowTestMessageBoxes().empty()) << "no box for a destroyed owner";
    const size_t before = testDialogMessages.size();
    windowDestroy(this->dialog);
    EXPECT_EQ(testDialogMessages.size(), before) << "no second Destroy";
}

TYPED_TEST_P(WindowContract, OnlyTheUserInterfaceThreadCreatesAndDestroys) {
    WindowHandle created = this->dialog;
    std::thread worker([&] {
        windowDestroy(this->dialog);
        created = windowCreateDialog(&testTemplate, testDialogProcedure);
    });
    worker.join();
    EXPECT_TRUE(windowIsAlive(this->dialog));
    EXPECT_EQ(created, nullptr);
}

TYPED_TEST_P(WindowContract, AQuitPostedWhileNoLoopRunsEndsTheNextLoopAtOnce) {
    windowPostQuit(3);
    EXPECT_EQ(TypeParam::runLoop([] {}), 3);
    // The quit is used up: the next loop runs until its own.
    int32_t ticks = 0;
    EXPECT_EQ(TypeParam::runLoop([&ticks] {
                  if (++ticks == 3) windowPostQuit(4);
              }),
              4);
    EXPECT_EQ(ticks, 3);
}

TYPED_TEST_P(WindowContract, OneMessageLoopAtATime) {
    int32_t nested = 0;
    EXPECT_EQ(TypeParam::runLoop([&nested] {
                  nested = windowRunMessageLoop();
                  windowPostQuit(6);
              }),
              6);
    EXPECT_EQ(nested, -1);
}

TYPED_TEST_P(WindowContract, WorkerCallsAreAppliedOnTheUserInterfaceThread) {
    std::atomic<bool> serving{false};
    bool textSet = false, enabledChanged = false;
    int32_t row = -2, position = -2;
    std::string textRead;
    std::thread worker([&] {
        waitFor(serving);
        textSet = windowSetItemText(this->dialog, NameEdit, "from the worker");
        char buffer[64];
        if (windowGetItemText(this->dialog, NameEdit, buffer, sizeof buffer) >= 0)
            textRead = buffer;
        enabledChanged = windowEnableItem(this->dialog, OtherButton, false);
        windowSetProgressRange(this->dialog, Bar, 0, 1000);
        for (int32_t step = 1; step <= 1000; ++step)
            windowSetProgressPosition(this->dialog, Bar, step);
        position = windowGetProgressPosition(this->dialog, Bar);
        row = windowListAddString(this->dialog, Choices, "32kbit/s");
        windowPostQuit(5);
    });
    testDialogMessages.clear();
    EXPECT_EQ(TypeParam::runLoop([&serving] { serving = true; }), 5);
    worker.join();
    EXPECT_TRUE(textSet);
    EXPECT_TRUE(enabledChanged);
    EXPECT_EQ(textRead, "from the worker");
    EXPECT_EQ(position, 1000);
    EXPECT_EQ(row, 0);
    EXPECT_FALSE(windowIsItemEnabled(this->dialog, OtherButton));
    // The edit's notification reached the procedure on the user-interface thread.
    ASSERT_EQ(testDialogMessages.size(), 1u);
    EXPECT_EQ(testDialogMessages[0].param, commandParam(NameEdit, NotifyEditChanged));
    EXPECT_TRUE(testDialogMessages[0].onUserInterfaceThread);
}

TYPED_TEST_P(WindowContract, AWorkersQuestionIsAnsweredThereWhileTheWorkerWaits) {
    std::atomic<bool> serving{false}, answered{false};
    bool askedOnUserInterfaceThread = false, workerStillWaiting = false;
    TypeParam::answerBoxes([&](const MessageBoxRecord& box) {
        askedOnUserInterfaceThread = windowTestOnUserInterfaceThread();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        workerStillWaiting = !answered.load();
        return box.buttons == MessageBoxButtons::YesNo ? MessageBoxAnswer::Yes
                                                       : MessageBoxAnswer::Ok;
    });
    MessageBoxAnswer answer = MessageBoxAnswer::Failed;
    std::thread worker([&] {
        waitFor(serving);
        answer = windowMessageBox(this->dialog, "上書きしますか？", "確認",
                                  MessageBoxButtons::YesNo, MessageBoxIcon::Warning);
        answered = true;
        windowPostQuit(0);
    });
    EXPECT_EQ(TypeParam::runLoop([&serving] { serving = true; }), 0);
    worker.join();
    EXPECT_EQ(answer, MessageBoxAnswer::Yes);
    EXPECT_TRUE(askedOnUserInterfaceThread);
    EXPECT_TRUE(workerStillWaiting);
    const std::vector<MessageBoxRecord> boxes = windowTestMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "上書きしますか？");
    EXPECT_EQ(boxes[0].caption, "確認");
    EXPECT_EQ(boxes[0].owner, this->dialog);
}

TYPED_TEST_P(WindowContract, WorkerCallsFailAtOnceWhenTheLoopNeverRanOrHasEnded) {
    // Nothing would ever answer them: none may wait (a wait never ends).
    EXPECT_FALSE(anyWorkerCallSucceeds(this->dialog)) << "before any loop";
    windowPostQuit(0);
    EXPECT_EQ(TypeParam::runLoop([] {}), 0);
    EXPECT_FALSE(anyWorkerCallSucceeds(this->dialog)) << "after the loop";
    std::thread worker([] { EXPECT_EQ(windowScreenWidth(), 0); });
    worker.join();
    EXPECT_TRUE(windowIsAlive(this->dialog)) << "only the loop has ended";
    EXPECT_EQ(itemText(this->dialog, NameEdit), "");
}

TYPED_TEST_P(WindowContract, WorkerCallsFailOnceTheDialogIsDestroyedButOwnerlessBoxesShow) {
    std::atomic<bool> done{false};
    bool anySucceeded = true;
    MessageBoxAnswer ownerless = MessageBoxAnswer::Failed;
    std::thread worker([&] {
        while (windowIsAlive(this->dialog))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        anySucceeded = windowSetItemText(this->dialog, NameEdit, "x") ||
                       windowEnableItem(this->dialog, GoButton, true) ||
                       windowMessageBox(this->dialog, "q", "c", MessageBoxButtons::Ok,
                                        MessageBoxIcon::Warning) != MessageBoxAnswer::Failed;
        // A box without an owner is still shown while the loop runs.
        ownerless = windowMessageBox(nullptr, "ownerless", "c", MessageBoxButtons::Ok,
                                     MessageBoxIcon::Warning);
        done = true;
    });
    TypeParam::runLoop([&] {
        if (windowIsAlive(this->dialog)) windowDestroy(this->dialog);
        if (done.load()) windowPostQuit(0);
    });
    worker.join();
    EXPECT_FALSE(anySucceeded);
    EXPECT_EQ(ownerless, MessageBoxAnswer::Ok);
    const std::vector<MessageBoxRecord> boxes = windowTestMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, nullptr);
}

TYPED_TEST_P(WindowContract, CallsStillQueuedWhenTheLoopStopsAreFailed) {
    std::atomic<bool> serving{false};
    bool applied = true;
    std::thread worker([&] {
        waitFor(serving);
        applied = windowSetItemText(this->dialog, NameEdit, "too late");
    });
    bool sawQueuedCall = false;
    TypeParam::runLoop([&] {
        serving = true;
        if (sawQueuedCall) return;
        // The user-interface thread is busy here: the call waits in the
        // queue; a quit from here ends the loop before serving it.
        waitForQueuedCall();
        sawQueuedCall = windowTestQueuedCallCount() == 1;
        windowPostQuit(0);
    });
    worker.join();
    EXPECT_TRUE(sawQueuedCall);
    EXPECT_FALSE(applied);
    EXPECT_EQ(windowTestQueuedCallCount(), 0);
    EXPECT_EQ(itemText(this->dialog, NameEdit), "");
}

TYPED_TEST_P(WindowContract, ACallQueuedForADialogDestroyedBeforeItRunsFails) {
    std::atomic<bool> serving{false}, done{false};
    bool applied = true;
    std::thread worker([&] {
        waitFor(serving);
        applied = windowSetItemText(this->dialog, NameEdit, "too late");
        done = true;
    });
    TypeParam::runLoop([&] {
        serving = true;
        if (done.load()) windowPostQuit(0);
        if (!windowIsAlive(this->dialog)) return;
        // Queued while the dialog lived, run after it died: the gate is
        // checked again.
        waitForQueuedCall();
        windowDestroy(this->dialog);
    });
    worker.join();
    EXPECT_FALSE(applied);
}

TYPED_TEST_P(WindowContract, AQuitFromAnotherThreadEndsTheLoopWithItsCode) {
    std::thread worker([this] {
        // Once a call succeeds the loop serves; then quit it.
        while (!windowSetItemText(this->dialog, NameEdit, "x"))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        windowPostQuit(7);
    });
    EXPECT_EQ(TypeParam::runLoop([] {}), 7);
    worker.join();
}

REGISTER_TYPED_TEST_SUITE_P(WindowContract, TheDialogStartsFromItsTemplate,
                            EditsNotifyEveryChangeButTheProgramsListSelectionDoesNot,
                            TextsAreCutToTheBufferNeverInsideACharacter,
                            ListsReadAsTheirSelectedRowAndProgressBarsAsNothing,
                            ProgressStaysInItsRangeAndAnInvertedRangeIsRefused,
                            MovesKeepTheSizeAndRefuseNegativeSizes,
                            ADestroyedDialogRefusesEveryCall,
                            OnlyTheUserInterfaceThreadCreatesAndDestroys,
                            AQuitPostedWhileNoLoopRunsEndsTheNextLoopAtOnce, OneMessageLoopAtATime,
                            WorkerCallsAreAppliedOnTheUserInterfaceThread,
                            AWorkersQuestionIsAnsweredThereWhileTheWorkerWaits,
                            WorkerCallsFailAtOnceWhenTheLoopNeverRanOrHasEnded,
                            WorkerCallsFailOnceTheDialogIsDestroyedButOwnerlessBoxesShow,
                            CallsStillQueuedWhenTheLoopStopsAreFailed,
                            ACallQueuedForADialogDestroyedBeforeItRunsFails,
                            AQuitFromAnotherThreadEndsTheLoopWithItsCode);
