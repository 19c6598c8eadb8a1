// A module-wide object that needs a constructor at load time.
#include <platform/module.h>

extern "C" int sample_seed(void);
static int sample_state = sample_seed();

extern "C" int sample_get(void) {
    return sample_state;
}
