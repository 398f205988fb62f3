// Functions of the module: C entries defined as module attributes, bound to
// the module object so that each call receives it as its globals.
#pragma once

#include <nanobind/nanobind.h>

#include <span>

namespace nb = nanobind;

namespace harborsweep {

// Defines each of `definitions` as a function of `module`, in order; the
// definitions must outlive the module.
void define_functions(nb::handle module, std::span<PyMethodDef> definitions);

}  // namespace harborsweep
