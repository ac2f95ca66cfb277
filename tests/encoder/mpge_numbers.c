/* encoder/mpge.h compiled as C, as a library written in C includes it: the
 * header must stay C, and its numbers must read the same in both languages. */
#include "encoder/mpge.h"

/* Every number a caller and a library must agree on, as C sees them, into
 * numbers; how many there are, written or not. */
int32_t mpgeNumbersSeenFromC(int32_t* numbers, int32_t capacity) {
    const int32_t seen[] = {MPGE_ITEM_INPUT,
                            MPGE_ITEM_OUTPUT,
                            MPGE_ITEM_MODE,
                            MPGE_ITEM_BITRATE,
                            MPGE_ITEM_OUTPUT_RATE,
                            MPGE_ITEM_REQUEST_SIZE,
                            MPGE_ITEM_ZEROED_LOW_FIRST,
                            MPGE_ITEM_ZEROED_LOW_LAST,
                            MPGE_ITEM_ZEROED_HIGH_FIRST,
                            MPGE_ITEM_ZEROED_HIGH_LAST,
                            MPGE_THROUGH_CALLBACK};
    const int32_t count = (int32_t)(sizeof seen / sizeof seen[0]);
    for (int32_t i = 0; i < count && i < capacity; ++i) numbers[i] = seen[i];
    return count;
}
