// vud-converter: the window program.
#include "app/gui/window_program.h"
#include "platform/window_layer.h"

int main(int argc, char** argv) {
    const int32_t code = runWindowProgram(&argc, argv, defaultWindowProgramOptions());
    windowLayerShutdown();
    return code;
}
