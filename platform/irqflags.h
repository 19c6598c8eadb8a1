// Local interrupt state (include/linux/irqflags.h, arch/arm64/include/asm/irqflags.h).
// The state is the executing host thread's, as the mask bit is the executing CPU's.
#pragma once

#define PSR_I_BIT 0x00000080

extern "C" {
void arch_local_irq_enable(void);
void arch_local_irq_disable(void);
unsigned long arch_local_save_flags(void);
unsigned long arch_local_irq_save(void);
void arch_local_irq_restore(unsigned long flags);
}

static inline int arch_irqs_disabled_flags(unsigned long flags) {
    return (flags & PSR_I_BIT) != 0;
}

#define local_irq_enable() arch_local_irq_enable()
#define local_irq_disable() arch_local_irq_disable()
#define local_irq_save(flags)          \
    do {                               \
        flags = arch_local_irq_save(); \
    } while (0)
#define local_irq_restore(flags) arch_local_irq_restore(flags)
#define local_save_flags(flags)          \
    do {                                 \
        flags = arch_local_save_flags(); \
    } while (0)
#define irqs_disabled_flags(flags) arch_irqs_disabled_flags(flags)
#ifdef SIM_HOST
// The kernel's own code reads the mask bit inline, as arm64 reads DAIF.
extern "C" __thread bool sim_irqs_off __attribute__((tls_model("initial-exec")));
#define irqs_disabled() ((int)sim_irqs_off)
#else
#define irqs_disabled() arch_irqs_disabled_flags(arch_local_save_flags())
#endif
