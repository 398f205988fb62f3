// Argument binding: which TypeError a bad call gets is observable, so the
// checks run in a fixed order: too many positional arguments, too few without
// keywords, the first parameter still missing, then each keyword in turn.
#include "module/argument_binding.hpp"

namespace harborsweep {

static Py_ssize_t parameter_index(std::span<const char *const> names, PyObject *keyword) {
    for (size_t i = 0; i < names.size(); ++i)
        if (PyUnicode_CompareWithASCIIString(keyword, names[i]) == 0)
            return static_cast<Py_ssize_t>(i);
    return -1;
}

static bool wrong_count(const char *operation, size_t expected, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 operation, "exactly", static_cast<Py_ssize_t>(expected), "s", given);
    return false;
}

bool bind_arguments(const char *operation, std::span<const char *const> names,
                    PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                    std::span<PyObject *> bound) {
    const Py_ssize_t count = static_cast<Py_ssize_t>(names.size());
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nargs > count || (nkw == 0 && nargs < count))
        return wrong_count(operation, names.size(), nargs);

    for (Py_ssize_t i = 0; i < count; ++i)
        bound[i] = i < nargs ? args[i] : nullptr;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        Py_ssize_t i = parameter_index(names, PyTuple_GET_ITEM(kwnames, k));
        if (i >= nargs && !bound[i])
            bound[i] = args[nargs + k];
    }
    for (Py_ssize_t i = 0; i < count; ++i)
        if (!bound[i])
            return wrong_count(operation, names.size(), i);

    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject *keyword = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t i = parameter_index(names, keyword);
        if (i < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", operation,
                         keyword);
            return false;
        }
        if (i < nargs) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                         operation, keyword);
            return false;
        }
    }
    return true;
}

bool refuse_arguments(const char *operation, Py_ssize_t nargs, PyObject *kwnames) {
    if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes no keyword arguments", operation);
        return false;
    }
    if (nargs > 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes no arguments (%zd given)", operation, nargs);
        return false;
    }
    return true;
}

}  // namespace harborsweep
