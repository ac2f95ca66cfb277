// The console window layer on its own thread: the dialog's messages, its
// controls in memory, posted commands, questions and the progress line.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "app/dialog_resource.h"
#include "tests/shell/console_fixture.h"

namespace {

uint32_t command(int32_t id, uint16_t code) {
    return commandParam(id, code);
}

TEST_F(ConsoleTest, DialogStartsFromItsTemplate) {
    ASSERT_NE(makeDialog(), nullptr);
    ASSERT_EQ(receivedMessages.size(), 1u);
    EXPECT_EQ(receivedMessages[0].message, DialogMessage::Initialize);
    EXPECT_TRUE(receivedMessages[0].onUserInterfaceThread);
    EXPECT_EQ(itemText(dialog, StartButton), StartCaption);
    EXPECT_EQ(itemText(dialog, PercentText), "0%");
    EXPECT_EQ(itemText(dialog, SourceFolderEdit), "");
    EXPECT_EQ(windowListGetSelection(dialog, BitRateList), -1);
    EXPECT_EQ(consoleListRowCount(dialog, BitRateList), 0);
    EXPECT_FALSE(consoleIsVisible(dialog));
    char title[64];
    EXPECT_GT(consoleGetTitle(dialog, title, sizeof title), 0);
    EXPECT_EQ(itemText(dialog, 4242), "<failed>");
}

TEST_F(ConsoleTest, EditChangesNotifyButListSelectionByProgramDoesNot) {
    ASSERT_NE(makeDialog(), nullptr);
    receivedMessages.clear();
    EXPECT_TRUE(windowSetItemText(dialog, SourceFolderEdit, "/voice/"));
    EXPECT_TRUE(windowSetItemText(dialog, OutputPathEdit, "/out/vud.pac"));
    EXPECT_TRUE(windowSetItemText(dialog, PercentText, "5%"));  // a label: no notification
    ASSERT_EQ(receivedMessages.size(), 2u);
    EXPECT_EQ(receivedMessages[0].message, DialogMessage::Command);
    EXPECT_EQ(receivedMessages[0].param, command(SourceFolderEdit, NotifyEditChanged));
    EXPECT_EQ(receivedMessages[1].param, command(OutputPathEdit, NotifyEditChanged));
    EXPECT_EQ(itemText(dialog, SourceFolderEdit), "/voice/");

    receivedMessages.clear();
    EXPECT_EQ(windowListAddString(dialog, BitRateList, "8kbit/s"), 0);
    EXPECT_EQ(windowListAddString(dialog, BitRateList, "16kbit/s"), 1);
    EXPECT_EQ(windowListAddString(dialog, BitRateList, "160kbit/s"), 2);
    EXPECT_EQ(windowListSelectString(dialog, BitRateList, "16kbit/s"), 1);
    EXPECT_EQ(windowListSelectString(dialog, BitRateList, "16k"), -1);  // whole text only
    EXPECT_EQ(windowListGetSelection(dialog, BitRateList), 1);
    EXPECT_TRUE(receivedMessages.empty());
    char row[32];
    EXPECT_EQ(consoleListRowText(dialog, BitRateList, 2, row, sizeof row), 9);
    EXPECT_STREQ(row, "160kbit/s");
    EXPECT_EQ(windowListAddString(dialog, StartButton, "x"), -1);  // no list
}

TEST_F(ConsoleTest, TextCopiesRespectTheCapacity) {
    ASSERT_NE(makeDialog(), nullptr);
    ASSERT_TRUE(windowSetItemText(dialog, SourceFolderEdit, "abcdef"));
    char small[4];
    EXPECT_EQ(windowGetItemText(dialog, SourceFolderEdit, small, sizeof small), 3);
    EXPECT_STREQ(small, "abc");
    // A UTF-8 character is never cut in half.
    ASSERT_TRUE(windowSetItemText(dialog, SourceFolderEdit, "あい"));
    char five[5];
    EXPECT_EQ(windowGetItemText(dialog, SourceFolderEdit, five, sizeof five), 3);
    EXPECT_STREQ(five, "あ");
    EXPECT_EQ(windowGetItemText(dialog, SourceFolderEdit, nullptr, 10), -1);
    EXPECT_EQ(windowGetItemText(dialog, SourceFolderEdit, five, 0), -1);
}

TEST_F(ConsoleTest, ProgressPositionStaysInRange) {
    ASSERT_NE(makeDialog(), nullptr);
    EXPECT_TRUE(windowSetProgressRange(dialog, ProgressBar, 0, 10));
    EXPECT_TRUE(windowSetProgressPosition(dialog, ProgressBar, 12));
    EXPECT_EQ(windowGetProgressPosition(dialog, ProgressBar), 10);
    EXPECT_TRUE(windowSetProgressPosition(dialog, ProgressBar, -3));
    EXPECT_EQ(windowGetProgressPosition(dialog, ProgressBar), 0);
    EXPECT_FALSE(windowSetProgressRange(dialog, ProgressBar, 5, 4));
    EXPECT_FALSE(windowSetProgressPosition(dialog, PercentText, 1));  // no bar
    EXPECT_EQ(windowGetProgressPosition(dialog, PercentText), -1);
}

TEST_F(ConsoleTest, DestroyedDialogRefusesEveryCall) {
    ASSERT_NE(makeDialog(), nullptr);
    procedureBehaviour.quitOnDestroy = false;
    windowDestroy(dialog);
    ASSERT_EQ(receivedMessages.back().message, DialogMessage::Destroy);
    EXPECT_FALSE(windowIsAlive(dialog));
    EXPECT_FALSE(windowSetItemText(dialog, SourceFolderEdit, "x"));
    EXPECT_EQ(itemText(dialog, SourceFolderEdit), "<failed>");
    EXPECT_FALSE(windowEnableItem(dialog, StartButton, true));
    EXPECT_FALSE(windowSetProgressPosition(dialog, ProgressBar, 1));
    EXPECT_EQ(windowListAddString(dialog, BitRateList, "x"), -1);
    EXPECT_EQ(windowMessageBox(dialog, "t", "c", MessageBoxButtons::Ok, MessageBoxIcon::Warning),
              MessageBoxAnswer::Failed);
    // A destroyed dialog gets no second Destroy.
    const size_t before = receivedMessages.size();
    windowDestroy(dialog);
    EXPECT_EQ(receivedMessages.size(), before);
}

TEST_F(ConsoleTest, PostedCommandsAndCloseReachTheProcedureInOrder) {
    ASSERT_NE(makeDialog(), nullptr);
    receivedMessages.clear();
    procedureBehaviour.quitCode = 7;
    ASSERT_TRUE(consolePostCommand(dialog, StartButton, NotifyClicked));
    ASSERT_TRUE(consolePostCommand(nullptr, BitRateList, NotifyListSelChanged));
    ASSERT_TRUE(consolePostClose(nullptr));
    EXPECT_EQ(windowRunMessageLoop(), 7);
    ASSERT_EQ(receivedMessages.size(), 4u);
    EXPECT_EQ(receivedMessages[0].param, command(StartButton, NotifyClicked));
    EXPECT_EQ(receivedMessages[1].param, command(BitRateList, NotifyListSelChanged));
    EXPECT_EQ(receivedMessages[2].message, DialogMessage::Close);
    EXPECT_EQ(receivedMessages[3].message, DialogMessage::Destroy);
    EXPECT_FALSE(windowIsAlive(dialog));
}

TEST_F(ConsoleTest, QuitPostedBeforeTheLoopEndsItAtOnce) {
    windowPostQuit(3);
    EXPECT_EQ(windowRunMessageLoop(), 3);
    // The quit is used up: a later loop runs until its own.
    windowPostQuit(4);
    EXPECT_EQ(windowRunMessageLoop(), 4);
}

volatile std::sig_atomic_t handlerRan = 0;

void postCancelFromSignal(int) {
    consolePostCommand(nullptr, StartButton, NotifyClicked);
    handlerRan = 1;
}

void quitAfterCommand(void*) {
    for (const ReceivedMessage& message : receivedMessages) {
        if (message.message == DialogMessage::Command) windowPostQuit(0);
    }
}

TEST_F(ConsoleTest, SignalHandlerPostsACommand) {
    ASSERT_NE(makeDialog(), nullptr);
    receivedMessages.clear();
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = postCancelFromSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    handlerRan = 0;
    ASSERT_EQ(raise(SIGUSR1), 0);
    sigaction(SIGUSR1, &previous, nullptr);
    ASSERT_EQ(handlerRan, 1);
    consoleSetLoopHook(quitAfterCommand, nullptr, 5);
    EXPECT_EQ(windowRunMessageLoop(), 0);
    ASSERT_FALSE(receivedMessages.empty());
    EXPECT_EQ(receivedMessages[0].param, command(StartButton, NotifyClicked));
    EXPECT_TRUE(receivedMessages[0].onUserInterfaceThread);
}

int hookCalls = 0;
void countAndQuitAtThree(void*) {
    hookCalls += 1;
    EXPECT_TRUE(consoleIsUserInterfaceThread());
    if (hookCalls == 3) windowPostQuit(9);
}

TEST_F(ConsoleTest, LoopHookRunsPeriodically) {
    hookCalls = 0;
    consoleSetLoopHook(countAndQuitAtThree, nullptr, 10);
    EXPECT_EQ(windowRunMessageLoop(), 9);
    EXPECT_EQ(hookCalls, 3);
}

MessageBoxAnswer answerYes(const char* text, const char* caption, void* context) {
    *static_cast<std::string*>(context) = std::string(caption) + "|" + text;
    return MessageBoxAnswer::Yes;
}

TEST_F(ConsoleTest, QuestionsTakeTheHandlerOrThePresetAnswer) {
    ASSERT_NE(makeDialog(), nullptr);
    ConsoleWindowConfig config = testConfig();
    config.quiet = false;
    config.presetAnswer = MessageBoxAnswer::Yes;
    consoleConfigure(config);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(windowMessageBox(dialog, "上書きしますか？", "確認", MessageBoxButtons::YesNo,
                               MessageBoxIcon::Warning),
              MessageBoxAnswer::Yes);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "確認: 上書きしますか？ [yes]\n");

    // Quiet leaves out a question answered Yes, never one answered No: its
    // text is the only reason the user gets for what did not happen.
    config.quiet = true;
    consoleConfigure(config);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(windowMessageBox(dialog, "q", "c", MessageBoxButtons::YesNo, MessageBoxIcon::Warning),
              MessageBoxAnswer::Yes);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    config.presetAnswer = MessageBoxAnswer::No;
    consoleConfigure(config);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(windowMessageBox(dialog, "q", "c", MessageBoxButtons::YesNo, MessageBoxIcon::Warning),
              MessageBoxAnswer::No);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "c: q [no]\n");

    std::string asked;
    config.questionHandler = answerYes;
    config.questionContext = &asked;
    consoleConfigure(config);
    EXPECT_EQ(windowMessageBox(dialog, "q", "c", MessageBoxButtons::YesNo, MessageBoxIcon::Warning),
              MessageBoxAnswer::Yes);
    EXPECT_EQ(asked, "c|q");
    ConsoleMessageBoxRecord box{};
    ASSERT_TRUE(consoleLastMessageBox(&box));
    EXPECT_EQ(box.answer, MessageBoxAnswer::Yes);
    EXPECT_EQ(box.buttons, MessageBoxButtons::YesNo);
}

struct RunDriver {
    WindowHandle dialog;
    int32_t step;
    int32_t steps;
    bool warnHalfway;
};

void advanceRun(void* context) {
    RunDriver& run = *static_cast<RunDriver*>(context);
    if (run.step == run.steps) {
        consoleEndProgressLine();
        windowPostQuit(0);
        return;
    }
    run.step += 1;
    windowSetProgressPosition(run.dialog, ProgressBar, run.step);
    if (run.warnHalfway && run.step * 2 == run.steps) {
        windowMessageBox(run.dialog, "careful", "VUD Data Converter", MessageBoxButtons::Ok,
                         MessageBoxIcon::Warning);
    }
}

std::string runWithProgress(WindowHandle dialog, const ConsoleWindowConfig& config, bool warn) {
    consoleConfigure(config);
    RunDriver run{dialog, 0, 4, warn};
    consoleSetLoopHook(advanceRun, &run, 60);
    ::testing::internal::CaptureStderr();
    windowSetProgressRange(dialog, ProgressBar, 0, 4);
    windowRunMessageLoop();
    return ::testing::internal::GetCapturedStderr();
}

TEST_F(ConsoleTest, TerminalProgressIsOneSelfUpdatingLine) {
    ASSERT_NE(makeDialog(), nullptr);
    ConsoleWindowConfig config = testConfig();
    config.quiet = false;
    config.progressOnTerminal = true;
    consoleSetEntryLabel("z001.vud (  4/  4)");
    const std::string out = runWithProgress(dialog, config, false);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front(), '\r');
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(out.find("z001.vud (  4/  4)  [##############################] 100%"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[#######-----------------------] 25%"), std::string::npos) << out;
}

TEST_F(ConsoleTest, WarningClearsTheProgressLineFirst) {
    ASSERT_NE(makeDialog(), nullptr);
    ConsoleWindowConfig config = testConfig();
    config.quiet = false;
    config.progressOnTerminal = true;
    const std::string out = runWithProgress(dialog, config, true);
    const size_t message = out.find("VUD Data Converter: careful\n");
    ASSERT_NE(message, std::string::npos) << out;
    EXPECT_EQ(out.rfind("\r\033[K", message), message - 4) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
}

TEST_F(ConsoleTest, PlainProgressLinesWhenNotATerminal) {
    ASSERT_NE(makeDialog(), nullptr);
    ConsoleWindowConfig config = testConfig();
    config.quiet = false;
    const std::string out = runWithProgress(dialog, config, false);
    EXPECT_EQ(out.find('\r'), std::string::npos) << out;
    EXPECT_EQ(out.rfind("progress 0% (0/4)\n", 0), 0u) << out;
    const std::string last = "progress 100% (4/4)\n";
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(out.substr(out.size() - last.size()), last) << out;
}

TEST_F(ConsoleTest, QuietShowsNoProgress) {
    ASSERT_NE(makeDialog(), nullptr);
    EXPECT_EQ(runWithProgress(dialog, testConfig(), false), "");
}

TEST_F(ConsoleTest, PercentTextCanComeFromALabel) {
    ASSERT_NE(makeDialog(), nullptr);
    ConsoleWindowConfig config = testConfig();
    config.quiet = false;
    config.progressOnTerminal = true;
    config.percentTextId = PercentText;
    ASSERT_TRUE(windowSetItemText(dialog, PercentText, "42%"));
    const std::string out = runWithProgress(dialog, config, false);
    EXPECT_NE(out.find("] 42%"), std::string::npos) << out;
    EXPECT_EQ(out.find("] 100%"), std::string::npos) << out;
}

}  // namespace
