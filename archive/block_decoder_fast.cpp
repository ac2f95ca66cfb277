#include "archive/block_decoder.h"
#include "archive/block_decoder_paths.h"

void buildFastDecodeTables() {}

uint64_t decodeDeltaBlock(const uint8_t* bytes, uint64_t length, uint64_t start, uint64_t size,
                          int16_t* out) {
    return decodeDeltaBlockReference(bytes, length, start, size, out);
}

uint64_t decodeRawBlock(const uint8_t* bytes, uint64_t length, uint64_t start, int16_t* out) {
    return decodeRawBlockReference(bytes, length, start, out);
}
