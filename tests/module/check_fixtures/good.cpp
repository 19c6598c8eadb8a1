// What module code may do: platform/ and freestanding headers, constant-initialised state.
#include <platform/list.h>
#include <platform/module.h>

#include <climits>
#include <cstdint>

static LIST_HEAD(sample_list);
static constinit int32_t sample_max = INT_MAX;

extern "C" int sample_empty(void) {
    return list_empty(&sample_list) ? sample_max : 0;
}
