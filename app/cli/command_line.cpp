// vudconv's command line.
#include "app/cli/command_line.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/shell_state.h"
#include "encoder/encoder_pool.h"
#include "encoder/entry_encoding.h"

namespace {

// Room for the -b values as text ("8 16 ... 160").
constexpr int32_t BitRateListCapacity = BitRateRowCount * 4 + 1;

struct BitRateListText {
    char text[BitRateListCapacity];
};

// The -b values, as the usage text and the refusal list them.
BitRateListText bitRateList() {
    BitRateListText list{};
    size_t used = 0;
    for (int32_t row = 0; row < BitRateRowCount; ++row) {
        used += static_cast<size_t>(std::snprintf(list.text + used, sizeof list.text - used,
                                                  row > 0 ? " %d" : "%d",
                                                  static_cast<int>(BitRateTable[row].kbps)));
    }
    return list;
}

// Row of the bit rate given in kbit/s, or -1.
int32_t bitRateRowOf(const char* text) {
    if (text == nullptr || text[0] == '\0' || std::strlen(text) > 3) return -1;
    int32_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return -1;
        value = value * 10 + (*c - '0');
    }
    for (int32_t row = 0; row < BitRateRowCount; ++row) {
        if (BitRateTable[row].kbps == value) return row;
    }
    return -1;
}

bool fail(char* error, size_t capacity, const char* format, const char* detail) {
    std::snprintf(error, capacity, format, detail);
    return false;
}

}  // namespace

bool parseCommandLine(int argc, char** argv, CommandLine* line, char* error, size_t capacity) {
    *line = CommandLine{
        InitialBitRateSelection, 0, false, false, false, false, false, nullptr, nullptr};
    if (capacity > 0) error[0] = '\0';
    const char* operands[2] = {nullptr, nullptr};
    int32_t operandCount = 0;
    bool optionsEnded = false;

    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (optionsEnded || argument[0] != '-' || argument[1] == '\0') {
            if (operandCount == 2)
                return fail(error, capacity, "unexpected operand '%s'", argument);
            operands[operandCount++] = argument;
            continue;
        }
        if (std::strcmp(argument, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        if (std::strcmp(argument, "--help") == 0) {
            line->help = true;
            continue;
        }
        if (std::strcmp(argument, "--version") == 0) {
            line->version = true;
            continue;
        }
        if (std::strcmp(argument, "--check") == 0) {
            line->check = true;
            continue;
        }
        if (argument[1] == '-') return fail(error, capacity, "unknown option '%s'", argument);
        // Short options, which may share one argument: -yq, -b32, -yb 32, -j4.
        for (const char* c = argument + 1; *c != '\0'; ++c) {
            if (*c == 'y') {
                line->overwrite = true;
            } else if (*c == 'q') {
                line->quiet = true;
            } else if (*c == 'j') {
                const char* value = c[1] != '\0' ? c + 1 : (i + 1 < argc ? argv[++i] : nullptr);
                if (value == nullptr)
                    return fail(error, capacity, "%s", "-j needs a number of encoders");
                line->encoderJobs = parseEncoderJobCount(value);
                if (line->encoderJobs == 0) {
                    std::snprintf(error, capacity,
                                  "encoder count '%s' is not a whole number from 1 to %" PRId32,
                                  value, MaxEncoderJobs);
                    return false;
                }
                break;
            } else if (*c == 'b') {
                const char* value = c[1] != '\0' ? c + 1 : (i + 1 < argc ? argv[++i] : nullptr);
                if (value == nullptr) return fail(error, capacity, "%s", "-b needs a bit rate");
                line->bitRateRow = bitRateRowOf(value);
                if (line->bitRateRow < 0) {
                    std::snprintf(error, capacity, "bit rate '%s' is not one of %s", value,
                                  bitRateList().text);
                    return false;
                }
                break;
            } else {
                char option[3] = {'-', *c, '\0'};
                return fail(error, capacity, "unknown option '%s'", option);
            }
        }
    }
    if (line->help || line->version) return true;
    if (operandCount == 0) return fail(error, capacity, "%s", "SOURCE_FOLDER is missing");
    // A check writes nothing: an OUTPUT given with it is a mistake worth saying.
    if (line->check && operandCount == 2)
        return fail(error, capacity, "--check takes no OUTPUT ('%s')", operands[1]);
    line->sourceFolder = operands[0];
    line->outputPath = operands[1];
    return true;
}

namespace {

// The usage text: its pieces are the program's own values, never copies.
constexpr const char* UsageFormat =
    "usage: vudconv [-b KBPS] [-j N] [-y] [-q] SOURCE_FOLDER [OUTPUT]\n"
    "       vudconv --check SOURCE_FOLDER\n"
    "\n"
    "Converts the voice archives z###.vud of SOURCE_FOLDER into one MP3 archive\n"
    "OUTPUT (default: %s in the program's folder when you may write there,\n"
    "otherwise in the current folder).\n"
    "\n"
    "  -b KBPS    MP3 bit rate, one of %s\n"
    "             (default %d)\n"
    "  -j N       encode in N helper processes, 1 to %d (default: the processors\n"
    "             available, or the environment variable VUD_JOBS when it holds\n"
    "             such a number); -j 1 encodes in the program itself\n"
    "  -y         overwrite an existing OUTPUT without asking\n"
    "  -q         no progress line\n"
    "  --check    read every archive of SOURCE_FOLDER as a run would, without the\n"
    "             encoder library and without writing anything; name each archive\n"
    "             a run would stop at, and why, then the totals\n"
    "  --help     show this text\n"
    "  --version  show the program's and the encoder library's versions\n"
    "\n"
    "Standard output carries one progress label per converted entry; messages go\n"
    "to standard error. Ctrl-C (or a hang-up, terminate or quit signal) finishes\n"
    "the archive in progress, then deletes the incomplete output; a second Ctrl-C\n"
    "meanwhile stops at once and deletes the incomplete output.\n"
    "\n"
    "On a terminal the progress line also shows the time taken, the time left and\n"
    "the speed as a multiple of real time.\n"
    "\n"
    "Exit status: 0 converted, output kept; 1 the run failed or the output could\n"
    "not be created or written (no output left); 2 usage error or start refused\n"
    "(SOURCE_FOLDER not a folder, overwrite declined, ...); 3 no source archives\n"
    "found; 4 the encoder library GOGO.DLL could not be loaded; 130 cancelled by\n"
    "Ctrl-C (128 + the signal's number: 129 hang-up, 131 quit, 143 terminate).\n"
    "With --check: 0 a run would convert every archive; 1 some archive would stop\n"
    "it; 2 and 3 as for a run.\n";
constexpr int32_t UsageCapacity = 4096;

struct UsageText {
    char text[UsageCapacity];
};

UsageText composeUsage() {
    UsageText usage{};
    std::snprintf(usage.text, sizeof usage.text, UsageFormat, DefaultOutputName, bitRateList().text,
                  static_cast<int>(BitRateTable[InitialBitRateSelection].kbps),
                  static_cast<int>(MaxEncoderJobs));
    return usage;
}

}  // namespace

const char* cliUsageText() {
    static const UsageText usage = composeUsage();
    return usage.text;
}
