// Stand-in modules for tests of per-module behaviour (accounting, fault injection for one
// module): each one's code is a function in a section of its own, registered as the code range
// of a module descriptor, so the kernel's caller lookup sees that module.
#pragma once

#include "simkernel/kernel/module_owner.h"

#include <cstring>

#include <platform/module.h>
#include <platform/slab.h>
#include <platform/string.h>
#include <platform/uaccess.h>

namespace simtest {

enum class ModOp { kmalloc, kzalloc_record, kstrndup, copy_from_user };

struct ModCall {
    ModOp op;
    size_t size = 0;
    gfp_t flags = GFP_KERNEL;
    const void *src = nullptr;
    void *dst = nullptr;
};

// The empty asm after the call keeps the call from becoming a tail call, which would hide the
// calling code from the kernel.
#define SIMTEST_MODULE_CODE(tag)                                                        \
    extern "C" char __start_simtest_##tag[], __stop_simtest_##tag[];                    \
    __attribute__((section("simtest_" #tag), noinline)) inline uintptr_t tag##_call(    \
        const ModCall &c) {                                                             \
        uintptr_t r = 0;                                                                \
        switch (c.op) {                                                                 \
            case ModOp::kmalloc:                                                        \
                r = reinterpret_cast<uintptr_t>(kmalloc(c.size, c.flags));              \
                break;                                                                  \
            case ModOp::kzalloc_record: /* a constant size: kmem_cache_alloc_trace() */ \
                r = reinterpret_cast<uintptr_t>(kzalloc(24, c.flags));                  \
                break;                                                                  \
            case ModOp::kstrndup:                                                       \
                r = reinterpret_cast<uintptr_t>(                                        \
                    kstrndup(static_cast<const char *>(c.src), c.size, c.flags));       \
                break;                                                                  \
            case ModOp::copy_from_user:                                                 \
                r = copy_from_user(c.dst, c.src, c.size);                               \
                break;                                                                  \
        }                                                                               \
        __asm__ __volatile__("" ::: "memory");                                          \
        return r;                                                                       \
    }

SIMTEST_MODULE_CODE(moda)
SIMTEST_MODULE_CODE(modb)

// Registers a stand-in module named name whose code is fn's section while alive.
class FakeModule {
  public:
    FakeModule(const char *name, char *code_begin, char *code_end, uintptr_t (*fn)(const ModCall &))
        : fn_(fn) {
        memset(&mod_, 0, sizeof(mod_));
        strncpy(mod_.name, name, sizeof(mod_.name) - 1);
        sim::module_range_add(&mod_, code_begin, static_cast<size_t>(code_end - code_begin));
    }
    ~FakeModule() {
        sim::resource_release_all(&mod_);
        sim::module_range_remove(&mod_);
    }
    FakeModule(const FakeModule &) = delete;
    FakeModule &operator=(const FakeModule &) = delete;

    struct module *mod() {
        return &mod_;
    }
    void *alloc(size_t n, gfp_t flags = GFP_KERNEL) {
        return reinterpret_cast<void *>(fn_({ModOp::kmalloc, n, flags}));
    }
    void *alloc_record(gfp_t flags = GFP_KERNEL) {
        return reinterpret_cast<void *>(fn_({ModOp::kzalloc_record, 0, flags}));
    }
    char *strndup(const char *s, size_t n) {
        return reinterpret_cast<char *>(fn_({ModOp::kstrndup, n, GFP_KERNEL, s}));
    }
    unsigned long copy_from_user(void *to, const void *from, size_t n) {
        return fn_({ModOp::copy_from_user, n, GFP_KERNEL, from, to});
    }

  private:
    struct module mod_;
    uintptr_t (*fn_)(const ModCall &);
};

#define SIMTEST_FAKE_MODULE(tag, name)                                                             \
    ::simtest::FakeModule(name, ::simtest::__start_simtest_##tag, ::simtest::__stop_simtest_##tag, \
                          ::simtest::tag##_call)

}  // namespace simtest
