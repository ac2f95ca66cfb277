// The files vudinfo creates in a folder the user names (--wav, --extract),
// through createToolOutputFile: nothing already standing under a new file's
// name is ever followed.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/console_text.h"
#include "platform/tool_output_file.h"

// Writes size bytes as the file at path through createToolOutputFile; false
// with a one-line report on standard error.
inline bool writeToolOutputFile(const char* path, const uint8_t* bytes, size_t size) {
    const char* why = nullptr;
    OwnedFile out = createToolOutputFile(path, &why);
    if (!out) {
        consolePrint(stderr, "%s: %s\n", path, why);
        return false;
    }
    bool written = size == 0 || std::fwrite(bytes, 1, size, out.get()) == size;
    if (std::fclose(out.release()) != 0) written = false;
    if (!written) consolePrint(stderr, "%s: write failed\n", path);
    return written;
}
