// The groupby table of the public db-benchmark, deterministic:
// `bench-groupby-generate ROWS FILE [K]` writes id1..id6,v1,v2,v3 as its
// generator does: id1/id2 K text keys ("id001"), id3 ROWS/K text keys
// ("id0000000001"), id4/id5 1..K, id6 1..ROWS/K, v1 1..5, v2 1..15, v3 a
// real 0..100 with six decimals. K is 100 unless given.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
uint64_t state = 0x9E3779B97F4A7C15ull;
uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}
long below(long n) {  // 1..n
    return long(next() % uint64_t(n)) + 1;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench-groupby-generate ROWS FILE [K]\n");
        return 2;
    }
    const long rows = std::atol(argv[1]);
    const long k = argc > 3 ? std::atol(argv[3]) : 100;
    const long many = rows / k > 0 ? rows / k : 1;
    FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 1;
    std::fputs("id1,id2,id3,id4,id5,id6,v1,v2,v3\n", out);
    for (long i = 0; i < rows; ++i) {
        const double v3 = double(next() % 100000001) / 1000000.0;
        std::fprintf(out, "id%03ld,id%03ld,id%010ld,%ld,%ld,%ld,%ld,%ld,%.6f\n", below(k), below(k), below(many), below(k),
                     below(k), below(many), below(5), below(15), v3);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
