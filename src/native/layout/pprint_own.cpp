// Telling pprint's own printer apart from a caller's change to it. The
// layout of a dict, list, text or scalar reads, besides the printer's
// settings: the printer's methods, through its class and bases; `_dispatch`,
// the method for each type that does not fit its line; and the module's
// globals `_safe_tuple` and `_safe_key` (the sort order of dict keys),
// `_builtin_scalars` and `_recursion`, and before 3.14 `re` and
// `_dataclasses`, and the builtins (`sorted`, `repr`, `len`, ...) unless the
// module shadows them. Each must be what pprint made it: its functions the
// very ones it defined, still running the code they were made with, as the
// module found them at start-up, and the builtins they name unchanged since.
#include "layout/pprint_own.hpp"

#include <array>
#include <string_view>

namespace harborsweep {
namespace {

// The printer's methods that a layout of such a result calls.
constexpr auto kLayoutMethods = std::to_array<std::string_view>({
    "pprint",
    "_format",
    "_repr",
    "format",
    "_safe_repr",
    "_pprint_dict",
    "_pprint_list",
    "_pprint_str",
    "_format_items",
    "_format_dict_items",
#if PY_VERSION_HEX >= 0x030F0000
    "_format_child",
    "_child_indent",
    "_format_block_start",
    "_format_block_end",
    "_write_indent_padding",
#endif
});

// The module's dict, and what it defined as the module found it at start-up.
struct Pprint {
    PyObject *globals;
    PyObject *functions;  // each function and its code
    PyObject *builtins;   // each builtin they name and its value
};

bool pprint_function(PyObject *value, PyObject *pprint_globals) {
    return value && PyFunction_Check(value) && PyFunction_GET_GLOBALS(value) == pprint_globals;
}

PyObject *code_name(PyObject *function) {
    return reinterpret_cast<PyCodeObject *>(PyFunction_GET_CODE(function))->co_name;
}

bool named(PyObject *text, const char *name) {
    return PyUnicode_CheckExact(text) && PyUnicode_CompareWithASCIIString(text, name) == 0;
}

// A function of pprint's that is bound to the name its code was written
// under, so that one of pprint's functions set in place of another, or a
// caller's wrapper that took over a name with functools.wraps, is told apart.
bool defined_as(PyObject *value, PyObject *pprint_globals, PyObject *name) {
    return pprint_function(value, pprint_globals) && PyUnicode_CheckExact(name) &&
           PyUnicode_Compare(code_name(value), name) == 0;
}

// One that pprint defined, as well: a function that only claims pprint's
// names (a caller's made with pprint's globals, or given a caller's code)
// is not among those taken at start-up with their code.
bool own_function(PyObject *value, Pprint const &pprint, PyObject *name) {
    return defined_as(value, pprint.globals, name) &&
           PyDict_GetItem(pprint.functions, value) == PyFunction_GET_CODE(value);
}

// What a class of pprint's holds besides functions: data that no layout calls
// (its __module__ and __doc__, __slots__ and descriptors, the __firstlineno__
// and __static_attributes__ of 3.13, the table `_dispatch`, checked apart, and
// the dict view types and the set of their reprs that later releases keep for
// laying out views, which a JSON-like result never holds). A class of a
// caller's own, unlike a built-in type, could stand in for a method.
bool plain_data(PyObject *value) {
    return value == Py_None || PyUnicode_CheckExact(value) || PyLong_CheckExact(value) ||
           PyTuple_CheckExact(value) || PyList_CheckExact(value) || PyDict_CheckExact(value) ||
           PyAnySet_CheckExact(value) || Py_IS_TYPE(value, &PyGetSetDescr_Type) ||
           Py_IS_TYPE(value, &PyMemberDescr_Type) ||
           (PyType_Check(value) &&
            !PyType_HasFeature(reinterpret_cast<PyTypeObject *>(value), Py_TPFLAGS_HEAPTYPE));
}

nb::object class_members(PyTypeObject *type) {
#if PY_VERSION_HEX >= 0x030C0000
    return nb::steal(PyType_GetDict(type));
#else
    return nb::borrow(type->tp_dict);
#endif
}

// The dict of a class as pprint defines its classes: made by `type` itself,
// with `object` its only base, its functions pprint's own under their own
// names; an invalid object for any other.
nb::object own_class_members(PyObject *value, Pprint const &pprint) {
    if (!value || !PyType_CheckExact(value))
        return {};
    auto *type = reinterpret_cast<PyTypeObject *>(value);
    PyObject *mro = type->tp_mro;
    if (!mro || !PyTuple_CheckExact(mro) || PyTuple_GET_SIZE(mro) != 2 ||
        PyTuple_GET_ITEM(mro, 1) != reinterpret_cast<PyObject *>(&PyBaseObject_Type))
        return {};
    nb::object members = class_members(type);
    if (!members.is_valid() || !PyDict_CheckExact(members.ptr()))
        return {};
    Py_ssize_t position = 0;
    PyObject *name = nullptr;
    PyObject *member = nullptr;
    while (PyDict_Next(members.ptr(), &position, &name, &member)) {
        bool own = PyFunction_Check(member) ? own_function(member, pprint, name)
                                            : PyUnicode_CheckExact(name) && plain_data(member);
        if (!own)
            return {};
    }
    return members;
}

bool has_methods(PyObject *members, auto const &names) {
    for (std::string_view name : names)
        if (PyObject *method = PyDict_GetItemString(members, name.data());
            !method || !PyFunction_Check(method))
            return false;
    return true;
}

// pprint lays out a value that does not fit its line with the method that
// `_dispatch` names for its type's __repr__: the class's own _pprint_dict,
// _pprint_list and _pprint_str for dicts, lists and texts, and none for the
// scalars, which are written whole. Every entry must be one of the class's
// own methods.
bool own_dispatch(PyObject *members) {
    PyObject *dispatch = PyDict_GetItemString(members, "_dispatch");
    if (!dispatch || !PyDict_CheckExact(dispatch))
        return false;
    struct Entry {
        PyTypeObject *type;
        const char *method;
    };
    const std::array<Entry, 7> entries{{{&PyDict_Type, "_pprint_dict"},
                                        {&PyList_Type, "_pprint_list"},
                                        {&PyUnicode_Type, "_pprint_str"},
                                        {&PyLong_Type, nullptr},
                                        {&PyFloat_Type, nullptr},
                                        {&PyBool_Type, nullptr},
                                        {Py_TYPE(Py_None), nullptr}}};
    std::array<nb::object, entries.size()> reprs;
    for (std::size_t i = 0; i < entries.size(); ++i)
        reprs[i] = nb::handle(reinterpret_cast<PyObject *>(entries[i].type)).attr("__repr__");
    std::size_t found = 0;
    Py_ssize_t position = 0;
    PyObject *key = nullptr;
    PyObject *method = nullptr;
    while (PyDict_Next(dispatch, &position, &key, &method)) {
        if (!PyFunction_Check(method) || PyDict_GetItem(members, code_name(method)) != method)
            return false;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (key != reprs[i].ptr())
                continue;
            if (!entries[i].method || !named(code_name(method), entries[i].method))
                return false;
            ++found;
        }
    }
    return found == 3;
}

// `_safe_key`: pprint's class, with its own __init__ and __lt__.
bool own_key_class(PyObject *value, Pprint const &pprint) {
    nb::object members = own_class_members(value, pprint);
    return members.is_valid() &&
           has_methods(members.ptr(), std::to_array<std::string_view>({"__init__", "__lt__"}));
}

// `_builtin_scalars`: the types whose repr() pprint takes as it is.
bool own_scalar_types(PyObject *value) {
    const std::array<PyTypeObject *, 7> types{&PyUnicode_Type, &PyBytes_Type,   &PyByteArray_Type,
                                              &PyFloat_Type,   &PyComplex_Type, &PyBool_Type,
                                              Py_TYPE(Py_None)};
    if (!value || !PyFrozenSet_CheckExact(value) ||
        static_cast<std::size_t>(PySet_GET_SIZE(value)) != types.size())
        return false;
    nb::object members = nb::steal(PyObject_GetIter(value));
    if (!members.is_valid())
        nb::raise_python_error();
    while (nb::object member = nb::steal(PyIter_Next(members.ptr()))) {
        bool known = false;
        for (PyTypeObject *type : types)
            known = known || member.ptr() == reinterpret_cast<PyObject *>(type);
        if (!known)
            return false;
    }
    if (PyErr_Occurred())
        nb::raise_python_error();
    return true;
}

#if PY_VERSION_HEX < 0x030E0000
// A module that pprint imported under `alias`: the one it names in sys.modules.
bool imported_module(PyObject *pprint_globals, const char *alias, const char *name) {
    PyObject *bound = PyDict_GetItemString(pprint_globals, alias);
    nb::object module = nb::steal(PyImport_GetModule(nb::str(name).ptr()));
    if (!module.is_valid() && PyErr_Occurred())
        nb::raise_python_error();
    return bound && bound == module.ptr();
}
#endif

// A global of the module that shadows a builtin (`sorted`, `repr`, ...).
bool shadows_builtins(PyObject *pprint_globals) {
    PyObject *builtins = PyEval_GetBuiltins();
    Py_ssize_t position = 0;
    PyObject *name = nullptr;
    PyObject *value = nullptr;
    while (PyDict_Next(pprint_globals, &position, &name, &value)) {
        if (!PyUnicode_CheckExact(name))
            return true;
        if (PyUnicode_GET_LENGTH(name) >= 2 && PyUnicode_READ_CHAR(name, 0) == '_' &&
            PyUnicode_READ_CHAR(name, 1) == '_')
            continue;  // the module's own __name__, __doc__ and the like
        int found = builtins ? PyDict_Contains(builtins, name) : 0;
        if (found < 0)
            nb::raise_python_error();
        if (found)
            return true;
    }
    return false;
}

// The builtins that pprint's functions name hold what they held at start-up.
bool builtins_unchanged(PyObject *taken) {
    PyObject *builtins = PyEval_GetBuiltins();
    Py_ssize_t position = 0;
    PyObject *name = nullptr;
    PyObject *value = nullptr;
    while (PyDict_Next(taken, &position, &name, &value))
        if (!builtins || PyDict_GetItemWithError(builtins, name) != value) {
            if (PyErr_Occurred())
                nb::raise_python_error();
            return false;
        }
    return true;
}

bool own_helpers(Pprint const &pprint) {
    auto helper = [&](const char *name) {
        nb::str key(name);
        return own_function(PyDict_GetItem(pprint.globals, key.ptr()), pprint, key.ptr());
    };
    auto get = [&](const char *name) { return PyDict_GetItemString(pprint.globals, name); };
    bool own = helper("_safe_tuple") && helper("_recursion") &&
               own_key_class(get("_safe_key"), pprint) && own_scalar_types(get("_builtin_scalars"));
#if PY_VERSION_HEX < 0x030E0000
    // From 3.14 on pprint imports these where it uses them.
    own = own && imported_module(pprint.globals, "re", "re") &&
          imported_module(pprint.globals, "_dataclasses", "dataclasses");
#endif
    return own && !shadows_builtins(pprint.globals) && builtins_unchanged(pprint.builtins);
}

// The builtins that `code`, and the code nested in it, name and the module
// does not define, each with its value now.
void take_builtins(nb::handle code, PyObject *pprint_globals, nb::dict &taken) {
    PyObject *builtins = PyEval_GetBuiltins();
    for (nb::handle name : nb::tuple(code.attr("co_names"))) {
        int defined = PyDict_Contains(pprint_globals, name.ptr());
        PyObject *value = builtins ? PyDict_GetItemWithError(builtins, name.ptr()) : nullptr;
        if (defined < 0 || PyErr_Occurred())
            nb::raise_python_error();
        if (!defined && value)
            taken[name] = nb::handle(value);
    }
    for (nb::handle constant : nb::tuple(code.attr("co_consts")))
        if (PyCode_Check(constant.ptr()))
            take_builtins(constant, pprint_globals, taken);
}

}  // namespace

nb::object pprint_originals(nb::handle pprint) {
    nb::dict functions, builtins;
    if (!PyModule_Check(pprint.ptr()))
        return nb::make_tuple(functions, builtins);
    PyObject *pprint_globals = PyModule_GetDict(pprint.ptr());
    auto take = [&](PyObject *function, PyObject *name) {
        if (!defined_as(function, pprint_globals, name))
            return;
        nb::handle code(PyFunction_GET_CODE(function));
        functions[nb::handle(function)] = code;
        take_builtins(code, pprint_globals, builtins);
    };
    for (const char *name : {"_safe_tuple", "_recursion"})
        take(PyDict_GetItemString(pprint_globals, name), nb::str(name).ptr());
    for (const char *name : {"PrettyPrinter", "_safe_key"}) {
        PyObject *type = PyDict_GetItemString(pprint_globals, name);
        nb::object members = type && PyType_CheckExact(type)
                                 ? class_members(reinterpret_cast<PyTypeObject *>(type))
                                 : nb::object();
        Py_ssize_t position = 0;
        PyObject *key = nullptr;
        PyObject *member = nullptr;
        while (members.is_valid() && PyDict_Next(members.ptr(), &position, &key, &member))
            take(member, key);
    }
    return nb::make_tuple(functions, builtins);
}

bool pprint_is_own(nb::handle pprint, nb::handle printer_type, nb::handle originals) {
    if (!PyModule_Check(pprint.ptr()) || !originals.is_valid() ||
        !PyTuple_CheckExact(originals.ptr()) || PyTuple_GET_SIZE(originals.ptr()) != 2)
        return false;
    Pprint const own{PyModule_GetDict(pprint.ptr()), PyTuple_GET_ITEM(originals.ptr(), 0),
                     PyTuple_GET_ITEM(originals.ptr(), 1)};
    nb::object members = own_class_members(printer_type.ptr(), own);
    if (!members.is_valid() || !has_methods(members.ptr(), kLayoutMethods) ||
        !own_dispatch(members.ptr()))
        return false;
#if PY_VERSION_HEX >= 0x030F0000
    // Read from the class until a layout has set it on the instance.
    PyObject *prefix = PyDict_GetItemString(members.ptr(), "_pending_prefix_len");
    if (!prefix || !PyLong_CheckExact(prefix) || PyObject_Not(prefix) != 1)
        return false;
#endif
    return own_helpers(own);
}

}  // namespace harborsweep
