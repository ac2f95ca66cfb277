// vudconv as its users meet it: the program run as a child process, with the
// recording fake (a copy named GOGO.DLL found through LD_LIBRARY_PATH) or the
// stand-in encoder beside it; plus its command-line parsing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/command_line.h"
#include "app/shell_state.h"
#include "encoder/encoder_pool.h"
#include "encoder/entry_encoding.h"
#include "platform/install_layout.h"
#include "tests/support/process_mark.h"
#include "tests/worker/worker_support.h"

namespace {

struct ChildResult {
    int exitCode = -1;  // 128 + signal when the child was killed
    std::string out;
    std::string err;
};

struct ChildOptions {
    std::string workingFolder;
    std::string libraryFolder;   // LD_LIBRARY_PATH; empty: unset
    std::string registryFolder;  // both registry roots
    rlim_t fileSizeLimit = RLIM_INFINITY;
    bool ignoreFileSizeSignal = true;
    // Sends SIGINT once this many entry labels have come out.
    int32_t interruptAfterLabels = 0;
    // VUD_JOBS, the encoders when no -j is given; empty: unset. One by
    // default: the fake's streams depend on how many entries its process
    // has encoded, so only one encoder gives every test the same bytes.
    std::string jobs = "1";
    // FAKE_ENCODER_CHILD_FAULT for the encoder helpers; empty: unset.
    std::string helperFault;
    // The signal sent after interruptAfterLabels labels.
    int interruptSignal = SIGINT;
    // Standard error into the same pipe as standard output (out holds both).
    bool combined = false;
    // Once this many labels have come out, the child's whole process group
    // (it gets one of its own) is stopped for stopMilliseconds, then continued.
    int32_t stopAfterLabels = 0;
    int32_t stopMilliseconds = 0;
    // Run through these words first (a wrapper that execs the program).
    std::vector<std::string> launcher;
    // Further variables for the child, NAME=value.
    std::vector<std::string> environment;
};

// Every child and its encoder helpers carry this mark in their environment,
// so helpers left behind can be found after the child has gone.
constexpr const char* MarkVariable = "VUD_TEST_RUN_MARK";

std::string runMark() {
    return std::to_string(getpid());
}

// Helpers see their pipe end and exit on their own; this waits for that.
bool noMarkedProcessLeft() {
    return noProcessWithVariable(MarkVariable, runMark());
}

ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                     const ChildOptions& options) {
    ChildResult result;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(outPipe[1], 1);
        dup2(options.combined ? outPipe[1] : errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        int input = open("/dev/null", O_RDONLY);
        dup2(input, 0);
        if (!options.workingFolder.empty() && chdir(options.workingFolder.c_str()) != 0) _exit(126);
        if (options.libraryFolder.empty()) {
            unsetenv("LD_LIBRARY_PATH");
        } else {
            setenv("LD_LIBRARY_PATH", options.libraryFolder.c_str(), 1);
        }
        setenv("VUD_REGISTRY_CURRENT_USER", options.registryFolder.c_str(), 1);
        setenv("VUD_REGISTRY_LOCAL_MACHINE", options.registryFolder.c_str(), 1);
        setenv(MarkVariable, runMark().c_str(), 1);
        if (options.jobs.empty()) {
            unsetenv("VUD_JOBS");
        } else {
            setenv("VUD_JOBS", options.jobs.c_str(), 1);
        }
        if (!options.helperFault.empty()) {
            setenv("FAKE_ENCODER_CHILD_FAULT", options.helperFault.c_str(), 1);
        }
        if (options.fileSizeLimit != RLIM_INFINITY) {
            // Writes past the limit fail with EFBIG instead of killing the
            // process (vudconv also sees to that itself).
            signal(SIGXFSZ, options.ignoreFileSizeSignal ? SIG_IGN : SIG_DFL);
            rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        for (const std::string& variable : options.environment) {
            putenv(const_cast<char*>(variable.c_str()));
        }
        std::vector<char*> argv;
        for (const std::string& word : options.launcher) {
            argv.push_back(const_cast<char*>(word.c_str()));
        }
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    bool interrupted = false;
    bool stopped = false;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int streamsOpen = 2;
    while (streamsOpen > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char chunk[4096];
            ssize_t n = read(fds[k].fd, chunk, sizeof(chunk));
            if (n <= 0) {
                close(fds[k].fd);
                fds[k].fd = -1;
                --streamsOpen;
                continue;
            }
            (k == 0 ? result.out : result.err).append(chunk, static_cast<size_t>(n));
        }
        int32_t labels = 0;
        for (char c : result.out) labels += c == '\r' ? 1 : 0;
        if (options.interruptAfterLabels > 0 && !interrupted &&
            labels >= options.interruptAfterLabels) {
            kill(pid, options.interruptSignal);
            interrupted = true;
        }
        if (options.stopAfterLabels > 0 && !stopped && labels >= options.stopAfterLabels) {
            kill(-pid, SIGSTOP);
            usleep(static_cast<useconds_t>(options.stopMilliseconds) * 1000);
            kill(-pid, SIGCONT);
            stopped = true;
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.exitCode = 128 + WTERMSIG(status);
    return result;
}

std::string labelsOf(const std::vector<std::string>& names, int32_t entriesEach) {
    std::string labels;
    for (const std::string& name : names) {
        for (int32_t i = 1; i <= entriesEach; ++i) {
            char label[64];
            std::snprintf(label, sizeof(label), "%s (%3d/%3d)\r", name.c_str(), i, entriesEach);
            labels += label;
        }
    }
    return labels;
}

class VudconvTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.path.empty());
        source = scratch.path + "voice/";
        work = scratch.path + "work/";
        library = scratch.path + "lib/";
        registry = scratch.path + "registry/";
        for (const std::string& folder : {source, work, library, registry}) {
            ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        }
        std::error_code error;
        std::filesystem::copy_file(FAKE_ENCODER_LIBRARY_PATH, library + "GOGO.DLL", error);
        ASSERT_FALSE(error) << error.message();
        options.workingFolder = work;
        options.libraryFolder = library;
        options.registryFolder = registry;
        output = work + "out.pac";
    }

    ChildResult run(const std::vector<std::string>& arguments) {
        return runChild(VUDCONV_PATH, arguments, options);
    }

    void writeArchives(int32_t count, int32_t entriesEach, size_t samples = 2048) {
        for (int32_t i = 1; i <= count; ++i) {
            char name[16];
            std::snprintf(name, sizeof(name), "z%03d.vud", i);
            ASSERT_TRUE(writeSourceArchiveFile(source + name, entriesEach, samples,
                                               static_cast<uint16_t>(i * 100)));
        }
    }

    TempFolder scratch;
    std::string source, work, library, registry, output;
    ChildOptions options;
};

TEST_F(VudconvTest, ConvertsAFolderKeepsTheOutputAndPrintsOnlyTheLabelsOnStandardOutput) {
    writeArchives(3, 2);
    std::vector<std::string> order = scanOrder(source);
    ASSERT_EQ(order.size(), 3u);
    // The folder is given without its closing '/'.
    std::string folder = source.substr(0, source.size() - 1);
    ChildResult result = run({"-b", "128", folder, output});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, labelsOf(order, 2));
    EXPECT_NE(result.err.find("progress 100%"), std::string::npos) << result.err;
    OutputArchiveLayout layout;
    std::string reason;
    ASSERT_TRUE(readOutput(output, &layout, &reason)) << reason;
    EXPECT_EQ(layout.archiveCount, 3u);
}

// The default output goes beside a program its user may write beside (the
// other case, the current folder, needs a folder closed to the superuser
// too; the choice itself is tested with the start-up steps).
TEST_F(VudconvTest, QuietRunsShowNoProgressAndTheOutputDefaultsToTheProgramsFolder) {
    writeArchives(1, 1);
    const std::string folder = scratch.path + "bin/";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::error_code error;
    std::filesystem::copy_file(VUDCONV_PATH, folder + "vudconv", error);
    ASSERT_FALSE(error) << error.message();
    ChildResult result = runChild(folder + "vudconv", {"-qj1", source}, options);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(pathExists(folder + "vud.pac"));
    EXPECT_FALSE(pathExists(work + "vud.pac"));
}

TEST_F(VudconvTest, HelpAndVersion) {
    ChildResult help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: vudconv [-b KBPS] [-j N] [-y] [-q] SOURCE_FOLDER [OUTPUT]", 0),
              0u);
    ChildResult version = run({"--version"});
    EXPECT_EQ(version.exitCode, 0) << version.err;
    EXPECT_EQ(version.out, "vudconv (VUD Data Converter) 0.6\nGOGO.DLL fake encoder 1.0\n");
}

TEST_F(VudconvTest, UsageErrorsExitTwoAndTouchNothing) {
    writeArchives(1, 1);
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"-b", "33", source},
                                               {"-b"},
                                               {"-j", "0", source},
                                               {"-x", source},
                                               {"--bogus", source},
                                               {source, output, "third"}}) {
        ChildResult result = run(arguments);
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_NE(result.err.find("vudconv: "), std::string::npos);
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(pathExists(output));
    EXPECT_FALSE(pathExists(work + "vud.pac"));
}

TEST_F(VudconvTest, RefusedStartsExitTwo) {
    writeArchives(1, 1);
    ASSERT_TRUE(writeFile(output, "previous"));
    // No terminal to ask: the overwrite question is answered No.
    ChildResult declined = run({source, output});
    EXPECT_EQ(declined.exitCode, 2) << declined.err;
    EXPECT_NE(declined.err.find("は既に存在しています."), std::string::npos) << declined.err;
    EXPECT_EQ(readFile(output), "previous");

    ChildResult empty = run({"", output});
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_NE(empty.err.find("VUDデータの場所を指定してください."), std::string::npos);

    ChildResult longSource = run({"/" + std::string(300, 's'), work + "new.pac"});
    EXPECT_EQ(longSource.exitCode, 2);
    EXPECT_NE(longSource.err.find("VUDデータの場所が長すぎます."), std::string::npos);

    ChildResult longOutput = run({source, work + std::string(300, 'o')});
    EXPECT_EQ(longOutput.exitCode, 2);
    EXPECT_NE(longOutput.err.find("作成データ出力先が長すぎます."), std::string::npos);
    EXPECT_EQ(readFile(output), "previous");
    EXPECT_FALSE(pathExists(work + "new.pac"));

    ChildResult overwritten = run({"-y", source, output});
    EXPECT_EQ(overwritten.exitCode, 0) << overwritten.err;
    EXPECT_NE(readFile(output), "previous");
}

TEST_F(VudconvTest, NoArchivesExitsThreeAndLeavesAnExistingOutput) {
    ASSERT_TRUE(writeFile(source + "readme.txt", "text"));
    ASSERT_TRUE(writeFile(output, "previous"));
    ChildResult result = run({"-y", source, output});
    EXPECT_EQ(result.exitCode, 3) << result.err;
    EXPECT_NE(result.err.find("VUDファイルは見つかりませんでした."), std::string::npos);
    EXPECT_EQ(readFile(output), "previous");
}

TEST_F(VudconvTest, AMissingEncoderLibraryExitsFour) {
    // A copy of the program in a folder without GOGO.DLL, and no search path.
    std::string program = scratch.path + "bin/vudconv";
    ASSERT_EQ(mkdir((scratch.path + "bin").c_str(), 0755), 0);
    std::error_code error;
    std::filesystem::copy_file(VUDCONV_PATH, program, error);
    ASSERT_FALSE(error) << error.message();
    writeArchives(1, 1);
    options.libraryFolder.clear();
    // A library in the folder vudconv is run from is not used.
    std::filesystem::copy_file(FAKE_ENCODER_LIBRARY_PATH, work + "GOGO.DLL", error);
    ASSERT_FALSE(error) << error.message();
    ChildResult result = runChild(program, {source, output}, options);
    EXPECT_EQ(result.exitCode, 4) << result.err;
    EXPECT_NE(result.err.find("GOGO.DLLが見つかりませんでした."), std::string::npos) << result.err;
    // The message names the library folder the build installs it in.
    EXPECT_NE(result.err.find("(looked in " + scratch.path + "bin/" + LibraryFolderFromPrograms +
                              "/, beside the program,"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(pathExists(output));
    EXPECT_EQ(runChild(program, {"--version"}, options).exitCode, 4);
}

TEST_F(VudconvTest, FailuresExitOneAndLeaveNoOutput) {
    writeArchives(1, 2);
    ChildResult missingFolder = run({source, work + "missing/out.pac"});
    EXPECT_EQ(missingFolder.exitCode, 1) << missingFolder.err;
    EXPECT_NE(missingFolder.err.find("作成できませんでした."), std::string::npos);
    EXPECT_FALSE(pathExists(work + "missing"));

    ASSERT_TRUE(writeFile(source + "readme.vud", "not an archive"));
    ChildResult failed = run({source, output});
    EXPECT_EQ(failed.exitCode, 1) << failed.err;
    EXPECT_NE(failed.err.find("ファイル readme.vud の変換中に"), std::string::npos) << failed.err;
    EXPECT_FALSE(pathExists(output));

    EXPECT_TRUE(temporaryOutputs(work).empty());
}

// Output safety: a run changes OUTPUT only by replacing it with a complete
// archive; sources and things that are not files are never written.

TEST_F(VudconvTest, AnOutputNamingASourceArchiveOrNotAFileIsRefusedWithExitTwo) {
    writeArchives(2, 2);
    const std::string original = readFile(source + "z001.vud");
    ASSERT_EQ(symlink((source + "z001.vud").c_str(), (work + "soft.pac").c_str()), 0);
    ASSERT_EQ(link((source + "z002.vud").c_str(), (work + "hard.pac").c_str()), 0);
    for (const std::string& path : {source + "z001.vud", work + "soft.pac", work + "hard.pac"}) {
        ChildResult result = run({"-y", source, path});
        EXPECT_EQ(result.exitCode, 2) << path << "\n" << result.err;
        EXPECT_NE(result.err.find("は変換するVUDファイルです."), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(readFile(source + "z001.vud"), original);
    EXPECT_EQ(readFile(work + "hard.pac"), readFile(source + "z002.vud"));

    std::string pipe = work + "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    for (const std::string& path : {pipe, work, std::string("/dev/stdout")}) {
        ChildResult result = run({"-y", source, path});
        EXPECT_EQ(result.exitCode, 2) << path << "\n" << result.err;
        EXPECT_NE(result.err.find("はファイルではありません."), std::string::npos) << result.err;
    }
    struct stat status {};
    ASSERT_EQ(lstat(pipe.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_TRUE(temporaryOutputs(source).empty());
    EXPECT_TRUE(temporaryOutputs(work).empty());
}

TEST_F(VudconvTest, AFailedRunLeavesAnEarlierOutputByteIdentical) {
    writeArchives(2, 2);
    ASSERT_EQ(run({"-q", source, output}).exitCode, 0);
    const std::string good = readFile(output);
    ASSERT_TRUE(writeFile(source + "readme.vud", "not an archive"));
    ChildResult failed = run({"-y", source, output});
    EXPECT_EQ(failed.exitCode, 1) << failed.err;
    EXPECT_EQ(readFile(output), good);
    EXPECT_TRUE(temporaryOutputs(work).empty());
}

TEST_F(VudconvTest, ConcurrentRunsOnOneOutputNeverReportSuccessOverABrokenFile) {
    writeArchives(4, 8);
    const std::string script =
        "\"$0\" -y -q \"$1\" \"$2\" >/dev/null & a=$!; "
        "\"$0\" -y -q -b 64 \"$1\" \"$2\" >/dev/null & b=$!; "
        "wait $a; ea=$?; wait $b; eb=$?; echo \"$ea $eb\"";
    for (int round = 0; round < 3; ++round) {
        ChildResult both =
            runChild("/bin/sh", {"-c", script, VUDCONV_PATH, source, output}, options);
        ASSERT_EQ(both.exitCode, 0) << both.err;
        EXPECT_EQ(both.out, "0 0\n") << both.err;
        OutputArchiveLayout layout;
        std::string reason;
        EXPECT_TRUE(readOutput(output, &layout, &reason)) << reason;
        EXPECT_TRUE(temporaryOutputs(work).empty());
    }
}

TEST_F(VudconvTest, WritesThatStartFailingLeaveNoOutputAndExitOne) {
    writeArchives(3, 4);
    // At the placeholders, then in the middle of the blocks, once with the
    // signal a write past the limit raises left at its default.
    for (rlim_t limit : {rlim_t{20}, rlim_t{3000}, rlim_t{5000}}) {
        options.fileSizeLimit = limit;
        options.ignoreFileSizeSignal = limit != 5000;
        ChildResult result = run({source, output});
        EXPECT_EQ(result.exitCode, 1) << "limit " << limit << "\n" << result.err;
        EXPECT_NE(result.err.find("ファイル " + output + " の書き込み中に"), std::string::npos)
            << result.err;
        EXPECT_FALSE(pathExists(output)) << "limit " << limit;
        EXPECT_TRUE(temporaryOutputs(work).empty()) << "limit " << limit;
    }
}

// With one encoder and with several: the same outcome, and no helper is
// left behind.
class VudconvEncodersTest : public VudconvTest, public testing::WithParamInterface<int32_t> {};

TEST_P(VudconvEncodersTest, CtrlCFinishesTheArchiveInProgressThenDeletesTheOutputAndExits130) {
    // The stand-in encoder beside the program; the interrupt comes with the
    // first entry label, long before the last of six archives.
    constexpr int32_t Archives = 6;
    constexpr int32_t Entries = 8;
    writeArchives(Archives, Entries, 22050);
    std::vector<std::string> order = scanOrder(source);
    ASSERT_EQ(order.size(), size_t{Archives});
    options.libraryFolder.clear();
    options.interruptAfterLabels = 1;
    ChildResult result = run({"-j", std::to_string(GetParam()), source, output});
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_FALSE(pathExists(output));
    EXPECT_TRUE(temporaryOutputs(work).empty());
    EXPECT_NE(result.err.find("vudconv: cancelled"), std::string::npos) << result.err;
    // Whole archives only, in scan order: the one in progress was finished,
    // no later one was begun after the cancel was seen.
    bool wholeArchives = false;
    for (int32_t converted = 1; converted < Archives && !wholeArchives; ++converted) {
        std::vector<std::string> first(order.begin(), order.begin() + converted);
        wholeArchives = result.out == labelsOf(first, Entries);
    }
    EXPECT_TRUE(wholeArchives) << result.out;
    EXPECT_TRUE(noMarkedProcessLeft());
}

// The stand-in encoder: real streams, the same for any number of encoders.
TEST_P(VudconvEncodersTest, TheArchiveIsTheSameForAnyNumberOfEncoders) {
    options.libraryFolder.clear();
    writeArchives(3, 7, 9000);
    const std::string samples = std::string(std::getenv("VUD_SOURCE_DIR")) + "/samples/voice/";
    for (const std::string& folder : {source, samples}) {
        ChildResult alone = run({"-j", "1", "-y", folder, work + "alone.pac"});
        ASSERT_EQ(alone.exitCode, 0) << alone.err;
        ChildResult pooled = run({"-j", std::to_string(GetParam()), "-y", folder, output});
        ASSERT_EQ(pooled.exitCode, 0) << pooled.err;
        EXPECT_EQ(pooled.out, alone.out) << "the same labels in the same order";
        EXPECT_TRUE(readFile(output) == readFile(work + "alone.pac")) << folder;
    }
    EXPECT_TRUE(noMarkedProcessLeft());
}

// An entry that cannot be read part-way through an archive: the entries
// before it are written and labelled, then the run fails with the same
// messages, whatever the number of encoders.
TEST_P(VudconvEncodersTest, ADamagedEntryFailsAsWithOneEncoder) {
    options.libraryFolder.clear();
    writeArchives(2, 9, 4000);
    const std::string damaged = source + "z002.vud";
    std::filesystem::resize_file(damaged, std::filesystem::file_size(damaged) * 6 / 10);
    ChildResult alone = run({"-q", "-j", "1", source, output});
    ChildResult pooled = run({"-q", "-j", std::to_string(GetParam()), source, output});
    EXPECT_EQ(alone.exitCode, 1) << alone.err;
    EXPECT_EQ(pooled.exitCode, alone.exitCode);
    EXPECT_EQ(pooled.out, alone.out);
    EXPECT_EQ(pooled.err, alone.err);
    EXPECT_NE(alone.out.find("z002.vud (  1/  9)"), std::string::npos) << alone.out;
    EXPECT_FALSE(pathExists(output));
    EXPECT_TRUE(noMarkedProcessLeft());
}

// Breaks the size rule at entry index of the archive at path: its first
// block claims far more bytes than its room up to the next entry.
bool breakSizeRule(const std::string& path, int32_t index) {
    std::string bytes = readFile(path);
    const size_t field = 32 + 8 * static_cast<size_t>(index) + 4;
    if (bytes.size() < field + 4) return false;
    size_t offset = 0;
    for (size_t k = 0; k < 4; ++k) {
        offset |= size_t{static_cast<uint8_t>(bytes[field + k])} << (8 * k);
    }
    if (bytes.size() < offset + 2) return false;
    bytes[offset] = 0x00;
    bytes[offset + 1] = 0x70;
    return writeFile(path, bytes);
}

// Every outcome a run can have, with one encoder and with several: the same
// bytes on standard output and standard error together, the same exit
// status, the same archive.
struct RunOutcomeCase {
    const char* name;
    bool fake;              // the recording fake instead of the stand-in
    const char* fault;      // FAKE_ENCODER_CHILD_FAULT
    int32_t brokenArchive;  // 1-based; 0: none
    int32_t brokenEntry;    // 0-based entry breaking the size rule
    rlim_t fileSizeLimit;
    int32_t exitCode;
};

TEST_P(VudconvEncodersTest, EveryOutcomeSaysWhatOneEncoderSays) {
    const RunOutcomeCase cases[] = {
        {"completed", false, "", 0, 0, RLIM_INFINITY, 0},
        {"an entry that cannot be read", false, "", 2, 4, RLIM_INFINITY, 1},
        // Every entry refused: the unreadable entry is never reached.
        {"a refused entry", true, "refuse:1", 1, 3, RLIM_INFINITY, 1},
        {"a failed write", false, "", 0, 0, 6000, 1},
    };
    options.combined = true;
    for (const RunOutcomeCase& outcome : cases) {
        std::filesystem::remove_all(source);
        ASSERT_TRUE(makeFolder(source));
        writeArchives(3, 6, 4000);
        if (outcome.brokenArchive > 0) {
            char name[16];
            std::snprintf(name, sizeof(name), "z%03d.vud", outcome.brokenArchive);
            ASSERT_TRUE(breakSizeRule(source + name, outcome.brokenEntry));
        }
        options.libraryFolder = outcome.fake ? library : "";
        options.helperFault = outcome.fault;
        options.fileSizeLimit = outcome.fileSizeLimit;
        // One output path for both, so that the messages naming it agree.
        std::filesystem::remove(work + "alone.pac");
        std::filesystem::remove(output);
        // Quiet: the progress lines come from the user-interface thread, on
        // their own time, with one encoder too.
        ChildResult alone = run({"-q", "-j", "1", source, output});
        if (pathExists(output)) std::filesystem::rename(output, work + "alone.pac");
        ChildResult pooled = run({"-q", "-j", std::to_string(GetParam()), source, output});
        EXPECT_EQ(alone.exitCode, outcome.exitCode) << outcome.name << "\n" << alone.out;
        EXPECT_EQ(pooled.exitCode, alone.exitCode) << outcome.name;
        EXPECT_EQ(pooled.out, alone.out) << outcome.name;
        EXPECT_TRUE(readFile(output) == readFile(work + "alone.pac")) << outcome.name;
        EXPECT_TRUE(noMarkedProcessLeft()) << outcome.name;
    }
}

// Every name, size and time of modification under folder, to see that
// nothing was written.
std::string folderSnapshot(const std::string& folder) {
    std::string snapshot;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        struct stat status {};
        lstat(item.path().c_str(), &status);
        snapshot += item.path().string() + " " + std::to_string(status.st_size) + " " +
                    std::to_string(status.st_mtim.tv_sec) + "." +
                    std::to_string(status.st_mtim.tv_nsec) + "\n";
    }
    return snapshot;
}

// --check against a real run on every kind of bad folder: the same exit
// status, the run stopping at the archive the check names first, in the
// run's words where it has them; the check from a folder without the
// encoder library, writing nothing.
TEST_F(VudconvTest, CheckSaysWhatARunWouldDoAndWritesNothing) {
    struct BadFolder {
        const char* name;
        void (*spoil)(const std::string& source);
        int32_t exitCode;
        const char* reason;  // on the check's line for the first archive it names
    };
    const BadFolder cases[] = {
        {"good", [](const std::string&) {}, 0, ""},
        {"size rule", [](const std::string& s) { breakSizeRule(s + "z002.vud", 4); }, 1,
         "z002.vud: invalid vud size (id:204)"},
        {"cut short",
         [](const std::string& s) {
             std::filesystem::resize_file(s + "z002.vud",
                                          std::filesystem::file_size(s + "z002.vud") * 6 / 10);
         },
         1, "z002.vud: entry "},
        {"not an archive name",
         [](const std::string& s) { writeFile(s + "readme.vud", "not an archive"); }, 1,
         "readme.vud: not named as a voice archive"},
        {"no magic", [](const std::string& s) { writeFile(s + "z009.vud", std::string(40, 'x')); },
         1, "z009.vud: not a voice archive"},
        {"no entries",
         [](const std::string& s) {
             std::string bytes = readFile(s + "z003.vud").substr(0, 32);
             bytes.replace(16, 4, std::string(4, '\0'));
             writeFile(s + "z003.vud", bytes);
         },
         1, "z003.vud: no entries"},
        {"a table the file cannot hold",
         [](const std::string& s) {
             std::string bytes = readFile(s + "z001.vud");
             bytes.replace(16, 4, std::string("\x40\x42\x0f\x00", 4));
             writeFile(s + "z001.vud", bytes);
         },
         1, "z001.vud: 1000000 entries: a table the file is too short to hold"},
        {"a pipe under an archive's name",
         [](const std::string& s) {
             unlink((s + "z003.vud").c_str());
             mkfifo((s + "z003.vud").c_str(), 0644);
         },
         1, "z003.vud: not a file that can be read"},
        {"no archive a run counts",
         [](const std::string& s) {
             for (const char* name : {"z001.vud", "z002.vud", "z003.vud"}) {
                 writeFile(s + name, "VUDPAC");
             }
         },
         3, ""},
        {"no folder", [](const std::string& s) { std::filesystem::remove_all(s); }, 2, ""},
    };
    const std::string program = scratch.path + "bin/vudconv";
    ASSERT_TRUE(makeFolder(scratch.path + "bin"));
    std::error_code error;
    std::filesystem::copy_file(VUDCONV_PATH, program, error);
    ASSERT_FALSE(error) << error.message();
    for (const BadFolder& bad : cases) {
        std::filesystem::remove_all(source);
        ASSERT_TRUE(makeFolder(source));
        writeArchives(3, 6, 4000);
        bad.spoil(source);
        options.libraryFolder.clear();
        const std::string before = folderSnapshot(scratch.path);
        ChildResult check = runChild(program, {"--check", source}, options);
        EXPECT_EQ(folderSnapshot(scratch.path), before) << bad.name;
        EXPECT_NE(check.out.find(bad.reason), std::string::npos) << bad.name << "\n" << check.out;

        options.libraryFolder = library;
        ChildResult run = this->run({"-q", "-y", source, output});
        EXPECT_EQ(check.exitCode, bad.exitCode) << bad.name << "\n" << check.out << check.err;
        EXPECT_EQ(run.exitCode, check.exitCode) << bad.name << "\n" << run.err;
        if (check.exitCode == 0) {
            EXPECT_NE(check.out.find("3 archives, 18 entries, 0:00:"), std::string::npos)
                << check.out;
        }
        if (check.exitCode != 1) continue;
        const std::string line = check.out.substr(0, check.out.find('\n'));
        const std::string first = line.substr(0, line.find(':'));
        EXPECT_NE(check.out.find("it would stop at " + first + "\n"), std::string::npos)
            << check.out;
        EXPECT_NE(run.err.find("ファイル " + first + " の変換中に"), std::string::npos)
            << bad.name << "\n"
            << run.err;
        if (std::strstr(bad.reason, "invalid vud size") != nullptr) {
            EXPECT_NE(run.err.find(line.substr(first.size() + 2) + "\n"), std::string::npos);
        }
    }
}

// A stop of the whole program (Ctrl-Z, then fg) longer than a helper may
// take to answer is no time of the helpers': the run goes on as if never
// stopped.
TEST_P(VudconvEncodersTest, AStopAndContinueLongerThanTheAnswerLimitFailsNothing) {
    options.libraryFolder.clear();
    writeArchives(4, 6, 9000);
    ChildResult alone = run({"-q", "-j", "1", source, work + "alone.pac"});
    ASSERT_EQ(alone.exitCode, 0) << alone.err;
    options.environment = {"VUD_TEST_HELPER_LIMIT_MS=1500"};
    options.stopAfterLabels = 2;
    options.stopMilliseconds = 3000;
    ChildResult pooled = run({"-q", "-j", std::to_string(GetParam()), source, output});
    EXPECT_EQ(pooled.exitCode, 0) << pooled.err;
    EXPECT_EQ(pooled.err, alone.err);
    EXPECT_TRUE(readFile(output) == readFile(work + "alone.pac"));
}

// Helpers that cannot serve: one that never answers (a stand-in program
// that only sleeps), and real ones without a writable temporary folder
// (a mount namespace; root only). The run encodes in the program itself.
TEST_F(VudconvTest, HelpersThatCannotServeLeaveTheRunToTheProgram) {
    writeArchives(2, 5, 4000);
    options.libraryFolder.clear();
    const std::string fallback =
        "VUD Data Converter: the encoder helpers (vud-encoder-helper) could not be started; "
        "encoding in this process\n";
    ChildResult alone = run({"-q", "-j", "1", source, work + "alone.pac"});
    ASSERT_EQ(alone.exitCode, 0) << alone.err;

    const std::string folder = scratch.path + "bin/";
    ASSERT_TRUE(makeFolder(folder));
    std::error_code error;
    for (const char* file : {VUDCONV_PATH, STAND_IN_ENCODER_PATH}) {
        std::filesystem::copy_file(file, folder + std::filesystem::path(file).filename().string(),
                                   error);
        ASSERT_FALSE(error) << error.message();
    }
    ASSERT_TRUE(writeFile(folder + "vud-encoder-helper", "#!/bin/sh\nexec sleep 600\n"));
    ASSERT_EQ(chmod((folder + "vud-encoder-helper").c_str(), 0755), 0);
    options.environment = {"VUD_TEST_HELPER_START_MS=1000"};
    ChildResult silent = runChild(folder + "vudconv", {"-q", "-j", "2", source, output}, options);
    EXPECT_EQ(silent.exitCode, 0) << silent.err;
    EXPECT_EQ(silent.err, fallback);
    EXPECT_TRUE(readFile(output) == readFile(work + "alone.pac"));
    EXPECT_TRUE(noMarkedProcessLeft()) << "the silent helpers are ended";

    if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0) {
        GTEST_SKIP() << "a read-only temporary folder needs root and unshare";
    }
    // /tmp read-only, the test's own folder (which may lie below it) not.
    const std::string own = scratch.path;
    options.environment.clear();
    options.launcher = {"/usr/bin/unshare",
                        "--mount",
                        "/bin/sh",
                        "-c",
                        "mount --bind /tmp /tmp && mount -o remount,bind,ro /tmp && "
                        "mount --bind \"$0\" \"$0\" && mount -o remount,bind,rw \"$0\" && "
                        "exec \"$@\"",
                        own};
    ChildResult readOnly = run({"-q", "-j", "2", "-y", source, output});
    EXPECT_EQ(readOnly.exitCode, 0) << readOnly.err;
    EXPECT_EQ(readOnly.err, fallback);
    EXPECT_TRUE(readFile(output) == readFile(work + "alone.pac"));
}

// Where a copy of the program finds the encoder library and the helper: in
// the folders the build installs them in (relative to the program), ahead of
// what lies beside it (a decoy library, a helper that never answers), or
// beside it alone as in the build tree. No search path.
TEST_F(VudconvTest, FindsTheLibraryAndTheHelperWhereTheyAreInstalled) {
    writeArchives(2, 3);
    options.libraryFolder.clear();
    options.environment = {"VUD_TEST_HELPER_START_MS=1000"};
    struct Layout {
        const char* libraryFolder;  // relative to the program's folder
        const char* helperFolder;
        bool decoysBeside;
    };
    const Layout layouts[] = {
        {LibraryFolderFromPrograms, HelperFolderFromPrograms, false},
        {LibraryFolderFromPrograms, HelperFolderFromPrograms, true},
        {"", "", false},
    };
    namespace fs = std::filesystem;
    for (size_t i = 0; i < std::size(layouts); ++i) {
        const Layout& layout = layouts[i];
        SCOPED_TRACE(i);
        const fs::path bin = fs::path(scratch.path) / ("layout-" + std::to_string(i)) / "bin";
        const fs::path library = bin / layout.libraryFolder / "GOGO.DLL";
        const fs::path helper = bin / layout.helperFolder / "vud-encoder-helper";
        std::error_code error;
        for (const fs::path& folder : {bin, library.parent_path(), helper.parent_path()}) {
            fs::create_directories(folder, error);
            ASSERT_FALSE(error) << error.message();
        }
        auto copies = std::vector<std::pair<fs::path, fs::path>>{
            {VUDCONV_PATH, bin / "vudconv"},
            {STAND_IN_ENCODER_PATH, library},
            {ENCODER_HELPER_PATH, helper}};
        if (layout.decoysBeside) copies.push_back({FAKE_ENCODER_LIBRARY_PATH, bin / "GOGO.DLL"});
        for (const auto& [from, to] : copies) {
            fs::copy_file(from, to, error);
            ASSERT_FALSE(error) << error.message();
        }
        if (layout.decoysBeside) {
            ASSERT_TRUE(writeFile((bin / "vud-encoder-helper").string(),
                                  "#!/bin/sh\nexec sleep 600\n"));
            ASSERT_EQ(chmod((bin / "vud-encoder-helper").c_str(), 0755), 0);
        }
        ChildResult version = runChild((bin / "vudconv").string(), {"--version"}, options);
        EXPECT_EQ(version.exitCode, 0) << version.err;
        EXPECT_NE(version.out.find("GOGO.DLL VUD stand-in encoder"), std::string::npos)
            << version.out;
        const std::string archive = work + "layout-" + std::to_string(i) + ".pac";
        ChildResult run = runChild((bin / "vudconv").string(), {"-q", "-j", "2", source, archive},
                                   options);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "") << "the helpers served";
    }
    EXPECT_TRUE(noMarkedProcessLeft());
}

// Each helper aborts at its own third entry: the first helper to get there
// fails its entry, the run stops as for any failed entry. (With one encoder
// the program itself would abort: no helper stands between.)
TEST_F(VudconvTest, AHelperThatCrashesFailsTheRunCleanly) {
    writeArchives(2, 9);
    options.helperFault = "abort:3";
    for (const char* jobs : {"2", "4"}) {
        ChildResult result = run({"-j", jobs, source, output});
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.err.find("cant encode/write mp3 (id:"), std::string::npos) << result.err;
        EXPECT_FALSE(pathExists(output));
        EXPECT_TRUE(temporaryOutputs(work).empty());
        EXPECT_TRUE(noMarkedProcessLeft()) << "-j " << jobs;
    }
}

// A program ended from outside leaves no helper: a waiting one sees its
// pipe end, one stuck in the library (deaf to the stop keys) is ended with
// its parent.
TEST_P(VudconvEncodersTest, AKilledProgramLeavesNoHelper) {
    writeArchives(4, 8);
    for (const char* fault : {"delay:50", "hang:2"}) {
        options.helperFault = fault;
        options.interruptAfterLabels = 1;
        options.interruptSignal = SIGKILL;
        ChildResult result = run({"-j", std::to_string(GetParam()), source, output});
        EXPECT_EQ(result.exitCode, 128 + SIGKILL) << fault;
        EXPECT_TRUE(noMarkedProcessLeft()) << fault;
        EXPECT_FALSE(pathExists(output)) << fault;
    }
}

INSTANTIATE_TEST_SUITE_P(Encoders, VudconvEncodersTest, testing::Values(1, 2, 4, 8),
                         [](const testing::TestParamInfo<int32_t>& info) {
                             return std::to_string(info.param);
                         });

TEST(CommandLineTest, ParsesOptionsAndOperands) {
    char program[] = "vudconv", b[] = "-b", rate[] = "128", yq[] = "-yq", folder[] = "voice",
         out[] = "out.pac", dashes[] = "--", dashName[] = "-odd";
    char error[128];
    CommandLine line{};

    char* plain[] = {program, folder};
    ASSERT_TRUE(parseCommandLine(2, plain, &line, error, sizeof(error))) << error;
    EXPECT_EQ(line.bitRateRow, InitialBitRateSelection);
    EXPECT_EQ(line.encoderJobs, 0) << "not given: the front end's default";
    EXPECT_STREQ(line.sourceFolder, "voice");
    EXPECT_EQ(line.outputPath, nullptr);
    EXPECT_FALSE(line.overwrite);
    EXPECT_FALSE(line.quiet);

    char* full[] = {program, b, rate, yq, folder, out};
    ASSERT_TRUE(parseCommandLine(6, full, &line, error, sizeof(error))) << error;
    EXPECT_EQ(line.bitRateRow, 11);
    EXPECT_TRUE(line.overwrite);
    EXPECT_TRUE(line.quiet);
    EXPECT_STREQ(line.outputPath, "out.pac");

    char attached[] = "-b8", jobs[] = "-j64";
    char* joined[] = {program, attached, jobs, dashes, dashName};
    ASSERT_TRUE(parseCommandLine(5, joined, &line, error, sizeof(error))) << error;
    EXPECT_EQ(line.bitRateRow, 0);
    EXPECT_EQ(line.encoderJobs, 64);
    EXPECT_STREQ(line.sourceFolder, "-odd");

    char yj[] = "-yj", one[] = "1";
    char* shared[] = {program, yj, one, folder};
    ASSERT_TRUE(parseCommandLine(4, shared, &line, error, sizeof(error))) << error;
    EXPECT_EQ(line.encoderJobs, 1);
    EXPECT_TRUE(line.overwrite);
    EXPECT_FALSE(line.check);

    char check[] = "--check";
    char* checked[] = {program, check, folder};
    ASSERT_TRUE(parseCommandLine(3, checked, &line, error, sizeof(error))) << error;
    EXPECT_TRUE(line.check);
    EXPECT_STREQ(line.sourceFolder, "voice");

    for (int32_t row = 0; row < BitRateRowCount; ++row) {
        std::string value = std::to_string(BitRateTable[row].kbps);
        char* each[] = {program, b, value.data(), folder};
        ASSERT_TRUE(parseCommandLine(4, each, &line, error, sizeof(error))) << value;
        EXPECT_EQ(line.bitRateRow, row);
    }
}

TEST(CommandLineTest, RefusesWhatItCannotUse) {
    char program[] = "vudconv", b[] = "-b", folder[] = "voice";
    char error[128];
    CommandLine line{};
    for (const char* value : {"0", "33", "1600", "", "32k", "-32", "0128"}) {
        std::string copy = value;
        char* argv[] = {program, b, copy.data(), folder};
        EXPECT_FALSE(parseCommandLine(4, argv, &line, error, sizeof(error))) << value;
        EXPECT_NE(std::string(error).find("bit rate"), std::string::npos) << error;
    }
    char j[] = "-j";
    for (const char* value : {"0", "65", "", "4x", "-1", "+2", "999999999999"}) {
        std::string copy = value;
        char* argv[] = {program, j, copy.data(), folder};
        EXPECT_FALSE(parseCommandLine(4, argv, &line, error, sizeof(error))) << value;
        EXPECT_NE(std::string(error).find("from 1 to 64"), std::string::npos) << error;
    }
    char* none[] = {program};
    EXPECT_FALSE(parseCommandLine(1, none, &line, error, sizeof(error)));
    char* dangling[] = {program, folder, b};
    EXPECT_FALSE(parseCommandLine(3, dangling, &line, error, sizeof(error)));
    char check[] = "--check", out[] = "out.pac";
    char* checkWithOutput[] = {program, check, folder, out};
    EXPECT_FALSE(parseCommandLine(4, checkWithOutput, &line, error, sizeof(error)));
    EXPECT_STREQ(error, "--check takes no OUTPUT ('out.pac')");
    char* danglingJobs[] = {program, folder, j};
    EXPECT_FALSE(parseCommandLine(3, danglingJobs, &line, error, sizeof(error)));
    EXPECT_STREQ(error, "-j needs a number of encoders");
}

// The text users read, byte for byte.
TEST(CommandLineTest, UsageTextReadsAsDocumented) {
    EXPECT_STREQ(cliUsageText(),
                 "usage: vudconv [-b KBPS] [-j N] [-y] [-q] SOURCE_FOLDER [OUTPUT]\n"
                 "       vudconv --check SOURCE_FOLDER\n"
                 "\n"
                 "Converts the voice archives z###.vud of SOURCE_FOLDER into one MP3 archive\n"
                 "OUTPUT (default: vud.pac in the program's folder when you may write there,\n"
                 "otherwise in the current folder).\n"
                 "\n"
                 "  -b KBPS    MP3 bit rate, one of 8 16 24 32 40 48 56 64 80 96 112 128 144 160\n"
                 "             (default 32)\n"
                 "  -j N       encode in N helper processes, 1 to 64 (default: the processors\n"
                 "             available, or the environment variable VUD_JOBS when it holds\n"
                 "             such a number); -j 1 encodes in the program itself\n"
                 "  -y         overwrite an existing OUTPUT without asking\n"
                 "  -q         no progress line\n"
                 "  --check    read every archive of SOURCE_FOLDER as a run would, without the\n"
                 "             encoder library and without writing anything; name each archive\n"
                 "             a run would stop at, and why, then the totals\n"
                 "  --help     show this text\n"
                 "  --version  show the program's and the encoder library's versions\n"
                 "\n"
                 "Standard output carries one progress label per converted entry; messages go\n"
                 "to standard error. Ctrl-C (or a hang-up, terminate or quit signal) finishes\n"
                 "the archive in progress, then deletes the incomplete output; a second Ctrl-C\n"
                 "meanwhile stops at once and deletes the incomplete output.\n"
                 "\n"
                 "On a terminal the progress line also shows the time taken, the time left and\n"
                 "the speed as a multiple of real time.\n"
                 "\n"
                 "Exit status: 0 converted, output kept; 1 the run failed or the output could\n"
                 "not be created or written (no output left); 2 usage error or start refused\n"
                 "(SOURCE_FOLDER not a folder, overwrite declined, ...); 3 no source archives\n"
                 "found; 4 the encoder library GOGO.DLL could not be loaded; 130 cancelled by\n"
                 "Ctrl-C (128 + the signal's number: 129 hang-up, 131 quit, 143 terminate).\n"
                 "With --check: 0 a run would convert every archive; 1 some archive would stop\n"
                 "it; 2 and 3 as for a run.\n");
}

// Every -b value the parser takes, and no other, is the one the texts list:
// both lists, and the default, come from BitRateTable.
TEST(CommandLineTest, TheBitRateTextsListTheTable) {
    std::string rates;
    for (int32_t row = 0; row < BitRateRowCount; ++row) {
        rates += (row > 0 ? " " : "") + std::to_string(BitRateTable[row].kbps);
    }
    const std::string usage = cliUsageText();
    EXPECT_NE(usage.find("  -b KBPS    MP3 bit rate, one of " + rates + "\n"), std::string::npos);
    const std::string initial = std::to_string(BitRateTable[InitialBitRateSelection].kbps);
    EXPECT_NE(usage.find("\n             (default " + initial + ")\n"), std::string::npos);
    EXPECT_NE(usage.find(", 1 to " + std::to_string(MaxEncoderJobs) + " (default:"),
              std::string::npos);

    char program[] = "vudconv", b[] = "-b", rate[] = "33", folder[] = "voice";
    char* argv[] = {program, b, rate, folder};
    char error[128];
    CommandLine line{};
    EXPECT_FALSE(parseCommandLine(4, argv, &line, error, sizeof(error)));
    EXPECT_EQ(std::string(error), "bit rate '33' is not one of " + rates);
    EXPECT_STREQ(error, "bit rate '33' is not one of 8 16 24 32 40 48 56 64 80 96 112 128 144 160");
}

// The name the usage text promises is the one both programs give the output.
TEST(CommandLineTest, UsageTextNamesTheDefaultOutput) {
    const std::string usage = cliUsageText();
    EXPECT_NE(usage.find(std::string("(default: ") + DefaultOutputName + " in the program's"),
              std::string::npos);
    EXPECT_STREQ(DefaultOutputName, "vud.pac");
}

}  // namespace
