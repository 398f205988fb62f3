// Filter paths, evaluated natively over the Python objects of a decoded
// answer: a step picks members out of an object, maps over an array, or keeps
// several members side by side. Steps run one after another, so the depth of
// the data never turns into recursion here.
#include "filter.hpp"

#include <vector>

namespace harborsweep {
namespace {

constexpr const char *kNotFound = "FILTER_NOT_FOUND";
constexpr Py_ssize_t kSignalCheckInterval = 4096;

struct Step {
    nb::object text;               // the step as written
    std::vector<nb::object> keys;  // its pieces between "&", stripped
    bool multi_key() const { return keys.size() > 1; }
};

// The text without leading and trailing whitespace, as str.strip() has it.
nb::object strip(nb::handle text) {
    PyObject *s = text.ptr();
    const int kind = PyUnicode_KIND(s);
    const void *data = PyUnicode_DATA(s);
    Py_ssize_t begin = 0, end = PyUnicode_GET_LENGTH(s);
    while (begin < end && Py_UNICODE_ISSPACE(PyUnicode_READ(kind, data, begin)))
        ++begin;
    while (end > begin && Py_UNICODE_ISSPACE(PyUnicode_READ(kind, data, end - 1)))
        --end;
    return nb::steal(PyUnicode_Substring(s, begin, end));
}

Step parse_step(nb::handle text) {
    Step step{nb::borrow(text), {}};
    nb::object separator = nb::str("&");
    nb::object pieces = nb::steal(PyUnicode_Split(text.ptr(), separator.ptr(), -1));
    if (!pieces.is_valid())
        nb::raise_python_error();
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(pieces.ptr()); ++i) {
        nb::object key = strip(PyList_GET_ITEM(pieces.ptr(), i));
        if (!key.is_valid())
            nb::raise_python_error();
        step.keys.push_back(std::move(key));
    }
    return step;
}

// Copies the path first: a caller's list may change while members are read.
std::vector<Step> parse_path(nb::handle filters) {
    if (!PyList_Check(filters.ptr()) && !PyTuple_Check(filters.ptr())) {
        PyErr_Format(PyExc_TypeError,
                     "filter_results() expects filters to be a list or tuple "
                     "of str, not '%.200s'", Py_TYPE(filters.ptr())->tp_name);
        nb::raise_python_error();
    }
    nb::object items = nb::steal(PySequence_Tuple(filters.ptr()));
    if (!items.is_valid())
        nb::raise_python_error();
    std::vector<Step> path;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.ptr()); ++i) {
        PyObject *text = PyTuple_GET_ITEM(items.ptr(), i);
        if (!PyUnicode_Check(text)) {
            PyErr_Format(PyExc_TypeError,
                         "filter_results() expects every filter step to be a "
                         "str, not '%.200s' (step %zd)", Py_TYPE(text)->tp_name, i);
            nb::raise_python_error();
        }
        path.push_back(parse_step(text));
    }
    return path;
}

// Member `key` of `value`, as value[key] reads it. When the member is missing
// and `tolerate_missing` is set, returns the not-found marker instead of the
// KeyError; every other failure propagates.
nb::object member(nb::handle value, nb::handle key, bool tolerate_missing,
                  nb::handle marker) {
    PyObject *found;
    if (PyDict_CheckExact(value.ptr())) {
        found = PyDict_GetItemWithError(value.ptr(), key.ptr());  // borrowed
        if (found)
            return nb::borrow(found);
        if (PyErr_Occurred())
            nb::raise_python_error();
        if (tolerate_missing)
            return nb::borrow(marker);
        PyErr_SetObject(PyExc_KeyError, key.ptr());
        nb::raise_python_error();
    }
    found = PyObject_GetItem(value.ptr(), key.ptr());  // new reference
    if (found)
        return nb::steal(found);
    if (tolerate_missing && PyErr_ExceptionMatches(PyExc_KeyError)) {
        PyErr_Clear();
        return nb::borrow(marker);
    }
    nb::raise_python_error();
}

// A new object holding the step's keys in order, each mapped to the member of
// `value` or to the marker where it is missing.
nb::object pick_members(nb::handle value, const Step &step, nb::handle marker) {
    nb::object picked = nb::steal(PyDict_New());
    if (!picked.is_valid())
        nb::raise_python_error();
    for (const nb::object &key : step.keys) {
        nb::object found = member(value, key, true, marker);
        if (PyDict_SetItem(picked.ptr(), key.ptr(), found.ptr()) < 0)
            nb::raise_python_error();
    }
    return picked;
}

nb::object narrow_element(nb::handle element, const Step &step, nb::handle marker) {
    if (step.multi_key())
        return pick_members(element, step, marker);
    return member(element, step.keys.front(), false, marker);
}

void append(nb::handle list, nb::handle item) {
    if (PyList_Append(list.ptr(), item.ptr()) < 0)
        nb::raise_python_error();
}

void check_signals(Py_ssize_t visited) {
    if (visited % kSignalCheckInterval == 0 && PyErr_CheckSignals() < 0)
        nb::raise_python_error();
}

// Maps one step over the elements of an array. Exact lists are walked by
// index, re-reading the length each time, since a member lookup may run
// Python code that changes the list; subclasses iterate as they define.
nb::object map_array(nb::handle array, const Step &step, nb::handle marker) {
    nb::object mapped = nb::steal(PyList_New(0));
    if (!mapped.is_valid())
        nb::raise_python_error();
    if (PyList_CheckExact(array.ptr())) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(array.ptr()); ++i) {
            nb::object element = nb::borrow(PyList_GET_ITEM(array.ptr(), i));
            append(mapped, narrow_element(element, step, marker));
            check_signals(i + 1);
        }
        return mapped;
    }
    nb::object iterator = nb::steal(PyObject_GetIter(array.ptr()));
    if (!iterator.is_valid())
        nb::raise_python_error();
    Py_ssize_t visited = 0;
    while (nb::object element = nb::steal(PyIter_Next(iterator.ptr()))) {
        append(mapped, narrow_element(element, step, marker));
        check_signals(++visited);
    }
    if (PyErr_Occurred())
        nb::raise_python_error();
    return mapped;
}

nb::object narrow_object(nb::handle object, const Step &step, nb::handle marker) {
    if (step.multi_key())
        return pick_members(object, step, marker);
    // On an object a single-key step looks up the step text as written.
    return member(object, step.text, true, marker);
}

}  // namespace

nb::object filter_results(nb::handle results, nb::handle filters) {
    std::vector<Step> path = parse_path(filters);
    nb::object current = nb::borrow(results);
    if (path.empty())
        return current;
    nb::object marker = nb::str(kNotFound);
    for (const Step &step : path) {
        if (PyList_Check(current.ptr()))
            current = map_array(current, step, marker);
        else if (PyDict_Check(current.ptr()))
            current = narrow_object(current, step, marker);
        else
            return nb::none();
    }
    return current;
}

}  // namespace harborsweep
