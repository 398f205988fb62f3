// The module's five operations as the interpreter calls them: each entry
// binds its arguments by position or by name, then runs the operation with
// the module itself as its globals.
#include "operations.hpp"

#include <array>

#include "argument_binding.hpp"
#include "config_dir.hpp"
#include "filter.hpp"
#include "python_support.hpp"

namespace harborsweep {
namespace {

constexpr std::array<const char *, 2> kFilterParameters{"results", "filters"};

PyObject *filter_results_entry(PyObject *, PyObject *const *args,
                               Py_ssize_t nargs, PyObject *kwnames) {
    std::array<PyObject *, kFilterParameters.size()> bound;
    if (!bind_arguments("filter_results", kFilterParameters, args, nargs,
                        kwnames, bound))
        return nullptr;
    return run_guarded([&] { return filter_results(bound[0], bound[1]); });
}

PyObject *get_default_config_dir_entry(PyObject *module, PyObject *const *,
                                       Py_ssize_t nargs, PyObject *kwnames) {
    if (!refuse_arguments("get_default_config_dir", nargs, kwnames))
        return nullptr;
    return run_guarded([&] { return get_default_config_dir(module); });
}

template <auto Entry>
constexpr PyCFunction fast_call() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Entry));
}

// The docstrings open with a text signature, so help() and
// inspect.signature() show the real parameter names.
PyMethodDef kOperations[] = {
    {"filter_results", fast_call<filter_results_entry>(),
     METH_FASTCALL | METH_KEYWORDS,
     "filter_results($module, results, filters)\n--\n\n"
     "Narrow the JSON value `results` by the filter path `filters`, a list of\n"
     "steps; each step is one key or several keys joined by \"&\"."},
    {"get_default_config_dir", fast_call<get_default_config_dir_entry>(),
     METH_FASTCALL | METH_KEYWORDS,
     "get_default_config_dir($module)\n--\n\n"
     "Return the directory \"config\" beside this module; FileNotFoundError\n"
     "when it does not exist."},
};

}  // namespace

void define_operations(nb::handle module) {
    nb::object module_name = nb::borrow(module).attr("__name__");
    for (PyMethodDef &definition : kOperations) {
        nb::object function = nb::steal(
            PyCFunction_NewEx(&definition, module.ptr(), module_name.ptr()));
        if (!function.is_valid())
            nb::raise_python_error();
        nb::setattr(module, definition.ml_name, function);
    }
}

}  // namespace harborsweep
