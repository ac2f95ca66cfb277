// vudinfo: lists source voice archives (z###.vud) and output archives.
//
//   vudinfo [--wav DIR] [--verify] [--extract DIR] PATH...
//   vudinfo --help | --version
//
// PATH is an archive or a folder (every z###.vud in it, in name order). For a
// source archive it prints the header, one line per entry and the totals;
// with --wav every entry is also written as DIR/<archive>_<id>.wav. A file
// that starts with "VUDMP3" is an output archive and is listed (verified,
// extracted) by describeOutputArchive. A bad file gets a one-line reason on
// standard error; the others are still listed, and the exit code is 1.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/shell_state.h"
#include "app/version.h"
#include "archive/output_archive.h"
#include "platform/console_text.h"
#include "platform/owned_file.h"
#include "platform/program_arguments.h"
#include "tools/vudinfo/output_archive_info.h"
#include "tools/vudinfo/source_archive_info.h"
#include "tools/vudinfo/utf8_path.h"

namespace {

constexpr const char* ProgramName = "vudinfo";
constexpr const char* UsageLine = "usage: vudinfo [--wav DIR] [--verify] [--extract DIR] PATH...\n";
// --help: the usage line, then this.
constexpr const char* HelpText =
    "\n"
    "Lists voice archives. PATH is an archive or a folder (every z###.vud in it, in\n"
    "name order). For a source archive it prints the header, one line per entry\n"
    "(id, blocks, compressed bytes, samples, duration, silent/raw/delta blocks) and\n"
    "the totals. A file that starts with VUDMP3 is an output archive: every archive\n"
    "block and stream is listed.\n"
    "\n"
    "  --wav DIR      also write every entry of the source archives into DIR as a\n"
    "                 WAV file, <archive>_<id>.wav\n"
    "  --verify       check every invariant of the output archives' format and that\n"
    "                 every stream is whole, valid MP3 frames\n"
    "  --extract DIR  write each stream of the output archives into DIR as an .mp3\n"
    "                 file\n"
    "  --help         show this text\n"
    "  --version      show the program's version\n"
    "\n"
    "Neither DIR option writes through a symbolic link, or over a file with other\n"
    "hard links, already standing in DIR under a file's name: that file is reported\n"
    "and left alone.\n"
    "\n"
    "Exit status: 0 every file listed (verified, written); 1 a file could not be\n"
    "read, is not a valid archive, failed the check or could not be written (the\n"
    "others are still listed); 2 usage error.\n";

int usage() {
    consolePuts(stderr, UsageLine);
    return 2;
}

bool startsWithOutputMagic(const std::string& path) {
    OwnedFile file = openFile(path.c_str(), "rb");
    if (!file) return false;
    char magic[sizeof OutputMagic];
    return std::fread(magic, 1, sizeof magic, file.get()) == sizeof magic &&
           std::memcmp(magic, OutputMagic, sizeof magic) == 0;
}

// The files a path stands for: itself, or the source archives of a folder.
bool expandPath(const std::string& path, std::vector<std::string>* files) {
    std::error_code error;
    const std::filesystem::path folder = utf8Path(path);
    if (!std::filesystem::is_directory(folder, error)) {
        files->push_back(path);
        return true;
    }
    std::vector<std::string> found;
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = utf8Text(item.path().filename());
        if (parseSourceFileName(name.c_str()) >= 0) found.push_back(utf8Text(item.path()));
    }
    if (error) {
        consolePrint(stderr, "%s: cannot list the folder: %s\n", path.c_str(),
                     error.message().c_str());
        return false;
    }
    if (found.empty()) consolePrint(stderr, "%s: no z###.vud files in the folder\n", path.c_str());
    std::sort(found.begin(), found.end());
    files->insert(files->end(), found.begin(), found.end());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    utf8ProgramArguments(&argc, &argv);
    const char* wavDir = nullptr;
    const char* extractDir = nullptr;
    bool verify = false;
    std::vector<std::string> paths;
    for (int arg = 1; arg < argc; ++arg) {
        if (std::strcmp(argv[arg], "--wav") == 0 && arg + 1 < argc) {
            wavDir = argv[++arg];
        } else if (std::strcmp(argv[arg], "--extract") == 0 && arg + 1 < argc) {
            extractDir = argv[++arg];
        } else if (std::strcmp(argv[arg], "--verify") == 0) {
            verify = true;
        } else if (std::strcmp(argv[arg], "--help") == 0) {
            consolePuts(stdout, UsageLine);
            consolePuts(stdout, HelpText);
            return 0;
        } else if (std::strcmp(argv[arg], "--version") == 0) {
            consolePrint(stdout, "%s (%s) %s\n", ProgramName, ApplicationName, ApplicationVersion);
            return 0;
        } else if (std::strncmp(argv[arg], "--", 2) == 0) {
            return usage();
        } else {
            paths.push_back(argv[arg]);
        }
    }
    if (paths.empty()) return usage();
    if (wavDir != nullptr) {
        std::error_code error;
        std::filesystem::create_directories(utf8Path(wavDir), error);
        if (error) {
            consolePrint(stderr, "%s: cannot create the folder: %s\n", wavDir,
                         error.message().c_str());
            return 1;
        }
    }

    bool allGood = true;
    std::vector<std::string> files;
    for (const std::string& path : paths) allGood = expandPath(path, &files) && allGood;

    SourceTotals totals;
    int sourceArchives = 0;
    int badArchives = 0;
    for (const std::string& file : files) {
        if (startsWithOutputMagic(file)) {
            allGood = describeOutputArchive(file.c_str(), verify, extractDir) == 0 && allGood;
            continue;
        }
        ++sourceArchives;
        if (!describeSourceArchive(file.c_str(), wavDir, &totals)) {
            ++badArchives;
            allGood = false;
        }
    }
    if (sourceArchives > 1) printGrandTotals(totals, sourceArchives, badArchives);
    return allGood ? 0 : 1;
}
