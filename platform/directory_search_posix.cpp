// Wildcard search of one folder on POSIX: readdir has no wildcard matching, so
// the name part of the pattern is matched here (platform/name_pattern.h).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/directory_search.h"
#include "platform/name_pattern.h"

// readdir's order is the file system's hash or creation order, which differs
// from machine to machine; the names are delivered sorted as Windows' own
// file system delivers them (letter case not counted), so one folder gives
// the same archive order, and the same output, on every machine.
struct PlatformDirectorySearch {
    // Open until the search is closed, as a Windows search holds its folder.
    DIR* folder;
    char namePattern[PathCapacity];
    std::unique_ptr<DirectoryEntry[]> matches;
    size_t matchCount;
    size_t capacity;
    size_t delivered;
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

bool appendMatch(PlatformDirectorySearch* search, const char* name, size_t length,
                 bool isDirectory) {
    if (search->matchCount == search->capacity) {
        const size_t grown = search->capacity == 0 ? 16 : search->capacity * 2;
        std::unique_ptr<DirectoryEntry[]> larger(new (std::nothrow) DirectoryEntry[grown]);
        if (!larger) return false;
        std::copy_n(search->matches.get(), search->matchCount, larger.get());
        search->matches = std::move(larger);
        search->capacity = grown;
    }
    DirectoryEntry& entry = search->matches[search->matchCount++];
    std::memcpy(entry.name, name, length + 1);
    entry.isDirectory = isDirectory;
    return true;
}

// Every matching name of the folder; false when memory ran out.
bool collectMatches(PlatformDirectorySearch* search) {
    for (;;) {
        const dirent* entry = readdir(search->folder);
        if (entry == nullptr) return true;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        const size_t length = std::strlen(name);
        if (length >= static_cast<size_t>(PathCapacity)) continue;
        if (!nameMatchesPattern(search->namePattern, name)) continue;
        if (!appendMatch(search, name, length, isDirectoryEntry(search->folder, entry))) {
            return false;
        }
    }
}

unsigned char upperCase(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Letter case does not count; names that differ only in case keep byte order.
bool deliveredBefore(const DirectoryEntry& a, const DirectoryEntry& b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a.name);
    const auto* y = reinterpret_cast<const unsigned char*>(b.name);
    for (; *x != 0 && upperCase(*x) == upperCase(*y); ++x, ++y) {
    }
    if (upperCase(*x) != upperCase(*y)) return upperCase(*x) < upperCase(*y);
    return std::strcmp(a.name, b.name) < 0;
}

bool nextMatch(PlatformDirectorySearch* search, DirectoryEntry* result) {
    if (search->delivered >= search->matchCount) return false;
    *result = search->matches[search->delivered++];
    return true;
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
    if (search->folder == nullptr || !collectMatches(search)) {
        directorySearchClose(search);
        return nullptr;
    }
    std::sort(search->matches.get(), search->matches.get() + search->matchCount, deliveredBefore);
    if (!nextMatch(search, first)) {
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
