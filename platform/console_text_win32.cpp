// A console shows wide characters correctly whatever its code page; a pipe
// or a file gets the UTF-8 bytes through the C stream.
#include <io.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/win32/console_handle.h"
#include "platform/console_text.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

constexpr char ClearLineEnd[] = "\033[K";
constexpr size_t ClearLineEndLength = sizeof ClearLineEnd - 1;
// Older consoles refuse very long single writes.
constexpr DWORD ConsoleChunkUnits = 8192;
constexpr size_t FormatBufferBytes = 1024;

bool writeWide(HANDLE console, const wchar_t* text, DWORD units) {
    while (units > 0) {
        DWORD chunk = units < ConsoleChunkUnits ? units : ConsoleChunkUnits;
        // A surrogate pair is never cut in two.
        if (chunk < units && IS_HIGH_SURROGATE(text[chunk - 1])) chunk -= 1;
        DWORD written = 0;
        if (!WriteConsoleW(console, text, chunk, &written, nullptr) || written == 0) return false;
        text += written;
        units -= written;
    }
    return true;
}

bool writeUtf8(HANDLE console, const char* text, size_t length) {
    if (length == 0) return true;
    if (length > static_cast<size_t>(INT32_MAX)) return false;
    const int bytes = static_cast<int>(length);
    // Not MB_ERR_INVALID_CHARS: a stray byte shows as a replacement
    // character instead of losing the whole message.
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0);
    if (units <= 0) return false;
    std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[static_cast<size_t>(units)]);
    if (!wide || MultiByteToWideChar(CP_UTF8, 0, text, bytes, wide.get(), units) != units) {
        return false;
    }
    return writeWide(console, wide.get(), static_cast<DWORD>(units));
}

// What the sequence does: blanks from the cursor to the end of its row,
// leaving the cursor where it is.
bool blankToLineEnd(HANDLE console) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info)) return false;
    const SHORT column = info.dwCursorPosition.X;
    const DWORD cells = info.dwSize.X > column ? static_cast<DWORD>(info.dwSize.X - column) : 0;
    DWORD done = 0;
    return FillConsoleOutputCharacterW(console, L' ', cells, info.dwCursorPosition, &done) != 0 &&
           FillConsoleOutputAttribute(console, info.wAttributes, cells, info.dwCursorPosition,
                                      &done) != 0;
}

bool writeWithoutSequences(HANDLE console, const char* text, size_t length) {
    for (;;) {
        const char* end = text + length;
        const char* clear = std::search(text, end, ClearLineEnd, ClearLineEnd + ClearLineEndLength);
        if (!writeUtf8(console, text, static_cast<size_t>(clear - text))) return false;
        if (clear == end) return true;
        if (!blankToLineEnd(console)) return false;
        length = static_cast<size_t>(end - clear) - ClearLineEndLength;
        text = clear + ClearLineEndLength;
    }
}

}  // namespace

HANDLE streamHandle(std::FILE* stream) {
    const int descriptor = _fileno(stream);
    if (descriptor < 0) return INVALID_HANDLE_VALUE;
    return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

ConsoleWrite writeConsoleText(HANDLE handle, const char* text, size_t length) {
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) {
        return ConsoleWrite::NotConsole;
    }
    const bool sequences = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
                           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    const bool written =
        sequences ? writeUtf8(handle, text, length) : writeWithoutSequences(handle, text, length);
    return written ? ConsoleWrite::Written : ConsoleWrite::Failed;
}

bool consoleWrite(std::FILE* stream, const char* text, size_t length) {
    const HANDLE handle = streamHandle(stream);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        return length == 0 || std::fwrite(text, 1, length, stream) == length;
    }
    // What the stream still holds comes first.
    if (std::fflush(stream) != 0) return false;
    return writeConsoleText(handle, text, length) == ConsoleWrite::Written;
}

bool consolePuts(std::FILE* stream, const char* text) {
    return consoleWrite(stream, text, std::strlen(text));
}

bool consolePrintList(std::FILE* stream, const char* format, va_list arguments) {
    char small[FormatBufferBytes];
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (length < 0) return false;
    if (static_cast<size_t>(length) < sizeof small) {
        return consoleWrite(stream, small, static_cast<size_t>(length));
    }
    std::unique_ptr<char[]> large(new (std::nothrow) char[static_cast<size_t>(length) + 1]);
    if (!large) return false;
    std::vsnprintf(large.get(), static_cast<size_t>(length) + 1, format, arguments);
    return consoleWrite(stream, large.get(), static_cast<size_t>(length));
}
