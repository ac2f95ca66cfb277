// Scope-bound ownership of C stdio streams, so every way out of a function
// closes the files it opened.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#if !defined(_WIN32)
#include <sys/types.h>

// The build asks for 64-bit file positions (_FILE_OFFSET_BITS, the top-level
// CMakeLists.txt); a 32-bit build without them could not reach 2 GiB.
static_assert(sizeof(off_t) == 8, "off_t must have 64 bits: build with _FILE_OFFSET_BITS=64");
#endif

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file != nullptr) std::fclose(file);
    }
};

// Owns one open stream; closes it when it goes out of scope.
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// path is UTF-8 on every platform; fopen would read it in the ANSI code page
// on Windows, so there the call converts it (platform/files_win32.cpp).
#if defined(_WIN32)
OwnedFile openFile(const char* path, const char* mode);
#else
inline OwnedFile openFile(const char* path, const char* mode) {
    return OwnedFile(std::fopen(path, mode));
}
#endif

// Stream positions in 64 bits on every platform (long has 32 bits on some).
inline bool seekFile(std::FILE* file, int64_t offset, int origin) {
#if defined(_WIN32)
    return _fseeki64(file, offset, origin) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
#endif
}

// The position, or -1.
inline int64_t tellFile(std::FILE* file) {
#if defined(_WIN32)
    return _ftelli64(file);
#else
    return static_cast<int64_t>(ftello(file));
#endif
}
