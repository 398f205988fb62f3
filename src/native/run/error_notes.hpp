// Notes on the errors that end a check, naming the check file they came
// from: with twenty checks in a directory, a bare KeyError does not say
// which one to open.
#pragma once

#include <nanobind/nanobind.h>

#include <new>

#include "bridge/python_support.hpp"

namespace nb = nanobind;

namespace harborsweep {

// "while running check file NAME": the note of a check that the run takes
// from the configuration directory, NAME as the directory lists it.
nb::object check_file_note(nb::handle name);

// "while running output(REFERENCE) for HOLDER": the note of a referenced
// check, REFERENCE as written and HOLDER the check file that holds it.
nb::object reference_note(nb::handle reference, nb::handle holder);

// Adds the note `text` to the error on its way out, before the notes of the
// output references it has already passed, so that the notes read from the
// outermost check inward. A note that can't be added is given up, never the
// error itself.
void note_on_error(nb::python_error &error, nb::handle text);

// Runs `body`; an error of the Exception family leaving it gets the note
// that `make_note()` returns, worked out only then. SystemExit and
// KeyboardInterrupt pass untouched, and so does everything on Python 3.10,
// which has no notes. An allocation failure in C++ is a MemoryError here,
// and gets its note like one raised in Python. The error itself (type,
// message, traceback) is the same object, rethrown.
template <typename Body, typename MakeNote>
auto with_error_note(Body &&body, MakeNote &&make_note) -> decltype(body()) {
    try {
        return as_python_error(body);
    } catch (nb::python_error &error) {
#if PY_VERSION_HEX >= 0x030B0000
        if (error.matches(PyExc_Exception)) {
            try {
                note_on_error(error, make_note());
            } catch (nb::python_error &) {  // the note is lost, not the error
            } catch (const std::bad_alloc &) {
            }
        }
#else
        (void)make_note;
#endif
        throw;
    }
}

}  // namespace harborsweep
