// Error notes (PEP 678). Notes are appended as an error climbs out of the
// run, innermost first; each level of the run instead puts its own in front
// of the notes that the referenced checks below it added, so a chain reads
// top down, like the chain of files itself.
#include "run/error_notes.hpp"

#include <string_view>

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

bool is_reference_note(PyObject *note) {
    if (!PyUnicode_Check(note))
        return false;
    Py_ssize_t size = 0;
    const char *text = PyUnicode_AsUTF8AndSize(note, &size);
    if (!text) {
        PyErr_Clear();  // a note with lone surrogates is not one of ours
        return false;
    }
    return std::string_view(text, static_cast<std::size_t>(size))
        .starts_with(std::string_view(kReferenceNote));
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
    nb::object notes = nb::getattr(value, "__notes__", nb::none());
    if (!PyList_Check(notes.ptr())) {
        // None: the first note. Anything else: add_note refuses it, as it
        // would in Python, and the error goes on without one.
        value.attr("add_note")(text);
        return;
    }
    Py_ssize_t count = PyList_GET_SIZE(notes.ptr());
    Py_ssize_t position = 0;
    while (position < count && !is_reference_note(PyList_GET_ITEM(notes.ptr(), position)))
        ++position;
    if (PyList_Insert(notes.ptr(), position, text.ptr()) < 0)
        nb::raise_python_error();
}

}  // namespace harborsweep
