// Threads and the program's own path.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/process.h"
#include "platform/thread.h"

namespace {

int32_t returnArgument(void* argument) {
    auto* value = static_cast<std::atomic<int32_t>*>(argument);
    sleepMilliseconds(5);
    return value->fetch_add(1) + 100;
}

TEST(Thread, JoinReturnsTheProcedureResult) {
    std::atomic<int32_t> counter{0};
    ThreadHandle threads[4];
    for (ThreadHandle& thread : threads) {
        thread = threadStart(returnArgument, &counter);
        ASSERT_NE(thread, nullptr);
    }
    int32_t sum = 0;
    for (ThreadHandle thread : threads) sum += threadJoin(thread);
    EXPECT_EQ(counter.load(), 4);
    EXPECT_EQ(sum, 100 * 4 + 0 + 1 + 2 + 3);
    EXPECT_EQ(threadJoin(nullptr), -1);
    EXPECT_EQ(threadStart(nullptr, nullptr), nullptr);
}

TEST(Process, ProgramPathIsTheRunningFile) {
    char path[4096];
    ASSERT_TRUE(currentProgramPath(path, sizeof path));
    const std::string text = path;
    EXPECT_EQ(text.front(), '/');
    EXPECT_NE(text.find("shell_platform_test"), std::string::npos) << text;
    // No room for the terminator: refused, never cut.
    const int32_t length = static_cast<int32_t>(text.size());
    std::string exact(static_cast<size_t>(length), 'x');
    EXPECT_FALSE(currentProgramPath(exact.data(), length));
    EXPECT_EQ(exact[0], '\0');
    char fits[4096];
    EXPECT_TRUE(currentProgramPath(fits, length + 1));
    EXPECT_STREQ(fits, path);
}

}  // namespace
