// Wildcard search of one folder: "FOLDER/NAME-PATTERN", where the name pattern
// may hold '*' (any run of characters) and '?' and letter case does not count.
// Names come in name order, letter case not counted, as Windows' own file
// system delivers them: the same folder is walked alike on every machine.
#pragma once

#include "platform/path_limits.h"

struct PlatformDirectorySearch;
typedef PlatformDirectorySearch* DirectorySearchHandle;

struct DirectoryEntry {
    char name[PathCapacity];  // bare name, NUL-terminated
    bool isDirectory;
};

// Starts a search and fills the first match; null when nothing matches or the
// folder cannot be read (then nothing stays open).
DirectorySearchHandle directorySearchStart(const char* pattern, DirectoryEntry* first);
// false when no entry is left.
bool directorySearchNext(DirectorySearchHandle search, DirectoryEntry* entry);
void directorySearchClose(DirectorySearchHandle search);
