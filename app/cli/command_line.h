// vudconv's command line: vudconv [-b KBPS] [-j N] [-y] [-q] SOURCE_FOLDER [OUTPUT],
// or vudconv --check SOURCE_FOLDER
#pragma once

#include <cstddef>
#include <cstdint>

// The program's exit codes.
enum CliExitCode : int32_t {
    ExitCompleted = 0,
    ExitFailed = 1,         // the run failed or the output could not be created or written
                            // (--check: some archive would stop a run)
    ExitRefused = 2,        // usage error, or the start was refused
    ExitNoArchives = 3,     // no source archives found; nothing touched
    ExitNoEncoder = 4,      // the encoder library could not be loaded
    ExitInterrupted = 130,  // cancelled by Ctrl-C (128 + the signal's number in general)
};

struct CommandLine {
    int32_t bitRateRow;        // row of BitRateTable
    int32_t encoderJobs;       // -j: 1 to MaxEncoderJobs; 0 when not given
    bool overwrite;            // -y
    bool quiet;                // -q
    bool help;                 // --help
    bool version;              // --version
    bool check;                // --check: read SOURCE_FOLDER as a run would, write nothing
    const char* sourceFolder;  // as given; null when missing
    const char* outputPath;    // as given; null: the default
};

// false with a one-line reason in error when the command line is not usable.
bool parseCommandLine(int argc, char** argv, CommandLine* line, char* error, size_t capacity);

// The usage text, ending in a line break.
const char* cliUsageText();
