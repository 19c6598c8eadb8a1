// A header of the module's own folder that pulls in a hosted library header.
#include "bad_nested_include.h"

extern "C" unsigned long sample_len(const char *s) {
    return sample_strlen(s);
}
