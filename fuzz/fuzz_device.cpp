// libFuzzer target: one hostile emulated device per input (harness.h).
#include <cstdio>
#include <cstdlib>

#include "harness.h"

namespace {
void print_counters() {
    const fuzz::Counters &c = fuzz::counters();
    std::fprintf(stderr,
                 "fuzz-counters: inputs %lu, devices %lu, records %lu, opens %lu, reports in %lu, out %lu\n",
                 c.inputs, c.devices, c.records, c.opens, c.reports_in, c.reports_out);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    std::atexit(print_counters);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    fuzz::run(data, size);  // a Violation escapes: libFuzzer records the input
    return 0;
}
