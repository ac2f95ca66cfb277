#include "archive/source_archive.h"

#include <cstring>
#include <new>

#include "archive/byte_order.h"
#include "platform/owned_file.h"

namespace {

constexpr char SourceMagic[6] = {'V', 'U', 'D', 'P', 'A', 'C'};
// Compressed bytes up to this many are reserved without first asking whether
// the file holds them.
constexpr int64_t UncheckedDataLimit = int64_t{1} << 20;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c, char lower) {
    return c == lower || c == lower - ('a' - 'A');
}

// Length of the stream in bytes, or -1. Leaves the position at the end.
int64_t fileLength(std::FILE* file) {
    if (!seekFile(file, 0, SEEK_END)) return -1;
    return tellFile(file);
}

}  // namespace

int32_t parseSourceFileName(const char* name) {
    if (name == nullptr) return -1;
    // Look at no more than 9 bytes: enough to tell that a name is not 8 long.
    size_t length = 0;
    while (length < 9 && name[length] != '\0') ++length;
    if (length != 8) return -1;
    if (!isLetter(name[0], 'z')) return -1;
    if (!isDigit(name[1]) || !isDigit(name[2]) || !isDigit(name[3])) return -1;
    if (name[4] != '.') return -1;
    if (!isLetter(name[5], 'v') || !isLetter(name[6], 'u') || !isLetter(name[7], 'd')) return -1;
    return (name[1] - '0') * 100 + (name[2] - '0') * 10 + (name[3] - '0');
}

int32_t readSourceHeader(std::FILE* file, int32_t* entryCount, uint32_t* sampleRate) {
    if (file == nullptr) return -1;
    if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
    uint8_t header[SourceHeaderSize];
    if (std::fread(header, 1, sizeof header, file) != sizeof header) return -1;
    if (std::memcmp(header, SourceMagic, sizeof SourceMagic) != 0) return -1;
    if (entryCount != nullptr) *entryCount = readLe32Signed(header + 16);
    if (sampleRate != nullptr) *sampleRate = readLe32(header + 24);
    return 0;
}

SourceEntryTable readSourceEntryTable(std::FILE* file, int32_t entryCount) {
    SourceEntryTable table;
    if (file == nullptr || entryCount < 0) return table;

    // The file must hold the whole table before any room is reserved, so a
    // short file claiming a huge count costs nothing.
    const int64_t length = fileLength(file);
    if (length < 0) return table;
    const int64_t tableBytes = static_cast<int64_t>(entryCount) * SourceEntrySize;
    if (SourceHeaderSize + tableBytes > length) return table;

    std::unique_ptr<SourceEntry[]> entries(new (std::nothrow)
                                               SourceEntry[static_cast<size_t>(entryCount) + 1]);
    if (!entries) return table;

    if (std::fseek(file, SourceHeaderSize, SEEK_SET) != 0) return table;
    auto* raw = reinterpret_cast<uint8_t*>(entries.get());
    if (std::fread(raw, 1, static_cast<size_t>(tableBytes), file) !=
        static_cast<size_t>(tableBytes)) {
        return table;
    }
    // Decode each record in place from its little-endian bytes.
    for (int32_t i = 0; i < entryCount; ++i) {
        uint8_t record[SourceEntrySize];
        std::memcpy(record, raw + static_cast<size_t>(i) * SourceEntrySize, sizeof record);
        entries[i].id = readLe16(record);
        entries[i].blockCount = readLe16(record + 2);
        entries[i].offset = readLe32(record + 4);
    }

    // Like the format's own reader, leave the position at the end of the file.
    // Offsets are 32-bit: a longer file gives the last entry room up to 4 GiB - 1.
    if (std::fseek(file, 0, SEEK_END) != 0) return table;
    entries[entryCount].id = SentinelEntryId;
    entries[entryCount].blockCount = 0;
    entries[entryCount].offset = length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);

    table.entries = std::move(entries);
    table.entryCount = entryCount;
    return table;
}

EntryReadResult readSourceEntryDataChecked(std::FILE* file, const SourceEntry* table, int32_t i,
                                           SourceEntryData* data, bool reportSizeRule) {
    const SourceEntry& entry = table[i];
    const SourceEntry& next = table[i + 1];
    const uint32_t blockCount = entry.blockCount;

    std::unique_ptr<int16_t[]> sizes(new (std::nothrow) int16_t[blockCount]);
    if (!sizes) return EntryReadResult::NoMemory;

    if (!seekFile(file, entry.offset, SEEK_SET)) {
        return EntryReadResult::SeekFailed;
    }
    const size_t listBytes = static_cast<size_t>(blockCount) * 2;
    std::unique_ptr<uint8_t[]> list(new (std::nothrow) uint8_t[listBytes]);
    if (!list) return EntryReadResult::NoMemory;
    if (std::fread(list.get(), 1, listBytes, file) != listBytes) {
        return EntryReadResult::ShortSizeList;
    }

    int64_t sum = 0;
    bool negative = false;
    for (uint32_t b = 0; b < blockCount; ++b) {
        sizes[b] = static_cast<int16_t>(readLe16(list.get() + 2 * b));
        if (sizes[b] < 0) negative = true;
        sum += sizes[b];
    }
    list.reset();

    const int64_t room = static_cast<int64_t>(next.offset) - static_cast<int64_t>(entry.offset);
    if (negative || sum > room) {
        const EntryReadResult result =
            negative ? EntryReadResult::NegativeSize : EntryReadResult::SizeRule;
        if (reportSizeRule) reportEntryReadResult(entry, result);
        return result;
    }

    // The room can point past the end of the file (the next offset is only
    // a number). A short file then fails the read below; only a sum large
    // enough to matter is checked against the file's length first, so that no
    // room is reserved for bytes that do not exist. Asking for the length
    // costs two seeks and the stream's buffer, which most entries need not pay.
    if (sum > UncheckedDataLimit) {
        const int64_t dataStart = tellFile(file);
        if (dataStart < 0) return EntryReadResult::SeekFailed;
        const int64_t length = fileLength(file);
        if (length < 0 || sum > length - dataStart) return EntryReadResult::ShortData;
        if (!seekFile(file, dataStart, SEEK_SET)) return EntryReadResult::SeekFailed;
    }

    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[static_cast<size_t>(sum)]);
    if (!bytes) return EntryReadResult::NoMemory;
    if (std::fread(bytes.get(), 1, static_cast<size_t>(sum), file) != static_cast<size_t>(sum)) {
        return EntryReadResult::ShortData;
    }

    data->blockSizes = std::move(sizes);
    data->compressedBytes = std::move(bytes);
    data->blockCount = blockCount;
    data->compressedLength = static_cast<uint64_t>(sum);
    return EntryReadResult::Ok;
}

bool readSourceEntryData(std::FILE* file, const SourceEntry* table, int32_t i,
                         SourceEntryData* data) {
    if (file == nullptr || table == nullptr || data == nullptr || i < 0) return false;
    return readSourceEntryDataChecked(file, table, i, data, true) == EntryReadResult::Ok;
}

void reportEntryReadResult(const SourceEntry& entry, EntryReadResult result) {
    switch (result) {
        case EntryReadResult::NegativeSize:
        case EntryReadResult::SizeRule: {
            char message[48];
            std::snprintf(message, sizeof message, SizeRuleMessageFormat, entry.id);
            std::fprintf(stderr, "%s\n", message);
            return;
        }
        case EntryReadResult::Ok:
        case EntryReadResult::NoMemory:
        case EntryReadResult::SeekFailed:
        case EntryReadResult::ShortSizeList:
        case EntryReadResult::ShortData:
            return;
    }
}

const char* describeEntryReadResult(EntryReadResult result) {
    switch (result) {
        case EntryReadResult::Ok:
            return "ok";
        case EntryReadResult::NoMemory:
            return "not enough memory for the entry";
        case EntryReadResult::SeekFailed:
            return "entry offset cannot be reached";
        case EntryReadResult::ShortSizeList:
            return "size list cut short by the end of the file";
        case EntryReadResult::NegativeSize:
            return "negative block size";
        case EntryReadResult::SizeRule:
            return "block sizes exceed the room up to the next entry";
        case EntryReadResult::ShortData:
            return "compressed bytes cut short by the end of the file";
    }
    return "unknown";
}
