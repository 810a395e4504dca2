#include "filters.h"

#include <cmath>

namespace {

// The constants the filters have always used; a more precise pi would shift
// every coefficient in its last digits.
constexpr double TwoPi = 6.28318530718;
constexpr double FourPi = 12.56637061436;

} // namespace

std::vector<double> FilterWindowCoefficients(TFilterWindowType type, int n, bool symmetric)
{
    std::vector<double> w(static_cast<std::size_t>(n > 0 ? n : 0));
    const double d = symmetric ? n - 1 : n;
    for (int i = 0; i < n; ++i) {
        // A one-point symmetric window has no divisor: its value is the peak.
        const double a = d > 0 ? TwoPi * i / d : 0.5 * TwoPi;
        const double b = d > 0 ? FourPi * i / d : 0.5 * FourPi;
        double value = 1.0;
        switch (type) {
        case fwHamming:
            value = 0.54 - 0.46 * std::cos(a);
            break;
        case fwHann:
            value = (1.0 - std::cos(a)) / 2.0;
            break;
        case fwBlackman:
            value = 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(b);
            break;
        }
        w[static_cast<std::size_t>(i)] = value;
    }
    return w;
}

std::vector<double> SincKernel(int taps, TFilterWindowType type, double cutoff)
{
    std::vector<double> h = FilterWindowCoefficients(type, taps);
    const int m = taps / 2;
    double sum = 0;
    for (int i = 0; i < taps; ++i) {
        double& value = h[static_cast<std::size_t>(i)];
        if (i == m)
            value *= TwoPi * cutoff;
        else
            value *= std::sin(TwoPi * cutoff * (i - m)) / (i - m);
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
