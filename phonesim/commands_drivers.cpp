// Driver-model commands of the shell: uevents.
#include "phonesim/shell.h"

namespace phonesim {

std::vector<Builtin> driver_builtins() {
    return {};
}

}  // namespace phonesim
