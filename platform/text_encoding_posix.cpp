// POSIX systems of this program run in UTF-8: the text is copied.
#include <cstring>

#include "platform/text_encoding.h"

int32_t systemTextToUtf8(const char* text, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity <= 0) return -1;
    buffer[0] = '\0';
    if (text == nullptr) return -1;
    const int32_t length = static_cast<int32_t>(strnlen(text, static_cast<size_t>(capacity)));
    const int32_t kept = wholeUtf8Prefix(text, length, capacity - 1);
    std::memcpy(buffer, text, static_cast<size_t>(kept));
    buffer[kept] = '\0';
    return kept;
}
