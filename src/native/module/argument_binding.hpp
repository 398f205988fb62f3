// Argument binding for the module's operations: fast calls with positional
// and keyword arguments, refused with the classic argument parser's texts.
#pragma once

#include <Python.h>

#include <span>

namespace harborsweep {

// Binds a fast call's arguments to the parameters `names` of `operation`.
// On success every slot of `bound` holds a borrowed argument that stays valid
// for the duration of the call; otherwise returns false with TypeError set.
bool bind_arguments(const char *operation, std::span<const char *const> names,
                    PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                    std::span<PyObject *> bound);

// For operations without parameters: true when the call has no arguments,
// otherwise false with TypeError set.
bool refuse_arguments(const char *operation, Py_ssize_t nargs, PyObject *kwnames);

}  // namespace harborsweep
