// A library that defines only MPGE_processTrack: the dependency through which
// a library lacking that name would still seem to have it to a symbol lookup
// that also searches dependencies.
#include "encoder/mpge.h"

extern "C" {

MPGE_EXPORT int32_t MPGE_processTrack(void*) {
    return 1;
}

}  // extern "C"
