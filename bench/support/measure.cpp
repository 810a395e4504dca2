#include "measure.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

double CpuSeconds()
{
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) +
           seconds(children.ru_stime);
}

} // namespace

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

TTiming Measure(const std::function<bool()>& action)
{
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    if (!action())
        std::exit(2);
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            CpuSeconds() - cpu};
}

double TSides::Wall(std::size_t side) const
{
    std::vector<double> values;
    for (const TTiming& t : Runs[side])
        values.push_back(t.Wall);
    return Median(values);
}

double TSides::Cpu(std::size_t side) const
{
    std::vector<double> values;
    for (const TTiming& t : Runs[side])
        values.push_back(t.Cpu);
    return Median(values);
}

TSides Compare(int runs, const std::vector<std::function<TTiming()>>& sides)
{
    TSides result;
    result.Runs.resize(sides.size());
    for (int run = 0; run < runs; ++run) {
        for (std::size_t k = 0; k < sides.size(); ++k) {
            const std::size_t side = (static_cast<std::size_t>(run) + k) % sides.size();
            result.Runs[side].push_back(sides[side]());
        }
    }
    return result;
}

bool Report(const char* what, const TSides& sides, std::size_t peer, double limit, bool judgeCpu)
{
    const double wall = sides.Wall(0) / sides.Wall(peer);
    const double cpu = sides.Cpu(0) / sides.Cpu(peer);
    const bool met = limit <= 0 || (wall <= limit && (!judgeCpu || cpu <= limit));
    std::printf("%s\n", what);
    std::printf("  wall: ours %7.3f s  peer %7.3f s  ratio %.3f\n", sides.Wall(0), sides.Wall(peer), wall);
    std::printf("  cpu:  ours %7.3f s  peer %7.3f s  ratio %.3f\n", sides.Cpu(0), sides.Cpu(peer), cpu);
    if (limit > 0)
        std::printf("  target: ratio <= %.3f (%s): %s\n", limit, judgeCpu ? "wall and cpu" : "wall",
                    met ? "met" : "MISSED");
    std::printf("  runs, ours/peer wall (cpu):");
    for (std::size_t i = 0; i < sides.Runs[0].size() && i < sides.Runs[peer].size(); ++i)
        std::printf(" %.2f/%.2f (%.2f/%.2f)", sides.Runs[0][i].Wall, sides.Runs[peer][i].Wall,
                    sides.Runs[0][i].Cpu, sides.Runs[peer][i].Cpu);
    std::printf("\n");
    return met;
}
