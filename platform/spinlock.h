// Spin locks and reader-writer spin locks (include/linux/spinlock.h, spinlock_api_smp.h,
// rwlock.h). Real spinning locks on one atomic word; holding one disables preemption, and the
// _irq/_irqsave forms also mask the caller's interrupts.
#pragma once

#include <platform/compiler.h>
#include <platform/irqflags.h>
#include <platform/lockdep_types.h>

typedef struct raw_spinlock {
    unsigned int locked;
    const char *name;  // lock class name
} raw_spinlock_t;

typedef struct spinlock {
    struct raw_spinlock rlock;
} spinlock_t;

// Bit 31 is the writer; the rest counts readers.
typedef struct {
    unsigned int cnts;
    const char *name;
} rwlock_t;

#define __RAW_SPIN_LOCK_UNLOCKED(lockname) \
    { 0, #lockname }
#define __SPIN_LOCK_UNLOCKED(lockname) \
    { __RAW_SPIN_LOCK_UNLOCKED(lockname) }
#define __RW_LOCK_UNLOCKED(lockname) \
    { 0, #lockname }
#define DEFINE_RAW_SPINLOCK(x) raw_spinlock_t x = __RAW_SPIN_LOCK_UNLOCKED(x)
#define DEFINE_SPINLOCK(x) spinlock_t x = __SPIN_LOCK_UNLOCKED(x)
#define DEFINE_RWLOCK(x) rwlock_t x = __RW_LOCK_UNLOCKED(x)

extern "C" {
void __raw_spin_lock_init(raw_spinlock_t *lock, const char *name, struct lock_class_key *key);
void __rwlock_init(rwlock_t *lock, const char *name, struct lock_class_key *key);

void _raw_spin_lock(raw_spinlock_t *lock);
int _raw_spin_trylock(raw_spinlock_t *lock);
void _raw_spin_unlock(raw_spinlock_t *lock);
void _raw_spin_lock_bh(raw_spinlock_t *lock);
void _raw_spin_unlock_bh(raw_spinlock_t *lock);
void _raw_spin_lock_irq(raw_spinlock_t *lock);
void _raw_spin_unlock_irq(raw_spinlock_t *lock);
unsigned long _raw_spin_lock_irqsave(raw_spinlock_t *lock);
void _raw_spin_unlock_irqrestore(raw_spinlock_t *lock, unsigned long flags);

void _raw_read_lock(rwlock_t *lock);
int _raw_read_trylock(rwlock_t *lock);
void _raw_read_unlock(rwlock_t *lock);
void _raw_write_lock(rwlock_t *lock);
int _raw_write_trylock(rwlock_t *lock);
void _raw_write_unlock(rwlock_t *lock);
void _raw_read_lock_irq(rwlock_t *lock);
void _raw_read_unlock_irq(rwlock_t *lock);
void _raw_write_lock_irq(rwlock_t *lock);
void _raw_write_unlock_irq(rwlock_t *lock);
unsigned long _raw_read_lock_irqsave(rwlock_t *lock);
void _raw_read_unlock_irqrestore(rwlock_t *lock, unsigned long flags);
unsigned long _raw_write_lock_irqsave(rwlock_t *lock);
void _raw_write_unlock_irqrestore(rwlock_t *lock, unsigned long flags);
}

#define raw_spin_lock_init(lock)                     \
    do {                                             \
        static struct lock_class_key __key;          \
        __raw_spin_lock_init((lock), #lock, &__key); \
    } while (0)
#define spin_lock_init(_lock)                                  \
    do {                                                       \
        static struct lock_class_key __key;                    \
        __raw_spin_lock_init(&(_lock)->rlock, #_lock, &__key); \
    } while (0)
#define rwlock_init(lock)                     \
    do {                                      \
        static struct lock_class_key __key;   \
        __rwlock_init((lock), #lock, &__key); \
    } while (0)

#define raw_spin_lock(lock) _raw_spin_lock(lock)
#define raw_spin_trylock(lock) _raw_spin_trylock(lock)
#define raw_spin_unlock(lock) _raw_spin_unlock(lock)
#define raw_spin_lock_irq(lock) _raw_spin_lock_irq(lock)
#define raw_spin_unlock_irq(lock) _raw_spin_unlock_irq(lock)
#define raw_spin_lock_irqsave(lock, flags)    \
    do {                                      \
        flags = _raw_spin_lock_irqsave(lock); \
    } while (0)
#define raw_spin_unlock_irqrestore(lock, flags) _raw_spin_unlock_irqrestore(lock, flags)

static __always_inline void spin_lock(spinlock_t *lock) {
    _raw_spin_lock(&lock->rlock);
}
static __always_inline int spin_trylock(spinlock_t *lock) {
    return _raw_spin_trylock(&lock->rlock);
}
static __always_inline void spin_unlock(spinlock_t *lock) {
    _raw_spin_unlock(&lock->rlock);
}
static __always_inline void spin_lock_bh(spinlock_t *lock) {
    _raw_spin_lock_bh(&lock->rlock);
}
static __always_inline void spin_unlock_bh(spinlock_t *lock) {
    _raw_spin_unlock_bh(&lock->rlock);
}
static __always_inline void spin_lock_irq(spinlock_t *lock) {
    _raw_spin_lock_irq(&lock->rlock);
}
static __always_inline void spin_unlock_irq(spinlock_t *lock) {
    _raw_spin_unlock_irq(&lock->rlock);
}
#define spin_lock_irqsave(lock, flags)                  \
    do {                                                \
        flags = _raw_spin_lock_irqsave(&(lock)->rlock); \
    } while (0)
static __always_inline void spin_unlock_irqrestore(spinlock_t *lock, unsigned long flags) {
    _raw_spin_unlock_irqrestore(&lock->rlock, flags);
}
static __always_inline int spin_is_locked(spinlock_t *lock) {
    return __atomic_load_n(&lock->rlock.locked, __ATOMIC_RELAXED) != 0;
}
#define assert_spin_locked(lock) ((void)0)

#define read_lock(lock) _raw_read_lock(lock)
#define read_trylock(lock) _raw_read_trylock(lock)
#define read_unlock(lock) _raw_read_unlock(lock)
#define write_lock(lock) _raw_write_lock(lock)
#define write_trylock(lock) _raw_write_trylock(lock)
#define write_unlock(lock) _raw_write_unlock(lock)
#define read_lock_irq(lock) _raw_read_lock_irq(lock)
#define read_unlock_irq(lock) _raw_read_unlock_irq(lock)
#define write_lock_irq(lock) _raw_write_lock_irq(lock)
#define write_unlock_irq(lock) _raw_write_unlock_irq(lock)
#define read_lock_irqsave(lock, flags)        \
    do {                                      \
        flags = _raw_read_lock_irqsave(lock); \
    } while (0)
#define read_unlock_irqrestore(lock, flags) _raw_read_unlock_irqrestore(lock, flags)
#define write_lock_irqsave(lock, flags)        \
    do {                                       \
        flags = _raw_write_lock_irqsave(lock); \
    } while (0)
#define write_unlock_irqrestore(lock, flags) _raw_write_unlock_irqrestore(lock, flags)
