// The one main of the benchmark program; every bench/*.cpp registers its own.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
