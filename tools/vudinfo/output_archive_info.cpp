#include "tools/vudinfo/output_archive_info.h"

#include <cstdio>

// Placeholder until output archives are supported.
int32_t describeOutputArchive(const char* path, bool, const char*) {
    std::fprintf(stderr, "%s: output archives are not supported yet\n", path);
    return 1;
}
