// Checking one source archive without converting it: everything a run reads
// of it is read, in the run's order and with the run's rules, every entry
// decoded, nothing encoded and nothing written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "archive/source_archive.h"

// Why a run would stop at an archive; None when it would convert it.
enum class ArchiveProblem {
    None,
    NameRule,         // found by the folder's pattern but not named z###.vud
    PathTooLong,      // the folder and the name do not fit a path
    NotReadable,      // not a regular file that can be opened for reading
    NoHeader,         // shorter than its header, or no "VUDPAC" magic
    NoEntries,        // an entry count below 1
    TableTooLarge,    // the output archive cannot hold an entry table that long
    TableCutShort,    // the file cannot hold the entry table its header declares
    EntryUnreadable,  // an entry breaks the format (entryResult says how)
    EntryTooLong,     // an entry's PCM passes the encoder's 32-bit byte count
    NoMemory,         // an entry's data or samples could not be reserved
};

struct ArchiveCheck {
    ArchiveProblem problem = ArchiveProblem::None;
    int32_t entryCount = 0;         // as the header declares; 0 when unread
    bool tableRead = false;         // the entry table was read
    int64_t audioMilliseconds = 0;  // of the entries decoded
    int32_t failedIndex = -1;       // the entry at fault, for the entry problems
    SourceEntry failedEntry = {};
    EntryReadResult entryResult = EntryReadResult::Ok;
};

// Checks the opened archive source as a run would convert it into a block at
// blockOffset of the output. One entry's data and samples are held at a time.
ArchiveCheck checkSourceArchive(std::FILE* source, int64_t blockOffset);

// One line saying why a run would stop (in the run's own words where it has
// them, such as "invalid vud size (id:40001)"), without a line break.
void describeArchiveProblem(const ArchiveCheck& check, char* text, size_t capacity);
