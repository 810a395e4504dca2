#include "filters.h"

#include <cmath>

namespace {

// The constants the filters have always used; a more precise pi would shift
// every coefficient in its last digits.
constexpr double TwoPi = 6.28318530718;
constexpr double FourPi = 12.56637061436;

// The window at position (not necessarily whole) over divisor d.
double WindowAt(TFilterWindowType type, double position, double d)
{
    // A one-point symmetric window has no divisor: its value is the peak.
    const double a = d > 0 ? TwoPi * position / d : 0.5 * TwoPi;
    const double b = d > 0 ? FourPi * position / d : 0.5 * FourPi;
    switch (type) {
    case fwHamming:
        return 0.54 - 0.46 * std::cos(a);
    case fwHann:
        return (1.0 - std::cos(a)) / 2.0;
    case fwBlackman:
        return 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(b);
    }
    return 1.0;
}

} // namespace

std::vector<double> FilterWindowCoefficients(TFilterWindowType type, int n, bool symmetric)
{
    std::vector<double> w(static_cast<std::size_t>(n > 0 ? n : 0));
    const double d = symmetric ? n - 1 : n;
    for (int i = 0; i < n; ++i)
        w[static_cast<std::size_t>(i)] = WindowAt(type, i, d);
    return w;
}

std::vector<double> SincKernel(int taps, TFilterWindowType type, double cutoff)
{
    return ShiftedSincKernel(taps, type, cutoff, 0.0);
}

std::vector<double> ShiftedSincKernel(int taps, TFilterWindowType type, double cutoff, double offset)
{
    std::vector<double> h(static_cast<std::size_t>(taps > 0 ? taps : 0));
    const int m = taps / 2;
    double sum = 0;
    for (int i = 0; i < taps; ++i) {
        const double x = (i - m) + offset;
        double value = WindowAt(type, i + offset, taps);
        if (x == 0)
            value *= TwoPi * cutoff;
        else
            value *= std::sin(TwoPi * cutoff * x) / x;
        h[static_cast<std::size_t>(i)] = value;
        sum += value;
    }
    // The centre tap alone is 2 pi fc > 0, and the side lobes never cancel it
    // for a cutoff below 0.5; the guard only keeps a degenerate call finite.
    if (sum != 0) {
        for (double& value : h)
            value /= sum;
    }
    return h;
}
