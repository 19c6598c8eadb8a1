// dv_notify: the charging stack's notifier chains. The charge-pump driver announces its fault
// interrupts, the fuel-gauge driver its gauge events and the charger driver, as the charger
// manager, adapter plug-in and plug-out and the charging events. Listeners join with a
// notifier block; the chains are blocking, so callbacks may sleep (drivers notify from their
// interrupt work, in process context).
#include <platform/dv_notify.h>
#include <platform/module.h>
#include <platform/notifier.h>

static BLOCKING_NOTIFIER_HEAD(dv_chargerpump_notifier);
static BLOCKING_NOTIFIER_HEAD(dv_fg_notifier);
static BLOCKING_NOTIFIER_HEAD(dv_chargermanager_notifier);

int dv_chargerpump_notifier_register(struct notifier_block *nb) {
    return blocking_notifier_chain_register(&dv_chargerpump_notifier, nb);
}
EXPORT_SYMBOL_GPL(dv_chargerpump_notifier_register);

int dv_chargerpump_notifier_unregister(struct notifier_block *nb) {
    return blocking_notifier_chain_unregister(&dv_chargerpump_notifier, nb);
}
EXPORT_SYMBOL_GPL(dv_chargerpump_notifier_unregister);

int dv_chargerpump_notifier_call_chain(unsigned long event, void *data) {
    return blocking_notifier_call_chain(&dv_chargerpump_notifier, event, data);
}
EXPORT_SYMBOL_GPL(dv_chargerpump_notifier_call_chain);

int dv_fg_notifier_register(struct notifier_block *nb) {
    return blocking_notifier_chain_register(&dv_fg_notifier, nb);
}
EXPORT_SYMBOL_GPL(dv_fg_notifier_register);

int dv_fg_notifier_unregister(struct notifier_block *nb) {
    return blocking_notifier_chain_unregister(&dv_fg_notifier, nb);
}
EXPORT_SYMBOL_GPL(dv_fg_notifier_unregister);

int dv_fg_notifier_call_chain(unsigned long event, void *data) {
    return blocking_notifier_call_chain(&dv_fg_notifier, event, data);
}
EXPORT_SYMBOL_GPL(dv_fg_notifier_call_chain);

int dv_chargermanager_notifier_register(struct notifier_block *nb) {
    return blocking_notifier_chain_register(&dv_chargermanager_notifier, nb);
}
EXPORT_SYMBOL_GPL(dv_chargermanager_notifier_register);

int dv_chargermanager_notifier_unregister(struct notifier_block *nb) {
    return blocking_notifier_chain_unregister(&dv_chargermanager_notifier, nb);
}
EXPORT_SYMBOL_GPL(dv_chargermanager_notifier_unregister);

int dv_chargermanager_notifier_call_chain(unsigned long event, void *data) {
    return blocking_notifier_call_chain(&dv_chargermanager_notifier, event, data);
}
EXPORT_SYMBOL_GPL(dv_chargermanager_notifier_call_chain);

static int __init dv_notify_init(void) {
    return 0;
}
module_init(dv_notify_init);

static void __exit dv_notify_exit(void) {}
module_exit(dv_notify_exit);

MODULE_DESCRIPTION("Charging stack notifier chains");
MODULE_LICENSE("GPL v2");
