// The module's operations, defined on the module at start-up.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// Defines the operations on `module`, in their documented order.
void define_operations(nb::handle module);

}  // namespace harborsweep
