// Fuzz-only module: chgsentry's event upload, built from chgsentry/upload.cpp as chgsentry
// builds it, with one export through which a fuzz target hands it any event text. It imports
// the event channel's calls from zoev, as chgsentry does.
#include "chgsentry/chg_dfs.h"

#include <platform/module.h>

extern "C" int fuzz_zoevent_upload(int zoev_code, const char *text) {
    zoevent_upload(zoev_code, text, 0);
    return 0;
}
EXPORT_SYMBOL_GPL(fuzz_zoevent_upload);

MODULE_DESCRIPTION("chgsentry event upload, for fuzzing");
MODULE_LICENSE("GPL v2");
