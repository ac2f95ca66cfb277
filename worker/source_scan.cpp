// Enumerating and counting the source archives of a folder. The folder text
// is a plain prefix of the pattern and of every joined path; a text too long
// for the 260-byte buffers is never cut (a cut path could name another
// folder): the scan then finds nothing.
#include "worker/source_scan.h"

#include <cstdio>
#include <cstring>

#include "archive/source_archive.h"
#include "platform/files.h"
#include "platform/owned_file.h"

SourceSearch sourceSearch = {nullptr, {}};
int64_t totalEntryCount = 0;
int64_t convertedEntryCount = 0;
std::atomic<int64_t> convertedAudioMilliseconds{0};

namespace {

// Every name the file-name rule accepts is "z###.vud": eight bytes.
constexpr size_t SourceNameLength = 8;

void closeSourceSearch() {
    if (sourceSearch.searchHandle == nullptr) return;
    directorySearchClose(sourceSearch.searchHandle);
    sourceSearch.searchHandle = nullptr;
}

const char* takeName(const DirectoryEntry& entry) {
    const size_t length = strnlen(entry.name, sizeof entry.name);
    if (length >= sizeof sourceSearch.foundName) return nullptr;
    std::memcpy(sourceSearch.foundName, entry.name, length);
    sourceSearch.foundName[length] = '\0';
    return sourceSearch.foundName;
}

// The entry count of the archive at path when it is one to convert, else 0.
int32_t acceptedEntryCount(const char* path) {
    OwnedFile file = openSourceFile(path);
    if (!file) return 0;
    int32_t entryCount = 0;
    if (readSourceHeader(file.get(), &entryCount, nullptr) < 0) return 0;
    // A count with its top bit set is negative here and is no archive.
    return entryCount > 0 ? entryCount : 0;
}

}  // namespace

const char* findFirstSourceArchive(const char* pattern) {
    std::memset(sourceSearch.foundName, 0, sizeof sourceSearch.foundName);
    closeSourceSearch();
    if (pattern == nullptr) return nullptr;
    char working[PathCapacity];
    const size_t length = strnlen(pattern, sizeof working);
    if (length >= sizeof working) return nullptr;
    std::memcpy(working, pattern, length + 1);

    DirectoryEntry entry{};
    DirectorySearchHandle search = directorySearchStart(working, &entry);
    if (search == nullptr) return nullptr;
    sourceSearch.searchHandle = search;
    if (entry.isDirectory) return findNextSourceArchive();
    const char* name = takeName(entry);
    return name != nullptr ? name : findNextSourceArchive();
}

const char* findNextSourceArchive() {
    std::memset(sourceSearch.foundName, 0, sizeof sourceSearch.foundName);
    if (sourceSearch.searchHandle == nullptr) return nullptr;
    DirectoryEntry entry{};
    for (;;) {
        if (!directorySearchNext(sourceSearch.searchHandle, &entry)) {
            closeSourceSearch();
            return nullptr;
        }
        if (entry.isDirectory) continue;
        const char* name = takeName(entry);
        if (name != nullptr) return name;
    }
}

int32_t countSourceArchives(const char* folder) {
    totalEntryCount = 0;
    convertedEntryCount = 0;
    convertedAudioMilliseconds.store(0);
    // Whatever the folder, no enumeration stays open after a count: an
    // earlier walk left unfinished is closed even when this one never starts.
    std::memset(sourceSearch.foundName, 0, sizeof sourceSearch.foundName);
    closeSourceSearch();
    if (folder == nullptr) return 0;
    const size_t folderLength = strnlen(folder, static_cast<size_t>(PathCapacity));
    // Room for the folder, the longest accepted name and the terminator; the
    // pattern ("*.VUD") is shorter than that.
    if (folderLength + SourceNameLength >= static_cast<size_t>(PathCapacity)) return 0;

    char pattern[PathCapacity];
    std::snprintf(pattern, sizeof pattern, "%s%s", folder, SourcePatternSuffix);
    int32_t archiveCount = 0;
    for (const char* name = findFirstSourceArchive(pattern); name != nullptr;
         name = findNextSourceArchive()) {
        if (parseSourceFileName(name) < 0) continue;
        char path[PathCapacity];
        const int joined = std::snprintf(path, sizeof path, "%s%s", folder, name);
        if (joined < 0 || joined >= PathCapacity) continue;
        const int32_t entryCount = acceptedEntryCount(path);
        if (entryCount < 1) continue;
        totalEntryCount += entryCount;
        archiveCount += 1;
    }
    return archiveCount;
}

bool outputNamesSourceArchive(const char* folder, const char* path) {
    FileIdentity output{};
    if (folder == nullptr || path == nullptr || !identifyFile(path, &output)) return false;
    char pattern[PathCapacity];
    const int written = std::snprintf(pattern, sizeof pattern, "%s%s", folder, SourcePatternSuffix);
    if (written < 0 || written >= PathCapacity) return false;
    DirectoryEntry entry{};
    DirectorySearchHandle search = directorySearchStart(pattern, &entry);
    if (search == nullptr) return false;
    bool found = false;
    do {
        if (entry.isDirectory) continue;
        char archive[PathCapacity];
        const int joined = std::snprintf(archive, sizeof archive, "%s%s", folder, entry.name);
        if (joined < 0 || joined >= PathCapacity) continue;
        FileIdentity source{};
        found = identifyFile(archive, &source) && source.device == output.device &&
                source.inode == output.inode;
    } while (!found && directorySearchNext(search, &entry));
    directorySearchClose(search);
    return found;
}
