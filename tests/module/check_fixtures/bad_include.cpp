// A hosted library header in module code.
#include <cstdlib>

extern "C" int sample_abs(int v) {
    return std::abs(v);
}
