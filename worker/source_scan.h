// Enumerating and counting the source archives of a folder.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/directory_search.h"
#include "platform/path_limits.h"

// Appended to the source folder to search it for archives.
constexpr const char* SourcePatternSuffix = "*.VUD";

struct SourceSearch {
    DirectorySearchHandle searchHandle;
    char foundName[PathCapacity];
};

extern SourceSearch sourceSearch;

// Sum of the entry counts of the archives accepted by the last count. Kept in
// 64 bits so that archives claiming huge counts cannot wrap it.
extern int64_t totalEntryCount;
// Entries converted since the last count.
extern int64_t convertedEntryCount;
// Length of the audio of those entries, in milliseconds. Written by the
// worker, read by a front end's progress line on another thread.
extern std::atomic<int64_t> convertedAudioMilliseconds;

// Pointer to sourceSearch.foundName, or null when nothing (more) is found.
const char* findFirstSourceArchive(const char* pattern);
const char* findNextSourceArchive();
int32_t countSourceArchives(const char* folder);

// The warning when a folder holds no archive to convert (the folder fills %s).
constexpr const char* NoArchivesWarning = "フォルダ %s 内に\nVUDファイルは見つかりませんでした.";

// The warning when the output path names a source archive of the run.
constexpr const char* OutputIsSourceWarning =
    "ファイル %s は変換するVUDファイルです.\n出力先には指定できません.";

// true when path names (links followed, hard links included) a file that a
// scan of folder would read. Uses a search of its own, never the enumeration
// of a run.
bool outputNamesSourceArchive(const char* folder, const char* path);
