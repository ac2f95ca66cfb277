// Helper processes over two pipes, against pipe_child (its modes are listed
// there): large messages both ways, children that crash, exit, hang or print,
// what a child inherits, and the arguments it receives. Also the path of a
// loaded library, which a parent hands to its helpers.
#include "platform/child_process.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/thread.h"

namespace {

OwnedChildProcess startChild(const char* mode, std::vector<std::string> extra = {}) {
    std::vector<const char*> arguments = {PIPE_CHILD_PATH, mode};
    for (const std::string& argument : extra) arguments.push_back(argument.c_str());
    arguments.push_back(nullptr);
    return OwnedChildProcess(childProcessStart(PIPE_CHILD_PATH, arguments.data()));
}

bool send(ChildProcess* child, const std::string& message) {
    const uint32_t length = static_cast<uint32_t>(message.size());
    return childProcessWrite(child, &length, sizeof length) &&
           childProcessWrite(child, message.data(), message.size());
}

bool receive(ChildProcess* child, std::string* message) {
    uint32_t length = 0;
    if (!childProcessRead(child, &length, sizeof length)) return false;
    message->resize(length);
    return childProcessRead(child, message->data(), length);
}

// Several pipe buffers' worth, no two neighbouring blocks alike.
std::string largeMessage(size_t bytes, uint32_t salt) {
    std::string message(bytes, '\0');
    uint32_t state = salt;
    for (char& byte : message) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return message;
}

constexpr size_t LargeBytes = 6 << 20;

// The printing child checks that nothing printed to standard output after
// the pipes were taken (on POSIX also what waited in the buffer before)
// lands among the replies.
class EchoingChild : public ::testing::TestWithParam<const char*> {};

TEST_P(EchoingChild, SendsBackEveryRequestWhole) {
    OwnedChildProcess child = startChild(GetParam());
    ASSERT_NE(child, nullptr);
    const std::string requests[] = {"x", "", largeMessage(LargeBytes, 1), "after the large one",
                                    largeMessage(LargeBytes + 13, 2)};
    for (const std::string& request : requests) {
        ASSERT_TRUE(send(child.get(), request));
        std::string reply;
        ASSERT_TRUE(receive(child.get(), &reply));
        EXPECT_TRUE(reply == request)
            << "a reply of " << reply.size() << " bytes for a request of " << request.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, EchoingChild, ::testing::Values("echo", "print"));

// A child gone before or after reading fails the parent's calls; the write
// into the closed pipe does not end the parent (no SIGPIPE).
class VanishingChild : public ::testing::TestWithParam<const char*> {};

TEST_P(VanishingChild, FailsReadsAndWrites) {
    OwnedChildProcess child = startChild(GetParam());
    ASSERT_NE(child, nullptr);
    // The first may go into the pipe before the child is gone.
    send(child.get(), "the last request");
    EXPECT_FALSE(send(child.get(), largeMessage(LargeBytes, 3)));
    char byte = 0;
    EXPECT_FALSE(childProcessRead(child.get(), &byte, 1));
}

INSTANTIATE_TEST_SUITE_P(Modes, VanishingChild, ::testing::Values("exit", "crash"));

// The child hangs holding both pipes: a read waiting for its reply and a
// write into its full input, each in a thread of its own, both return false
// once another thread terminates it.
TEST(ChildProcess, TerminateEndsCallsBlockedInOtherThreads) {
    OwnedChildProcess child = startChild("hang");
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(send(child.get(), "hang now"));
    std::atomic<int> readResult{-1};
    std::atomic<int> writeResult{-1};
    std::thread reader([&] {
        char byte = 0;
        readResult = childProcessRead(child.get(), &byte, 1);
    });
    std::thread writer([&] { writeResult = send(child.get(), largeMessage(LargeBytes, 4)); });
    // Not needed for the outcome, only so that both calls are likely waiting.
    sleepMilliseconds(100);
    childProcessTerminate(child.get());
    childProcessTerminate(child.get());
    reader.join();
    writer.join();
    EXPECT_EQ(readResult.load(), 0);
    EXPECT_EQ(writeResult.load(), 0);
}

// Tabs, blanks, quotes and backslashes in every position the
// command line's quoting treats apart, and a Japanese word.
TEST(ChildProcess, ArgumentsArriveUnchanged) {
    const std::vector<std::string> arguments = {
        "plain",
        "two words",
        "",
        "tab\there",
        "quote\"inside",
        "\"",
        "trailing\\",
        "\\\\",
        "a\\\\\"b",
        "a\\b\\c",
        "\\\"\\",
        "end \\",
        "\xE9\x9F\xB3\xE5\xA3\xB0\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF"};
    OwnedChildProcess child = startChild("report", arguments);
    ASSERT_NE(child, nullptr);
    std::string pid, descriptors, received;
    ASSERT_TRUE(receive(child.get(), &pid));
    ASSERT_TRUE(receive(child.get(), &descriptors));
    ASSERT_TRUE(receive(child.get(), &received));
    std::string expected;
    for (const std::string& argument : arguments)
        expected.append(argument.c_str(), argument.size() + 1);
    EXPECT_EQ(received, expected);
}

// Child A's input closes while child B runs: A sees its input end and exits,
// which it would not if B held a copy of the pipe's writing end. Then B still
// answers.
TEST(ChildProcess, ClosedInputEndsOnlyItsChild) {
    OwnedChildProcess first = startChild("report");
    ASSERT_NE(first, nullptr);
    OwnedChildProcess second = startChild("echo");
    ASSERT_NE(second, nullptr);
    std::string pid, descriptors, arguments, inheritable;
    ASSERT_TRUE(receive(first.get(), &pid));
    ASSERT_TRUE(receive(first.get(), &descriptors));
    ASSERT_TRUE(receive(first.get(), &arguments));
    ASSERT_TRUE(receive(first.get(), &inheritable));

    childProcessCloseInput(first.get());
    childProcessCloseInput(first.get());
    char byte = 0;
    // Its output ends when it exits: the wait never lasts out the test's timeout.
    EXPECT_FALSE(childProcessRead(first.get(), &byte, 1));
    first.reset();
#if !defined(_WIN32)
    // Reaped by the release: the process is gone.
    const int signalled = kill(static_cast<pid_t>(std::stol(pid)), 0);
    const int error = errno;
    EXPECT_EQ(signalled, -1);
    EXPECT_EQ(error, ESRCH);
#endif
    std::string reply;
    ASSERT_TRUE(send(second.get(), "still here"));
    ASSERT_TRUE(receive(second.get(), &reply));
    EXPECT_EQ(reply, "still here");
}

TEST(ChildProcess, StartFailsWithoutAProgram) {
    const char* arguments[] = {"missing", nullptr};
#if defined(_WIN32)
    EXPECT_EQ(childProcessStart("C:\\vud-no-such-folder\\missing.exe", arguments), nullptr);
#else
    EXPECT_EQ(childProcessStart("/vud-no-such-folder/missing", arguments), nullptr);
#endif
    EXPECT_EQ(childProcessStart(PIPE_CHILD_PATH, nullptr), nullptr);
    childProcessRelease(nullptr, 0);
}

// Started from a shell with standard input not a pipe, the child refuses.
TEST(ChildProcess, ChildStartedByHandRefuses) {
#if defined(_WIN32)
    const std::string command = std::string("\"") + PIPE_CHILD_PATH + "\" echo <NUL >NUL";
    EXPECT_EQ(std::system(command.c_str()), 3);
#else
    const std::string command = std::string("'") + PIPE_CHILD_PATH + "' echo </dev/null >/dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
#endif
}

#if !defined(_WIN32)
// A descriptor the parent opened without close-on-exec stays with the
// parent, the request and reply pipes stay with the child (nothing it starts
// inherits them), and the terminal's keys and a hang-up do not end it.
TEST(ChildProcess, ChildInheritsOnlyItsPipesAndKeepsRunningThroughStopSignals) {
    const int leaked = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    OwnedChildProcess child = startChild("report");
    close(leaked);
    ASSERT_NE(child, nullptr);
    std::string pid, descriptors, arguments, inheritable;
    ASSERT_TRUE(receive(child.get(), &pid));
    ASSERT_TRUE(receive(child.get(), &descriptors));
    ASSERT_TRUE(receive(child.get(), &arguments));
    ASSERT_TRUE(receive(child.get(), &inheritable));
    EXPECT_EQ(descriptors, "");
    EXPECT_EQ(inheritable, "");

    for (int signalNumber : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        ASSERT_EQ(kill(static_cast<pid_t>(std::stol(pid)), signalNumber), 0);
    }
    std::string reply;
    ASSERT_TRUE(send(child.get(), "after the signals"));
    ASSERT_TRUE(receive(child.get(), &reply));
    EXPECT_EQ(reply, "after the signals");
}
#endif

TEST(LibraryFile, PathOfTheLoadedFile) {
    LibraryHandle library = libraryLoad(FAKE_ENCODER_LIBRARY_PATH);
    ASSERT_NE(library, nullptr);
    char path[4096];
    ASSERT_TRUE(libraryFilePath(library, path, sizeof path));
    EXPECT_TRUE(libraryPathIsAbsolute(path)) << path;
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::u8path(path),
                                            std::filesystem::u8path(FAKE_ENCODER_LIBRARY_PATH)))
        << path;
    // No room for the terminator: refused, never cut.
    const int32_t length = static_cast<int32_t>(std::char_traits<char>::length(path));
    std::string exact(static_cast<size_t>(length), 'x');
    EXPECT_FALSE(libraryFilePath(library, exact.data(), length));
    EXPECT_EQ(exact[0], '\0');
    EXPECT_FALSE(libraryFilePath(nullptr, path, sizeof path));
    libraryRelease(library);
}

}  // namespace
