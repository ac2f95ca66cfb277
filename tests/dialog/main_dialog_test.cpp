// The main dialog procedure over the console backend, without a worker: the
// test plays the worker by setting the word itself. Then the start-up steps
// that both front ends share.
#include "app/main_dialog.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstring>
#include <filesystem>
#include <string>

#include "app/dialog_resource.h"
#include "app/shell_state.h"
#include "app/startup.h"
#include "encoder/entry_encoding.h"
#include "platform/path_separator.h"
#include "tests/worker/worker_support.h"
#include "worker/worker_state.h"

namespace {

constexpr bool NoWorker = false;

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.path.empty());
        output = folder.path + "vud.pac";
    }

    // Nothing of a start request happened.
    void expectNoStart(DialogHarness& harness) {
        EXPECT_EQ(workerState.load(), WorkerIdle);
        EXPECT_TRUE(harness.inputsEnabled());
        EXPECT_TRUE(harness.itemEnabled(StartButton));
    }

    TempFolder folder;
    std::string output;
};

TEST_F(MainDialogTest, InitialisationFillsTitleVersionListAndOutputPath) {
    DialogHarness harness(MessageBoxAnswer::Yes, NoWorker, "/opt/tools/vud.pac");
    char title[256];
    ASSERT_GT(consoleGetTitle(harness.dialog, title, sizeof(title)), 0);
    EXPECT_STREQ(title, "VUD Data Converter Ver.0.6");
    EXPECT_EQ(harness.itemText(VersionLine), "GOGO.DLL fake encoder 1.0");
    EXPECT_EQ(harness.itemText(OutputPathEdit), "/opt/tools/vud.pac");
    EXPECT_EQ(harness.itemText(SourceFolderEdit), "");
    ASSERT_EQ(consoleListRowCount(harness.dialog, BitRateList), BitRateRowCount);
    for (int32_t row = 0; row < BitRateRowCount; ++row) {
        char text[64];
        ASSERT_GT(consoleListRowText(harness.dialog, BitRateList, row, text, sizeof(text)), 0);
        EXPECT_STREQ(text, BitRateTable[row].text);
    }
    EXPECT_STREQ(BitRateTable[3].text, "32kbit/s");
    EXPECT_EQ(windowListGetSelection(harness.dialog, BitRateList), 3);
    EXPECT_EQ(harness.boxCount(), 0);
}

TEST_F(MainDialogTest, NotificationsKeepTheTextsAndTheRowInStep) {
    DialogHarness harness(MessageBoxAnswer::Yes, NoWorker);
    harness.setSource("/data/voice/");
    EXPECT_STREQ(sourceFolder, "/data/voice/");
    // Typed text is used as typed: no separator is added.
    harness.setSource("/data/voice");
    EXPECT_STREQ(sourceFolder, "/data/voice");
    harness.setOutput("/tmp/x/vud.pac");
    EXPECT_STREQ(outputPath, "/tmp/x/vud.pac");

    ASSERT_EQ(windowListSelectString(harness.dialog, BitRateList, "128kbit/s"), 11);
    mainDialogProc(harness.dialog, DialogMessage::Command,
                   commandParam(BitRateList, NotifyListSelChanged));
    EXPECT_EQ(bitRateSelection.load(), 11);
}

TEST_F(MainDialogTest, MissingPathsWarnAndOnlyTheFirstIsShown) {
    DialogHarness harness(MessageBoxAnswer::Yes, NoWorker);
    harness.setOutput("");
    harness.click(StartButton);
    EXPECT_EQ(harness.boxCount(), 1);
    EXPECT_STREQ(harness.lastBox().text, "VUDデータの場所を指定してください.");
    EXPECT_STREQ(harness.lastBox().caption, "VUD Data Converter");
    expectNoStart(harness);

    harness.setSource(folder.path);
    harness.click(StartButton);
    EXPECT_EQ(harness.boxCount(), 2);
    EXPECT_STREQ(harness.lastBox().text, "作成データ出力先を指定してください.");
    expectNoStart(harness);
}

TEST_F(MainDialogTest, PathsTooLongForTheirBuffersAreRefusedNeverCut) {
    DialogHarness harness(MessageBoxAnswer::Yes, NoWorker);
    std::string longFolder = "/" + std::string(300, 'd') + "/";
    harness.setSource(longFolder);
    harness.setOutput(output);
    harness.click(StartButton);
    EXPECT_STREQ(harness.lastBox().text,
                 "VUDデータの場所が長すぎます.\n259バイト以内で指定してください.");
    expectNoStart(harness);

    harness.setSource(folder.path);
    std::string longOutput = folder.path + std::string(PathCapacity, 'o');
    harness.setOutput(longOutput);
    harness.click(StartButton);
    EXPECT_STREQ(harness.lastBox().text,
                 "作成データ出力先が長すぎます.\n259バイト以内で指定してください.");
    expectNoStart(harness);

    // 259 bytes fit exactly.
    std::string fitting = folder.path;
    fitting += std::string(PathCapacity - 1 - fitting.size(), 'f');
    harness.setOutput(fitting);
    int32_t boxes = harness.boxCount();
    harness.click(StartButton);
    EXPECT_EQ(harness.boxCount(), boxes);
    EXPECT_EQ(std::string(outputPath), fitting);
    EXPECT_EQ(workerState.load(), WorkerStartRequested);
}

TEST_F(MainDialogTest, ADeclinedOverwriteLeavesEverythingAsItWas) {
    ASSERT_TRUE(writeFile(output, "previous"));
    DialogHarness harness(MessageBoxAnswer::No, NoWorker);
    harness.setSource(folder.path);
    harness.setOutput(output);
    harness.click(StartButton);

    ASSERT_EQ(harness.questions.size(), 1u);
    EXPECT_EQ(harness.questions[0], output + " は既に存在しています.\n上書きしますか？");
    ConsoleMessageBoxRecord box = harness.lastBox();
    EXPECT_STREQ(box.caption, "確認");
    EXPECT_EQ(box.buttons, MessageBoxButtons::YesNo);
    EXPECT_EQ(box.icon, MessageBoxIcon::Warning);
    EXPECT_EQ(box.owner, harness.dialog);
    expectNoStart(harness);
    EXPECT_EQ(readFile(output), "previous");
}

// The longest path the field takes is named whole, never cut.
TEST_F(MainDialogTest, TheOverwriteQuestionNamesTheLongestPathWhole) {
    std::string longest = folder.path;
    longest += std::string(PathCapacity - 1 - longest.size(), 'q');
    ASSERT_TRUE(writeFile(longest, "previous"));
    DialogHarness harness(MessageBoxAnswer::No, NoWorker);
    harness.setSource(folder.path);
    harness.setOutput(longest);
    harness.click(StartButton);

    ASSERT_EQ(harness.questions.size(), 1u);
    EXPECT_EQ(harness.questions[0], longest + " は既に存在しています.\n上書きしますか？");
    expectNoStart(harness);
}

TEST_F(MainDialogTest, AnAcceptedStartDisablesTheInputsAndTheButtonFirst) {
    ASSERT_TRUE(writeFile(output, "previous"));
    DialogHarness harness(MessageBoxAnswer::Yes, NoWorker);
    harness.setSource(folder.path);
    harness.setOutput(output);
    harness.click(StartButton);

    EXPECT_EQ(harness.questions.size(), 1u);
    EXPECT_EQ(workerState.load(), WorkerStartRequested);
    EXPECT_TRUE(harness.inputsDisabled());
    EXPECT_FALSE(harness.itemEnabled(StartButton));
    EXPECT_EQ(readFile(output), "previous");
}

TEST_F(MainDialogTest, TheCancelPressDisablesTheButtonAtOnce) {
    DialogHarness harness(MessageBoxAnswer::Yes, NoWorker);
    harness.setSource(folder.path);
    harness.setOutput(output);
    workerState.store(WorkerRunning);
    harness.click(StartButton);
    EXPECT_FALSE(harness.itemEnabled(StartButton));
    EXPECT_EQ(workerState.load(), WorkerStopping);
    EXPECT_EQ(harness.boxCount(), 0);
}

TEST_F(MainDialogTest, APressWhileTheWorkerEndsItsRunAsksNothingAndStartsNothing) {
    ASSERT_TRUE(writeFile(output, "being finished"));
    DialogHarness harness(MessageBoxAnswer::Yes, NoWorker);
    harness.setSource(folder.path);
    harness.setOutput(output);
    // The worker's own Stopping: the button still reads "cancel" and is enabled.
    workerState.store(WorkerStopping);
    harness.click(StartButton);
    EXPECT_EQ(workerState.load(), WorkerStopping);
    EXPECT_TRUE(harness.questions.empty());
    EXPECT_EQ(harness.boxCount(), 0);
    EXPECT_TRUE(harness.itemEnabled(StartButton));
}

TEST_F(MainDialogTest, EscapeAndUnknownCommandsDoNothing) {
    DialogHarness harness(MessageBoxAnswer::Yes, NoWorker);
    harness.setSource(folder.path);
    harness.setOutput(output);
    constexpr int32_t EscapeCommand = 2;
    harness.click(EscapeCommand);
    mainDialogProc(harness.dialog, DialogMessage::Command, commandParam(PercentText, 5));
    EXPECT_EQ(harness.boxCount(), 0);
    expectNoStart(harness);
    EXPECT_TRUE(windowIsAlive(harness.dialog));
}

TEST_F(MainDialogTest, ACancelledBrowseKeepsTheFieldsAndClearsItsBuffer) {
    DialogHarness harness(MessageBoxAnswer::Yes, NoWorker);
    harness.setSource("/data/voice/");
    harness.setOutput("/data/out.pac");
    harness.click(BrowseSourceButton);
    harness.click(BrowseOutputButton);
    EXPECT_STREQ(sourceFolder, "/data/voice/");
    EXPECT_STREQ(outputPath, "/data/out.pac");
    EXPECT_EQ(harness.itemText(SourceFolderEdit), "/data/voice/");

    char buffer[PathCapacity];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(browseForFolder(buffer), 0);
    for (char c : buffer) ASSERT_EQ(c, '\0');
}

TEST_F(MainDialogTest, CloseDestroysTheDialogAtOnceAndEndsTheLoopWithZero) {
    DialogHarness harness(MessageBoxAnswer::Yes, NoWorker);
    workerState.store(WorkerRunning);
    mainDialogProc(harness.dialog, DialogMessage::Close, 0);
    EXPECT_FALSE(windowIsAlive(harness.dialog));
    EXPECT_EQ(harness.boxCount(), 0);
    EXPECT_EQ(windowRunMessageLoop(), 0);
    workerState.store(WorkerIdle);
}

}  // namespace

namespace {

TEST(StartupTest, CentringHalvesTheFreeSpaceRoundingTowardsMinusInfinity) {
    int32_t x = 0, y = 0;
    centredPosition(1024, 768, 421, 300, &x, &y);
    EXPECT_EQ(x, 301);
    EXPECT_EQ(y, 234);
    centredPosition(800, 600, 1001, 603, &x, &y);
    EXPECT_EQ(x, -101);
    EXPECT_EQ(y, -2);

    DialogHarness harness(MessageBoxAnswer::Yes, false);
    WindowRect before{}, after{};
    ASSERT_TRUE(windowGetRect(harness.dialog, &before));
    centreDialog(harness.dialog);
    ASSERT_TRUE(windowGetRect(harness.dialog, &after));
    int32_t width = before.right - before.left, height = before.bottom - before.top;
    EXPECT_EQ(after.right - after.left, width);
    EXPECT_EQ(after.bottom - after.top, height);
    EXPECT_EQ(after.left, (windowScreenWidth() - width) >> 1);
    EXPECT_EQ(after.top, (windowScreenHeight() - height) >> 1);
}

TEST(StartupTest, TheDefaultOutputIsVudPacInTheProgramsFolder) {
    // The build folder is open to its user.
    ASSERT_TRUE(setDefaultOutputPath());
#if defined(_WIN32)
    wchar_t module[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, module, MAX_PATH), 0u);
    std::string program = std::filesystem::path(module).string();
    std::string folder = program.substr(0, program.rfind('\\') + 1);
#else
    std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string folder = program.substr(0, program.rfind('/') + 1);
#endif
    EXPECT_EQ(std::string(outputPath), folder + "vud.pac");
}

bool writableAnywhere(const char*) {
    return true;
}
bool writableNowhere(const char*) {
    return false;
}

struct DefaultOutputCase {
    const char* program;
    const char* current;
    bool (*writable)(const char*);
    const char* expected;  // null: does not fit
};

class DefaultOutputTest : public ::testing::TestWithParam<DefaultOutputCase> {};

// An installed program's folder is usually closed to its users: the current
// folder (a desktop menu starts programs in the home folder) takes its place.
TEST_P(DefaultOutputTest, TheProgramsFolderWhenWritableElseTheCurrentFolder) {
    const DefaultOutputCase& example = GetParam();
    char path[PathCapacity];
    EXPECT_EQ(defaultOutputPathFor(example.program, example.current, example.writable, path),
              example.expected != nullptr);
    EXPECT_STREQ(path, example.expected != nullptr ? example.expected : "");
}

const std::string longFolder = "/" + std::string(PathCapacity - 8, 'f');
// A folder without a closing separator gets the platform's.
const std::string inHome = std::string("/home/u") + PathSeparatorText + "vud.pac";

INSTANTIATE_TEST_SUITE_P(
    Cases, DefaultOutputTest,
    ::testing::Values(
        DefaultOutputCase{"/opt/vud/vud-converter", "/home/u", writableAnywhere,
                          "/opt/vud/vud.pac"},
        DefaultOutputCase{"/usr/local/bin/vudconv", "/home/u", writableNowhere, inHome.c_str()},
        DefaultOutputCase{"/usr/local/bin/vudconv", "/", writableNowhere, "/vud.pac"},
        DefaultOutputCase{"", "/home/u/", writableAnywhere, "/home/u/vud.pac"},
        DefaultOutputCase{"", "", writableAnywhere, "vud.pac"},
        DefaultOutputCase{"/usr/bin/vudconv", longFolder.c_str(), writableNowhere, nullptr}));

TEST(StartupTest, TheWorkerStartsIdleAndEndsWithItsExitCodeOnQuit) {
    prepareFakeEncoder();
    workerState.store(WorkerRunning);
    ApplicationRun run{};
    ASSERT_TRUE(startWorker(nullptr, &run));
    EXPECT_EQ(workerState.load(), WorkerIdle);
    EXPECT_TRUE(stopWorker(&run));
    EXPECT_EQ(workerState.load(), WorkerQuit);
    workerState.store(WorkerIdle);
}

}  // namespace
