#include "phonesim/devicetree.h"

#include <cstddef>

extern "C" const char phonesim_default_dtb_start[];
extern "C" const char phonesim_default_dtb_end[];

namespace phonesim {

std::string_view default_dtb() {
    return {phonesim_default_dtb_start,
            static_cast<size_t>(phonesim_default_dtb_end - phonesim_default_dtb_start)};
}

}  // namespace phonesim
