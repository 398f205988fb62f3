// Error notes (PEP 678). Notes are appended as an error climbs out of the
// run, innermost first; each level of the run instead puts its own in front
// of the notes that the referenced checks below it added, so a chain reads
// top down, like the chain of files itself.
#include "run/error_notes.hpp"

namespace harborsweep {
namespace {

// What the notes of output references begin with, and so are told by.
constexpr char kReferenceNote[] = "while running output(";

nb::object formatted(PyObject *text) {
    nb::object note = nb::steal(text);
    if (!note.is_valid())
        nb::raise_python_error();
    return note;
}

// Compared as code points, so that a holder whose name came from the file
// system as surrogate escapes (an undecodable byte) is told like any other.
bool is_reference_note(PyObject *note, nb::handle prefix) {
    return PyUnicode_Check(note) &&
           PyUnicode_Tailmatch(note, prefix.ptr(), 0, PY_SSIZE_T_MAX, -1) == 1;
}

// The error's __notes__, looked up once (a property runs once): null when it
// has none. Any other failure of the lookup is raised.
nb::object notes_of(nb::handle error) {
    PyObject *notes = PyObject_GetAttrString(error.ptr(), "__notes__");
    if (notes)
        return nb::steal(notes);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError))
        nb::raise_python_error();
    PyErr_Clear();
    return nb::object();
}

}  // namespace

nb::object check_file_note(nb::handle name) {
    return formatted(PyUnicode_FromFormat("while running check file %S", name.ptr()));
}

nb::object reference_note(nb::handle reference, nb::handle holder) {
    return formatted(
        PyUnicode_FromFormat("%s%S) for %S", kReferenceNote, reference.ptr(), holder.ptr()));
}

void note_on_error(nb::python_error &error, nb::handle text) {
    nb::handle value = error.value();
    nb::object notes = notes_of(value);
    if (!notes.is_valid()) {
        // The first note makes the list, as add_note does.
        nb::list first;
        first.append(text);
        nb::setattr(value, "__notes__", first);
        return;
    }
    // A tuple, a text, None...: add_note refuses them too, and the error
    // goes on without our note.
    if (!PyList_Check(notes.ptr()))
        return;
    nb::str prefix(kReferenceNote);
    Py_ssize_t position = 0;
    while (position < PyList_GET_SIZE(notes.ptr()) &&
           !is_reference_note(PyList_GET_ITEM(notes.ptr(), position), prefix))
        ++position;
    if (PyList_Insert(notes.ptr(), position, text.ptr()) < 0)
        nb::raise_python_error();
}

}  // namespace harborsweep
