// What both systems' console text shares.
#include "platform/console_text.h"

bool consolePrint(std::FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const bool written = consolePrintList(stream, format, arguments);
    va_end(arguments);
    return written;
}
