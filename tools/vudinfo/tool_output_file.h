// The files vudinfo creates in a folder the user names (--wav, --extract).
// Whatever already stands under a new file's name is never followed: a
// symbolic link planted there would otherwise have the tool write over the
// file it points at, anywhere the user may write.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/owned_file.h"

// path created, or emptied when it is a regular file of its own (one name,
// no other hard link), and opened for writing. Null with the reason in *why
// for a symbolic link, anything that is not a regular file, a file with
// other names, or a failed open; then nothing was changed.
inline OwnedFile createToolOutputFile(const char* path, const char** why) {
    // O_NONBLOCK: a pipe under the name must not make the open wait.
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        *why = errno == ELOOP ? "is a symbolic link; not followed" : std::strerror(errno);
        return nullptr;
    }
    struct stat status {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &status) != 0 || flags < 0) {
        *why = std::strerror(errno);
    } else if (!S_ISREG(status.st_mode)) {
        *why = "is not a regular file";
    } else if (status.st_nlink > 1) {
        *why = "has other names (hard links); not overwritten";
    } else if (::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || ::ftruncate(fd, 0) != 0) {
        *why = std::strerror(errno);
    } else if (std::FILE* stream = ::fdopen(fd, "wb")) {
        return OwnedFile(stream);
    } else {
        *why = std::strerror(errno);
    }
    ::close(fd);
    return nullptr;
}

// Writes size bytes as the file at path through createToolOutputFile; false
// with a one-line report on standard error.
inline bool writeToolOutputFile(const char* path, const uint8_t* bytes, size_t size) {
    const char* why = nullptr;
    OwnedFile out = createToolOutputFile(path, &why);
    if (!out) {
        std::fprintf(stderr, "%s: %s\n", path, why);
        return false;
    }
    bool written = size == 0 || std::fwrite(bytes, 1, size, out.get()) == size;
    if (std::fclose(out.release()) != 0) written = false;
    if (!written) std::fprintf(stderr, "%s: write failed\n", path);
    return written;
}
