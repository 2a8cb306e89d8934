#pragma once
// VULTARI_BENCH_SHORT=1 (scripts/bench --short, as CI runs it): every benchmark runs once with fewer
// repetitions and a smaller load, to show that it still builds, runs and measures; its numbers are
// then not comparable with a full run's.
#include <cstdlib>
#include <cstring>

inline bool ShortRun()
{
    const char* value = std::getenv("VULTARI_BENCH_SHORT");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}
