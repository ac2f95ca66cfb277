// Converting one source archive into its block of the output archive.
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/output_archive.h"

// Size of the block written (a multiple of 8, at least 8), or 0 on failure.
int32_t convertSourceArchive(const char* archiveName, std::FILE* output, int32_t blockOffset,
                             MasterIndexEntry* masterIndex, int32_t archiveIndex);

// Size of the block written, padding included, or -1 on failure.
int32_t writeArchiveBlock(const char* archiveName, std::FILE* source, std::FILE* output,
                          int32_t blockOffset, int32_t bitRate);
