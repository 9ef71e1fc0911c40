// Deterministic CSV data for the benchmarks: `bench-generate ROWS FILE [SEED]`
// writes id,name,city,age,score,joined,comment (about 57 bytes a row), with
// a city out of ten and some quoted comments holding commas and quotes.
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
uint64_t state = 88172645463325252ull;
uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench-generate ROWS FILE [SEED]\n");
        return 2;
    }
    const long rows = std::atol(argv[1]);
    if (argc > 3) state += std::strtoull(argv[3], nullptr, 10);
    FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 1;
    static const char* const cities[] = {"Tokyo", "Osaka", "Nagoya", "Sapporo", "Fukuoka",
                                         "Kobe",  "Kyoto", "Sendai", "Chiba",   "Naha"};
    static const char* const names[] = {"Sato", "Suzuki", "Takahashi", "Tanaka", "Ito", "Watanabe", "Yamamoto"};
    std::fputs("id,name,city,age,score,joined,comment\n", out);
    for (long i = 1; i <= rows; ++i) {
        const uint64_t r = next();
        const char* comment = "";
        switch (r % 16) {
        case 0: comment = "\"late, again\""; break;
        case 1: comment = "\"said \"\"ok\"\"\""; break;
        case 2: comment = "regular"; break;
        case 3: comment = "new"; break;
        default: comment = "ok"; break;
        }
        std::fprintf(out, "%ld,%s%lu,%s,%lu,%lu.%02lu,20%02lu/%02lu/%02lu,%s\n", i, names[(r >> 8) % 7],
                     (unsigned long)((r >> 16) % 1000), cities[(r >> 24) % 10], (unsigned long)(18 + (r >> 32) % 60),
                     (unsigned long)((r >> 40) % 1000), (unsigned long)((r >> 50) % 100),
                     (unsigned long)(10 + (r >> 12) % 15), (unsigned long)(1 + (r >> 20) % 12),
                     (unsigned long)(1 + (r >> 28) % 28), comment);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
