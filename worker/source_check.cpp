#include "worker/source_check.h"

#include <cstdio>
#include <cstring>

#include "archive/output_archive.h"
#include "platform/files.h"
#include "platform/owned_file.h"
#include "worker/source_scan.h"

namespace {

// The archive name of folder's walk, checked as the run's conversion of it
// goes: path, name rule, a regular file, then its contents.
ArchiveCheck checkNamedArchive(const char* folder, const char* name, int64_t blockOffset) {
    ArchiveCheck check;
    char path[PathCapacity];
    const int joined = std::snprintf(path, sizeof path, "%s%s", folder, name);
    if (joined < 0 || joined >= PathCapacity) {
        check.problem = ArchiveProblem::PathTooLong;
        return check;
    }
    if (parseSourceFileName(name) < 0) {
        check.problem = ArchiveProblem::NameRule;
        return check;
    }
    OwnedFile source = openSourceFile(path);
    if (!source) {
        check.problem = ArchiveProblem::NotReadable;
        return check;
    }
    return checkSourceArchive(source.get(), blockOffset);
}

}  // namespace

SourceFolderCheck checkSourceFolder(const char* folder, ArchiveProblemReport report,
                                    void* context) {
    SourceFolderCheck result;
    result.countedArchives = countSourceArchives(folder);
    if (result.countedArchives <= 0) {
        result.countedArchives = 0;
        return result;
    }
    // Where the first archive's block starts; later ones start further on, by
    // the encoded sizes, which only a run knows.
    const int64_t firstBlockOffset =
        OutputHeaderSize + int64_t{MasterIndexEntrySize} * result.countedArchives;
    char pattern[PathCapacity + 8];
    std::snprintf(pattern, sizeof pattern, "%s%s", folder, SourcePatternSuffix);
    for (const char* name = findFirstSourceArchive(pattern); name != nullptr;
         name = findNextSourceArchive()) {
        result.walkedArchives += 1;
        const ArchiveCheck check = checkNamedArchive(folder, name, firstBlockOffset);
        if (check.tableRead) result.entries += check.entryCount;
        result.audioMilliseconds += check.audioMilliseconds;
        if (check.problem == ArchiveProblem::None) continue;
        if (result.stoppingArchives == 0) {
            std::snprintf(result.firstStopping, sizeof result.firstStopping, "%s", name);
        }
        result.stoppingArchives += 1;
        report(name, check, context);
    }
    return result;
}
