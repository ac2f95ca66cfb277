// The folder scan: which names it yields, what it counts, and that its one
// enumeration never stays open or wraps its totals.
#include "worker/source_scan.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include "tests/support/open_handles.h"
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "platform/directory_search.h"
#include "tests/scan/scan_folder.h"

namespace {

bool foundNameCleared() {
    for (char c : sourceSearch.foundName) {
        if (c != '\0') return false;
    }
    return true;
}

#if defined(_WIN32)
// Windows has no list of a process's folders: a search holds one handle, so
// the count of the process's handles stands in for it.
int32_t openFolderDescriptors() {
    return openHandleCount();
}
#else
// Folders this process holds open, the listing's own descriptor not counted.
int32_t openFolderDescriptors() {
    DIR* listing = opendir("/proc/self/fd");
    if (listing == nullptr) return -1;
    int32_t count = 0;
    while (const dirent* entry = readdir(listing)) {
        if (entry->d_name[0] == '.') continue;
        const int fd = std::atoi(entry->d_name);
        struct stat status {};
        if (fd != dirfd(listing) && fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) ++count;
    }
    closedir(listing);
    return count;
}
#endif

class SourceScanTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.valid()); }
    void TearDown() override {
        // Leave no enumeration open for the next test.
        while (findNextSourceArchive() != nullptr) {
        }
    }
    ScanFolder folder;
};

TEST_F(SourceScanTest, CountsOnlyNamedArchivesWithEntries) {
    ASSERT_TRUE(folder.archive("z001.vud", 10, 10));
    ASSERT_TRUE(folder.archive("Z002.VUD", 5, 5));
    ASSERT_TRUE(folder.archive("z003.vud", 0));
    ASSERT_TRUE(folder.archive("z4.vud", 7, 7));
    ASSERT_TRUE(folder.file("readme.txt", "not an archive"));
    ASSERT_TRUE(folder.folder("z005.vud"));
    convertedEntryCount = 99;

    EXPECT_EQ(countSourceArchives(folder.prefix().c_str()), 2);
    EXPECT_EQ(totalEntryCount, 15);
    EXPECT_EQ(convertedEntryCount, 0);
    // The count runs its enumeration to the end.
    EXPECT_EQ(sourceSearch.searchHandle, nullptr);
    EXPECT_EQ(findNextSourceArchive(), nullptr);
}

#if !defined(_WIN32)
// Names that are no regular file: a pipe (opening it for reading would wait
// for a writer), a folder, a link to a device. None is counted and the count
// never waits.
TEST_F(SourceScanTest, PipesFoldersAndDevicesAreNeverCounted) {
    ASSERT_TRUE(folder.archive("z001.vud", 10, 10));
    ASSERT_EQ(mkfifo((folder.prefix() + "z002.vud").c_str(), 0644), 0);
    ASSERT_TRUE(folder.archive("z003.vud", 5, 5));
    ASSERT_TRUE(folder.folder("z004.vud"));
    ASSERT_EQ(symlink("/dev/zero", (folder.prefix() + "z005.vud").c_str()), 0);
    const int32_t foldersBefore = openFolderDescriptors();

    EXPECT_EQ(countSourceArchives(folder.prefix().c_str()), 2);
    EXPECT_EQ(totalEntryCount, 15);
    EXPECT_EQ(openFolderDescriptors(), foldersBefore);
}
#endif

// A count closes an enumeration an earlier walk left unfinished, also when
// its own folder text is refused before it searches.
TEST_F(SourceScanTest, CountClosesAnUnfinishedWalkWhateverTheFolder) {
    ASSERT_TRUE(folder.archive("z001.vud", 1, 1));
    ASSERT_TRUE(folder.archive("z002.vud", 1, 1));
    const std::string pattern = folder.prefix() + "*.VUD";
    const std::string tooLong = std::string(PathCapacity, 'x') + "/";
    const std::string prefix = folder.prefix();
    const int32_t foldersBefore = openFolderDescriptors();
    ASSERT_GE(foldersBefore, 0);

    for (const char* text : {static_cast<const char*>(nullptr), tooLong.c_str(), prefix.c_str()}) {
        SCOPED_TRACE(text == nullptr ? "no folder" : text);
        ASSERT_NE(findFirstSourceArchive(pattern.c_str()), nullptr);
#if defined(_WIN32)
        // Wine keeps handles of its own from a search, so only the drop the
        // closing makes is exact.
        const int32_t open = openFolderDescriptors();
        countSourceArchives(text);
        EXPECT_EQ(sourceSearch.searchHandle, nullptr);
        EXPECT_EQ(openFolderDescriptors(), open - 1);
#else
        ASSERT_EQ(openFolderDescriptors(), foldersBefore + 1);
        countSourceArchives(text);
        EXPECT_EQ(sourceSearch.searchHandle, nullptr);
        EXPECT_EQ(openFolderDescriptors(), foldersBefore);
#endif
        EXPECT_TRUE(foundNameCleared());
        EXPECT_EQ(findNextSourceArchive(), nullptr);
    }
}

TEST_F(SourceScanTest, WalkYieldsEveryMatchingFileButNoFolder) {
    ASSERT_TRUE(folder.archive("z001.vud", 1));
    ASSERT_TRUE(folder.archive("readme.VUD", 1));
    ASSERT_TRUE(folder.file("notes.txt", "x"));
    ASSERT_TRUE(folder.folder("z005.vud"));

    std::set<std::string> names;
    const std::string pattern = folder.prefix() + "*.VUD";
    for (const char* name = findFirstSourceArchive(pattern.c_str()); name != nullptr;
         name = findNextSourceArchive()) {
        EXPECT_EQ(name, sourceSearch.foundName);
        names.insert(name);
    }
    // The walk does not filter by the name rule; the conversion does.
    EXPECT_EQ(names, (std::set<std::string>{"z001.vud", "readme.VUD"}));
    EXPECT_EQ(sourceSearch.searchHandle, nullptr);
    EXPECT_TRUE(foundNameCleared());
}

TEST_F(SourceScanTest, FolderDeliveredFirstIsPassedOver) {
    // The delivery order is the file system's: build folders until one
    // delivers its subdirectory first.
    bool exercised = false;
    for (int attempt = 0; attempt < 64 && !exercised; ++attempt) {
        const std::string sub = "set" + std::to_string(attempt);
        ASSERT_TRUE(folder.folder(sub));
        ASSERT_TRUE(folder.folder(sub + "/z00" + std::to_string(attempt % 10) + ".vud"));
        ASSERT_TRUE(folder.archive(sub + "/z100.vud", 2));
        ASSERT_TRUE(folder.archive(sub + "/z101.vud", 3));
        const std::string prefix = folder.prefix() + sub + "/";
        DirectoryEntry first{};
        DirectorySearchHandle probe = directorySearchStart((prefix + "*.VUD").c_str(), &first);
        ASSERT_NE(probe, nullptr);
        directorySearchClose(probe);
        if (!first.isDirectory) continue;
        exercised = true;

        std::set<std::string> names;
        for (const char* name = findFirstSourceArchive((prefix + "*.VUD").c_str()); name != nullptr;
             name = findNextSourceArchive()) {
            names.insert(name);
        }
        EXPECT_EQ(names, (std::set<std::string>{"z100.vud", "z101.vud"}));
        EXPECT_EQ(countSourceArchives(prefix.c_str()), 2);
        EXPECT_EQ(totalEntryCount, 5);
    }
    EXPECT_TRUE(exercised) << "no folder delivered its subdirectory first";
}

TEST_F(SourceScanTest, OnlyFoldersMatchLeavesNothingOpen) {
    ASSERT_TRUE(folder.folder("z001.vud"));
    ASSERT_TRUE(folder.folder("Z002.VUD"));
    const std::string pattern = folder.prefix() + "*.VUD";
    EXPECT_EQ(findFirstSourceArchive(pattern.c_str()), nullptr);
    EXPECT_EQ(sourceSearch.searchHandle, nullptr);
    EXPECT_TRUE(foundNameCleared());
    EXPECT_EQ(countSourceArchives(folder.prefix().c_str()), 0);
}

TEST_F(SourceScanTest, EnumerationClosesItselfAndRestartsAfresh) {
    ASSERT_TRUE(folder.archive("z001.vud", 1));
    ASSERT_TRUE(folder.archive("z002.vud", 1));
    const std::string pattern = folder.prefix() + "*.vud";

    const char* first = findFirstSourceArchive(pattern.c_str());
    ASSERT_NE(first, nullptr);
    const std::string firstName = first;
    EXPECT_NE(sourceSearch.searchHandle, nullptr);
    // A new search closes the unfinished one and starts over.
    ASSERT_NE(findFirstSourceArchive(pattern.c_str()), nullptr);
    EXPECT_EQ(firstName, sourceSearch.foundName);

    const char* second = findNextSourceArchive();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second, first);  // the same buffer, refilled
    EXPECT_NE(firstName, second);
    EXPECT_EQ(findNextSourceArchive(), nullptr);
    EXPECT_EQ(sourceSearch.searchHandle, nullptr);
    EXPECT_TRUE(foundNameCleared());
    EXPECT_EQ(findNextSourceArchive(), nullptr);
}

TEST_F(SourceScanTest, EntryCountsWithTopBitSetAreNoArchive) {
    ASSERT_TRUE(folder.archive("z001.vud", 0x80000001u));
    ASSERT_TRUE(folder.archive("z002.vud", 0xFFFFFFFFu));
    ASSERT_TRUE(folder.archive("z003.vud", 4, 4));
    EXPECT_EQ(countSourceArchives(folder.prefix().c_str()), 1);
    EXPECT_EQ(totalEntryCount, 4);
}

TEST_F(SourceScanTest, HugeEntryCountsDoNotWrapTheTotal) {
    ASSERT_TRUE(folder.archive("z001.vud", 0x7FFFFFFFu));
    ASSERT_TRUE(folder.archive("z002.vud", 0x7FFFFFFFu));
    ASSERT_TRUE(folder.archive("z003.vud", 5, 5));
    EXPECT_EQ(countSourceArchives(folder.prefix().c_str()), 3);
    EXPECT_EQ(totalEntryCount, 2 * int64_t{0x7FFFFFFF} + 5);
}

TEST_F(SourceScanTest, ShortOrDamagedFilesAreNotCounted) {
    ASSERT_TRUE(folder.file("z001.vud", "VUDPAC"));  // header cut short
    ASSERT_TRUE(folder.file("z002.vud", "VUDPAK and then some more bytes to fill"));
    ASSERT_TRUE(folder.archive("z003.vud", 2, 2));
    EXPECT_EQ(countSourceArchives(folder.prefix().c_str()), 1);
    EXPECT_EQ(totalEntryCount, 2);
}

TEST_F(SourceScanTest, FolderTextIsAPlainPrefix) {
    ASSERT_TRUE(folder.folder("voice"));
    ASSERT_TRUE(folder.archive("voice/z001.vud", 3, 3));
    ASSERT_TRUE(folder.archive("voicez001.vud", 3, 3));
    // Without the closing '/' the pattern searches the parent for names
    // beginning with "voice", which the name rule rejects.
    EXPECT_EQ(countSourceArchives((folder.path() + "/voice").c_str()), 0);
    EXPECT_EQ(countSourceArchives((folder.path() + "/voice/").c_str()), 1);
    EXPECT_EQ(countSourceArchives((folder.path() + "/missing/").c_str()), 0);
    EXPECT_EQ(totalEntryCount, 0);
}

TEST_F(SourceScanTest, FolderTooLongForThePathBuffersFindsNothing) {
    // A real folder whose text leaves room for "*.VUD" but not for a name of
    // the archive rule: nothing may be cut to fit.
    std::string relative;
    std::string text = folder.prefix();
    while (text.size() < static_cast<size_t>(PathCapacity) - 7) {
        const std::string part(std::min<size_t>(40, PathCapacity - 7 - text.size()), 'd');
        relative += (relative.empty() ? "" : "/") + part;
        ASSERT_TRUE(folder.folder(relative));
        text += part + "/";
    }
    ASSERT_TRUE(folder.archive(relative + "/z001.vud", 3, 3));
    ASSERT_LT(text.size() + 5, static_cast<size_t>(PathCapacity));
    ASSERT_GE(text.size() + 8, static_cast<size_t>(PathCapacity));

    EXPECT_EQ(countSourceArchives(text.c_str()), 0);
    EXPECT_EQ(totalEntryCount, 0);
    EXPECT_EQ(sourceSearch.searchHandle, nullptr);

    const std::string longPattern = std::string(PathCapacity, 'x') + "*.VUD";
    EXPECT_EQ(findFirstSourceArchive(longPattern.c_str()), nullptr);
    EXPECT_EQ(sourceSearch.searchHandle, nullptr);
}

}  // namespace
