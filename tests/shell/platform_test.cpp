// Threads, the program's own path and folders, the temporary output's name.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/temporary_name.h"
#include "platform/text_encoding.h"
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
    EXPECT_TRUE(std::filesystem::path(text).is_absolute()) << text;
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

// Where a default output may go: folders the user may create files in.
TEST(Process, FoldersAndWhetherTheUserMayWriteThere) {
    char current[4096];
    ASSERT_TRUE(currentFolderPath(current, sizeof current));
    EXPECT_EQ(current, std::filesystem::current_path().string());
    EXPECT_FALSE(currentFolderPath(current, 1));

    const std::string scratch = testing::TempDir() + "vud-platform-folder";
    std::filesystem::remove_all(scratch);
    ASSERT_TRUE(std::filesystem::create_directory(scratch));
    const std::string file = scratch + "/file";
    std::fclose(std::fopen(file.c_str(), "wb"));
    EXPECT_TRUE(isFolder(scratch.c_str()));
    EXPECT_TRUE(folderWritable((scratch + "/").c_str()));
    for (const std::string& path : {file, scratch + "/missing", std::string()}) {
        EXPECT_FALSE(isFolder(path.c_str())) << path;
        EXPECT_FALSE(folderWritable(path.c_str())) << path;
    }
#if !defined(_WIN32)
    // Closed to the user; the superuser may write anywhere.
    ASSERT_EQ(chmod(scratch.c_str(), 0555), 0);
    EXPECT_EQ(folderWritable(scratch.c_str()), geteuid() == 0);
    chmod(scratch.c_str(), 0755);
#endif
    std::filesystem::remove_all(scratch);
}

// The temporary output's name is the same on every system: the output's name,
// cut on a whole character after 200 bytes, and the marker.
TEST(TemporaryName, TheOutputsNameCutOnAWholeCharacter) {
    char path[PlatformPathCapacity];
    int32_t length = temporaryNamePrefix("out/vud.pac", 4, path);
    EXPECT_EQ(std::string(path, static_cast<size_t>(length)), "out/vud.pac.incomplete-");
    // A three-byte character from byte 199 to 201 is left out whole.
    const std::string a199(199, 'a');
    length = temporaryNamePrefix(("out/" + a199 + "\xE9\x9F\xB3.pac").c_str(), 4, path);
    EXPECT_EQ(std::string(path, static_cast<size_t>(length)), "out/" + a199 + ".incomplete-");
    // The random part and the terminator must fit after the marker.
    const std::string fits = std::string(4067, 'd') + "/vud.pac";
    EXPECT_EQ(temporaryNamePrefix(fits.c_str(), 4068, path), 4087);
    const std::string over = std::string(4068, 'd') + "/vud.pac";
    EXPECT_EQ(temporaryNamePrefix(over.c_str(), 4069, path), -1);
    EXPECT_EQ(temporaryNameCharacter(0), 'a');
    EXPECT_EQ(temporaryNameCharacter(35), '9');
    EXPECT_EQ(temporaryNameCharacter(36), 'a');
}

#if !defined(_WIN32)
// On Windows the system's text is in its ANSI code page
// (tests/windows/platform_win32_test.cpp).

// Text from outside code (the encoder library's version) is UTF-8 here: copied,
// and cut only between whole characters.
TEST(SystemText, CopiedAndCutOnWholeCharacters) {
    char text[8];
    EXPECT_EQ(systemTextToUtf8("3.13a", text, sizeof text), 5);
    EXPECT_STREQ(text, "3.13a");
    // "ab" and two three-byte characters: the second does not fit whole.
    EXPECT_EQ(systemTextToUtf8("ab\xE9\x9F\xB3\xE5\xA3\xB0", text, sizeof text), 5);
    EXPECT_STREQ(text, "ab\xE9\x9F\xB3");
    EXPECT_EQ(systemTextToUtf8("abcdefghij", text, sizeof text), 7);
    EXPECT_STREQ(text, "abcdefg");
    EXPECT_EQ(systemTextToUtf8(nullptr, text, sizeof text), -1);
    EXPECT_STREQ(text, "");
}
#endif

}  // namespace
