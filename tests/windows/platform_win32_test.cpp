// What only the Win32 platform layer has: UTF-8 names outside any code page
// through the wide calls, the 8.3 short names a pattern also matches, drive
// and UNC paths, the temporary output's commit and discard, the registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "platform/directory_search.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text_encoding.h"
#include "platform/thread.h"
#include "platform/win32/wide_text.h"

namespace {

// "音声データ": a folder name outside every single-byte code page.
constexpr const char* JapaneseFolder =
    "\xE9\x9F\xB3\xE5\xA3\xB0\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF";
// "音声.vud"
constexpr const char* JapaneseArchive = "\xE9\x9F\xB3\xE5\xA3\xB0.vud";

std::filesystem::path widePath(const std::string& utf8) {
    WideText wide = widenUtf8(utf8.c_str());
    return wide ? std::filesystem::path(wide.get()) : std::filesystem::path();
}

// A fresh folder with a Japanese name under the temporary folder; prefix
// ends in '\\'.
class Win32Folder : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temporary[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temporary), 0u);
        char base[MAX_PATH * 3];
        ASSERT_GE(narrowToUtf8(temporary, -1, base, sizeof base), 0);
        prefix = std::string(base) + "vud-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
                 JapaneseFolder + "\\";
        root = widePath(prefix);
        std::filesystem::remove_all(root);
        ASSERT_TRUE(std::filesystem::create_directory(root));
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    bool write(const std::string& name, const std::string& bytes) {
        OwnedFile file = openFile((prefix + name).c_str(), "wb");
        return file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    }
    std::string read(const std::string& name) {
        OwnedFile file = openFile((prefix + name).c_str(), "rb");
        if (!file) return "<missing>";
        std::string bytes;
        char chunk[256];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) {
            bytes.append(chunk, got);
        }
        return bytes;
    }
    size_t entryCount() const {
        size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(root)) count += entry.exists();
        return count;
    }
    std::string prefix;
    std::filesystem::path root;
};

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

TEST_F(Win32Folder, SearchYieldsUtf8NamesAndSkipsShortNameMatches) {
    for (const char* name : {"z001.vud", "Z002.VUD", JapaneseArchive, "z001.vudx", "z01.vudvud"}) {
        ASSERT_TRUE(write(name, "x")) << name;
    }
    ASSERT_TRUE(std::filesystem::create_directory(widePath(prefix + "z003.vud")));
    using Found = std::map<std::string, bool>;
    const Found expected{
        {"z001.vud", false}, {"Z002.VUD", false}, {JapaneseArchive, false}, {"z003.vud", true}};
    // Whatever short names the file system gave the long ones, only long
    // names that match are yielded.
    EXPECT_EQ(search(prefix + "*.VUD"), expected);
    std::string forward = prefix;
    for (char& c : forward) c = c == '\\' ? '/' : c;
    EXPECT_EQ(search(forward + "*.vud"), expected);
    EXPECT_EQ(search(prefix + "*").size(), 6u);  // no "." or ".."
    EXPECT_TRUE(search(prefix + "missing\\*").empty());
}

struct AbsoluteCase {
    const char* path;
    bool absolute;
};

class LibraryPath : public ::testing::TestWithParam<AbsoluteCase> {};

TEST_P(LibraryPath, OnlyDriveAndUncPathsAreAbsolute) {
    EXPECT_EQ(libraryPathIsAbsolute(GetParam().path), GetParam().absolute) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Win32, LibraryPath,
    ::testing::Values(AbsoluteCase{"C:\\Tools\\GOGO.DLL", true},
                      AbsoluteCase{"d:/x/GOGO.DLL", true},
                      AbsoluteCase{"\\\\server\\share\\GOGO.DLL", true},
                      AbsoluteCase{"//server/share/GOGO.DLL", true},
                      AbsoluteCase{"\\Tools\\GOGO.DLL", false}, AbsoluteCase{"C:GOGO.DLL", false},
                      AbsoluteCase{"Tools\\GOGO.DLL", false}, AbsoluteCase{"GOGO.DLL", false},
                      AbsoluteCase{"\\\\server", false}, AbsoluteCase{"\\\\server\\", false},
                      AbsoluteCase{"\\\\\\share", false}, AbsoluteCase{"1:\\x", false},
                      AbsoluteCase{"", false}));

TEST(Win32Library, MissingLibraryIsNoDialogButNull) {
    EXPECT_EQ(libraryLoad("vud-no-such-library.dll"), nullptr);
    EXPECT_EQ(libraryLoad("C:\\vud-no-such-folder\\GOGO.DLL"), nullptr);
    LibraryHandle kernel = libraryLoad("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(libraryResolve(kernel, "GetTickCount"), nullptr);
    EXPECT_EQ(libraryResolve(kernel, "MPGE_getVersion"), nullptr);
    libraryRelease(kernel);
}

TEST_F(Win32Folder, OutputCommitsOnlyWhenCompleteAndDiscardLeavesTheOldFile) {
    const std::string name = std::string(JapaneseFolder) + ".pac";
    const std::string destination = prefix + name;
    ASSERT_TRUE(write(name, "old"));
    EXPECT_EQ(inspectOutputPath(destination.c_str()), OutputPathState::RegularFile);

    // Discarded: the old file stays, the temporary file is gone.
    PendingOutput discarded{};
    ASSERT_TRUE(beginOutput(destination.c_str(), &discarded));
    EXPECT_NE(std::strstr(discarded.temporaryPath, ".incomplete-"), nullptr);
    ASSERT_GE(std::fputs("partial", discarded.stream.get()), 0);
    discardOutput(&discarded);
    EXPECT_EQ(read(name), "old");
    EXPECT_EQ(entryCount(), 1u);

    // Deleted by the emergency path while still open: the commit fails.
    PendingOutput interrupted{};
    ASSERT_TRUE(beginOutput(destination.c_str(), &interrupted));
    ASSERT_GE(std::fputs("cut", interrupted.stream.get()), 0);
    discardPendingOutputNow();
    EXPECT_FALSE(commitOutput(&interrupted));
    EXPECT_EQ(read(name), "old");
    EXPECT_EQ(entryCount(), 1u);

    // Committed: the new bytes replace the old ones.
    PendingOutput completed{};
    ASSERT_TRUE(beginOutput(destination.c_str(), &completed));
    // Other readers may look at the temporary file while it is written.
    EXPECT_TRUE(openFile(completed.temporaryPath, "rb"));
    ASSERT_GE(std::fputs("new", completed.stream.get()), 0);
    ASSERT_TRUE(commitOutput(&completed));
    EXPECT_EQ(read(name), "new");
    EXPECT_EQ(entryCount(), 1u);
    discardPendingOutputNow();  // nothing pending: the output stays
    EXPECT_EQ(read(name), "new");
}

TEST_F(Win32Folder, FilesFoldersAndIdentities) {
    ASSERT_TRUE(write(JapaneseArchive, "VUDPAC"));
    ASSERT_TRUE(write("other.vud", "VUDPAC"));
    const std::string archive = prefix + JapaneseArchive;
    OwnedFile source = openSourceFile(archive.c_str());
    ASSERT_TRUE(source);
    char magic[7] = {};
    EXPECT_EQ(std::fread(magic, 1, 6, source.get()), 6u);
    EXPECT_STREQ(magic, "VUDPAC");
    EXPECT_FALSE(openSourceFile(prefix.c_str()));
    EXPECT_FALSE(openSourceFile((prefix + "missing.vud").c_str()));
    EXPECT_FALSE(openSourceFile("\\\\.\\NUL"));

    FileIdentity first{};
    FileIdentity again{};
    FileIdentity other{};
    ASSERT_TRUE(identifyFile(archive.c_str(), &first));
    std::string forward = archive;
    for (char& c : forward) c = c == '\\' ? '/' : c;
    ASSERT_TRUE(identifyFile(forward.c_str(), &again));
    ASSERT_TRUE(identifyFile((prefix + "other.vud").c_str(), &other));
    EXPECT_TRUE(first.device == again.device && first.inode == again.inode);
    EXPECT_FALSE(first.device == other.device && first.inode == other.inode);
    EXPECT_FALSE(identifyFile((prefix + "missing.vud").c_str(), &other));

    EXPECT_EQ(inspectOutputPath((prefix + "missing.pac").c_str()), OutputPathState::Absent);
    EXPECT_EQ(inspectOutputPath(prefix.c_str()), OutputPathState::NotRegular);
    EXPECT_EQ(inspectOutputPath("\\\\.\\NUL"), OutputPathState::NotRegular);
    PendingOutput refused{};
    EXPECT_FALSE(beginOutput(prefix.c_str(), &refused));

    EXPECT_EQ(inspectFolder(prefix.c_str()), FolderState::Folder);
    EXPECT_EQ(inspectFolder(archive.c_str()), FolderState::NotFolder);
    EXPECT_EQ(inspectFolder((prefix + "missing").c_str()), FolderState::Absent);
    EXPECT_TRUE(folderWritable(prefix.substr(0, prefix.size() - 1).c_str()));
    EXPECT_FALSE(folderWritable(archive.c_str()));
    EXPECT_EQ(entryCount(), 2u);  // the write check leaves nothing behind
}

TEST(Win32Registry, MissingKeysAndValuesAreRefused) {
    for (RegistryRoot root : {RegistryRoot::CurrentUser, RegistryRoot::LocalMachine}) {
        EXPECT_EQ(registryOpenKey(root, "Software\\vud-test-missing\\GOGO_DLL"), nullptr);
    }
    RegistryKey software = registryOpenKey(RegistryRoot::CurrentUser, "Software");
    ASSERT_NE(software, nullptr);
    char buffer[260];
    EXPECT_EQ(registryReadValue(software, "vud-test-missing-value", buffer, sizeof buffer), -1);
    registryCloseKey(software);
}

// A text value comes back as UTF-8 under the area's size rule; other types
// are no text.
TEST(Win32Registry, TextValuesAsUtf8WithinTheArea) {
    const wchar_t* keyPath = L"Software\\vud-test-registry";
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &created, nullptr),
              ERROR_SUCCESS);
    const std::wstring path = L"C:\\\u97F3\u58F0\\GOGO.DLL";  // C:\音声\GOGO.DLL
    const LONG textSet =
        RegSetValueExW(created, L"INSTPATH", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    const DWORD number = 7;
    const LONG numberSet = RegSetValueExW(created, L"Number", 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegCloseKey(created);
    ASSERT_EQ(textSet, ERROR_SUCCESS);
    ASSERT_EQ(numberSet, ERROR_SUCCESS);

    RegistryKey key = registryOpenKey(RegistryRoot::CurrentUser, "Software\\vud-test-registry");
    ASSERT_NE(key, nullptr);
    const std::string expected = "C:\\\xE9\x9F\xB3\xE5\xA3\xB0\\GOGO.DLL";
    char buffer[260] = {};
    EXPECT_EQ(registryReadValue(key, "INSTPATH", buffer, sizeof buffer),
              static_cast<int32_t>(expected.size()));
    EXPECT_EQ(std::string(buffer, expected.size()), expected);
    // Exactly the UTF-8 bytes fit; one byte less is too small.
    EXPECT_EQ(registryReadValue(key, "INSTPATH", buffer, expected.size()),
              static_cast<int32_t>(expected.size()));
    EXPECT_EQ(registryReadValue(key, "INSTPATH", buffer, expected.size() - 1), -1);
    EXPECT_EQ(registryReadValue(key, "Number", buffer, sizeof buffer), -1);
    registryCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, keyPath);
}

int32_t negativeResult(void*) {
    return -5;
}

TEST(Win32Process, ThreadResultsPathsAndSystemText) {
    EXPECT_EQ(threadJoin(threadStart(negativeResult, nullptr)), -5);

    char program[MAX_PATH * 3];
    ASSERT_TRUE(currentProgramPath(program, sizeof program));
    EXPECT_TRUE(libraryPathIsAbsolute(program)) << program;
    EXPECT_NE(std::strstr(program, ".exe"), nullptr) << program;
    EXPECT_FALSE(currentProgramPath(program, static_cast<int32_t>(std::strlen(program))));
    char folder[MAX_PATH * 3];
    ASSERT_TRUE(currentFolderPath(folder, sizeof folder));
    EXPECT_TRUE(libraryPathIsAbsolute(folder)) << folder;

    char text[8];
    EXPECT_EQ(systemTextToUtf8("3.13a", text, sizeof text), 5);
    EXPECT_STREQ(text, "3.13a");
    EXPECT_EQ(systemTextToUtf8("version 3.13a", text, sizeof text), 7);
    EXPECT_STREQ(text, "version");
}

}  // namespace
