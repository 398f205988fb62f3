// The command entry: options, prompts, the login check and the run loop.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// Parses the process arguments, settles the run settings, logs in once and
// runs every ".cfg" entry of the configuration directory in listing order.
nb::object main(nb::handle module);

}  // namespace harborsweep
