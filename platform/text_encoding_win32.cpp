// Windows: the text is in the ANSI code page, which differs from system to
// system; converted through UTF-16.
#include <cstring>
#include <memory>
#include <new>

#include "platform/text_encoding.h"
#include "platform/win32/wide_text.h"

namespace {

// Every byte of an ANSI text makes at most three UTF-8 bytes.
constexpr size_t Utf8BytesPerAnsiByte = 3;

}  // namespace

int32_t systemTextToUtf8(const char* text, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity <= 0) return -1;
    buffer[0] = '\0';
    if (text == nullptr) return -1;
    const size_t length = std::strlen(text);
    if (length > 0xFFFFFF) return -1;
    const size_t stagingBytes = length * Utf8BytesPerAnsiByte + 1;
    std::unique_ptr<char[]> staging(new (std::nothrow) char[stagingBytes]);
    if (!staging) return -1;
    const int32_t converted = ansiToUtf8(text, staging.get(), static_cast<int32_t>(stagingBytes));
    if (converted < 0) return -1;
    const int32_t kept = wholeUtf8Prefix(staging.get(), converted, capacity - 1);
    std::memcpy(buffer, staging.get(), static_cast<size_t>(kept));
    buffer[kept] = '\0';
    return kept;
}
