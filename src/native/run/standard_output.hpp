// Pushing what the run has printed out to the operating system.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// Flushes the module's `sys.stdout`, as looked up now. A stdout that is None
// or has no flush() is left alone.
void flush_standard_output(nb::handle module);

}  // namespace harborsweep
