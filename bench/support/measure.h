#pragma once

#include <functional>
#include <vector>

// Timing ours against a peer in the same run, so that both meet the same
// machine: medians of several runs, the two sides taking turns to go first.

struct TTiming {
    double Wall = 0;
    double Cpu = 0; // user and system time
};

double Median(std::vector<double> values);

// Times an action of this process: the wall clock, and the processor time of
// this process and of the children it waited for meanwhile. Exits with 2 when
// the action fails.
TTiming Measure(const std::function<bool()>& action);

struct TSides {
    std::vector<std::vector<TTiming>> Runs; // per side, in the order given
    double Wall(std::size_t side) const;    // medians
    double Cpu(std::size_t side) const;
};

// Runs each side runs times; every round starts with the next side.
TSides Compare(int runs, const std::vector<std::function<TTiming()>>& sides);

// Prints ours (side 0) against peer (another side): medians, the wall and
// processor-time ratios ours / peer, and each run. The target is met when the
// wall ratio is at most limit, and the processor-time ratio too when judgeCpu;
// a limit of 0 sets none (a peer shown for reference).
bool Report(const char* what, const TSides& sides, std::size_t peer, double limit, bool judgeCpu);
