// Lock classes (include/linux/lockdep_types.h). A key names the class of the locks initialised
// at one place; the class name is what lock warnings print.
#pragma once

struct lock_class_key {
    char __unused;
};
