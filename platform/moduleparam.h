// Module parameters (include/linux/moduleparam.h, kernel/params.c): "name=value" arguments of
// insmod, applied by the loader before the module's init routine runs. Each parameter is a
// const struct kernel_param in the object's __param section.
#pragma once

#include <platform/types.h>

#define MODULE_PARAM_PREFIX ""

struct kernel_param;
struct module;

struct kernel_param_ops {
    unsigned int flags;
    int (*set)(const char *val, const struct kernel_param *kp);
    int (*get)(char *buffer, const struct kernel_param *kp);
    void (*free)(void *arg);
};

struct kernel_param {
    const char *name;
    struct module *mod;
    const struct kernel_param_ops *ops;
    const u16 perm;
    s8 level;
    u8 flags;
    union {
        void *arg;
    };
};

extern "C" {
extern const struct kernel_param_ops param_ops_int;
extern const struct kernel_param_ops param_ops_uint;
extern const struct kernel_param_ops param_ops_bool;
int param_set_int(const char *val, const struct kernel_param *kp);
int param_set_uint(const char *val, const struct kernel_param *kp);
int param_set_bool(const char *val, const struct kernel_param *kp);
}

#define __module_param_call(prefix, name, ops, arg, perm, level, flags)        \
    static const char __param_str_##name[] = prefix #name;                     \
    static const struct kernel_param __param_##name                            \
        __attribute__((section("__param"), used, aligned(sizeof(void *)))) = { \
            __param_str_##name, THIS_MODULE, ops, perm, level, flags, {arg}}

#define module_param_cb(name, ops, arg, perm) \
    __module_param_call(MODULE_PARAM_PREFIX, name, ops, arg, perm, -1, 0)
#define module_param_named(name, value, type, perm)           \
    module_param_cb(name, &param_ops_##type, &(value), perm); \
    MODULE_INFO(parmtype, #name ":" #type)
#define module_param(name, type, perm) module_param_named(name, name, type, perm)
#define MODULE_PARM_DESC(_parm, desc) MODULE_INFO(parm, #_parm ":" desc)
