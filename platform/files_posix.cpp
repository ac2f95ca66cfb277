#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/files.h"
#include "platform/temporary_name.h"

namespace {

// Links followed before giving up, as the kernel's own limit.
constexpr int32_t MaxLinkDepth = 40;

// The temporary file of the run being written, for discardPendingOutputNow.
// Written by the worker before the flag is raised; read only after the flag
// was taken down by an exchange, so only one side ever acts on it.
char pendingPath[PlatformPathCapacity];
std::atomic<bool> pendingSet{false};
static_assert(std::atomic<bool>::is_always_lock_free);

bool copyText(char* target, size_t capacity, const char* text) {
    size_t length = std::strlen(text);
    if (length >= capacity) return false;
    std::memcpy(target, text, length + 1);
    return true;
}

// The final name path stands for once symbolic links are followed (the last
// link's target may not exist yet). false when the links loop or a name does
// not fit.
bool resolveDestination(const char* path, char* resolved) {
    if (!copyText(resolved, PlatformPathCapacity, path)) return false;
    for (int32_t depth = 0; depth < MaxLinkDepth; ++depth) {
        struct stat status {};
        if (::lstat(resolved, &status) != 0) return errno == ENOENT;
        if (!S_ISLNK(status.st_mode)) return true;
        char target[PlatformPathCapacity];
        ssize_t length = ::readlink(resolved, target, sizeof(target) - 1);
        if (length <= 0) return false;
        target[length] = '\0';
        if (target[0] == '/') {
            std::memcpy(resolved, target, static_cast<size_t>(length) + 1);
            continue;
        }
        // A relative target is relative to the link's own folder.
        const char* slash = std::strrchr(resolved, '/');
        size_t folderLength = slash == nullptr ? 0 : static_cast<size_t>(slash - resolved) + 1;
        if (folderLength + static_cast<size_t>(length) >= PlatformPathCapacity) return false;
        std::memcpy(resolved + folderLength, target, static_cast<size_t>(length) + 1);
    }
    return false;
}

void randomSuffix(char* out) {
    unsigned char bytes[TemporaryRandomLength];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // Only uniqueness matters here (O_EXCL guards the creation).
        static std::atomic<uint64_t> counter{0};
        uint64_t mix = (static_cast<uint64_t>(::getpid()) << 32) ^
                       static_cast<uint64_t>(std::time(nullptr)) ^
                       (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
        for (unsigned char& byte : bytes) {
            byte = static_cast<unsigned char>(mix);
            mix = (mix >> 8) | (mix << 56);
        }
    }
    for (int32_t i = 0; i < TemporaryRandomLength; ++i) out[i] = temporaryNameCharacter(bytes[i]);
    out[TemporaryRandomLength] = '\0';
}

// Creates the temporary file beside destination; the descriptor, or -1.
int createTemporary(const char* destination, char* temporaryPath) {
    const char* slash = std::strrchr(destination, '/');
    const int32_t folderLength =
        slash == nullptr ? 0 : static_cast<int32_t>(slash - destination) + 1;
    const int32_t prefixLength = temporaryNamePrefix(destination, folderLength, temporaryPath);
    if (prefixLength < 0) return -1;
    char* cursor = temporaryPath + prefixLength;
    for (int32_t attempt = 0; attempt < TemporaryAttempts; ++attempt) {
        randomSuffix(cursor);
        int fd = ::open(temporaryPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// Takes the temporary file off the emergency record; false when an emergency
// removal already took it.
bool takePending() {
    return pendingSet.exchange(false);
}

}  // namespace

bool identifyFile(const char* path, FileIdentity* identity) {
    struct stat status {};
    if (::stat(path, &status) != 0) return false;
    identity->device = static_cast<uint64_t>(status.st_dev);
    identity->inode = static_cast<uint64_t>(status.st_ino);
    return true;
}

OutputPathState inspectOutputPath(const char* path) {
    struct stat status {};
    if (::lstat(path, &status) != 0) return OutputPathState::Absent;
    if (S_ISLNK(status.st_mode) && ::stat(path, &status) != 0) {
        return errno == ENOENT ? OutputPathState::DanglingLink : OutputPathState::NotRegular;
    }
    return S_ISREG(status.st_mode) ? OutputPathState::RegularFile : OutputPathState::NotRegular;
}

bool beginOutput(const char* path, PendingOutput* output) {
    output->stream.reset();
    output->temporaryPath[0] = '\0';
    if (!resolveDestination(path, output->destinationPath)) return false;
    struct stat existing {};
    bool replacing = ::stat(output->destinationPath, &existing) == 0;
    if (replacing && !S_ISREG(existing.st_mode)) return false;

    int fd = createTemporary(output->destinationPath, output->temporaryPath);
    if (fd < 0) return false;
    // The replacement keeps the permissions of the file it replaces, as
    // writing into that file did (set-id bits excepted, which a write clears).
    if (replacing) (void)::fchmod(fd, existing.st_mode & 0777);
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        ::close(fd);
        ::unlink(output->temporaryPath);
        return false;
    }
    output->stream.reset(stream);
    std::memcpy(pendingPath, output->temporaryPath, sizeof pendingPath);
    pendingSet.store(true);
    return true;
}

bool commitOutput(PendingOutput* output) {
    std::FILE* stream = output->stream.release();
    if (stream == nullptr) return false;
    bool written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    // On the disk before the name moves: a crash right after the rename must
    // not leave an empty file where the old output stood.
    if (written && ::fsync(::fileno(stream)) != 0) written = false;
    if (std::fclose(stream) != 0) written = false;
    // Renamed while still on the emergency record: a removal before the
    // rename makes the rename fail, one after it finds no file, so neither
    // order leaves a temporary file behind or removes the finished output.
    if (!pendingSet.load()) return false;  // removed meanwhile by an emergency discard
    if (written && ::rename(output->temporaryPath, output->destinationPath) == 0) {
        pendingSet.store(false);
        return true;
    }
    if (takePending()) ::unlink(output->temporaryPath);
    return false;
}

void discardOutput(PendingOutput* output) {
    output->stream.reset();
    if (output->temporaryPath[0] == '\0') return;
    if (takePending()) ::unlink(output->temporaryPath);
    output->temporaryPath[0] = '\0';
}

void discardPendingOutputNow() {
    if (pendingSet.exchange(false)) ::unlink(pendingPath);
}

OwnedFile openSourceFile(const char* path) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat status {};
    int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "rb");
    if (stream == nullptr) {
        ::close(fd);
        return nullptr;
    }
    return OwnedFile(stream);
}
