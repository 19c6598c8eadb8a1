// The embedded default phone's device tree (compiled from default_phone.dts at build time),
// for phonesim and the tests, which both boot it unless told otherwise.
#pragma once

#include <string_view>

namespace phonesim {

// The default phone's flattened device tree.
std::string_view default_dtb();

}  // namespace phonesim
