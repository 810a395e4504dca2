#pragma once

// The upper halves of the vector registers, which a thread inherits from the
// thread that made it. The helpers need AVX; check HasAvx() first.

bool HasAvx();

// Leaves a non-zero upper half in ymm8 of the calling thread, as AVX code
// that returns without vzeroupper does.
void DirtyUpperHalves();

// Whether any of ymm0-15 of the calling thread has a non-zero upper half.
bool UpperHalvesDirty();
