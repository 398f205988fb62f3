// Pushing what the run has printed out to the operating system.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// Flushes the module's `sys.stdout`, as looked up now, and `result_stream`,
// the stream the last result went to, when that is another object: `pp`
// keeps the standard output of the moment it was made, which a caller's
// redirect_stdout does not change. A stream that is None or has no flush()
// is left alone.
void flush_standard_output(nb::handle module, nb::handle result_stream = nb::handle());

}  // namespace harborsweep
