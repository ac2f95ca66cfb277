// A temporary file for bytes a program keeps only for a moment: opened for
// reading and writing, binary, and gone from the file system when closed
// (or when the process ends in any way).
#pragma once

#include "platform/owned_file.h"

// Null when no temporary file can be made.
OwnedFile openScratchFile();
