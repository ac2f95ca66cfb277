// Any bytes as a whole source archive file: header, entry table, every
// entry's data, and decoding on the fast paths checked against the
// reference loop; a check of the archive must stop at the entry the reading
// stops at.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/archive_check.h"
#include "archive/block_decoder.h"
#include "archive/output_archive.h"
#include "archive/source_archive.h"
#include "platform/owned_file.h"

namespace {

void decodeAndCompare(const SourceEntryData& data) {
    DecodedEntry fast;
    DecodedEntry reference;
    const bool fastOk = decodeSourceEntry(data, &fast);
    const bool referenceOk = decodeSourceEntryReference(data, &reference);
    if (fastOk != referenceOk) std::abort();
    if (!fastOk) return;
    if (fast.sampleCount != reference.sampleCount) std::abort();
    if (fast.sampleCount > fast.sampleCapacity) std::abort();
    if (fast.sampleCount != 0 &&
        std::memcmp(fast.samples.get(), reference.samples.get(), 2 * fast.sampleCount) != 0) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    buildDecodeTables();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0) return 0;
    OwnedFile file(fmemopen(const_cast<uint8_t*>(bytes), size, "rb"));
    if (!file) return 0;
    int32_t entryCount = 0;
    uint32_t sampleRate = 0;
    if (readSourceHeader(file.get(), &entryCount, &sampleRate) != 0) return 0;
    if (entryCount <= 0) return 0;
    SourceEntryTable table = readSourceEntryTable(file.get(), entryCount);
    if (!table.entries) return 0;
    if (table.entries[entryCount].offset != size) std::abort();
    int32_t firstUnread = -1;
    for (int32_t i = 0; i < entryCount; ++i) {
        SourceEntryData data;
        if (!readSourceEntryData(file.get(), table.entries.get(), i, &data)) {
            if (firstUnread < 0) firstUnread = i;
            continue;
        }
        if (data.compressedLength > size) std::abort();
        decodeAndCompare(data);
    }
    const ArchiveCheck check =
        checkSourceArchive(file.get(), OutputHeaderSize + MasterIndexEntrySize);
    if (check.failedIndex != firstUnread) std::abort();
    if ((check.problem == ArchiveProblem::None) != (firstUnread < 0)) std::abort();
    return 0;
}
