// The benchmark program's entry: the platform services are registered first,
// so in-process opens use the same heap preparation as the netloom executable.
#include <benchmark/benchmark.h>

#include "platform/platform.h"

int main(int argc, char** argv) {
    nl::registerPlatformServices();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
