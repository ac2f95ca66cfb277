// The POSIX directory search: wildcard matching without regard to letter case,
// the directory flag, and folders that cannot be searched.
#include "platform/directory_search.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/scan/scan_folder.h"

namespace {

// Every match of pattern, with its directory flag.
std::map<std::string, bool> search(const std::string& pattern) {
    std::map<std::string, bool> found;
    DirectoryEntry entry{};
    DirectorySearchHandle handle = directorySearchStart(pattern.c_str(), &entry);
    if (handle == nullptr) return found;
    do {
        found[entry.name] = entry.isDirectory;
    } while (directorySearchNext(handle, &entry));
    directorySearchClose(handle);
    return found;
}

TEST(DirectorySearch, MatchesNamePartIgnoringCase) {
    ScanFolder folder;
    ASSERT_TRUE(folder.valid());
    for (const char* name : {"abc.vud", "ABD.VUD", "a.b.Vud", "x.vudx", "vud", "abc.vu"}) {
        ASSERT_TRUE(folder.file(name, "x"));
    }
    ASSERT_TRUE(folder.folder("dir.vud"));
    const std::string prefix = folder.prefix();

    using Found = std::map<std::string, bool>;
    EXPECT_EQ(
        search(prefix + "*.VUD"),
        (Found{{"abc.vud", false}, {"ABD.VUD", false}, {"a.b.Vud", false}, {"dir.vud", true}}));
    EXPECT_EQ(search(prefix + "ab?.*"),
              (Found{{"abc.vud", false}, {"ABD.VUD", false}, {"abc.vu", false}}));
    EXPECT_EQ(search(prefix + "*b*d"),
              (Found{{"abc.vud", false}, {"ABD.VUD", false}, {"a.b.Vud", false}}));
    EXPECT_EQ(search(prefix + "*"), search(prefix + "**"));
    EXPECT_EQ(search(prefix + "*").size(), 7u);  // "." and ".." are no entries
    EXPECT_TRUE(search(prefix + "abc.vud?").empty());
    EXPECT_TRUE(search(prefix + "*.mp3").empty());
}

// Many names, made in an order of their own, so that the file system's
// order (hash or creation) would show through.
TEST(DirectorySearch, DeliversNamesInOrderLetterCaseNotCounted) {
    ScanFolder folder;
    ASSERT_TRUE(folder.valid());
    std::vector<std::string> expected;
    for (int i = 0; i < 40; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, i % 3 == 0 ? "Z%03d.VUD" : "z%03d.vud", (i * 17) % 40);
        ASSERT_TRUE(folder.file(name, "x"));
        expected.push_back(name);
    }
    ASSERT_TRUE(folder.file("z_extra.vud", "x"));  // '_' sorts after the letters' capitals
    ASSERT_TRUE(folder.folder("Z020A.vud"));
    expected.push_back("z_extra.vud");
    expected.push_back("Z020A.vud");
    std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
        std::string x = a, y = b;
        for (char& c : x) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (char& c : y) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return x < y;
    });

    std::vector<std::string> delivered;
    DirectoryEntry entry{};
    DirectorySearchHandle handle =
        directorySearchStart((folder.prefix() + "*.vud").c_str(), &entry);
    ASSERT_NE(handle, nullptr);
    do {
        delivered.push_back(entry.name);
    } while (directorySearchNext(handle, &entry));
    directorySearchClose(handle);
    EXPECT_EQ(delivered, expected);
}

TEST(DirectorySearch, FolderPartMayBeEmpty) {
    ScanFolder folder;
    ASSERT_TRUE(folder.valid());
    ASSERT_TRUE(folder.file("z001.vud", "x"));
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    const auto found = search("Z001.*");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(found, (std::map<std::string, bool>{{"z001.vud", false}}));
}

TEST(DirectorySearch, UnreadableOrMissingFolderIsNoMatch) {
    ScanFolder folder;
    ASSERT_TRUE(folder.valid());
    ASSERT_TRUE(folder.file("plain", "x"));
    DirectoryEntry entry{};
    EXPECT_EQ(directorySearchStart((folder.prefix() + "missing/*").c_str(), &entry), nullptr);
    // A file is no folder to search.
    EXPECT_EQ(directorySearchStart((folder.prefix() + "plain/*").c_str(), &entry), nullptr);
    EXPECT_EQ(directorySearchStart((folder.prefix() + "nothing*").c_str(), &entry), nullptr);
    EXPECT_EQ(directorySearchStart(std::string(PathCapacity, 'a').c_str(), &entry), nullptr);
    EXPECT_FALSE(directorySearchNext(nullptr, &entry));
    directorySearchClose(nullptr);
}

}  // namespace
