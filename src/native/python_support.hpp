// Small bridges between C++ control flow and the Python error model.
#pragma once

#include <new>

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// Python truth value of `value`, as `if value:` tests it.
inline bool truthy(nb::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0)
        nb::raise_python_error();
    return result != 0;
}

// Runs an operation's body for the interpreter: its result as a new
// reference, or nullptr with the Python error set. Only errors that are
// already Python errors and memory exhaustion are translated; SystemExit and
// KeyboardInterrupt travel inside python_error and come out unchanged.
template <typename Body>
PyObject *run_guarded(Body &&body) noexcept {
    try {
        return body().release().ptr();
    } catch (nb::python_error &error) {
        error.restore();
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
    }
    return nullptr;
}

}  // namespace harborsweep
