// A check of a source folder before a run: the folder is counted and walked
// as a run walks it, and every archive checked as the run would convert it,
// so that a user learns before a long run whether it can finish.
#pragma once

#include <cstdint>

#include "archive/archive_check.h"
#include "platform/path_limits.h"

struct SourceFolderCheck {
    int32_t countedArchives = 0;   // what a run's count finds; 0: the run would find none
    int32_t walkedArchives = 0;    // every name the run's walk meets
    int32_t stoppingArchives = 0;  // the archives a run would stop at
    int64_t entries = 0;           // declared by the archives whose tables were read
    int64_t audioMilliseconds = 0;
    char firstStopping[PathCapacity] = {};  // where a run would stop
};

// Called for each archive a run would stop at, in the run's order.
using ArchiveProblemReport = void (*)(const char* name, const ArchiveCheck& check, void* context);

// Checks the archives of folder (a path ending in its separator). Reads only;
// holds one archive's table and one entry's data and samples at a time.
SourceFolderCheck checkSourceFolder(const char* folder, ArchiveProblemReport report, void* context);
