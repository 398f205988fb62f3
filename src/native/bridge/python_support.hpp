// Small bridges between C++ control flow and the Python error model.
#pragma once

#include <nanobind/nanobind.h>

#include <new>

namespace nb = nanobind;

namespace harborsweep {

// Python truth value of `value`, as `if value:` tests it.
inline bool truthy(nb::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0)
        nb::raise_python_error();
    return result != 0;
}

// The interpreter's repr() of `value`: the literal it writes for it.
inline nb::object literal_of(nb::handle value) {
    nb::object text = nb::steal(PyObject_Repr(value.ptr()));
    if (!text.is_valid())
        nb::raise_python_error();
    return text;
}

// Runs `body`; an allocation failure in C++ leaving it is raised on as the
// interpreter's MemoryError, so that it takes the road of an error raised in
// Python: the handlers below catch it, clean up, add their notes.
template <typename Body>
auto as_python_error(Body &&body) -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
    }
    nb::raise_python_error();
}

// Runs `body`, dropping an error of the Exception family that it raises;
// returns whether it completed. Interrupts and exits are not in that family
// and pass on.
template <typename Body>
bool ran_without_exception(Body &&body) {
    try {
        as_python_error(body);
        return true;
    } catch (nb::python_error &error) {
        if (!error.matches(PyExc_Exception))
            throw;
    }
    return false;
}

// Runs `body`, then `clean_up`, whether `body` completes or fails. When
// `body` fails, a failure of `clean_up` must not mask the error already on its
// way out, and is dropped; after a body that completed it is raised.
template <typename Body, typename CleanUp>
nb::object then_clean_up(Body &&body, CleanUp &&clean_up) {
    nb::object result;
    try {
        result = as_python_error(body);
    } catch (nb::python_error &) {
        try {
            as_python_error(clean_up);
        } catch (nb::python_error &) {
        }
        throw;
    }
    as_python_error(clean_up);
    return result;
}

// Runs `body` with `resource` open, then calls its close(), also when `body`
// fails.
template <typename Body>
nb::object use_then_close(nb::handle resource, Body &&body) {
    return then_clean_up(body, [&] { resource.attr("close")(); });
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
