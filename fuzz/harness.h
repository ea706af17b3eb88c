// One hostile device per input: the bytes become an emulated device's IDs,
// strings, sysfs faults, report descriptor and a script of reports, which
// CHIDDevice then enumerates, opens, reads, writes and questions through the
// real hidapi. Shared by the libFuzzer target and the regression test.
//
// The process must run under the emulator's preloads (see testbed/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace fuzz {

// An invariant broke: what the library returned differs from what the
// device holds, or a resource leaked. The fuzzer lets it escape (a crash).
struct Violation : std::logic_error {
    using std::logic_error::logic_error;
};

// What the runs have done so far, for the figures.
struct Counters {
    unsigned long inputs = 0;
    unsigned long devices = 0;       // emulated devices made
    unsigned long records = 0;       // enumeration records checked
    unsigned long opens = 0;         // successful opens
    unsigned long reports_in = 0;    // input reports read back
    unsigned long reports_out = 0;   // output reports seen by the device
};

// Makes the emulator (once per process) and runs one input.
void run(const std::uint8_t *data, std::size_t size);
const Counters &counters();

}  // namespace fuzz
