#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "platform/files.h"

OwnedFile createOutputFile(const char* path, FileIdentity* identity) {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat status {};
    int flags = ::fcntl(fd, F_GETFL);
    // The header is written last, at offset 0: an output that cannot seek
    // could never be finished.
    if (::fstat(fd, &status) != 0 || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        ::lseek(fd, 0, SEEK_CUR) < 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        ::close(fd);
        return nullptr;
    }
    identity->device = static_cast<uint64_t>(status.st_dev);
    identity->inode = static_cast<uint64_t>(status.st_ino);
    identity->regularFile = S_ISREG(status.st_mode);
    return OwnedFile(stream);
}

bool deleteFileIfSame(const char* path, const FileIdentity& identity) {
    if (!identity.regularFile) return false;
    char* resolved = ::realpath(path, nullptr);
    if (resolved == nullptr) return false;
    std::unique_ptr<char, decltype(&std::free)> owned(resolved, &std::free);
    struct stat status {};
    if (::lstat(resolved, &status) != 0) return false;
    if (!S_ISREG(status.st_mode) || static_cast<uint64_t>(status.st_dev) != identity.device ||
        static_cast<uint64_t>(status.st_ino) != identity.inode) {
        return false;
    }
    return ::unlink(resolved) == 0;
}

bool fileCanBeOpened(const char* path) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}
