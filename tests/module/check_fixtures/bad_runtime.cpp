// Allocation through the C++ runtime instead of kmalloc.
extern "C" int *sample_alloc(void) {
    return new int(1);
}
