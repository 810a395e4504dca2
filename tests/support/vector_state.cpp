#include "vector_state.h"

#include <cstring>

// Built without AVX code generation on purpose: the compiler then neither
// uses the upper halves itself nor clears them behind these functions.

bool HasAvx()
{
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx");
#else
    return false;
#endif
}

void DirtyUpperHalves()
{
#if defined(__x86_64__)
    static const double values[4] = {1.0, 2.0, 3.0, 4.0};
    __asm__ volatile("vmovupd %0, %%ymm8" : : "m"(values) : "xmm8");
#endif
}

bool UpperHalvesDirty()
{
#if defined(__x86_64__)
    unsigned char upper[16][16];
#define VELBROOK_STORE_UPPER(r) __asm__ volatile("vextractf128 $1, %%ymm" #r ", %0" : "=m"(upper[r]))
    VELBROOK_STORE_UPPER(0);
    VELBROOK_STORE_UPPER(1);
    VELBROOK_STORE_UPPER(2);
    VELBROOK_STORE_UPPER(3);
    VELBROOK_STORE_UPPER(4);
    VELBROOK_STORE_UPPER(5);
    VELBROOK_STORE_UPPER(6);
    VELBROOK_STORE_UPPER(7);
    VELBROOK_STORE_UPPER(8);
    VELBROOK_STORE_UPPER(9);
    VELBROOK_STORE_UPPER(10);
    VELBROOK_STORE_UPPER(11);
    VELBROOK_STORE_UPPER(12);
    VELBROOK_STORE_UPPER(13);
    VELBROOK_STORE_UPPER(14);
    VELBROOK_STORE_UPPER(15);
#undef VELBROOK_STORE_UPPER
    static const unsigned char zero[sizeof upper] = {};
    return std::memcmp(upper, zero, sizeof upper) != 0;
#else
    return false;
#endif
}
