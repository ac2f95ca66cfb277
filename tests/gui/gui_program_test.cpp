// The window program from start to exit code: the missing encoder library,
// a second start, centring, a real conversion of the sample voice folder,
// closing during a run, and what a new start shows. Each case runs the
// program in this process; its steps act from timers inside the loop.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "app/dialog_resource.h"
#include "app/gui/window_program.h"
#include "app/shell_state.h"
#include "app/startup.h"
#include "encoder/encoder_library.h"
#include "encoder/entry_encoding.h"
#include "platform/process.h"
#include "platform/single_instance.h"
#include "tests/fake_encoder/fake_encoder.h"
#include "tests/gui/gui_support.h"
#include "tools/source_writer/source_writer.h"
#include "worker/conversion_worker.h"
#include "worker/worker_state.h"

extern char** environ;

namespace {

std::string testInstanceName() {
    return "VUD Data Converter test " + std::to_string(getpid());
}

int32_t loadFakeEncoder() {
    return loadEncoderLibraryFrom(FAKE_ENCODER_LIBRARY_PATH);
}

int32_t encoderLoads = 0;
int32_t countingMissingEncoder() {
    encoderLoads += 1;
    return 0;
}

// Runs the program; steps() is called every few milliseconds inside its
// loop once the dialog exists, until it answers true.
int32_t runProgram(int32_t (*loader)(), const std::function<bool()>& steps,
                   const std::string& name = testInstanceName()) {
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!windowIsAlive(mainDialog)) return;
        if (steps()) ticker.stop();
    });
    ticker.start(5);
    const WindowProgramOptions options{name.c_str(), loader};
    return runWindowProgram(nullptr, nullptr, options);
}

void closeDialog() {
    if (QDialog* widget = qtTestDialogWidget(mainDialog)) widget->close();
}

bool writeSourceArchive(const std::string& path, int32_t entries) {
    std::vector<int16_t> pcm(3000);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(static_cast<int32_t>(i * 37 % 2000) - 1000);
    std::vector<EncodedEntry> encoded;
    for (int32_t i = 0; i < entries; ++i) {
        encoded.push_back(encodeVoiceEntry(static_cast<uint16_t>(i + 1), pcm.data(), pcm.size(),
                                           WriterOptions{}));
    }
    return writeBytesToFile(path, buildSourceArchive(encoded, 22050).bytes);
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        qtTestClearMessageBoxes();
        answerMessageBoxes(MessageBoxAnswer::Ok);
    }
    void TearDown() override { qtTestSetMessageBoxResponder(nullptr); }
};

TEST_F(ProgramTest, WithoutTheEncoderLibraryTheWarningIsTheOnlyThingShown) {
    int32_t visibleWindows = -1;
    qtTestSetMessageBoxResponder([&visibleWindows](const MessageBoxRecord&) {
        visibleWindows = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            visibleWindows += widget->isVisible() ? 1 : 0;
        return MessageBoxAnswer::Ok;
    });
    encoderLoads = 0;
    EXPECT_EQ(runProgram(countingMissingEncoder, [] { return true; }), 0);
    EXPECT_EQ(encoderLoads, 1);
    const std::vector<MessageBoxRecord> boxes = qtTestMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "GOGO.DLLが見つかりませんでした.");
    EXPECT_EQ(boxes[0].caption, "VUD Data Converter");
    EXPECT_EQ(boxes[0].icon, MessageBoxIcon::Warning);
    EXPECT_EQ(boxes[0].buttons, MessageBoxButtons::Ok);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(visibleWindows, 1) << "the box alone";
    EXPECT_EQ(mainDialog, nullptr);
}

TEST(SingleInstance, TheNameIsHeldUntilReleasedAndCannotBeStolen) {
    const std::string name = testInstanceName() + " name";
    SingleInstance* first = nullptr;
    ASSERT_EQ(claimSingleInstance(name.c_str(), &first), InstanceClaim::First);
    EXPECT_FALSE(takeActivationRequests(first));

    SingleInstance* second = nullptr;
    EXPECT_EQ(claimSingleInstance(name.c_str(), &second), InstanceClaim::Another);
    EXPECT_EQ(second, nullptr);
    EXPECT_TRUE(takeActivationRequests(first)) << "the later start asked the holder";
    EXPECT_FALSE(takeActivationRequests(first));

    releaseSingleInstance(first);
    // Nothing is left behind: the name is free again at once.
    ASSERT_EQ(claimSingleInstance(name.c_str(), &second), InstanceClaim::First);
    releaseSingleInstance(second);
}

TEST_F(ProgramTest, ASecondStartHandsOverAndEndsWithoutLoadingOrShowing) {
    const std::string name = testInstanceName();
    SingleInstance* running = nullptr;
    ASSERT_EQ(claimSingleInstance(name.c_str(), &running), InstanceClaim::First);
    encoderLoads = 0;
    EXPECT_EQ(runProgram(
                  countingMissingEncoder, [] { return true; }, name),
              0);
    EXPECT_EQ(encoderLoads, 0);
    EXPECT_TRUE(qtTestMessageBoxes().empty());
    EXPECT_TRUE(takeActivationRequests(running));
    releaseSingleInstance(running);
}

// The environment with VUD_INSTANCE_NAME set to name, for a child.
struct ChildEnvironment {
    explicit ChildEnvironment(const std::string& name) {
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (std::strncmp(*entry, "VUD_INSTANCE_NAME=", 18) != 0) texts.push_back(*entry);
        }
        texts.push_back("VUD_INSTANCE_NAME=" + name);
        for (std::string& text : texts) pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
    std::vector<std::string> texts;
    std::vector<char*> pointers;
};

// The real program as the second start: it must end with 0 at once, and
// this (first) program's minimised dialog comes back. Both use a name of
// this test's own, so a copy the user runs meanwhile changes nothing.
TEST_F(ProgramTest, TheRealProgramStartedAgainRestoresTheRunningDialog) {
    const std::string program = buildTreePath("vud-converter");
    const std::string name = testInstanceName() + " real";
    ChildEnvironment environment(name);
    pid_t child = -1;
    int childStatus = -1;
    bool restored = false;
    auto steps = [&]() -> bool {
        QDialog* widget = qtTestDialogWidget(mainDialog);
        if (child < 0) {
            widget->showMinimized();
            char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
            if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv,
                            environment.pointers.data()) != 0) {
                ADD_FAILURE() << "cannot start " << program;
                closeDialog();
                return true;
            }
            return false;
        }
        if (childStatus < 0) {
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child) childStatus = status;
            return false;
        }
        if (widget->isVisible() && !(widget->windowState() & Qt::WindowMinimized)) {
            restored = true;
            closeDialog();
            return true;
        }
        return false;
    };
    // Bounded: a second copy that did not end is stopped and reported.
    QTimer::singleShot(20000, [&] {
        if (child > 0 && childStatus < 0) {
            kill(child, SIGKILL);
            waitpid(child, &childStatus, 0);
            ADD_FAILURE() << "the second start did not end";
        }
        closeDialog();
    });
    EXPECT_EQ(runProgram(loadFakeEncoder, steps, name), 0);
    ASSERT_GE(childStatus, 0);
    EXPECT_TRUE(WIFEXITED(childStatus));
    EXPECT_EQ(WEXITSTATUS(childStatus), 0);
    EXPECT_TRUE(restored);
}

// Registered for a 1024-pixel and an 800-pixel screen.
TEST_F(ProgramTest, CentringPlacesTheDialogByTheHalvedFreeSpace) {
    const int32_t screenWidth = windowScreenWidth();
    const int32_t screenHeight = windowScreenHeight();
    const int32_t exampleWidth = screenWidth == 1024 ? 421 : 1001;
    const int32_t exampleX = screenWidth == 1024 ? 301 : -101;
    ASSERT_TRUE(screenWidth == 1024 || screenWidth == 800) << screenWidth;
    WindowRect shown{};
    WindowRect example{};
    runProgram(loadFakeEncoder, [&] {
        windowGetRect(mainDialog, &shown);
        WindowRect rect{};
        windowGetRect(mainDialog, &rect);
        windowMove(mainDialog, 0, 0, exampleWidth, rect.bottom - rect.top);
        centreDialog(mainDialog);
        windowGetRect(mainDialog, &example);
        closeDialog();
        return true;
    });
    const int32_t width = shown.right - shown.left;
    const int32_t height = shown.bottom - shown.top;
    EXPECT_EQ(shown.left, (screenWidth - width) >> 1);
    EXPECT_EQ(shown.top, (screenHeight - height) >> 1);
    EXPECT_EQ(example.right - example.left, exampleWidth);
    EXPECT_EQ(example.left, exampleX);
}

TEST_F(ProgramTest, ANewStartShowsTheDefaultsAgain) {
    std::string shownOutput;
    QList<QSize> iconSizes;
    runProgram(loadFakeEncoder, [&] {
        shownOutput = itemText(mainDialog, OutputPathEdit);
        iconSizes = qtTestDialogWidget(mainDialog)->windowIcon().availableSizes();
        auto* list = itemWidget<QComboBox>(mainDialog, BitRateList);
        for (int i = 0; i < 8; ++i) QTest::keyClick(list, Qt::Key_Down);
        EXPECT_EQ(bitRateSelection.load(), 11);
        typeIntoField(itemWidget<QLineEdit>(mainDialog, SourceFolderEdit),
                      QStringLiteral("/somewhere/"));
        closeDialog();
        return true;
    });
    char program[PathCapacity];
    ASSERT_TRUE(currentProgramPath(program, sizeof program));
    std::string folder(program);
    folder.resize(folder.rfind('/') + 1);
    EXPECT_EQ(shownOutput, folder + "vud.pac") << "the program's own folder";
    EXPECT_TRUE(iconSizes.contains(QSize(16, 16)) && iconSizes.contains(QSize(32, 32)))
        << "icon 133";

    std::string list, source;
    runProgram(loadFakeEncoder, [&] {
        list = itemText(mainDialog, BitRateList);
        source = itemText(mainDialog, SourceFolderEdit);
        closeDialog();
        return true;
    });
    EXPECT_EQ(list, "32kbit/s");
    EXPECT_EQ(bitRateSelection.load(), InitialBitRateSelection);
    EXPECT_EQ(source, "");
}

// Starts a run over two archives of three entries, holds the worker inside
// the first archive, calls stop() and lets the worker go 300 ms later.
void runAndStopDuringTheFirstArchive(const std::function<void()>& stop) {
    TempFolder source;
    TempFolder target;
    ASSERT_TRUE(writeSourceArchive(source.path + "z001.vud", 3));
    ASSERT_TRUE(writeSourceArchive(source.path + "z002.vud", 3));
    const std::string output = target.path + "vud.pac";
    fakeEncoderReset();
    fakeEncoderBlockAtEntry(2);

    std::atomic<bool> released{false};
    std::atomic<bool> nameFreed{false};
    std::thread releaser;
    int stage = 0;
    const auto begin = std::chrono::steady_clock::now();
    const int32_t code = runProgram(loadFakeEncoder, [&] {
        if (stage == 0) {
            typeIntoField(itemWidget<QLineEdit>(mainDialog, SourceFolderEdit),
                          QString::fromStdString(source.path));
            typeIntoField(itemWidget<QLineEdit>(mainDialog, OutputPathEdit),
                          QString::fromStdString(output));
            QTest::mouseClick(itemWidget<QPushButton>(mainDialog, StartButton), Qt::LeftButton);
            stage = 1;
            return false;
        }
        if (stage == 1) {
            if (fakeEncoderWaitUntilBlocked(1) != 1) return false;
            releaser = std::thread([&released, &nameFreed] {
                // A new start must open a new window while the old process
                // still finishes its archive. (The bound only guards a hang.)
                for (int32_t attempt = 0; attempt < 400 && !nameFreed; ++attempt) {
                    SingleInstance* next = nullptr;
                    nameFreed = claimSingleInstance(testInstanceName().c_str(), &next) ==
                                InstanceClaim::First;
                    releaseSingleInstance(next);
                    std::this_thread::sleep_for(std::chrono::milliseconds(25));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                released = true;
                fakeEncoderRelease();
            });
            stop();
            stage = 2;
        }
        return false;
    });
    releaser.join();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(nameFreed) << "the single-instance name was held until the worker ended";
    EXPECT_TRUE(released) << "the program ended before its worker";
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(300));
    EXPECT_EQ(fakeEncoderEntryCount(), 3)
        << "the archive in progress was finished, the next not begun";
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Quit);
    EXPECT_FALSE(fileExists(output)) << "the unfinished output was deleted";
    EXPECT_TRUE(qtTestMessageBoxes().empty());
}

TEST_F(ProgramTest, ClosingDuringARunEndsWithZeroAfterTheWorkerFinishedTheArchive) {
    runAndStopDuringTheFirstArchive([] {
        // No question: the window goes at once.
        closeDialog();
        EXPECT_FALSE(windowIsAlive(mainDialog));
    });
}

TEST_F(ProgramTest, AStopSignalDuringARunEndsTheProgramAsTheCloseBoxDoes) {
    runAndStopDuringTheFirstArchive([] { kill(getpid(), SIGTERM); });
    // The default action is back once the program has ended.
    struct sigaction action {};
    sigaction(SIGTERM, nullptr, &action);
    EXPECT_EQ(action.sa_handler, SIG_DFL);
}

enum class WriteTrouble : int32_t { ClosedStandardOutput, FileSizeLimit };

// Runs in a copy of this test program (a death test starts one): one archive
// converted with the trouble in place. 0 when the run ended as it should; a
// write signal left at its default kills the copy instead.
int32_t convertDespite(WriteTrouble trouble) {
    TempFolder source;
    TempFolder target;
    if (!writeSourceArchive(source.path + "z001.vud", 3)) return 2;
    const std::string output = target.path + "vud.pac";
    RunOutcome expected = RunOutcome::None;
    switch (trouble) {
        case WriteTrouble::ClosedStandardOutput: {
            // The entry labels meet a pipe nobody reads: they are lost, the
            // run is not.
            int ends[2];
            if (pipe(ends) != 0 || dup2(ends[1], STDOUT_FILENO) < 0) return 2;
            close(ends[0]);
            close(ends[1]);
            expected = RunOutcome::Completed;
            break;
        }
        case WriteTrouble::FileSizeLimit: {
            const rlimit limit{20, 20};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
            expected = RunOutcome::WriteFailed;
            break;
        }
    }
    fakeEncoderReset();
    int32_t runsBefore = 0;
    bool started = false;
    runProgram(loadFakeEncoder, [&] {
        if (!started) {
            runsBefore = finishedRunCount();
            typeIntoField(itemWidget<QLineEdit>(mainDialog, SourceFolderEdit),
                          QString::fromStdString(source.path));
            typeIntoField(itemWidget<QLineEdit>(mainDialog, OutputPathEdit),
                          QString::fromStdString(output));
            QTest::mouseClick(itemWidget<QPushButton>(mainDialog, StartButton), Qt::LeftButton);
            started = true;
            return false;
        }
        if (finishedRunCount() == runsBefore || workerState.load() != WorkerIdle) return false;
        closeDialog();
        return true;
    });
    const bool outputAsExpected = fileExists(output) == (expected == RunOutcome::Completed);
    return lastRunOutcome() == expected && outputAsExpected ? 0 : 1;
}

class WriteSignalTest : public ProgramTest, public ::testing::WithParamInterface<WriteTrouble> {};

TEST_P(WriteSignalTest, AFailingWriteEndsTheRunNotTheProgram) {
    // The copy starts afresh (a fork of a process with Qt's threads would not).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(convertDespite(GetParam())), ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Troubles, WriteSignalTest,
                         ::testing::Values(WriteTrouble::ClosedStandardOutput,
                                           WriteTrouble::FileSizeLimit),
                         [](const ::testing::TestParamInfo<WriteTrouble>& info) {
                             return info.param == WriteTrouble::ClosedStandardOutput
                                        ? "ClosedStandardOutput"
                                        : "FileSizeLimit";
                         });

// Losing the display, in a copy of this test program on an X server of its
// own that the test then ends: during the worker's warning box (an archive
// failed) and during a run held inside an archive. The copy must end
// within seconds and leave no temporary output.
enum class LossMoment { WarningBox, Run };

constexpr const char* LossFolderVariable = "VUD_DISPLAY_LOSS_FOLDER";

// The copy's part: the run is started, and once the moment is reached the
// file "ready" says so. The program must not return.
void runUntilTheDisplayGoes(LossMoment moment, const std::string& folder) {
    ASSERT_TRUE(writeSourceArchive(folder + "voice/z001.vud", 3));
    ASSERT_TRUE(writeSourceArchive(folder + "voice/z002.vud", 3));
    fakeEncoderReset();
    if (moment == LossMoment::WarningBox) fakeEncoderFailInitialize(5, -1);
    if (moment == LossMoment::Run) fakeEncoderBlockAtEntry(2);
    answerMessageBoxes(MessageBoxAnswer::Failed);
    bool started = false;
    runProgram(loadFakeEncoder, [&] {
        if (!started) {
            typeIntoField(itemWidget<QLineEdit>(mainDialog, SourceFolderEdit),
                          QString::fromStdString(folder + "voice/"));
            typeIntoField(itemWidget<QLineEdit>(mainDialog, OutputPathEdit),
                          QString::fromStdString(folder + "out/vud.pac"));
            QTest::mouseClick(itemWidget<QPushButton>(mainDialog, StartButton), Qt::LeftButton);
            started = true;
            return false;
        }
        const bool reached = moment == LossMoment::WarningBox ? !qtTestMessageBoxes().empty()
                                                              : fakeEncoderWaitUntilBlocked(1) == 1;
        return reached && writeWholeFile(folder + "ready", "");
    });
    ADD_FAILURE() << "the program returned";
}

pid_t spawnWith(const std::vector<std::string>& arguments, const std::vector<std::string>& env,
                const posix_spawn_file_actions_t* actions = nullptr) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    pid_t child = -1;
    if (posix_spawnp(&child, argv[0], actions, nullptr, argv.data(), envp.data()) != 0) return -1;
    return child;
}

// Waits up to 30 s (a bound that only guards a hang) for done() or the
// child's end; the child's wait status, or -1 while it runs.
int waitForChild(pid_t child, const std::function<bool()>& done) {
    for (int32_t tick = 0; tick < 1500; ++tick) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) return status;
        if (done()) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

// A child process ended (killed if need be) when the test ends.
struct ChildProcess {
    pid_t pid = -1;
    bool ended = false;
    ~ChildProcess() {
        if (pid <= 0 || ended) return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
};

class DisplayLoss : public ::testing::TestWithParam<LossMoment> {};

TEST_P(DisplayLoss, TheProgramEndsAtOnceAndLeavesNoTemporaryOutput) {
    if (const char* folder = std::getenv(LossFolderVariable)) {
        runUntilTheDisplayGoes(GetParam(), folder);
        return;
    }
    TempFolder scratch;
    ASSERT_EQ(mkdir((scratch.path + "voice").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((scratch.path + "out").c_str(), 0755), 0);

    // The X server picks a free display and names it on a pipe once it serves.
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ChildProcess server;
    server.pid =
        spawnWith({"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1024x768x24"},
                  {"PATH=/usr/bin:/bin"}, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    std::string display;
    char byte = 0;
    while (read(pipeEnds[0], &byte, 1) == 1 && byte != '\n') display += byte;
    close(pipeEnds[0]);
    ASSERT_GT(server.pid, 0) << "Xvfb could not be started (tools/setup.sh installs it)";
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";

    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("QT_QPA_PLATFORM=", 0) != 0 && text.rfind("DISPLAY=", 0) != 0 &&
            text.rfind("WAYLAND_DISPLAY=", 0) != 0)
            env.push_back(text);
    }
    env.push_back("QT_QPA_PLATFORM=xcb");
    env.push_back("DISPLAY=:" + display);
    env.push_back(std::string(LossFolderVariable) + "=" + scratch.path);
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    char self[PathCapacity];
    ASSERT_TRUE(currentProgramPath(self, sizeof self));
    ChildProcess program;
    program.pid = spawnWith(
        {self, std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()}, env);
    ASSERT_GT(program.pid, 0);
    const std::string ready = scratch.path + "ready";
    const int early = waitForChild(program.pid, [&] { return fileExists(ready); });
    program.ended = early >= 0;
    ASSERT_TRUE(fileExists(ready)) << "the copy did not reach the moment (status " << early << ")";

    kill(server.pid, SIGTERM);
    waitpid(server.pid, nullptr, 0);
    server.ended = true;
    const int status = waitForChild(program.pid, [] { return false; });
    program.ended = status >= 0;
    ASSERT_TRUE(program.ended) << "the program hangs without its display";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    DIR* out = opendir((scratch.path + "out").c_str());
    ASSERT_NE(out, nullptr);
    std::string left;
    while (const dirent* entry = readdir(out)) {
        if (entry->d_name[0] != '.') left += std::string(entry->d_name) + " ";
    }
    closedir(out);
    EXPECT_EQ(left, "") << "the temporary output was left behind";
}

INSTANTIATE_TEST_SUITE_P(Moments, DisplayLoss,
                         ::testing::Values(LossMoment::WarningBox, LossMoment::Run),
                         [](const ::testing::TestParamInfo<LossMoment>& info) {
                             return info.param == LossMoment::WarningBox ? "WarningBox" : "Run";
                         });

// The sample voice folder with the real encoder library, the bar reaching
// its end; the output verifies. With VUD_SCREENSHOT set, the dialog is
// grabbed into that file halfway through the run.
TEST_F(ProgramTest, ARealRunConvertsTheSampleFolder) {
    TempFolder target;
    const std::string output = target.path + "vud.pac";
    const char* screenshot = std::getenv("VUD_SCREENSHOT");
    int32_t runsBefore = 0;
    int stage = 0;
    bool grabbed = false;
    std::string percent;
    int32_t position = -1;
    int32_t maximum = -2;
    const int32_t code = runProgram(loadEncoderLibrary, [&] {
        if (stage == 0) {
            runsBefore = finishedRunCount();
            typeIntoField(itemWidget<QLineEdit>(mainDialog, SourceFolderEdit),
                          QString::fromStdString(sourceTreePath("samples/voice/")));
            typeIntoField(itemWidget<QLineEdit>(mainDialog, OutputPathEdit),
                          QString::fromStdString(output));
            QTest::mouseClick(itemWidget<QPushButton>(mainDialog, StartButton), Qt::LeftButton);
            stage = 1;
            return false;
        }
        auto* bar = itemWidget<QProgressBar>(mainDialog, ProgressBar);
        if (screenshot != nullptr && !grabbed && workerState.load() == WorkerRunning &&
            bar->value() * 2 >= bar->maximum() && bar->maximum() > 0) {
            grabbed = qtTestDialogWidget(mainDialog)->grab().save(QString::fromUtf8(screenshot));
        }
        if (finishedRunCount() == runsBefore || workerState.load() != WorkerIdle) return false;
        percent = itemText(mainDialog, PercentText);
        position = windowGetProgressPosition(mainDialog, ProgressBar);
        maximum = bar->maximum();
        closeDialog();
        return true;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(lastRunOutcome(), RunOutcome::Completed);
    EXPECT_EQ(percent, "100%");
    EXPECT_EQ(position, maximum);
    EXPECT_GT(maximum, 0);
    if (screenshot != nullptr) {
        EXPECT_TRUE(grabbed);
    }
    const std::string verify = buildTreePath("vudinfo") + " --verify '" + output + "' > /dev/null";
    EXPECT_EQ(std::system(verify.c_str()), 0) << verify;
}

}  // namespace
