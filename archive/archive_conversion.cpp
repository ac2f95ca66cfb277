#include "archive/archive_conversion.h"

#include <cstdint>
#include <cstdio>

#include "app/shell_state.h"
#include "app/status_services.h"
#include "archive/block_decoder.h"
#include "archive/entry_decoding.h"
#include "archive/source_archive.h"
#include "encoder/encoder_pool.h"
#include "encoder/entry_encoding.h"
#include "platform/console_text.h"
#include "platform/files.h"
#include "platform/owned_file.h"
#include "platform/path_limits.h"
#include "worker/source_scan.h"

namespace {

constexpr int32_t LargeEntryCount = 100000;
// Room for an archive name of a full path's length plus " (nnn/nnn)" with
// counts of any 32-bit width.
constexpr int32_t LabelCapacity = PathCapacity + 32;
constexpr int32_t WarningCapacity = 64;
// PCM read ahead for the encoder helpers, at most (one entry may go over):
// a few tens of megabytes, with the helpers' copies, for any number of them.
constexpr int64_t ReadAheadByteLimit = int64_t{16} << 20;

// What one archive's entry loop works on.
struct BlockWork {
    const char* archiveName;
    std::FILE* source;
    std::FILE* output;
    int32_t blockOffset;
    int32_t bitRate;
    uint32_t sampleRate;
    SourceEntry* entries;
    int32_t entryCount;
    int64_t blockSize;  // grows by each entry's stream
};

bool formatLabel(const BlockWork& work, int32_t index, char* label) {
    int written = std::snprintf(label, LabelCapacity, "%s (%3d/%3d)", work.archiveName, index + 1,
                                work.entryCount);
    return written >= 0 && written < LabelCapacity;
}

// Reads and decodes entry index; why it could not be read is kept in *why,
// for reportEntryReadResult once the conversion reaches that entry.
EntryOutcome decodeEntry(const BlockWork& work, int32_t index, DecodedEntry* decoded,
                         EntryReadResult* why) {
    return readAndDecodeEntry(work.source, work.entries, index, decoded, why);
}

void warnEntryFailed(const SourceEntry& entry) {
    char warning[WarningCapacity];
    std::snprintf(warning, sizeof(warning), "cant encode/write mp3 (id:%d)\n",
                  static_cast<int>(entry.id));
    showWarning(warning);
}

// Records a stream of streamSize bytes written for entry index.
bool recordEntry(BlockWork* work, int32_t index, int32_t streamSize, int64_t milliseconds) {
    work->entries[index].blockCount = 0;
    work->entries[index].offset = static_cast<uint32_t>(streamSize);
    work->blockSize += streamSize;
    if (!outputBlockFits(work->blockOffset, work->blockSize)) return false;
    convertedEntryCount += 1;
    convertedAudioMilliseconds.fetch_add(milliseconds);
    showProgress();
    return true;
}

// Each entry in turn: read, decode, encode into the output.
bool convertEntriesInProcess(BlockWork* work) {
    for (int32_t i = 0; i < work->entryCount; ++i) {
        char label[LabelCapacity];
        if (!formatLabel(*work, i, label)) return false;

        DecodedEntry decoded;
        EntryReadResult why = EntryReadResult::Ok;
        if (decodeEntry(*work, i, &decoded, &why) != EntryOutcome::Decoded) {
            reportEntryReadResult(work->entries[i], why);
            return false;
        }
        const uint64_t sampleCount = decoded.sampleCount;
        // The rate's bits reach the library unchanged, whatever their value:
        // the library judges the rate, and its refusal fails this entry.
        int32_t streamSize = encodeEntry(
            label, work->output, static_cast<int32_t>(work->sampleRate), decoded.samples.get(),
            static_cast<uint32_t>(sampleCount * sizeof(int16_t)), work->bitRate);
        decoded.samples.reset();
        if (streamSize < 0) {
            warnEntryFailed(work->entries[i]);
            return false;
        }
        if (!recordEntry(work, i, streamSize, audioMilliseconds(sampleCount, work->sampleRate))) {
            return false;
        }
    }
    return true;
}

// Writes one entry's stream as encodeEntry would have: all bytes in the
// file, not only in the stream's buffer, before its size is recorded.
bool writeStream(std::FILE* output, const PooledStream& stream) {
    if (stream.size > 0 && std::fwrite(stream.bytes.get(), 1, static_cast<size_t>(stream.size),
                                       output) != static_cast<size_t>(stream.size)) {
        return false;
    }
    return std::fflush(output) == 0 && std::ferror(output) == 0;
}

// The most stream bytes the archive can still hold after this block's
// entries so far.
int32_t streamRoom(const BlockWork& work) {
    const int64_t room = OutputArchiveLimit - 1 - work.blockOffset - work.blockSize;
    return room > 0 ? static_cast<int32_t>(room) : 0;
}

// The same entries through the encoder pool: read and decoded in table order
// and handed to the helpers while the pool has room (by count and by PCM
// bytes), the streams taken back and written in table order. What the user
// sees (labels, progress, messages) comes in the order and with the outcome
// of the loop above: an entry read ahead that cannot be read is reported,
// and fails the archive, only once every entry before it is written; one
// that finds no memory while others are ahead is tried again later, at the
// latest when nothing else is held.
bool convertEntriesPooled(BlockWork* work) {
    const int32_t capacity = encoderPoolCapacity();
    int32_t readAhead = 0;                // entries before this one are with the pool
    int32_t failedAt = work->entryCount;  // the first entry that cannot be read
    EntryReadResult failure = EntryReadResult::Ok;
    int64_t milliseconds[2 * MaxEncoderJobs] = {};
    int64_t pcmBytes[2 * MaxEncoderJobs] = {};
    int64_t bytesAhead = 0;
    for (int32_t i = 0; i < work->entryCount; ++i) {
        while (readAhead < failedAt && readAhead - i < capacity &&
               bytesAhead < ReadAheadByteLimit) {
            DecodedEntry decoded;
            EntryReadResult why = EntryReadResult::Ok;
            const EntryOutcome outcome = decodeEntry(*work, readAhead, &decoded, &why);
            if (outcome == EntryOutcome::NoMemory && readAhead > i) break;
            if (outcome != EntryOutcome::Decoded) {
                failedAt = readAhead;
                failure = why;
                break;
            }
            const int64_t length = audioMilliseconds(decoded.sampleCount, work->sampleRate);
            const uint32_t byteCount = static_cast<uint32_t>(decoded.sampleCount * sizeof(int16_t));
            PooledEntry entry{std::move(decoded.samples),
                              byteCount,
                              static_cast<int32_t>(work->sampleRate),
                              work->bitRate,
                              length,
                              streamRoom(*work)};
            if (!encoderPoolSubmit(std::move(entry))) {
                failedAt = readAhead;
                break;
            }
            milliseconds[readAhead % capacity] = length;
            pcmBytes[readAhead % capacity] = byteCount;
            bytesAhead += byteCount;
            readAhead += 1;
        }
        char label[LabelCapacity];
        if (!formatLabel(*work, i, label)) return false;
        if (i == failedAt) {
            reportEntryReadResult(work->entries[i], failure);
            return false;
        }

        PooledStream stream{nullptr, -1, false};
        if (!encoderPoolTakeOldest(&stream)) return false;
        bytesAhead -= pcmBytes[i % capacity];
        if (stream.labelReached) showEntryLabel(label);
        if (stream.size > 0 && !stream.bytes) return false;  // more than the archive can hold
        if (stream.size < 0 || !writeStream(work->output, stream)) {
            warnEntryFailed(work->entries[i]);
            return false;
        }
        if (!recordEntry(work, i, stream.size, milliseconds[i % capacity])) return false;
    }
    return true;
}

}  // namespace

int32_t writeArchiveBlock(const char* archiveName, std::FILE* source, std::FILE* output,
                          int32_t blockOffset, int32_t bitRate) {
    int32_t entryCount = 0;
    uint32_t sampleRate = 0;
    if (readSourceHeader(source, &entryCount, &sampleRate) < 0) return -1;
    if (entryCount < 1) return -1;
    sampleRate = effectiveSampleRate(sampleRate);

    int64_t blockSize = int64_t{OutputEntrySize} * entryCount;
    if (blockOffset < 0 || !outputBlockFits(blockOffset, blockSize)) return -1;

    SourceEntryTable table = readSourceEntryTable(source, entryCount);
    if (!table.entries) return -1;
    SourceEntry* entries = table.entries.get();

    if (!writeEntryTable(output, entries, entryCount)) return -1;

    BlockWork work{archiveName, source,  output,     blockOffset, bitRate,
                   sampleRate,  entries, entryCount, blockSize};
    const bool converted =
        encoderPoolRunning() ? convertEntriesPooled(&work) : convertEntriesInProcess(&work);
    // Entries still with the helpers belong to an archive that failed.
    encoderPoolDiscard();
    if (!converted) return -1;
    blockSize = work.blockSize;

    if (std::fseek(output, blockOffset, SEEK_SET) != 0) return -1;
    if (!writeEntryTable(output, entries, entryCount)) return -1;
    if (std::fseek(output, 0, SEEK_END) != 0) return -1;
    table.entries.reset();

    int32_t padding = blockPaddingFor(blockSize);
    if (!writeZeroBytes(output, padding)) return -1;
    blockSize += padding;
    if (std::ferror(output) != 0) return -1;
    return static_cast<int32_t>(blockSize);
}

int32_t convertSourceArchive(const char* archiveName, std::FILE* output, int32_t blockOffset,
                             MasterIndexEntry* masterIndex, int32_t archiveIndex) {
    // A path that does not fit is refused, never cut to another file's name.
    char fullPath[PathCapacity];
    int pathLength = std::snprintf(fullPath, sizeof(fullPath), "%s%s", sourceFolder, archiveName);
    if (pathLength < 0 || pathLength >= PathCapacity) return 0;

    int32_t fileNumber = parseSourceFileName(archiveName);
    if (fileNumber < 0) return 0;

    // Never waits on a pipe planted under an archive's name: only a regular
    // file is read.
    OwnedFile source = openSourceFile(fullPath);
    if (!source) return 0;

    int32_t entryCount = 0;
    if (readSourceHeader(source.get(), &entryCount, nullptr) < 0) return 0;
    if (entryCount < 1) return 0;
    if (entryCount >= LargeEntryCount) consolePrint(stderr, "VUD files over (%s)\n", archiveName);

    masterIndex[archiveIndex].archiveKey =
        static_cast<uint32_t>(fileNumber) * ArchiveKeyFileNumberFactor +
        static_cast<uint32_t>(entryCount);
    masterIndex[archiveIndex].blockOffset = static_cast<uint32_t>(blockOffset);

    int32_t row = bitRateSelection.load();
    int32_t blockSize = -1;
    if (row >= 0 && row < BitRateRowCount) {
        blockSize = writeArchiveBlock(archiveName, source.get(), output, blockOffset,
                                      BitRateTable[row].kbps);
    }
    if (blockSize < 0) {
        consolePuts(stderr, "can't convert\n");
        return 0;
    }
    return blockSize;
}
