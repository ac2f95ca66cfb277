// vudinfo's view of source voice archives: header, entries, totals, WAV export.
#pragma once

#include <cstdint>

#include "archive/source_archive.h"

struct SourceTotals {
    uint64_t entries = 0;
    uint64_t blocks = 0;
    uint64_t compressedBytes = 0;
    uint64_t samples = 0;
    double seconds = 0;
    uint64_t silentBlocks = 0;
    uint64_t rawBlocks = 0;
    uint64_t deltaBlocks = 0;
};

// Lists one source archive on standard output and adds it to totals; with
// wavDir (may be null) writes each entry there as a WAV file. false, with a
// one-line reason on standard error, when the archive is bad.
bool describeSourceArchive(const char* path, const char* wavDir, SourceTotals* totals);

// The closing line over several archives (the totals count the good ones).
void printGrandTotals(const SourceTotals& totals, int archives, int badArchives);
