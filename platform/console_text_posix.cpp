// A terminal takes the UTF-8 bytes as they are: the stream writes them.
#include <cstdio>

#include "platform/console_text.h"

bool consoleWrite(std::FILE* stream, const char* text, size_t length) {
    return length == 0 || std::fwrite(text, 1, length, stream) == length;
}

bool consolePuts(std::FILE* stream, const char* text) {
    return std::fputs(text, stream) >= 0;
}

bool consolePrintList(std::FILE* stream, const char* format, va_list arguments) {
    return std::vfprintf(stream, format, arguments) >= 0;
}
