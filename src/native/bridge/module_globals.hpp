// Late-bound names: the module's globals and the builtins, looked up at call
// time the way Python code in this module would see them, so that a caller's
// `unittest.mock.patch` of a module global or a builtin reaches every call.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// The value bound to `name` in the module's globals, else in the builtins;
// NameError when neither has it, as for an unbound global in Python.
nb::object global(nb::handle module, const char *name);

}  // namespace harborsweep
