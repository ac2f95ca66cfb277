// The values the start-up code, the dialog and the conversion share.
#include "app/shell_state.h"

WindowHandle mainDialog = nullptr;
char sourceFolder[PathCapacity] = {};
char outputPath[PathCapacity] = {};
