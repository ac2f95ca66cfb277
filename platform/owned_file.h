// Scope-bound ownership of C stdio streams, so every way out of a function
// closes the files it opened.
#pragma once

#include <cstdio>
#include <memory>

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file != nullptr) std::fclose(file);
    }
};

// Owns one open stream; closes it when it goes out of scope.
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

inline OwnedFile openFile(const char* path, const char* mode) {
    return OwnedFile(std::fopen(path, mode));
}
