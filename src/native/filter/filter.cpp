// Filter paths, evaluated natively over the Python objects of a decoded
// answer: a step picks members out of an object, maps over an array, or keeps
// several members side by side. Steps run one after another, so the depth of
// the data never turns into recursion here.
#include "filter/filter.hpp"

#include <vector>

namespace harborsweep {
namespace {

constexpr const char *kNotFound = "FILTER_NOT_FOUND";
constexpr Py_ssize_t kSignalCheckInterval = 4096;

// State of one evaluation. Signals are polled by units of work (a step read,
// a member looked up), not by array elements: a short array with a very wide
// step, or a very long path, must answer Ctrl-C as promptly as a long array.
struct Evaluation {
    nb::object marker = nb::str(kNotFound);
    Py_ssize_t until_poll = kSignalCheckInterval;

    void tick() {
        if (--until_poll > 0)
            return;
        until_poll = kSignalCheckInterval;
        if (PyErr_CheckSignals() < 0)
            nb::raise_python_error();
    }
};

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
std::vector<Step> parse_path(nb::handle filters, Evaluation &eval) {
    if (!PyList_Check(filters.ptr()) && !PyTuple_Check(filters.ptr())) {
        PyErr_Format(PyExc_TypeError,
                     "filter_results() expects filters to be a list or tuple "
                     "of str, not '%.200s'",
                     Py_TYPE(filters.ptr())->tp_name);
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
                         "str, not '%.200s' (step %zd)",
                         Py_TYPE(text)->tp_name, i);
            nb::raise_python_error();
        }
        path.push_back(parse_step(text));
        eval.tick();
    }
    return path;
}

// Member `key` of `value`, as value[key] reads it. When the member is missing
// and `tolerate_missing` is set, returns the not-found marker instead of the
// KeyError; every other failure propagates.
nb::object member(nb::handle value, nb::handle key, bool tolerate_missing, Evaluation &eval) {
    eval.tick();
    nb::handle marker = eval.marker;
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
nb::object pick_members(nb::handle value, const Step &step, Evaluation &eval) {
    nb::object picked = nb::steal(PyDict_New());
    if (!picked.is_valid())
        nb::raise_python_error();
    for (const nb::object &key : step.keys) {
        nb::object found = member(value, key, true, eval);
        if (PyDict_SetItem(picked.ptr(), key.ptr(), found.ptr()) < 0)
            nb::raise_python_error();
    }
    return picked;
}

nb::object narrow_element(nb::handle element, const Step &step, Evaluation &eval) {
    if (step.multi_key())
        return pick_members(element, step, eval);
    return member(element, step.keys.front(), false, eval);
}

void append(nb::handle list, nb::handle item) {
    if (PyList_Append(list.ptr(), item.ptr()) < 0)
        nb::raise_python_error();
}

// Maps one step over the elements of an array. Exact lists are walked by
// index, re-reading the length each time, since a member lookup may run
// Python code that changes the list; subclasses iterate as they define.
nb::object map_array(nb::handle array, const Step &step, Evaluation &eval) {
    nb::object mapped = nb::steal(PyList_New(0));
    if (!mapped.is_valid())
        nb::raise_python_error();
    if (PyList_CheckExact(array.ptr())) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(array.ptr()); ++i) {
            nb::object element = nb::borrow(PyList_GET_ITEM(array.ptr(), i));
            append(mapped, narrow_element(element, step, eval));
        }
        return mapped;
    }
    nb::object iterator = nb::steal(PyObject_GetIter(array.ptr()));
    if (!iterator.is_valid())
        nb::raise_python_error();
    while (nb::object element = nb::steal(PyIter_Next(iterator.ptr())))
        append(mapped, narrow_element(element, step, eval));
    if (PyErr_Occurred())
        nb::raise_python_error();
    return mapped;
}

nb::object narrow_object(nb::handle object, const Step &step, Evaluation &eval) {
    if (step.multi_key())
        return pick_members(object, step, eval);
    // On an object a single-key step looks up the step text as written.
    return member(object, step.text, true, eval);
}

}  // namespace

nb::object filter_results(nb::handle results, nb::handle filters) {
    Evaluation eval;
    std::vector<Step> path = parse_path(filters, eval);
    nb::object current = nb::borrow(results);
    for (const Step &step : path) {
        eval.tick();
        if (PyList_Check(current.ptr()))
            current = map_array(current, step, eval);
        else if (PyDict_Check(current.ptr()))
            current = narrow_object(current, step, eval);
        else
            return nb::none();
    }
    return current;
}

}  // namespace harborsweep
