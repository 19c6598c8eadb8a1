// Bit search (a real model of lib/find_bit.c: the index of the first matching bit at or after
// offset, or size when there is none).
#include <platform/bitops.h>

namespace {

// invert is ~0UL to look for clear bits, 0 for set ones.
unsigned long find_next(const unsigned long *addr, unsigned long size, unsigned long start,
                        unsigned long invert) {
    if (start >= size)
        return size;
    unsigned long word = (addr[BIT_WORD(start)] ^ invert) & (~0UL << (start % BITS_PER_LONG));
    start -= start % BITS_PER_LONG;
    while (!word) {
        start += BITS_PER_LONG;
        if (start >= size)
            return size;
        word = addr[BIT_WORD(start)] ^ invert;
    }
    unsigned long found = start + __builtin_ctzl(word);
    return found < size ? found : size;
}

}  // namespace

extern "C" {

unsigned long find_next_bit(const unsigned long *addr, unsigned long size, unsigned long offset) {
    return find_next(addr, size, offset, 0);
}

unsigned long find_next_zero_bit(const unsigned long *addr, unsigned long size,
                                 unsigned long offset) {
    return find_next(addr, size, offset, ~0UL);
}

}  // extern "C"
