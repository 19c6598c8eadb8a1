// Event-channel commands of the shell: events.
#include "phonesim/shell.h"

namespace phonesim {

std::vector<Builtin> event_builtins() {
    return {};
}

}  // namespace phonesim
