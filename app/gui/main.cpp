// vud-converter: the window program. --help and --version are answered
// before the toolkit is set up, so they need no display.
#include <cstring>

#include "app/gui/window_program.h"
#include "app/shell_state.h"
#include "app/version.h"
#include "encoder/encoder_pool.h"
#include "platform/console_text.h"
#include "platform/program_arguments.h"
#include "window/window_layer.h"

namespace {

// The pieces in %s and %d are the program's own values, never copies.
constexpr const char* HelpFormat =
    "usage: vud-converter [--help] [--version] [TOOLKIT_OPTIONS]\n"
    "\n"
    "Opens the window of VUD Data Converter: pick the folder of voice archives\n"
    "(z###.vud), the output file and a bit rate, then start; the archives are\n"
    "converted into one MP3 archive (default: %s beside the program when you\n"
    "may write there, otherwise in the folder the program was started from).\n"
    "\n"
    "  --help     show this text\n"
    "  --version  show the program's version\n"
    "\n"
    "Other options go to the window toolkit (on Linux Qt's: -platform, -display).\n"
    "Only one copy runs per user: a second start brings the first window forward.\n"
    "Each run encodes in as many helper processes as there are processors, or as\n"
    "the environment variable VUD_JOBS says (1 to %d; 1 encodes in the program\n"
    "itself). On Linux QT_QPA_PLATFORM=offscreen runs it without a display.\n";

// true when the arguments ask for an answer instead of the window, given here.
bool answerFirst(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            consolePrint(stdout, HelpFormat, DefaultOutputName, static_cast<int>(MaxEncoderJobs));
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            consolePrint(stdout, "vud-converter (%s) %s\n", ApplicationName, ApplicationVersion);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    utf8ProgramArguments(&argc, &argv);
    if (answerFirst(argc, argv)) return 0;
    // The dialog offers no choice: every run uses the default.
    setEncoderJobCount(defaultEncoderJobCount());
    const int32_t code = runWindowProgram(&argc, argv, defaultWindowProgramOptions());
    windowLayerShutdown();
    return code;
}
