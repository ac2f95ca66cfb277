// vudconv's stop signals and refused starts, with the program run as a child
// over the recording fake (a copy named GOGO.DLL found through
// LD_LIBRARY_PATH). The fake's child gate holds the worker inside an
// archive, so every signal here arrives while an output is being written,
// whatever the machine's speed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/worker/worker_support.h"

namespace {

// Only a child that hangs meets it; it is then killed and the test fails.
constexpr auto HangGuard = std::chrono::seconds(120);
// The gate holds the first archive at its second entry.
constexpr int32_t GateEntry = 2;

// vudconv running as a child, its output streams read as they come.
class Child {
public:
    Child(const std::vector<std::string>& arguments, const std::string& workingFolder,
          const std::string& libraryFolder, bool gated) {
        int out[2], err[2], notify[2], release[2];
        if (pipe(out) != 0 || pipe(err) != 0 || pipe(notify) != 0 || pipe(release) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            const int input = open("/dev/null", O_RDONLY);
            dup2(input, STDIN_FILENO);
            close(out[0]);
            close(err[0]);
            close(notify[0]);
            close(release[1]);
            if (chdir(workingFolder.c_str()) != 0) _exit(126);
            setenv("LD_LIBRARY_PATH", libraryFolder.c_str(), 1);
            // No registry folder holds an encoder.
            setenv("VUD_REGISTRY_CURRENT_USER", workingFolder.c_str(), 1);
            setenv("VUD_REGISTRY_LOCAL_MACHINE", workingFolder.c_str(), 1);
            // The gate's descriptors reach the program's own encoder only.
            setenv("VUD_JOBS", "1", 1);
            if (gated) {
                const std::string gate = std::to_string(GateEntry) + ":" +
                                         std::to_string(notify[1]) + ":" +
                                         std::to_string(release[0]);
                setenv("FAKE_ENCODER_CHILD_GATE", gate.c_str(), 1);
            }
            std::vector<char*> argv{const_cast<char*>(VUDCONV_PATH)};
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            execv(VUDCONV_PATH, argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        close(notify[1]);
        close(release[0]);
        fds_[0] = out[0];
        fds_[1] = err[0];
        fds_[2] = notify[0];
        releaseFd_ = release[1];
    }

    ~Child() {
        for (int fd : fds_) {
            if (fd >= 0) close(fd);
        }
        if (releaseFd_ >= 0) close(releaseFd_);
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    bool started() const { return pid_ > 0; }
    bool blockedAtGate() const { return blocked_; }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

    void send(int signalNumber) { kill(pid_, signalNumber); }

    // Reads what comes until done() holds or the streams end; false when the
    // hang guard ran out first.
    bool readUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + HangGuard;
        while (!done()) {
            pollfd polled[3];
            int32_t count = 0;
            for (int fd : fds_) {
                if (fd >= 0) polled[count++] = {fd, POLLIN, 0};
            }
            if (count == 0) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            const int ready =
                poll(polled, static_cast<nfds_t>(count), static_cast<int>(left.count()));
            if (ready < 0 && errno != EINTR) return false;
            for (int32_t k = 0; k < count; ++k) {
                if (polled[k].revents != 0) take(polled[k].fd);
            }
        }
        return true;
    }

    // Lets the worker past the gate.
    void release() {
        close(releaseFd_);
        releaseFd_ = -1;
    }

    // Reads to the end and reaps the child: its exit code, or -1 when it was
    // killed by a signal (or hung and was killed by the guard).
    int32_t finish() {
        if (!readUntil([] { return false; })) {
            ADD_FAILURE() << "vudconv did not end; stopped by the test\n" << err_;
            kill(pid_, SIGKILL);
        }
        waitpid(pid_, &status_, 0);
        if (WIFSIGNALED(status_)) {
            ADD_FAILURE() << "vudconv was killed by signal " << WTERMSIG(status_) << "\n" << err_;
            return -1;
        }
        return WEXITSTATUS(status_);
    }

private:
    void take(int fd) {
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        int* slot = fd == fds_[0] ? &fds_[0] : fd == fds_[1] ? &fds_[1] : &fds_[2];
        if (n <= 0) {
            close(fd);
            *slot = -1;
            return;
        }
        if (slot == &fds_[0]) out_.append(chunk, static_cast<size_t>(n));
        if (slot == &fds_[1]) err_.append(chunk, static_cast<size_t>(n));
        if (slot == &fds_[2]) blocked_ = true;
    }

    pid_t pid_ = -1;
    int status_ = -1;
    int fds_[3] = {-1, -1, -1};  // standard output, standard error, the gate's notice
    int releaseFd_ = -1;
    bool blocked_ = false;
    std::string out_;
    std::string err_;
};

class VudconvSignalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.path.empty());
        source = scratch.path + "voice/";
        work = scratch.path + "work/";
        library = scratch.path + "lib/";
        for (const std::string& folder : {source, work, library}) {
            ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        }
        std::error_code error;
        std::filesystem::copy_file(FAKE_ENCODER_LIBRARY_PATH, library + "GOGO.DLL", error);
        ASSERT_FALSE(error) << error.message();
        for (int32_t i = 1; i <= 3; ++i) {
            const std::string name = "z00" + std::to_string(i) + ".vud";
            ASSERT_TRUE(
                writeSourceArchiveFile(source + name, 4, 2048, static_cast<uint16_t>(i * 100)));
        }
        output = work + "out.pac";
    }

    int32_t run(const std::vector<std::string>& arguments, std::string* err = nullptr,
                std::string* out = nullptr) {
        Child child(arguments, work, library, false);
        if (!child.started()) return -2;
        const int32_t code = child.finish();
        if (err != nullptr) *err = child.err();
        if (out != nullptr) *out = child.out();
        return code;
    }

    // A good output from an earlier run, and its bytes.
    void writeGoodOutput() {
        ASSERT_EQ(run({"-q", source, output}), 0);
        goodOutput = readFile(output);
        ASSERT_FALSE(goodOutput.empty());
    }

    // Temporary outputs left beside the output.
    int32_t temporaryFiles() const {
        int32_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(work)) {
            count += entry.path().filename().string().find(".incomplete-") != std::string::npos;
        }
        return count;
    }

    // A run over the good output, held at the gate with its temporary output
    // written; then the signal.
    void startGatedRunAndSignal(Child& child, int signalNumber) {
        ASSERT_TRUE(child.started());
        ASSERT_TRUE(child.readUntil([&] { return child.blockedAtGate(); })) << child.err();
        ASSERT_TRUE(child.blockedAtGate()) << child.err();
        ASSERT_EQ(temporaryFiles(), 1) << "the run writes its output";
        child.send(signalNumber);
        // The cancel is pressed (or the child is gone).
        ASSERT_TRUE(child.readUntil(
            [&] { return child.err().find("vudconv: interrupted:") != std::string::npos; }));
    }

    void expectOutputUntouched() {
        EXPECT_EQ(readFile(output), goodOutput) << "the earlier output is byte-identical";
        EXPECT_EQ(temporaryFiles(), 0) << "no temporary output is left";
    }

    TempFolder scratch;
    std::string source, work, library, output, goodOutput;
};

class FirstStopSignal : public VudconvSignalTest, public ::testing::WithParamInterface<int> {};

// Each stop signal finishes the archive in progress, removes the run's
// output and exits with 128 + the signal; the earlier output stays.
TEST_P(FirstStopSignal, FinishesTheArchiveThenLeavesTheEarlierOutputAndExits128PlusTheSignal) {
    writeGoodOutput();
    Child child({"-q", "-y", source, output}, work, library, true);
    startGatedRunAndSignal(child, GetParam());
    child.release();
    EXPECT_EQ(child.finish(), 128 + GetParam());
    EXPECT_NE(child.err().find("vudconv: cancelled"), std::string::npos) << child.err();
    expectOutputUntouched();
}

INSTANTIATE_TEST_SUITE_P(Signals, FirstStopSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

struct SignalPair {
    int first;
    int second;
};

class SecondStopSignal : public VudconvSignalTest,
                         public ::testing::WithParamInterface<SignalPair> {};

// The archive in progress never ends here (the gate stays shut): only the
// second signal can end the run, at once, with 128 + its number.
TEST_P(SecondStopSignal, EndsTheRunAtOnceAndRemovesOnlyTheTemporaryOutput) {
    writeGoodOutput();
    Child child({"-y", source, output}, work, library, true);
    startGatedRunAndSignal(child, GetParam().first);
    child.send(GetParam().second);
    EXPECT_EQ(child.finish(), 128 + GetParam().second);
    EXPECT_NE(child.err().find("vudconv: interrupted again"), std::string::npos) << child.err();
    expectOutputUntouched();
}

INSTANTIATE_TEST_SUITE_P(Signals, SecondStopSignal,
                         ::testing::Values(SignalPair{SIGINT, SIGINT}, SignalPair{SIGHUP, SIGTERM}),
                         [](const ::testing::TestParamInfo<SignalPair>& info) {
                             return std::string(sigabbrev_np(info.param.first)) + "Then" +
                                    sigabbrev_np(info.param.second);
                         });

TEST_F(VudconvSignalTest, TheUsageTellsOfTheSecondInterrupt) {
    std::string out;
    EXPECT_EQ(run({"--help"}, nullptr, &out), 0);
    EXPECT_NE(out.find("a second Ctrl-C\nmeanwhile stops at once"), std::string::npos) << out;
}

// Quiet or not, a start that is refused says why on standard error.
TEST_F(VudconvSignalTest, ADeclinedOverwriteSaysWhyEvenWhenQuiet) {
    ASSERT_TRUE(writeFile(output, "previous"));
    std::string err;
    EXPECT_EQ(run({"-q", source, output}, &err), 2);
    EXPECT_NE(err.find("は既に存在しています."), std::string::npos) << err;
    EXPECT_NE(err.find("[no]"), std::string::npos) << err;
    EXPECT_EQ(readFile(output), "previous");
}

// A SOURCE_FOLDER that is no folder is a usage error, not a folder without
// archives; nothing is touched.
TEST_F(VudconvSignalTest, ASourceFolderThatIsNoFolderExitsTwoWithItsOwnMessage) {
    ASSERT_TRUE(writeFile(output, "previous"));
    const std::string file = source + "z001.vud";
    const struct {
        std::string folder;
        std::string message;
    } cases[] = {
        {scratch.path + "missing",
         "vudconv: SOURCE_FOLDER " + scratch.path + "missing: no such folder"},
        {scratch.path + "missing/", "no such folder"},
        {file, "vudconv: SOURCE_FOLDER " + file + ": not a folder"},
        {file + "/", "not a folder"},
    };
    for (const auto& each : cases) {
        std::string err;
        EXPECT_EQ(run({"-q", "-y", each.folder, output}, &err), 2) << each.folder;
        EXPECT_NE(err.find(each.message), std::string::npos) << err;
        EXPECT_EQ(err.find("VUDファイルは見つかりませんでした."), std::string::npos) << err;
    }
    EXPECT_EQ(readFile(output), "previous");
    EXPECT_EQ(temporaryFiles(), 0);
}

}  // namespace
