// Ctrl-C during a long lint. The interpreter only notes a signal when it
// comes; the loops over files, lines and values ask it on each pass, and end
// by raising the signal's exception (KeyboardInterrupt), which unwinds
// through them as any other Python error does.
#pragma once

#include <nanobind/nanobind.h>

namespace harborsweep::lint {

// A few nanoseconds when no signal has come.
inline void check_interrupts() {
    if (PyErr_CheckSignals() < 0)
        throw nanobind::python_error();
}

}  // namespace harborsweep::lint
