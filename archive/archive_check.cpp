#include "archive/archive_check.h"

#include "archive/entry_decoding.h"
#include "archive/output_archive.h"

namespace {

ArchiveCheck failed(ArchiveCheck check, ArchiveProblem problem) {
    check.problem = problem;
    return check;
}

}  // namespace

ArchiveCheck checkSourceArchive(std::FILE* source, int64_t blockOffset) {
    ArchiveCheck check;
    uint32_t headerRate = 0;
    if (readSourceHeader(source, &check.entryCount, &headerRate) < 0) {
        return failed(check, ArchiveProblem::NoHeader);
    }
    if (check.entryCount < 1) {
        check.entryCount = 0;
        return failed(check, ArchiveProblem::NoEntries);
    }
    if (!outputBlockFits(blockOffset, int64_t{OutputEntrySize} * check.entryCount)) {
        return failed(check, ArchiveProblem::TableTooLarge);
    }
    SourceEntryTable table = readSourceEntryTable(source, check.entryCount);
    if (!table.entries) return failed(check, ArchiveProblem::TableCutShort);
    check.tableRead = true;

    const uint32_t sampleRate = effectiveSampleRate(headerRate);
    for (int32_t i = 0; i < check.entryCount; ++i) {
        DecodedEntry decoded;
        EntryReadResult why = EntryReadResult::Ok;
        const EntryOutcome outcome =
            readAndDecodeEntry(source, table.entries.get(), i, &decoded, &why);
        switch (outcome) {
            case EntryOutcome::Decoded:
                check.audioMilliseconds += audioMilliseconds(decoded.sampleCount, sampleRate);
                continue;
            case EntryOutcome::Unreadable:
            case EntryOutcome::NoMemory:
                break;
        }
        check.failedIndex = i;
        check.failedEntry = table.entries[i];
        check.entryResult = why;
        if (outcome == EntryOutcome::NoMemory) return failed(check, ArchiveProblem::NoMemory);
        return failed(check, why == EntryReadResult::Ok ? ArchiveProblem::EntryTooLong
                                                        : ArchiveProblem::EntryUnreadable);
    }
    return check;
}

void describeArchiveProblem(const ArchiveCheck& check, char* text, size_t capacity) {
    const int entry = check.failedIndex + 1;
    const unsigned id = check.failedEntry.id;
    switch (check.problem) {
        case ArchiveProblem::None:
            std::snprintf(text, capacity, "converts");
            return;
        case ArchiveProblem::NameRule:
            std::snprintf(text, capacity, "not named as a voice archive (z000.vud to z999.vud)");
            return;
        case ArchiveProblem::PathTooLong:
            std::snprintf(text, capacity, "the folder and the name make too long a path");
            return;
        case ArchiveProblem::NotReadable:
            std::snprintf(text, capacity, "not a file that can be read");
            return;
        case ArchiveProblem::NoHeader:
            std::snprintf(text, capacity,
                          "not a voice archive (shorter than 32 bytes or no \"VUDPAC\" magic)");
            return;
        case ArchiveProblem::NoEntries:
            std::snprintf(text, capacity, "no entries");
            return;
        case ArchiveProblem::TableTooLarge:
            std::snprintf(text, capacity, "%d entries: more than the output archive can hold",
                          static_cast<int>(check.entryCount));
            return;
        case ArchiveProblem::TableCutShort:
            std::snprintf(text, capacity, "%d entries: a table the file is too short to hold",
                          static_cast<int>(check.entryCount));
            return;
        case ArchiveProblem::EntryUnreadable:
            if (check.entryResult == EntryReadResult::SizeRule ||
                check.entryResult == EntryReadResult::NegativeSize) {
                std::snprintf(text, capacity, SizeRuleMessageFormat, id);
                return;
            }
            std::snprintf(text, capacity, "entry %d (id:%u): %s", entry, id,
                          describeEntryReadResult(check.entryResult));
            return;
        case ArchiveProblem::EntryTooLong:
            std::snprintf(text, capacity,
                          "entry %d (id:%u): more samples than the encoder takes at once", entry,
                          id);
            return;
        case ArchiveProblem::NoMemory:
            std::snprintf(text, capacity, "entry %d (id:%u): not enough memory", entry, id);
            return;
    }
}
