// The address space of a user task (include/linux/mm_types.h struct mm_struct). A placeholder
// for now: user tasks own one so that task->mm tells them from kernel threads.
#pragma once

struct mm_struct {
    int mm_users;
    int mm_count;
};
