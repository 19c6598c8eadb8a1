// Host-side view of wakeup sources, for tests and phonesim (module code uses
// platform/pm_wakeup.h).
#pragma once

#include <string_view>

struct wakeup_source;

namespace sim {

// The registered source of that name (the newest if several), or null.
struct wakeup_source *wakeup_source_find(std::string_view name);

}  // namespace sim
