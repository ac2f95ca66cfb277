// The binding: the three places the library is looked for, in order, with a
// temporary file-backed registry; the ten names; the version; the record.
// This program is built in a folder of its own, so no GOGO.DLL lies beside
// it; the run named *_search adds a folder holding one to LD_LIBRARY_PATH.
#include "encoder/encoder_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/owned_file.h"
#include "platform/registry.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string fakeLibrary() {
    return environment("VUD_BUILD_DIR") + "/libfake_encoder.so";
}
std::string nineNameLibrary() {
    return environment("VUD_BUILD_DIR") + "/libfake_encoder_nine.so";
}
// Nine names of its own; the tenth only in a library it depends on.
std::string nineNamesAndADependency() {
    return environment("VUD_BUILD_DIR") + "/libfake_encoder_nine_linked.so";
}

// A quotation mark, then the text. Built by appending: GCC 12 at -O3 reports
// a false -Wrestrict inside std::string for "\"" + text.
std::string openQuoted(const std::string& text) {
    std::string value(1, '"');
    value += text;
    return value;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    OwnedFile file = openFile(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file.get()), bytes.size());
}

// Real path of the file the loaded library was mapped from.
std::string loadedFrom() {
    Dl_info info{};
    if (encoderLibrary.getVersion == nullptr ||
        dladdr(reinterpret_cast<void*>(encoderLibrary.getVersion), &info) == 0) {
        return "";
    }
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) != nullptr ? resolved : "";
}

void expectUnloaded() {
    EXPECT_EQ(encoderLibrary.module, nullptr);
    EXPECT_EQ(encoderLibrary.versionNumber, 0);
    for (char c : encoderLibrary.versionText) ASSERT_EQ(c, '\0');
    EXPECT_EQ(encoderLibrary.initializeWork, nullptr);
    EXPECT_EQ(encoderLibrary.setConfigure, nullptr);
    EXPECT_EQ(encoderLibrary.getConfigure, nullptr);
    EXPECT_EQ(encoderLibrary.detectConfigure, nullptr);
    EXPECT_EQ(encoderLibrary.processFrame, nullptr);
    EXPECT_EQ(encoderLibrary.closeCoder, nullptr);
    EXPECT_EQ(encoderLibrary.endCoder, nullptr);
    EXPECT_EQ(encoderLibrary.getUnitStates, nullptr);
    EXPECT_EQ(encoderLibrary.processTrack, nullptr);
    EXPECT_EQ(encoderLibrary.getVersion, nullptr);
    EXPECT_STREQ(encoderVersionText(), "");
}

// A temporary folder with a per-user and a machine-wide registry root, and
// two installed copies of the fake library (separate files, so the one
// mapped tells which candidate was used).
class BindingTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.path.empty());
        root = fs::canonical(folder.path);
        userRoot = root / "user-registry";
        machineRoot = root / "machine-registry";
        fs::create_directories(userRoot);
        fs::create_directories(machineRoot);
        setenv("VUD_REGISTRY_CURRENT_USER", userRoot.c_str(), 1);
        setenv("VUD_REGISTRY_LOCAL_MACHINE", machineRoot.c_str(), 1);
        installFolder = root / "Install";
        toolsFolder = root / "Tools" / "Enc";
        fs::create_directories(installFolder);
        fs::create_directories(toolsFolder);
        fs::copy_file(fakeLibrary(), installFolder / "GOGO.DLL");
        fs::copy_file(fakeLibrary(), toolsFolder / "GOGO.DLL");
        searchRun = !environment("VUD_SEARCH_LIBRARY_DIR").empty();
    }
    void TearDown() override {
        unloadEncoderLibrary();
        unsetenv("VUD_REGISTRY_CURRENT_USER");
        unsetenv("VUD_REGISTRY_LOCAL_MACHINE");
    }

    void setInstallPath(const std::string& text) {
        writeFile(userRoot / "Software" / "MarineCat" / "GOGO_DLL" / "INSTPATH", text);
    }
    void setUninstallString(const std::string& text) {
        writeFile(machineRoot / "SOFTWARE" / "Microsoft" / "Windows" / "CurrentVersion" /
                      "Uninstall" / "WinGOGO" / "UninstallString",
                  text);
    }
    void requireNoSearchHit() {
        if (searchRun) GTEST_SKIP() << "GOGO.DLL is on the library search path in this run";
        LibraryHandle found = libraryLoad("GOGO.DLL");
        libraryRelease(found);
        ASSERT_EQ(found, nullptr) << "a GOGO.DLL is reachable by the usual search";
    }

    TempFolder folder;
    fs::path root, userRoot, machineRoot, installFolder, toolsFolder;
    bool searchRun = false;
};

TEST_F(BindingTest, FindsNothingWhenNoPlaceHoldsTheLibrary) {
    requireNoSearchHit();
    EXPECT_EQ(loadEncoderLibrary(), 0);
    expectUnloaded();
    setInstallPath((root / "Nowhere" / "GOGO.DLL").string());
    setUninstallString(openQuoted((root / "Nowhere" / "uninst.exe").string()) + "\"");
    EXPECT_EQ(loadEncoderLibrary(), 0);
    expectUnloaded();
}

TEST_F(BindingTest, TriesTheInstallPathBeforeTheUninstallString) {
    requireNoSearchHit();
    setInstallPath((installFolder / "GOGO.DLL").string());
    setUninstallString(openQuoted((toolsFolder / "uninst.exe").string()) + "\"");
    EXPECT_EQ(loadEncoderLibrary(), 1);
    EXPECT_STREQ(encoderVersionText(), "fake encoder 1.0");
    EXPECT_EQ(loadedFrom(), (installFolder / "GOGO.DLL").string());

    // A folder name is handed over unchanged, fails, and the uninstall
    // string's folder is tried next.
    setInstallPath(installFolder.string());
    EXPECT_EQ(loadEncoderLibrary(), 1);
    EXPECT_EQ(loadedFrom(), (toolsFolder / "GOGO.DLL").string());
}

TEST_F(BindingTest, BuildsThePathFromTheUninstallString) {
    requireNoSearchHit();
    struct Case {
        std::string value;
        bool loads;
    };
    const std::string uninstaller = (toolsFolder / "uninst.exe").string();
    const Case cases[] = {
        {openQuoted(uninstaller) + "\"", true},
        // Everything after the last separator is replaced, quotation mark included.
        {openQuoted(uninstaller), true},
        {openQuoted(toolsFolder.string()) + "/", true},
        // Without the quotation mark the path keeps its first byte.
        {uninstaller, true},
        // The last separator counts, also one in the command's arguments.
        {openQuoted(uninstaller) + "\" /S", false},
        // No separator at all: no path.
        {"uninst.exe", false},
        {"", false},
        // A line feed ending the file is not part of the value.
        {openQuoted(uninstaller) + "\"\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        setUninstallString(c.value);
        EXPECT_EQ(loadEncoderLibrary(), c.loads ? 1 : 0);
        if (c.loads) {
            EXPECT_EQ(loadedFrom(), (toolsFolder / "GOGO.DLL").string());
        } else {
            expectUnloaded();
        }
    }
}

TEST_F(BindingTest, KeepsEveryValueWithinItsArea) {
    requireNoSearchHit();
    // 260 bytes without terminator: the install path is no text and skipped;
    // the uninstall string still gives its folder, written within the area.
    std::string filler(VersionTextCapacity, 'x');
    std::string installPath = (installFolder / "GOGO.DLL").string();
    setInstallPath(installPath + "/" + filler.substr(installPath.size() + 1));
    std::string uninstall = openQuoted(toolsFolder.string()) + "/";
    uninstall += filler.substr(uninstall.size());
    ASSERT_EQ(uninstall.size(), 260u);
    setUninstallString(uninstall);
    EXPECT_EQ(loadEncoderLibrary(), 1);
    EXPECT_EQ(loadedFrom(), (toolsFolder / "GOGO.DLL").string());

    // One byte more and the reads fail: both candidates are skipped.
    setUninstallString(uninstall + "x");
    EXPECT_EQ(loadEncoderLibrary(), 0);
    setInstallPath(installPath + std::string(300, '/'));
    EXPECT_EQ(loadEncoderLibrary(), 0);
}

// The current folder for the life of the object.
class CurrentFolder {
public:
    explicit CurrentFolder(const fs::path& folder) : saved_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~CurrentFolder() { fs::current_path(saved_); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    fs::path saved_;
};

// Registry candidates load only from absolute paths: a relative one would
// load a library planted under whatever folder the program runs in.
TEST_F(BindingTest, LoadsRegistryCandidatesOnlyFromAbsolutePaths) {
    requireNoSearchHit();
    // From root, Install/GOGO.DLL and Tools/Enc/GOGO.DLL name the two
    // installed copies; a third is planted where the uninstall folder with its
    // leading '/' taken away leads.
    const fs::path planted = root / toolsFolder.relative_path() / "GOGO.DLL";
    fs::create_directories(planted.parent_path());
    fs::copy_file(fakeLibrary(), planted);
    CurrentFolder inRoot(root);

    setInstallPath("Install/GOGO.DLL");
    EXPECT_EQ(loadEncoderLibrary(), 0);
    expectUnloaded();
    setUninstallString("\"Tools/Enc/uninst.exe\"");
    EXPECT_EQ(loadEncoderLibrary(), 0);
    expectUnloaded();

    // Unquoted and absolute: the library beside the uninstaller, never the
    // copy under the current folder.
    setUninstallString((toolsFolder / "uninst.exe").string());
    EXPECT_EQ(loadEncoderLibrary(), 1);
    EXPECT_EQ(loadedFrom(), (toolsFolder / "GOGO.DLL").string());
}

TEST(UninstallStringTest, RejectsSeparatorsTooNearTheEnd) {
    char text[VersionTextCapacity];
    // The name and its NUL need nine bytes after the separator.
    for (int32_t separator : {249, 250, 251, 259}) {
        SCOPED_TRACE(separator);
        std::memset(text, 'a', sizeof text);
        text[separator] = '/';
        const char* path = uninstallStringLibraryPath(text, VersionTextCapacity);
        if (separator <= 250) {
            ASSERT_EQ(path, text) << "no quotation mark to drop";
            EXPECT_STREQ(text + separator + 1, "GOGO.DLL");
        } else {
            EXPECT_EQ(path, nullptr);
            for (int32_t i = separator + 1; i < VersionTextCapacity; ++i) {
                ASSERT_EQ(text[i], 'a') << "changed at " << i;
            }
        }
    }
    struct Case {
        const char* value;
        const char* path;
    };
    const Case cases[] = {
        {"\"D:/Tools/Enc/uninst.exe\"", "D:/Tools/Enc/GOGO.DLL"},
        {"D:/Tools/Enc/uninst.exe", "D:/Tools/Enc/GOGO.DLL"},
        {"/abs/enc/uninst", "/abs/enc/GOGO.DLL"},
        {"\"\"/abs/enc/uninst", "\"/abs/enc/GOGO.DLL"},
        {"\"D:/Tools/Enc/uninst.exe\" /S", "D:/Tools/Enc/uninst.exe\" /GOGO.DLL"},
        {"\"uninst.exe\"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        std::memset(text, 0, sizeof text);
        std::strcpy(text, c.value);
        // Bytes after the value's terminator are not searched.
        std::memcpy(text + std::strlen(c.value) + 1, "/x", 2);
        const char* path = uninstallStringLibraryPath(text, VersionTextCapacity);
        if (c.path == nullptr) {
            EXPECT_EQ(path, nullptr);
        } else {
            EXPECT_STREQ(path, c.path);
        }
    }
}

TEST_F(BindingTest, RefusesALibraryLackingOneName) {
    requireNoSearchHit();
    EXPECT_EQ(loadEncoderLibraryFrom(nineNameLibrary().c_str()), 0);
    expectUnloaded();
    // Found through the registry it is released again just the same.
    setInstallPath(nineNameLibrary());
    EXPECT_EQ(loadEncoderLibrary(), 0);
    expectUnloaded();
    void* stillMapped = dlopen(nineNameLibrary().c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(stillMapped, nullptr);
    if (stillMapped != nullptr) dlclose(stillMapped);
}

// A name found only in a dependency of the library is not the library's own.
TEST_F(BindingTest, RefusesANameOnlyItsDependencyExports) {
    void* direct = dlopen(nineNamesAndADependency().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(direct, nullptr) << dlerror();
    ASSERT_NE(dlsym(direct, "MPGE_processTrack"), nullptr) << "the dependency is not linked";
    LibraryHandle handle = libraryLoad(nineNamesAndADependency().c_str());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(libraryResolve(handle, "MPGE_processTrack"), nullptr);
    EXPECT_EQ(libraryResolve(handle, "MPGE_getVersion"), dlsym(direct, "MPGE_getVersion"));
    libraryRelease(handle);
    dlclose(direct);

    EXPECT_EQ(loadEncoderLibraryFrom(nineNamesAndADependency().c_str()), 0);
    expectUnloaded();
}

TEST_F(BindingTest, VersionZeroMeansNoUsableLibrary) {
    // Keep one reference of our own so the library's state lives on between loads.
    void* fake = dlopen(fakeLibrary().c_str(), RTLD_NOW);
    ASSERT_NE(fake, nullptr);
    auto setVersion =
        reinterpret_cast<void (*)(int32_t, const char*)>(dlsym(fake, "fakeEncoderSetVersion"));
    ASSERT_NE(setVersion, nullptr);
    setVersion(0, "broken");
    EXPECT_EQ(loadEncoderLibraryFrom(fakeLibrary().c_str()), 0);
    setVersion(7, "seven");
    EXPECT_EQ(loadEncoderLibraryFrom(fakeLibrary().c_str()), 7);
    EXPECT_STREQ(encoderVersionText(), "seven");
    for (const EncoderEntryPoint& row : EncoderEntryPoints) {
        EXPECT_EQ(libraryResolve(encoderLibrary.module, row.name) != nullptr, true) << row.name;
    }
    EXPECT_EQ(reinterpret_cast<void*>(encoderLibrary.processTrack),
              dlsym(fake, "MPGE_processTrack"));
    unloadEncoderLibrary();
    expectUnloaded();
    dlclose(fake);
}

TEST_F(BindingTest, LoadingAgainReleasesTheFirstMapping) {
    requireNoSearchHit();
    std::string first = (installFolder / "GOGO.DLL").string();
    ASSERT_EQ(loadEncoderLibraryFrom(first.c_str()), 1);
    setUninstallString(openQuoted((toolsFolder / "uninst.exe").string()) + "\"");
    ASSERT_EQ(loadEncoderLibrary(), 1);
    EXPECT_EQ(loadedFrom(), (toolsFolder / "GOGO.DLL").string());
    void* stillMapped = dlopen(first.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(stillMapped, nullptr);
    if (stillMapped != nullptr) dlclose(stillMapped);
    unloadEncoderLibrary();
    expectUnloaded();
    unloadEncoderLibrary();  // nothing loaded: still fine
    expectUnloaded();
}

// Run with VUD_SEARCH_LIBRARY_DIR on LD_LIBRARY_PATH (it holds a GOGO.DLL):
// the bare name wins and the registry candidates are not used.
TEST_F(BindingTest, BareNameFoundByTheUsualSearchComesFirst) {
    if (!searchRun) GTEST_SKIP() << "runs with VUD_SEARCH_LIBRARY_DIR on LD_LIBRARY_PATH";
    setInstallPath((installFolder / "GOGO.DLL").string());
    setUninstallString(openQuoted((toolsFolder / "uninst.exe").string()) + "\"");
    EXPECT_EQ(loadEncoderLibrary(), 1);
    char expected[PATH_MAX];
    ASSERT_NE(realpath((environment("VUD_SEARCH_LIBRARY_DIR") + "/GOGO.DLL").c_str(), expected),
              nullptr);
    EXPECT_EQ(loadedFrom(), expected);
}

TEST_F(BindingTest, RegistryMapsKeysToFoldersAndValuesToFiles) {
    writeFile(userRoot / "A" / "B" / "text", "hello\n");
    writeFile(userRoot / "A" / "B" / "raw", std::string("a\0b", 3));
    fs::create_directories(userRoot / "A" / "B" / "folder");
    RegistryKey key = registryOpenKey(RegistryRoot::CurrentUser, "A\\B");
    ASSERT_NE(key, nullptr);
    char area[8];
    EXPECT_EQ(registryReadValue(key, "text", area, sizeof area), 5);
    EXPECT_EQ(std::string(area, 5), "hello");
    EXPECT_EQ(registryReadValue(key, "raw", area, sizeof area), 3);
    EXPECT_EQ(registryReadValue(key, "text", area, 4), -1) << "larger than the area";
    EXPECT_EQ(registryReadValue(key, "text", area, 5), 5);
    EXPECT_EQ(registryReadValue(key, "missing", area, sizeof area), -1);
    EXPECT_EQ(registryReadValue(key, "folder", area, sizeof area), -1);
    EXPECT_EQ(registryReadValue(key, "../B/text", area, sizeof area), -1);
    registryCloseKey(key);

    EXPECT_EQ(registryOpenKey(RegistryRoot::CurrentUser, "A\\Missing"), nullptr);
    EXPECT_EQ(registryOpenKey(RegistryRoot::CurrentUser, "A\\..\\A\\B"), nullptr);
    EXPECT_EQ(registryOpenKey(RegistryRoot::CurrentUser, "A\\\\B"), nullptr);
    EXPECT_EQ(registryOpenKey(RegistryRoot::LocalMachine, "A\\B"), nullptr);

    // Without the override the per-user root is ~/.config/vud-registry.
    std::string savedHome = environment("HOME");
    std::string savedConfig = environment("XDG_CONFIG_HOME");
    unsetenv("VUD_REGISTRY_CURRENT_USER");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", root.c_str(), 1);
    writeFile(root / ".config" / "vud-registry" / "K" / "v", "1");
    key = registryOpenKey(RegistryRoot::CurrentUser, "K");
    EXPECT_NE(key, nullptr);
    registryCloseKey(key);
    setenv("HOME", savedHome.c_str(), 1);
    if (!savedConfig.empty()) setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
}

}  // namespace
