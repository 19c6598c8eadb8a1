// CPU masks (include/linux/cpumask.h). The phone has NR_CPUS (8) CPUs, all possible and online.
#pragma once

#include <platform/bitops.h>

#define NR_CPUS 8

typedef struct cpumask {
    unsigned long bits[BITS_TO_LONGS(NR_CPUS)];
} cpumask_t;

extern "C" {
extern const unsigned int nr_cpu_ids;
extern const struct cpumask __cpu_online_mask;
extern const struct cpumask __cpu_possible_mask;
}
#define cpu_online_mask (&__cpu_online_mask)
#define cpu_possible_mask (&__cpu_possible_mask)

#define cpumask_bits(maskp) ((maskp)->bits)
#define nr_cpumask_bits ((unsigned int)NR_CPUS)

static inline void cpumask_set_cpu(unsigned int cpu, struct cpumask *dstp) {
    set_bit(cpu, cpumask_bits(dstp));
}

static inline void cpumask_clear_cpu(int cpu, struct cpumask *dstp) {
    clear_bit(cpu, cpumask_bits(dstp));
}

static inline bool cpumask_test_cpu(int cpu, const struct cpumask *cpumask) {
    return test_bit(cpu, cpumask_bits(cpumask));
}

static inline void cpumask_clear(struct cpumask *dstp) {
    for (unsigned int i = 0; i < BITS_TO_LONGS(NR_CPUS); i++)
        dstp->bits[i] = 0;
}

static inline void cpumask_copy(struct cpumask *dstp, const struct cpumask *srcp) {
    *dstp = *srcp;
}

static inline unsigned int cpumask_weight(const struct cpumask *srcp) {
    unsigned int w = 0;
    for (unsigned int i = 0; i < BITS_TO_LONGS(NR_CPUS); i++)
        w += hweight_long(srcp->bits[i]);
    return w;
}

static inline bool cpumask_intersects(const struct cpumask *a, const struct cpumask *b) {
    for (unsigned int i = 0; i < BITS_TO_LONGS(NR_CPUS); i++)
        if (a->bits[i] & b->bits[i])
            return true;
    return false;
}

static inline unsigned int cpumask_next(int n, const struct cpumask *srcp) {
    return find_next_bit(cpumask_bits(srcp), nr_cpumask_bits, n + 1);
}

#define for_each_cpu(cpu, mask) \
    for ((cpu) = -1; (cpu) = cpumask_next((cpu), (mask)), (cpu) < (int)nr_cpu_ids;)
#define for_each_possible_cpu(cpu) for_each_cpu((cpu), cpu_possible_mask)
#define for_each_online_cpu(cpu) for_each_cpu((cpu), cpu_online_mask)
