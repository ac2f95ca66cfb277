#include "platform/text_encoding.h"

int32_t wholeUtf8Prefix(const char* text, int32_t length, int32_t limit) {
    if (length <= limit) return length;
    int32_t cut = limit;
    // A continuation byte at the cut belongs to a sequence begun before it.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}
