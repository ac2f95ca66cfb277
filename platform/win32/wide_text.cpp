#include "platform/win32/wide_text.h"

#include <new>

WideText widenUtf8(const char* text) {
    if (text == nullptr) return nullptr;
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (units <= 0) return nullptr;
    WideText wide(new (std::nothrow) wchar_t[static_cast<size_t>(units)]);
    if (!wide) return nullptr;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide.get(), units) != units) {
        return nullptr;
    }
    return wide;
}

int32_t narrowToUtf8(const wchar_t* text, int32_t length, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity <= 0) return -1;
    buffer[0] = '\0';
    if (text == nullptr) return -1;
    if (length == 0) return 0;
    // A size of 0 would ask WideCharToMultiByte for the size instead of
    // converting; only the empty text fits one byte anyway.
    if (capacity == 1) return -1;
    // Room for the terminator: convert into capacity - 1 bytes at most.
    const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, length, buffer,
                                          capacity - 1, nullptr, nullptr);
    if (bytes <= 0) {
        buffer[0] = '\0';
        return -1;
    }
    // With length -1 the count includes the terminator that was converted.
    int32_t end = bytes;
    if (length < 0) end = bytes - 1;
    buffer[end] = '\0';
    return end;
}

int32_t ansiToUtf8(const char* text, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity <= 0) return -1;
    buffer[0] = '\0';
    if (text == nullptr) return -1;
    const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0) return -1;
    WideText wide(new (std::nothrow) wchar_t[static_cast<size_t>(units)]);
    if (!wide || MultiByteToWideChar(CP_ACP, 0, text, -1, wide.get(), units) != units) return -1;
    return narrowToUtf8(wide.get(), -1, buffer, capacity);
}
