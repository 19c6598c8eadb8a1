// Hides a hosted header one level down.
#pragma once

#include <cstring>

static inline unsigned long sample_strlen(const char *s) {
    return std::strlen(s);
}
