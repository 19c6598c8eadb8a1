// Reading the phone's hardware description from a flattened device tree (with libfdt).
#pragma once

#include "simkernel/kernel/boot.h"

#include <string>
#include <string_view>
#include <vector>

namespace phonesim {

struct PhoneDescription {
    std::vector<char> dtb;
    sim::BootParams params;
};

// The embedded default phone.
std::string_view default_dtb();

// Checks the blob and reads the model, the CPUs under /cpus and the RAM of every memory node.
// Returns an error text, or an empty string on success.
std::string describe_phone(std::vector<char> dtb, PhoneDescription *out);

}  // namespace phonesim
