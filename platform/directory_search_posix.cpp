// Wildcard search of one folder on POSIX: readdir has no wildcard matching, so
// the name part of the pattern is matched here (platform/name_pattern.h).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <new>

#include "platform/directory_search.h"
#include "platform/name_pattern.h"

struct PlatformDirectorySearch {
    DIR* folder;
    char namePattern[PathCapacity];
};

namespace {

bool isDirectoryEntry(DIR* folder, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
    // The file system does not say, or a link may lead to a folder: ask stat.
    struct stat status {};
    if (fstatat(dirfd(folder), entry->d_name, &status, 0) != 0) return false;
    return S_ISDIR(status.st_mode);
}

// The next entry whose name matches; false when none is left.
bool nextMatch(PlatformDirectorySearch* search, DirectoryEntry* result) {
    for (;;) {
        const dirent* entry = readdir(search->folder);
        if (entry == nullptr) return false;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        const size_t length = std::strlen(name);
        if (length >= static_cast<size_t>(PathCapacity)) continue;
        if (!nameMatchesPattern(search->namePattern, name)) continue;
        std::memcpy(result->name, name, length + 1);
        result->isDirectory = isDirectoryEntry(search->folder, entry);
        return true;
    }
}

}  // namespace

DirectorySearchHandle directorySearchStart(const char* pattern, DirectoryEntry* first) {
    if (pattern == nullptr || first == nullptr) return nullptr;
    const size_t length = strnlen(pattern, static_cast<size_t>(PathCapacity));
    if (length >= static_cast<size_t>(PathCapacity)) return nullptr;

    // The folder part runs up to and including the last '/'.
    const char* slash = std::strrchr(pattern, '/');
    const size_t folderLength = slash == nullptr ? 0 : static_cast<size_t>(slash - pattern) + 1;
    char folder[PathCapacity];
    if (folderLength == 0) {
        std::memcpy(folder, ".", 2);
    } else {
        std::memcpy(folder, pattern, folderLength);
        folder[folderLength] = '\0';
    }

    PlatformDirectorySearch* search = new (std::nothrow) PlatformDirectorySearch{};
    if (search == nullptr) return nullptr;
    std::memcpy(search->namePattern, pattern + folderLength, length - folderLength + 1);
    search->folder = opendir(folder);
    if (search->folder == nullptr || !nextMatch(search, first)) {
        directorySearchClose(search);
        return nullptr;
    }
    return search;
}

bool directorySearchNext(DirectorySearchHandle search, DirectoryEntry* entry) {
    if (search == nullptr || entry == nullptr) return false;
    return nextMatch(search, entry);
}

void directorySearchClose(DirectorySearchHandle search) {
    if (search == nullptr) return;
    if (search->folder != nullptr) closedir(search->folder);
    delete search;
}
