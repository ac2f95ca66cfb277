// What the console backend adds to the window layer's contract (see
// tests/window/window_contract.cpp): its dialog in memory, the loop hook and
// wake descriptor, questions on the terminal or answered otherwise, and the
// progress line.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>

#include "app/dialog_resource.h"
#include "window/console/progress_line.h"
#include "tests/shell/console_fixture.h"

namespace {

TEST_F(ConsoleTest, TheDialogLivesInMemory) {
    ASSERT_NE(makeDialog(), nullptr);
    EXPECT_EQ(itemText(dialog, StartButton), StartCaption);
    EXPECT_EQ(itemText(dialog, PercentText), "0%");
    EXPECT_EQ(consoleListRowCount(dialog, BitRateList), 0);
    EXPECT_EQ(windowListAddString(dialog, BitRateList, "160kbit/s"), 0);
    char row[32];
    EXPECT_EQ(consoleListRowText(dialog, BitRateList, 0, row, sizeof row), 9);
    EXPECT_STREQ(row, "160kbit/s");
    EXPECT_EQ(consoleListRowText(dialog, BitRateList, 1, row, sizeof row), -1);
    EXPECT_FALSE(consoleIsVisible(dialog));
    EXPECT_TRUE(windowShow(dialog, ShowCommand::Show));
    EXPECT_TRUE(consoleIsVisible(dialog));
    ASSERT_TRUE(windowSetTitle(dialog, "変換"));
    char title[64];
    EXPECT_EQ(consoleGetTitle(dialog, title, sizeof title), 6);
    EXPECT_STREQ(title, "変換");
    // The console's screen, and a move far right held at the last coordinate.
    EXPECT_EQ(windowScreenWidth(), 1024);
    EXPECT_EQ(windowScreenHeight(), 768);
    ASSERT_TRUE(windowMove(dialog, INT32_MAX - 10, 0, 100, 50));
    WindowRect rect{};
    ASSERT_TRUE(windowGetRect(dialog, &rect));
    EXPECT_EQ(rect.right, INT32_MAX);
    EXPECT_EQ(rect.bottom, 50);
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
    ConsoleWindowConfig config = consoleTestConfig();
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
    EXPECT_EQ(box.count, 4);
    EXPECT_EQ(box.buttons, MessageBoxButtons::YesNo);
}

#if !defined(_WIN32)
// Terminal questions and the wake descriptor, driven through POSIX pipes.

// Standard input taken from a pipe for one test, as a terminal would give it.
class TerminalInput {
public:
    TerminalInput() {
        int fds[2];
        if (pipe(fds) != 0) return;
        saved_ = dup(STDIN_FILENO);
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
        write_ = fds[1];
    }
    ~TerminalInput() {
        if (saved_ < 0) return;
        dup2(saved_, STDIN_FILENO);
        close(saved_);
        close(write_);
    }
    bool type(const char* text) {
        return write(write_, text, std::strlen(text)) == static_cast<ssize_t>(std::strlen(text));
    }

private:
    int saved_ = -1;
    int write_ = -1;
};

// A pipe that stands for the stop-signal descriptor.
struct WakePipe {
    WakePipe() { ok = pipe(fds) == 0; }
    ~WakePipe() {
        close(fds[0]);
        close(fds[1]);
    }
    bool signal() const { return write(fds[1], "s", 1) == 1; }
    bool take() const {
        char mark;
        return read(fds[0], &mark, 1) == 1;
    }
    int fds[2] = {-1, -1};
    bool ok = false;
};

MessageBoxAnswer askOnTheTerminal(WindowHandle dialog) {
    ConsoleWindowConfig config = consoleTestConfig();
    config.askOnTerminal = true;
    consoleConfigure(config);
    ::testing::internal::CaptureStderr();
    const MessageBoxAnswer answer = windowMessageBox(
        dialog, "上書きしますか？", "確認", MessageBoxButtons::YesNo, MessageBoxIcon::Warning);
    EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind("確認: 上書きしますか？ [y/N] ", 0),
              0u);
    return answer;
}

TEST_F(ConsoleTest, TerminalQuestionsTakeTheTypedAnswer) {
    ASSERT_NE(makeDialog(), nullptr);
    TerminalInput input;
    ASSERT_TRUE(input.type("  yes please\n"));
    EXPECT_EQ(askOnTheTerminal(dialog), MessageBoxAnswer::Yes);
    ASSERT_TRUE(input.type("n\n"));
    EXPECT_EQ(askOnTheTerminal(dialog), MessageBoxAnswer::No);
}

TEST_F(ConsoleTest, AReadableWakeDescriptorDeclinesATerminalQuestion) {
    ASSERT_NE(makeDialog(), nullptr);
    TerminalInput input;
    WakePipe stop;
    ASSERT_TRUE(stop.ok);
    consoleSetWakeDescriptor(stop.fds[0]);
    ASSERT_TRUE(stop.signal());
    ASSERT_TRUE(input.type("y\n"));
    EXPECT_EQ(askOnTheTerminal(dialog), MessageBoxAnswer::No) << "Ctrl-C declines";
    EXPECT_TRUE(stop.take()) << "the descriptor is left for the loop's hook";
}

TEST_F(ConsoleTest, AQuitEndsATerminalQuestionUnanswered) {
    ASSERT_NE(makeDialog(), nullptr);
    TerminalInput input;
    windowPostQuit(4);
    EXPECT_EQ(askOnTheTerminal(dialog), MessageBoxAnswer::Failed);
    EXPECT_EQ(windowRunMessageLoop(), 4) << "the quit still ends the loop";
}

struct WakeHook {
    const WakePipe* pipe;
    int32_t calls;
};

void takeWakeAndQuit(void* context) {
    WakeHook& hook = *static_cast<WakeHook*>(context);
    hook.calls += 1;
    if (hook.pipe->take()) windowPostQuit(12);
}

TEST_F(ConsoleTest, AReadableWakeDescriptorRunsTheHookAtOnce) {
    WakePipe stop;
    ASSERT_TRUE(stop.ok);
    ASSERT_TRUE(stop.signal());
    WakeHook hook{&stop, 0};
    // Without the descriptor, the hook would first run an hour from now.
    consoleSetLoopHook(takeWakeAndQuit, &hook, 3600 * 1000);
    consoleSetWakeDescriptor(stop.fds[0]);
    EXPECT_EQ(windowRunMessageLoop(), 12);
    EXPECT_EQ(hook.calls, 1);
}
#endif

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
    ConsoleWindowConfig config = consoleTestConfig();
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
    EXPECT_EQ(out.find("done in"), std::string::npos) << "no times without the audio hook";
}

int64_t anHourOfAudio() {
    return 3600 * 1000;
}

TEST_F(ConsoleTest, ATimedRunEndsWithItsTimeAndSpeed) {
    ASSERT_NE(makeDialog(), nullptr);
    ConsoleWindowConfig config = consoleTestConfig();
    config.quiet = false;
    config.progressOnTerminal = true;
    config.audioMillisecondsDone = anHourOfAudio;
    const std::string out = runWithProgress(dialog, config, false);
    // The run takes a moment of real time: its figures are the clock's.
    const size_t last = out.rfind("] 100%  done in ");
    ASSERT_NE(last, std::string::npos) << out;
    EXPECT_EQ(out.find(':', last), last + 17) << out;
    EXPECT_EQ(out.find("x real time\033[K\n", last), out.size() - 15) << out;
}

TEST_F(ConsoleTest, WarningClearsTheProgressLineFirst) {
    ASSERT_NE(makeDialog(), nullptr);
    ConsoleWindowConfig config = consoleTestConfig();
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
    ConsoleWindowConfig config = consoleTestConfig();
    config.quiet = false;
    // Scripts read these lines: the times stay on the terminal.
    config.audioMillisecondsDone = anHourOfAudio;
    const std::string out = runWithProgress(dialog, config, false);
    EXPECT_EQ(out.find('\r'), std::string::npos) << out;
    EXPECT_EQ(out.rfind("progress 0% (0/4)\n", 0), 0u) << out;
    const std::string last = "progress 100% (4/4)\n";
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(out.substr(out.size() - last.size()), last) << out;
}

TEST_F(ConsoleTest, QuietShowsNoProgress) {
    ASSERT_NE(makeDialog(), nullptr);
    EXPECT_EQ(runWithProgress(dialog, consoleTestConfig(), false), "");
}

TEST_F(ConsoleTest, PercentTextCanComeFromALabel) {
    ASSERT_NE(makeDialog(), nullptr);
    ConsoleWindowConfig config = consoleTestConfig();
    config.quiet = false;
    config.progressOnTerminal = true;
    config.percentTextId = PercentText;
    ASSERT_TRUE(windowSetItemText(dialog, PercentText, "42%"));
    const std::string out = runWithProgress(dialog, config, false);
    EXPECT_NE(out.find("] 42%"), std::string::npos) << out;
    EXPECT_EQ(out.find("] 100%"), std::string::npos) << out;
}

struct LineCase {
    const char* name;
    ProgressLineFacts facts;
    const char* expected;
};

std::ostream& operator<<(std::ostream& stream, const LineCase& lineCase) {
    return stream << lineCase.name;
}

class ProgressLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ProgressLineTest, ShowsWhatFitsOfTheRun) {
    char line[256];
    const int32_t length = formatProgressLine(GetParam().facts, line, sizeof line);
    EXPECT_STREQ(line, GetParam().expected);
    EXPECT_EQ(length, static_cast<int32_t>(std::strlen(line)));
    EXPECT_LT(length, GetParam().facts.columns) << "the last column stays free";
}

constexpr const char* Label = "z001.vud (  7/120)";

// facts: 42 of 100 entries after 12 s at 412 times real time, on 80 columns.
constexpr ProgressLineFacts Running{Label, "42%", 42, 100, true, false, 12000, 4944000, 80};

constexpr ProgressLineFacts with(ProgressLineFacts facts, int32_t columns) {
    facts.columns = columns;
    return facts;
}
constexpr ProgressLineFacts after(ProgressLineFacts facts, int64_t elapsed, int64_t audio) {
    facts.elapsedMilliseconds = elapsed;
    facts.audioMilliseconds = audio;
    return facts;
}
constexpr ProgressLineFacts finished(ProgressLineFacts facts, int64_t done) {
    facts.finished = true;
    facts.done = done;
    facts.percent = done == facts.total ? "100%" : facts.percent;
    return facts;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressLineTest,
    ::testing::Values(
        LineCase{"Wide", Running,
                 "z001.vud (  7/120)  [############------------------] 42%  0:12, 0:17 left, 412x"},
        LineCase{"Untimed",
                 {Label, "42%", 42, 100, false, false, 12000, 4944000, 80},
                 "z001.vud (  7/120)  [############------------------] 42%"},
        LineCase{"UnsettledShowsTheTimeOnly", after(Running, 2999, 4944000),
                 "z001.vud (  7/120)  [############------------------] 42%  0:02"},
        LineCase{"NoAudioNoSpeed", after(Running, 3000, 0),
                 "z001.vud (  7/120)  [############------------------] 42%  0:03, 0:05 left"},
        LineCase{"SlowWithADecimal", after(Running, 3723000, 1861500),
                 "z001.vud (  7/120)  [##########--------------] 42%  1:02:03, 1:25:42 "
                 "left, 0.5x"},
        LineCase{"RoundsUpToWhole", after(Running, 10000, 99960),
                 "z001.vud (  7/120)  [############------------------] 42%  0:10, 0:14 left, 10x"},
        LineCase{"TheBarShrinksFirst", with(Running, 60),
                 "z001.vud (  7/120)  [####------] 42%  0:12, 0:17 left, 412x"},
        LineCase{"ThenTheLabelIsCut", with(Running, 50),
                 "z001.vud  [####------] 42%  0:12, 0:17 left, 412x"},
        LineCase{
            "TheLabelIsCutOnAWholeCharacter",
            with({"z001.vu\xE9\x9F\xB3 (  7/120)", "42%", 42, 100, true, false, 12000, 4944000, 80},
                 50),
            "z001.vu  [####-------] 42%  0:12, 0:17 left, 412x"},
        LineCase{"ThenLeftOut", with(Running, 40), "[####------] 42%  0:12, 0:17 left, 412x"},
        LineCase{"ThenTheTimeLeftGoes", with(Running, 30), "[####-------] 42%  0:12, 412x"},
        LineCase{"ThenTheSpeed", with(Running, 24), "[####-------] 42%  0:12"},
        LineCase{"ThenTheTime", with(Running, 20), "[#####--------] 42%"},
        LineCase{"Done", after(finished(Running, 100), 29400, 11907000),
                 "z001.vud (  7/120)  [######################] 100%  done in 0:29, 405x "
                 "real time"},
        LineCase{"DoneNarrow", with(after(finished(Running, 100), 29400, 11907000), 40),
                 "[############] 100%  done in 0:29, 405x"},
        LineCase{"ShortRunsShowTheirSpeed", after(finished(Running, 100), 400, 60000),
                 "z001.vud (  7/120)  [######################] 100%  done in 0:00, "
                 "150x real time"},
        LineCase{"StoppedEarly", finished(Running, 42),
                 "z001.vud (  7/120)  [############------------------] 42%  0:12, 412x"}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

}  // namespace
