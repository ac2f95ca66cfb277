// The Win32-only logic of the console programs, run under Wine: text for a
// pipe, the console control routine, the wide command line, the single
// instance's mutex, the tool's output files.
#include <windows.h>
// After windows.h.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/console_text.h"
#include "platform/win32/pipe_descriptor.h"
#include "platform/program_arguments.h"
#include "platform/single_instance.h"
#include "platform/stop_signals.h"
#include "platform/win32/stop_signals_routine.h"
#include "platform/tool_output_file.h"
#include "tests/support/temp_folder.h"

namespace {

// A stream writing into a pipe, and what came out at the other end.
std::string writtenThroughPipe(void (*write)(std::FILE* stream)) {
    int32_t readEnd = -1;
    HANDLE writeEnd = nullptr;
    if (!openDescriptorPipe(&readEnd, &writeEnd, 64 * 1024)) return "(no pipe)";
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY);
    std::FILE* stream = _fdopen(descriptor, "wb");
    if (stream == nullptr) return "(no stream)";
    write(stream);
    std::fclose(stream);
    std::string bytes;
    char chunk[256];
    for (int32_t count; (count = readWaitingBytes(readEnd, chunk, sizeof chunk)) > 0;) {
        bytes.append(chunk, static_cast<size_t>(count));
    }
    _close(readEnd);
    return bytes;
}

TEST(ConsoleText, APipeGetsTheUtf8BytesUnchanged) {
    const std::string bytes = writtenThroughPipe([](std::FILE* stream) {
        consolePuts(stream, "作成開始 ");
        consolePrint(stream, "%s (%3d/%3d)\r", "z001.vud", 7, 120);
        consoleWrite(stream, "\r\033[K中止\n!", 11);
    });
    EXPECT_EQ(bytes, "作成開始 z001.vud (  7/120)\r\r\033[K中止\n");
}

TEST(ConsoleText, ALongFormattedTextIsWrittenWhole) {
    const std::string bytes = writtenThroughPipe(
        [](std::FILE* stream) { consolePrint(stream, "%s|", std::string(5000, 'x').c_str()); });
    EXPECT_EQ(bytes, std::string(5000, 'x') + "|");
}

std::vector<int32_t> handled;
void recordSignal(int32_t signalNumber) {
    handled.push_back(signalNumber);
}

struct EventCase {
    DWORD event;
    int32_t signalNumber;
};

class StopRoutine : public testing::TestWithParam<EventCase> {};

TEST_P(StopRoutine, EventsMapToThePosixNumbers) {
    EXPECT_EQ(stopSignalNumberFor(GetParam().event), GetParam().signalNumber);
}

INSTANTIATE_TEST_SUITE_P(Events, StopRoutine,
                         testing::Values(EventCase{CTRL_C_EVENT, 2}, EventCase{CTRL_BREAK_EVENT, 3},
                                         EventCase{CTRL_CLOSE_EVENT, 1},
                                         EventCase{CTRL_LOGOFF_EVENT, 15},
                                         EventCase{CTRL_SHUTDOWN_EVENT, 15}, EventCase{7, 0}));

// Close, logoff and shutdown end the process after a grace time, so only the
// events that return are sent here.
TEST(StopSignals, TheRoutineCallsTheHandlerThenMakesTheDescriptorReadable) {
    const int32_t descriptor = installStopSignalHandler(recordSignal);
    ASSERT_GE(descriptor, 0);
    takeStopSignals();
    handled.clear();
    EXPECT_FALSE(descriptorReadable(descriptor));

    EXPECT_TRUE(stopControlRoutine(CTRL_C_EVENT));
    EXPECT_TRUE(descriptorReadable(descriptor));
    EXPECT_TRUE(stopControlRoutine(CTRL_BREAK_EVENT));
    EXPECT_EQ(handled, (std::vector<int32_t>{2, 3}));

    EXPECT_TRUE(takeStopSignals());
    EXPECT_FALSE(descriptorReadable(descriptor));
    EXPECT_FALSE(takeStopSignals());

    EXPECT_FALSE(stopControlRoutine(7)) << "not a stop: left to the next routine";
    EXPECT_EQ(handled.size(), 2u);
    EXPECT_FALSE(descriptorReadable(descriptor));
    EXPECT_EQ(installStopSignalHandler(nullptr), descriptor) << "one descriptor per process";
}

TEST(ProgramArguments, TheWideCommandLineBecomesUtf8) {
    int argc = 0;
    char** argv = nullptr;
    ASSERT_TRUE(utf8ArgumentsFromCommandLine(
        L"C:\\bin\\vudconv.exe -y \"D:\\\u97f3\u58f0 data\\\" \u51fa\u529b.pac", &argc, &argv));
    ASSERT_EQ(argc, 3);
    EXPECT_STREQ(argv[0], "C:\\bin\\vudconv.exe");
    EXPECT_STREQ(argv[1], "-y");
    EXPECT_STREQ(argv[2], "D:\\音声 data\" 出力.pac") << "a backslash before a quote escapes it";
    EXPECT_EQ(argv[3], nullptr);

    ASSERT_TRUE(utf8ArgumentsFromCommandLine(L"prog \"a b\" c", &argc, &argv));
    ASSERT_EQ(argc, 3);
    EXPECT_STREQ(argv[1], "a b");
}

// Display-free: with no window of the class to raise, the later start looks
// for it during its ~2 s and still yields to the holder.
TEST(SingleInstance, TheFirstStartHoldsTheNameUntilReleased) {
    const std::string name = "vud-console-test-" + std::to_string(GetCurrentProcessId());
    SingleInstance* first = nullptr;
    ASSERT_EQ(claimSingleInstance(name.c_str(), &first), InstanceClaim::First);
    EXPECT_EQ(singleInstanceDescriptor(first), -1);
    SingleInstance* second = nullptr;
    EXPECT_EQ(claimSingleInstance(name.c_str(), &second), InstanceClaim::Another);
    EXPECT_EQ(second, nullptr);
    releaseSingleInstance(first);
    ASSERT_EQ(claimSingleInstance(name.c_str(), &second), InstanceClaim::First);
    releaseSingleInstance(second);
}

class ToolOutputFile : public testing::Test {
protected:
    TempFolder folder;
    std::string path(const char* name) const { return folder.path + name; }
    std::string contents(const std::string& file) const {
        std::string bytes;
        if (std::FILE* stream = _wfopen(widen(file).c_str(), L"rb")) {
            for (int c; (c = std::fgetc(stream)) != EOF;) bytes.push_back(static_cast<char>(c));
            std::fclose(stream);
        }
        return bytes;
    }
    static std::wstring widen(const std::string& text) {
        std::wstring wide(text.size() + 1, L'\0');
        const int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(),
                                              static_cast<int>(wide.size()));
        wide.resize(units > 0 ? static_cast<size_t>(units - 1) : 0);
        return wide;
    }
    bool write(const std::string& file, const char* text, const char** why) const {
        OwnedFile stream = createToolOutputFile(file.c_str(), why);
        return stream && std::fputs(text, stream.get()) >= 0;
    }
};

TEST_F(ToolOutputFile, CreatesAndEmptiesAFileOfItsOwnUnderAUtf8Name) {
    const std::string file = path("抽出.mp3");
    const char* why = nullptr;
    ASSERT_TRUE(write(file, "a longer first text", &why)) << why;
    ASSERT_TRUE(write(file, "short", &why)) << why;
    EXPECT_EQ(contents(file), "short");
}

TEST_F(ToolOutputFile, RefusesAFileWithOtherNamesAndAFolder) {
    const std::string file = path("z001_0001.mp3");
    const std::string other = path("elsewhere.mp3");
    const char* why = nullptr;
    ASSERT_TRUE(write(other, "kept", &why)) << why;
    ASSERT_TRUE(CreateHardLinkW(widen(file).c_str(), widen(other).c_str(), nullptr));
    EXPECT_FALSE(write(file, "lost", &why));
    EXPECT_STREQ(why, "has other names (hard links); not overwritten");
    EXPECT_EQ(contents(other), "kept");

    EXPECT_FALSE(write(folder.path, "lost", &why)) << "the folder itself";
}

}  // namespace
