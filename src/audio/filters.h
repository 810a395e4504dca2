#pragma once

#include <vector>

// Filter windows and the windowed-sinc low-pass kernel of the rate converter.

enum TFilterWindowType { fwHamming = 0, fwHann = 1, fwBlackman = 2 };

// The n coefficients of a window. The periodic form (divisor n) shapes filter
// kernels; the symmetric form (divisor n - 1) shapes spectrum analysis frames.
std::vector<double> FilterWindowCoefficients(TFilterWindowType type, int n, bool symmetric = false);

// A low-pass kernel of taps coefficients: sin(2 pi fc (i - M)) / (i - M) under
// the window, M = taps div 2, with cutoff fc as a fraction of the sample rate,
// scaled to unity gain at 0 Hz.
std::vector<double> SincKernel(int taps, TFilterWindowType type, double cutoff);

// The same kernel sampled offset (0 to 1) of a sample further along: window
// and sinc at i + offset, scaled again to unity gain at 0 Hz. Applied at input
// frame j it gives the filtered value offset frames before j, which is how a
// rate converter lands between input frames. Offset 0 is SincKernel.
std::vector<double> ShiftedSincKernel(int taps, TFilterWindowType type, double cutoff, double offset);
