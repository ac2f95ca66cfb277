// Wildcard search of one folder on Win32. FindFirstFileW matches a pattern
// against the 8.3 short names as well ("*.vud" finds "z001.vudx" through its
// short name "Z001~1.VUD"), so every long name is matched again here with the
// rule every platform shares (platform/name_pattern.h).
#include <windows.h>

#include <cstring>
#include <new>

#include "platform/directory_search.h"
#include "platform/name_pattern.h"
#include "platform/path_separator.h"
#include "platform/win32/wide_text.h"

struct PlatformDirectorySearch {
    HANDLE find;
    char namePattern[PathCapacity];
};

namespace {

// Where the name part of a pattern begins: after the last separator, or
// after the drive of "C:name".
size_t namePartOffset(const char* pattern, size_t length) {
    size_t offset = 0;
    for (size_t i = 0; i < length; ++i) {
        if (isPathSeparator(pattern[i])) offset = i + 1;
    }
    if (offset == 0 && length >= 2 && pattern[1] == ':') offset = 2;
    return offset;
}

// Takes found when its name is one to yield; false to skip it.
bool takeFound(const PlatformDirectorySearch& search, const WIN32_FIND_DATAW& found,
               DirectoryEntry* result) {
    const wchar_t* name = found.cFileName;
    if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0) return false;
    char utf8[PathCapacity];
    // A name whose UTF-8 form does not fit the entry cannot be named by the
    // shell's paths either.
    if (narrowToUtf8(name, -1, utf8, PathCapacity) < 0) return false;
    if (!nameMatchesPattern(search.namePattern, utf8)) return false;
    std::memcpy(result->name, utf8, sizeof utf8);
    result->isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

// The next entry whose long name matches; false when none is left.
bool nextMatch(PlatformDirectorySearch* search, DirectoryEntry* result) {
    WIN32_FIND_DATAW found{};
    while (FindNextFileW(search->find, &found)) {
        if (takeFound(*search, found, result)) return true;
    }
    return false;
}

}  // namespace

DirectorySearchHandle directorySearchStart(const char* pattern, DirectoryEntry* first) {
    if (pattern == nullptr || first == nullptr) return nullptr;
    const size_t length = strnlen(pattern, static_cast<size_t>(PathCapacity));
    if (length >= static_cast<size_t>(PathCapacity)) return nullptr;
    WideText widePattern = widenUtf8(pattern);
    if (!widePattern) return nullptr;

    PlatformDirectorySearch* search = new (std::nothrow) PlatformDirectorySearch{};
    if (search == nullptr) return nullptr;
    const size_t nameOffset = namePartOffset(pattern, length);
    std::memcpy(search->namePattern, pattern + nameOffset, length - nameOffset + 1);

    WIN32_FIND_DATAW found{};
    search->find = FindFirstFileW(widePattern.get(), &found);
    if (search->find == INVALID_HANDLE_VALUE) {
        delete search;
        return nullptr;
    }
    if (!takeFound(*search, found, first) && !nextMatch(search, first)) {
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
    if (search->find != INVALID_HANDLE_VALUE) FindClose(search->find);
    delete search;
}
