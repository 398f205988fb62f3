// The module's operations, defined on the module at start-up.
#pragma once

#include <span>

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// Defines the operations on `module`, in their documented order.
void define_operations(nb::handle module);

// Defines each of `definitions` as a function of `module`, in order; the
// definitions must outlive the module.
void define_functions(nb::handle module, std::span<PyMethodDef> definitions);

}  // namespace harborsweep
