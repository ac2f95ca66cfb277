// Shared fixtures of the conversion tests: temporary folders, small source
// archives, captured output streams, open-descriptor counts, and a run that
// builds an output archive the way the worker does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/output_archive.h"
#include "encoder/entry_encoding.h"
#include "tests/fake_encoder/fake_encoder.h"
#include "tests/support/temp_folder.h"
#include "tools/source_writer/source_writer.h"

// Entries of `samples` silent samples each, ids firstId, firstId + 1, ...
std::vector<EncodedEntry> silentEntries(int32_t count, uint16_t firstId, size_t samples);
bool writeSourceArchive(const std::string& path, const std::vector<EncodedEntry>& entries,
                        uint32_t sampleRate);

std::vector<uint8_t> readFileBytes(const std::string& path);
void setSourceFolder(const std::string& folder);

// Redirects a descriptor (1 or 2) into a temporary file until finish().
class CapturedOutput {
public:
    explicit CapturedOutput(int fd);
    ~CapturedOutput();
    std::string finish();

private:
    int fd_;
    int saved_ = -1;
    std::string path_;
};

int32_t openDescriptorCount();

// What the worker does around convertSourceArchive: placeholders for header
// and index, one call per name in the given order, then header and index.
struct ConversionResult {
    std::vector<int32_t> blockSizes;  // per name, as returned
    std::vector<MasterIndexEntry> index;
    bool headerWritten = false;
};
ConversionResult convertArchives(const std::vector<std::string>& names,
                                 const std::string& outputPath, uint32_t archiveCount);

// Loads the named library (once per process) and builds the decode tables.
void prepareEncoder(const char* libraryPath);

// Every fixture over the recording test encoder starts alike: the library
// loaded and its records cleared, the initial bit rate, sources in folder.
// Inline, so that only the tests that call it link the test encoder.
inline void prepareFakeEncoderRun(const char* libraryPath, const std::string& folder) {
    prepareEncoder(libraryPath);
    fakeEncoderReset();
    bitRateSelection = InitialBitRateSelection;
    setSourceFolder(folder);
}
