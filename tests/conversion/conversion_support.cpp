#include "tests/conversion/conversion_support.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "tests/support/open_handles.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/shell_state.h"
#include "archive/archive_conversion.h"
#include "archive/block_decoder.h"
#include "encoder/encoder_library.h"
#include "platform/owned_file.h"

std::vector<EncodedEntry> silentEntries(int32_t count, uint16_t firstId, size_t samples) {
    std::vector<int16_t> pcm(samples, 0);
    std::vector<EncodedEntry> entries;
    entries.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        entries.push_back(encodeVoiceEntry(static_cast<uint16_t>(firstId + i), pcm.data(),
                                           pcm.size(), WriterOptions{}));
    }
    return entries;
}

bool writeSourceArchive(const std::string& path, const std::vector<EncodedEntry>& entries,
                        uint32_t sampleRate) {
    return writeBytesToFile(path, buildSourceArchive(entries, sampleRate).bytes);
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    OwnedFile file = openFile(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

void setSourceFolder(const std::string& folder) {
    std::snprintf(sourceFolder, sizeof(sourceFolder), "%s", folder.c_str());
}

CapturedOutput::CapturedOutput(int fd) : fd_(fd) {
    std::fflush(fd == 1 ? stdout : stderr);
#if defined(_WIN32)
    // The ANSI calls, as the C library's fopen and unlink take that path.
    char folder[MAX_PATH + 1];
    char pattern[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length > MAX_PATH || GetTempFileNameA(folder, "vud", 0, pattern) == 0)
        return;
    int file = _open(pattern, _O_RDWR | _O_BINARY);
#else
    char pattern[] = "/tmp/vudconv-capture-XXXXXX";
    int file = mkstemp(pattern);
#endif
    if (file < 0) return;
    path_ = pattern;
    saved_ = dup(fd_);
    dup2(file, fd_);
    close(file);
}

CapturedOutput::~CapturedOutput() {
    finish();
}

std::string CapturedOutput::finish() {
    if (saved_ < 0) return {};
    std::fflush(fd_ == 1 ? stdout : stderr);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
    std::vector<uint8_t> bytes = readFileBytes(path_);
    unlink(path_.c_str());
    return std::string(bytes.begin(), bytes.end());
}

#if defined(_WIN32)
// Windows lists no descriptors: every open file holds a handle, so the
// process's handle count stands in for them.
int32_t openDescriptorCount() {
    return openHandleCount();
}
#else
int32_t openDescriptorCount() {
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) return -1;
    int32_t count = 0;
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(folder);
    return count - 1;  // the listing's own descriptor
}
#endif

ConversionResult convertArchives(const std::vector<std::string>& names,
                                 const std::string& outputPath, uint32_t archiveCount) {
    ConversionResult outcome;
    outcome.index.assign(archiveCount, MasterIndexEntry{0, 0});
    OwnedFile output = openFile(outputPath.c_str(), "wb");
    if (!output || !writeOutputPlaceholders(output.get(), archiveCount)) return outcome;
    int32_t offset = OutputHeaderSize + MasterIndexEntrySize * static_cast<int32_t>(archiveCount);
    int32_t slot = 0;
    for (const std::string& name : names) {
        int32_t size =
            convertSourceArchive(name.c_str(), output.get(), offset, outcome.index.data(), slot);
        outcome.blockSizes.push_back(size);
        if (size < 1) break;
        ++slot;
        offset += size;
    }
    if (std::fseek(output.get(), 0, SEEK_SET) != 0) return outcome;
    outcome.headerWritten = writeOutputHeader(output.get(), archiveCount) &&
                            writeMasterIndex(output.get(), outcome.index.data(), archiveCount) &&
                            std::fclose(output.release()) == 0;
    return outcome;
}

void prepareEncoder(const char* libraryPath) {
    static bool loaded = false;
    if (!loaded) {
        loaded = loadEncoderLibraryFrom(libraryPath) != 0;
        if (!loaded) std::fprintf(stderr, "cannot load the encoder library %s\n", libraryPath);
    }
    buildDecodeTables();
}
