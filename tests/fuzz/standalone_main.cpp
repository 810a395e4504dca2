// Replays a fuzz target's seed corpus, then feeds it generated inputs: mutations
// of the seeds (bit flips, cuts, splices, repeated bytes) and random bytes, from
// a fixed seed so a failure repeats. Used where libFuzzer is not built.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "../support/sanitizer_defaults.inc"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using TBytes = std::vector<uint8_t>;

TBytes ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Run(const TBytes& input)
{
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
}

TBytes Mutate(const TBytes& seed, std::mt19937& random)
{
    TBytes data = seed;
    const int steps = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < steps; ++i) {
        const size_t at = data.empty() ? 0 : random() % data.size();
        switch (random() % 6) {
        case 0:
            if (!data.empty())
                data[at] ^= static_cast<uint8_t>(1u << (random() % 8));
            break;
        case 1:
            if (!data.empty())
                data[at] = static_cast<uint8_t>(random());
            break;
        case 2:
            data.resize(at);
            break;
        case 3:
            data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), random() % 64,
                        static_cast<uint8_t>(random()));
            break;
        case 4: { // copy a slice of the input somewhere else
            if (data.size() < 2)
                break;
            const size_t from = random() % data.size();
            const size_t length = random() % (data.size() - from);
            TBytes slice(data.begin() + static_cast<std::ptrdiff_t>(from),
                         data.begin() + static_cast<std::ptrdiff_t>(from + length));
            data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), slice.begin(), slice.end());
            break;
        }
        default: // interesting values
            if (data.size() >= 4 && at + 4 <= data.size()) {
                static const uint32_t values[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
                const uint32_t v = values[random() % std::size(values)];
                for (int b = 0; b < 4; ++b)
                    data[at + static_cast<size_t>(b)] = static_cast<uint8_t>(v >> (8 * b));
            }
            break;
        }
    }
    return data;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<TBytes> seeds;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file())
                    seeds.push_back(ReadFile(entry.path()));
            }
        } else if (std::filesystem::is_regular_file(path)) {
            seeds.push_back(ReadFile(path));
        }
    }
    seeds.push_back({});
    for (const TBytes& seed : seeds)
        Run(seed);

    const char* runsText = std::getenv("VELBROOK_FUZZ_RUNS");
    const long runs = runsText ? std::strtol(runsText, nullptr, 10) : 10000;
    std::mt19937 random(20261208);
    for (long i = 0; i < runs; ++i) {
        if (i % 4 == 3) {
            TBytes noise(random() % 512);
            for (uint8_t& b : noise)
                b = static_cast<uint8_t>(random());
            Run(noise);
        } else {
            Run(Mutate(seeds[random() % seeds.size()], random));
        }
    }
    std::printf("%zu seeds and %ld generated inputs passed\n", seeds.size(), runs);
    return 0;
}
