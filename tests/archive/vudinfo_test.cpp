// vudinfo as a user runs it: the listing of the bundled samples, WAV export,
// and bad files that are reported while the rest are still listed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tools/source_writer/source_writer.h"
#include "tools/source_writer/wav_file.h"

namespace {

struct ToolRun {
    int status = -1;
    std::string output;  // standard output and standard error together
};

ToolRun runVudinfo(const std::string& arguments) {
    const std::string command =
        std::string(std::getenv("VUD_BUILD_DIR")) + "/vudinfo " + arguments + " 2>&1";
    ToolRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string samplesDir() {
    return std::string(std::getenv("VUD_SOURCE_DIR")) + "/samples/voice";
}

class Vudinfo : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("VUD_BUILD_DIR"), nullptr);
        ASSERT_NE(std::getenv("VUD_SOURCE_DIR"), nullptr);
        dir =
            std::filesystem::temp_directory_path() / ("vudinfo_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
};

}  // namespace

TEST_F(Vudinfo, ListsEveryArchiveOfAFolder) {
    const ToolRun run = runVudinfo(samplesDir());
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("z001.vud: magic VUDPAC, 3 entries, sample rate 22050 Hz\n"),
              std::string::npos);
    EXPECT_NE(run.output.find("sample rate 11025 Hz"), std::string::npos);
    EXPECT_NE(run.output.find("z003.vud: magic VUDPAC, 2 entries, sample rate 22050 Hz (field 0)"),
              std::string::npos);
    EXPECT_NE(run.output.find("3 source archives (0 bad): 8 entries"), std::string::npos);
}

TEST_F(Vudinfo, WritesEachEntryAsAWav) {
    const std::string wavDir = (dir / "wav").string();
    const ToolRun run = runVudinfo("--wav " + wavDir + " " + samplesDir() + "/z002.vud");
    ASSERT_EQ(run.status, 0) << run.output;
    WavAudio audio;
    std::string error;
    ASSERT_TRUE(readWavFile(wavDir + "/z002_00101.wav", &audio, &error)) << error;
    EXPECT_EQ(audio.sampleRate, 11025u);
    // The count is named: GCC 12 at -O3 reports a false -Wrestrict for " " + a temporary string.
    const std::string sampleCount = std::to_string(audio.samples.size());
    EXPECT_NE(run.output.find(" " + sampleCount + " "), std::string::npos);
}

TEST_F(Vudinfo, ReportsBadFilesAndListsTheRest) {
    const std::string good = samplesDir() + "/z003.vud";
    const std::string lower = (dir / "lower.vud").string();
    const std::string huge = (dir / "huge.vud").string();
    const std::string cut = (dir / "cut.vud").string();
    ASSERT_TRUE(writeBytesToFile(lower, makeSourceHeader("vudpac", 1, 0)));
    std::vector<uint8_t> hugeBytes = makeSourceHeader("VUDPAC", 0x7FFFFFFF, 0);
    hugeBytes.resize(40, 0);
    ASSERT_TRUE(writeBytesToFile(huge, hugeBytes));
    ArchiveImage image = buildSourceArchive({EncodedEntry(), EncodedEntry()}, 0);
    putLe16(image.bytes, tableRecordAt(1) + 2, 3);  // three sizes that are not there
    ASSERT_TRUE(writeBytesToFile(cut, image.bytes));

    const ToolRun run = runVudinfo(lower + " " + good + " " + huge + " " + cut + " " +
                                   (dir / "missing.vud").string());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("lower.vud: not a source voice archive"), std::string::npos);
    EXPECT_NE(run.output.find("huge.vud: the entry table of 2147483647 entries does not fit"),
              std::string::npos);
    EXPECT_NE(run.output.find("cut.vud: entry 1 (id 0): size list cut short"), std::string::npos);
    EXPECT_NE(run.output.find("missing.vud: cannot open the file"), std::string::npos);
    EXPECT_NE(run.output.find("z003.vud: magic VUDPAC, 2 entries"), std::string::npos);
    EXPECT_NE(run.output.find("5 source archives (4 bad): 2 entries"), std::string::npos);
}

// A name already standing in the WAV folder is never written through: a
// symbolic link (to a file, or to one not there yet) or a second name of a
// file elsewhere. The entry fails and vudinfo exits 1; the file is untouched.
TEST_F(Vudinfo, NeverWritesThroughANameAlreadyInTheWavFolder) {
    namespace fs = std::filesystem;
    const fs::path wavDir = dir / "wav";
    const fs::path victim = dir / "victim.txt";
    const fs::path notThere = dir / "not-there.wav";
    const fs::path name = wavDir / "z002_00101.wav";
    ASSERT_TRUE(writeBytesToFile(victim.string(), {'k', 'e', 'e', 'p'}));
    const std::function<void()> plants[] = {
        [&] { fs::create_symlink(victim, name); },
        [&] { fs::create_symlink(notThere, name); },
        [&] { fs::create_hard_link(victim, name); },
    };
    for (const std::function<void()>& plant : plants) {
        fs::remove_all(wavDir);
        fs::create_directories(wavDir);
        plant();
        const ToolRun run =
            runVudinfo("--wav " + wavDir.string() + " " + samplesDir() + "/z002.vud");
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find("z002_00101.wav: "), std::string::npos) << run.output;
        std::ifstream kept(victim);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
        EXPECT_FALSE(fs::exists(notThere));
    }
}
