// Writing one check's result to the output through the module's `pp`.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// Writes `value` laid out as the module's pretty printer `pp` lays it out,
// followed by one line end, to that printer's stream. Returns that stream
// (the `_stream` a PrettyPrinter keeps), or an invalid object for a printer
// that keeps none.
nb::object write_result(nb::handle module, nb::handle value);

}  // namespace harborsweep
