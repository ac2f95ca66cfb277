#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/tool_output_file.h"

OwnedFile createToolOutputFile(const char* path, const char** why) {
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
