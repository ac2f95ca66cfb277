#include "tools/vudinfo/source_archive_info.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/block_decoder.h"
#include "archive/entry_decoding.h"
#include "platform/console_text.h"
#include "platform/owned_file.h"
#include "tools/source_writer/wav_file.h"
#include "tools/vudinfo/tool_output_file.h"
#include "tools/vudinfo/utf8_path.h"

namespace {

void addUp(SourceTotals* into, const SourceTotals& part) {
    into->entries += part.entries;
    into->blocks += part.blocks;
    into->compressedBytes += part.compressedBytes;
    into->samples += part.samples;
    into->seconds += part.seconds;
    into->silentBlocks += part.silentBlocks;
    into->rawBlocks += part.rawBlocks;
    into->deltaBlocks += part.deltaBlocks;
}

void printRow(const char* label, const SourceTotals& row) {
    consolePrint(stdout, "  %-7s %7llu %10llu %10llu %9.3f %7llu %7llu %7llu\n", label,
                 static_cast<unsigned long long>(row.blocks),
                 static_cast<unsigned long long>(row.compressedBytes),
                 static_cast<unsigned long long>(row.samples), row.seconds,
                 static_cast<unsigned long long>(row.silentBlocks),
                 static_cast<unsigned long long>(row.rawBlocks),
                 static_cast<unsigned long long>(row.deltaBlocks));
}

}  // namespace

bool describeSourceArchive(const char* path, const char* wavDir, SourceTotals* totals) {
    OwnedFile file = openFile(path, "rb");
    if (!file) {
        consolePrint(stderr, "%s: cannot open the file\n", path);
        return false;
    }
    int32_t entryCount = 0;
    uint32_t sampleRate = 0;
    if (readSourceHeader(file.get(), &entryCount, &sampleRate) != 0) {
        consolePrint(stderr,
                     "%s: not a source voice archive (shorter than 32 bytes or no "
                     "\"VUDPAC\" magic)\n",
                     path);
        return false;
    }
    const uint32_t rate = effectiveSampleRate(sampleRate);
    consolePrint(stdout, "%s: magic VUDPAC, %d entries, sample rate %u Hz%s\n", path, entryCount,
                 rate, sampleRate == 0 ? " (field 0)" : "");
    if (entryCount < 0) {
        consolePrint(stderr, "%s: negative entry count %d\n", path, entryCount);
        return false;
    }
    SourceEntryTable table = readSourceEntryTable(file.get(), entryCount);
    if (!table.entries) {
        consolePrint(stderr, "%s: the entry table of %d entries does not fit in the file\n", path,
                     entryCount);
        return false;
    }
    consolePrint(stdout, "  %-7s %7s %10s %10s %9s %7s %7s %7s\n", "id", "blocks", "bytes",
                 "samples", "seconds", "silent", "raw", "delta");

    const std::string stem = utf8Text(utf8Path(path).stem());
    SourceTotals archive;
    for (int32_t i = 0; i < entryCount; ++i) {
        const SourceEntry& entry = table.entries[i];
        SourceEntryData data;
        const EntryReadResult result =
            readSourceEntryDataChecked(file.get(), table.entries.get(), i, &data, false);
        if (result != EntryReadResult::Ok) {
            consolePrint(stderr, "%s: entry %d (id %u): %s\n", path, i, entry.id,
                         describeEntryReadResult(result));
            return false;
        }
        DecodedEntry decoded;
        if (!decodeSourceEntry(data, &decoded)) {
            consolePrint(stderr, "%s: entry %d (id %u): too many samples to decode\n", path, i,
                         entry.id);
            return false;
        }
        SourceTotals row;
        row.entries = 1;
        row.blocks = data.blockCount;
        row.compressedBytes = data.compressedLength;
        row.samples = decoded.sampleCount;
        row.seconds = static_cast<double>(decoded.sampleCount) / rate;
        for (uint32_t b = 0; b < data.blockCount; ++b) {
            const int16_t s = data.blockSizes[b];
            if (s == 0) {
                ++row.silentBlocks;
            } else if (s == RawBlockSize) {
                ++row.rawBlocks;
            } else {
                ++row.deltaBlocks;
            }
        }
        printRow(std::to_string(entry.id).c_str(), row);
        addUp(&archive, row);

        if (wavDir != nullptr) {
            char name[64];
            std::snprintf(name, sizeof name, "%s_%05u.wav", stem.c_str(), entry.id);
            const std::string wavPath = utf8Text(utf8Path(wavDir) / name);
            const std::vector<uint8_t> wav =
                wavFileBytes(decoded.samples.get(), decoded.sampleCount, rate);
            if (wav.empty() || !writeToolOutputFile(wavPath.c_str(), wav.data(), wav.size())) {
                consolePrint(stderr, "%s: cannot write %s\n", path, wavPath.c_str());
                return false;
            }
        }
    }
    printRow("total", archive);
    addUp(totals, archive);
    return true;
}

void printGrandTotals(const SourceTotals& totals, int archives, int badArchives) {
    consolePrint(
        stdout,
        "%d source archives (%d bad): %llu entries, %llu blocks (%llu silent, %llu raw, %llu "
        "delta), %llu bytes, %llu samples, %.3f s\n",
        archives, badArchives, static_cast<unsigned long long>(totals.entries),
        static_cast<unsigned long long>(totals.blocks),
        static_cast<unsigned long long>(totals.silentBlocks),
        static_cast<unsigned long long>(totals.rawBlocks),
        static_cast<unsigned long long>(totals.deltaBlocks),
        static_cast<unsigned long long>(totals.compressedBytes),
        static_cast<unsigned long long>(totals.samples), totals.seconds);
}
