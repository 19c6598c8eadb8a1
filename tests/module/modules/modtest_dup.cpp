// Test-only module exporting a name modtest already exports.
#include <platform/module.h>

extern "C" int modtest_counter_inc(void) {
    return -1;
}
EXPORT_SYMBOL(modtest_counter_inc);

static int __init modtest_dup_init(void) {
    return 0;
}
static void __exit modtest_dup_exit(void) {}

module_init(modtest_dup_init);
module_exit(modtest_dup_exit);
MODULE_LICENSE("GPL");
