#include "worker_thread.h"

void ClearUpperVectorState() noexcept
{
#if defined(__x86_64__) || defined(__i386__)
    // vzeroupper faults where there is no AVX. It leaves the low 128 bits
    // alone, and every vector register is caller-saved, so no caller loses a
    // value.
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx)
        __asm__ volatile("vzeroupper");
#endif
}

void TWorkerThread::run()
{
    ClearUpperVectorState();
    Work();
}
