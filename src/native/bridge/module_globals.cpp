// Late-bound names: module globals first, then the builtins of the running
// frame (or of the interpreter when no Python frame is running).
#include "bridge/module_globals.hpp"

namespace harborsweep {

static PyObject *lookup(PyObject *dict, PyObject *name) {
    PyObject *value = PyDict_GetItemWithError(dict, name);  // borrowed
    if (!value && PyErr_Occurred())
        nb::raise_python_error();
    return value;
}

nb::object global(nb::handle module, const char *name) {
    nb::str key(name);
    PyObject *globals = PyModule_GetDict(module.ptr());  // borrowed
    if (!globals)
        nb::raise_python_error();
    if (PyObject *value = lookup(globals, key.ptr()))
        return nb::borrow(value);
    PyObject *builtins = PyEval_GetBuiltins();  // borrowed
    if (builtins)
        if (PyObject *value = lookup(builtins, key.ptr()))
            return nb::borrow(value);
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    nb::raise_python_error();
}

}  // namespace harborsweep
