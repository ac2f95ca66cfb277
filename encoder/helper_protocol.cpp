#include "encoder/helper_protocol.h"

#include "archive/byte_order.h"

void packHelloHeader(const HelloHeader& header, uint8_t* bytes) {
    writeLe32(bytes, HelloMagic);
    writeLe32(bytes + 4, header.pathLength);
}

void packReadyHeader(const ReadyHeader& header, uint8_t* bytes) {
    writeLe32(bytes, ReadyMagic);
    writeLe32(bytes + 4, static_cast<uint32_t>(header.versionNumber));
}

void packEntryHeader(const EntryHeader& header, uint8_t* bytes) {
    writeLe32(bytes, EntryMagic);
    writeLe32(bytes + 4, static_cast<uint32_t>(header.sampleRate));
    writeLe32(bytes + 8, static_cast<uint32_t>(header.bitRate));
    writeLe32(bytes + 12, header.pcmByteCount);
}

void packStreamHeader(const StreamHeader& header, uint8_t* bytes) {
    writeLe32(bytes, StreamMagic);
    writeLe32(bytes + 4, static_cast<uint32_t>(header.streamSize));
    writeLe32(bytes + 8, header.labelReached ? 1 : 0);
}

bool unpackHelloHeader(const uint8_t* bytes, HelloHeader* header) {
    if (readLe32(bytes) != HelloMagic) return false;
    header->pathLength = readLe32(bytes + 4);
    return header->pathLength >= 1 && header->pathLength <= HelloPathLimit;
}

bool unpackReadyHeader(const uint8_t* bytes, ReadyHeader* header) {
    if (readLe32(bytes) != ReadyMagic) return false;
    header->versionNumber = readLe32Signed(bytes + 4);
    return true;
}

bool unpackEntryHeader(const uint8_t* bytes, EntryHeader* header) {
    if (readLe32(bytes) != EntryMagic) return false;
    header->sampleRate = readLe32Signed(bytes + 4);
    header->bitRate = readLe32Signed(bytes + 8);
    header->pcmByteCount = readLe32(bytes + 12);
    return true;
}

bool unpackStreamHeader(const uint8_t* bytes, StreamHeader* header) {
    if (readLe32(bytes) != StreamMagic) return false;
    header->streamSize = readLe32Signed(bytes + 4);
    const uint32_t reached = readLe32(bytes + 8);
    if (header->streamSize < -1 || reached > 1) return false;
    header->labelReached = reached == 1;
    return true;
}
