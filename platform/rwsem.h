// Reader-writer semaphores (include/linux/rwsem.h): sleeping, many readers or one writer.
#pragma once

#include <platform/compiler.h>
#include <platform/lockdep_types.h>

struct task_struct;

struct rw_semaphore {
    long count;                 // readers inside, or -1 while a writer holds it
    struct task_struct *owner;  // the writer
    const char *name;
};

#define __RWSEM_INITIALIZER(name) \
    { 0, nullptr, #name }
#define DECLARE_RWSEM(name) struct rw_semaphore name = __RWSEM_INITIALIZER(name)

extern "C" {
void __init_rwsem(struct rw_semaphore *sem, const char *name, struct lock_class_key *key);
void down_read(struct rw_semaphore *sem);
int down_read_trylock(struct rw_semaphore *sem);
void up_read(struct rw_semaphore *sem);
void down_write(struct rw_semaphore *sem);
int down_write_trylock(struct rw_semaphore *sem);
void up_write(struct rw_semaphore *sem);
void downgrade_write(struct rw_semaphore *sem);
}

#define init_rwsem(sem)                     \
    do {                                    \
        static struct lock_class_key __key; \
        __init_rwsem((sem), #sem, &__key);  \
    } while (0)

static inline int rwsem_is_locked(struct rw_semaphore *sem) {
    return __atomic_load_n(&sem->count, __ATOMIC_RELAXED) != 0;
}
