#include <cstdio>

#include "platform/scratch_file.h"

OwnedFile openScratchFile() {
    // Unlinked on creation: nothing is left behind, whatever ends the process.
    return OwnedFile(std::tmpfile());
}
