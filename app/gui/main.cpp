// vud-converter: the window program.
#include "app/gui/window_program.h"
#include "encoder/encoder_pool.h"
#include "platform/program_arguments.h"
#include "window/window_layer.h"

int main(int argc, char** argv) {
    utf8ProgramArguments(&argc, &argv);
    // The dialog offers no choice: every run uses the default.
    setEncoderJobCount(defaultEncoderJobCount());
    const int32_t code = runWindowProgram(&argc, argv, defaultWindowProgramOptions());
    windowLayerShutdown();
    return code;
}
