// Filter paths: narrowing a decoded JSON value by a list of steps.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// Applies the filter path `filters` (a list or tuple of str) to `results`.
// Never changes `results`; on failure raises and returns nothing partial.
nb::object filter_results(nb::handle results, nb::handle filters);

}  // namespace harborsweep
