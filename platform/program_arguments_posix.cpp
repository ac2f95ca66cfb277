#include "platform/program_arguments.h"

// The terminal's bytes are the program's: nothing to convert.
bool utf8ProgramArguments(int*, char***) {
    return true;
}
