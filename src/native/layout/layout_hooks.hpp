// Private entry points to the native layout, for the test suite only.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// Defines `_layout` and `_write_result` on the module.
void define_layout_hooks(nb::handle module);

}  // namespace harborsweep
